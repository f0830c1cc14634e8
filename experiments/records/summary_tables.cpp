// The sweep's tables: every figure's estimate with its interval and the runs
// that reached it and were censored, and the paired differences between
// groups run on the same scenarios; printed and as CSV.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <random>

#include "experiments/planning/parameter_text.h"
#include "experiments/records/rows.h"
#include "experiments/records/summary.h"

namespace {

// Bootstrap draws: the standard's 64-bit Mersenne twister, reduced to an index
// here rather than by a library distribution whose results the standard does not fix.
std::size_t draw_below(std::mt19937_64& engine, std::size_t n) {
    const std::uint64_t bound = n;
    const std::uint64_t threshold = (0 - bound) % bound;
    for (;;)
        if (const std::uint64_t r = engine(); r >= threshold)
            return static_cast<std::size_t>(r % bound);
}

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// Enough digits to read back the same number; empty for none.
std::string exact(std::optional<double> v) {
    if (!v) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", *v);
    return text;
}

std::string shown(std::optional<double> v, const char* none) {
    if (!v) return none;
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", *v);
    return text;
}

std::string estimator_label(const std::string& e, long long horizon) {
    return e == "km_median"         ? "KM median"
           : e == "restricted_mean" ? "restricted mean to " + std::to_string(horizon)
           : e == "mean_of_reached" ? "mean of reached"
                                    : "mean";
}

// `text` broken into lines of at most `width` characters at spaces.
std::string wrapped(const std::string& text, std::size_t width = 96) {
    std::string out, line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + '\n';
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    return out + line + '\n';
}

// A printed line without the spaces a last padded column leaves.
std::string trimmed(const char* line) {
    std::string text = line;
    while (text.size() > 1 && text[text.size() - 2] == ' ') text.erase(text.size() - 2, 1);
    return text;
}

}  // namespace

Estimate bootstrap_mean(const std::vector<double>& values, std::size_t resamples,
                        std::uint64_t seed) {
    Estimate e;
    if (values.empty()) return e;
    const std::size_t n = values.size();
    double sum = 0.0;
    for (double v : values) sum += v;
    e.value = sum / static_cast<double>(n);
    if (n < 2 || resamples == 0) return e;
    std::mt19937_64 engine(seed);
    std::vector<double> means(resamples);
    for (double& m : means) {
        double s = 0.0;
        for (std::size_t i = 0; i < n; ++i) s += values[draw_below(engine, n)];
        m = s / static_cast<double>(n);
    }
    std::sort(means.begin(), means.end());
    e.low = percentile_of_sorted(means, 0.025);
    e.high = percentile_of_sorted(means, 0.975);
    return e;
}

std::vector<std::string> design_pairing(const Design& design, const PointGroups& groups) {
    const std::size_t points = design.point_count();
    if (groups.groupOfPoint.size() != points || points == 0) return {};
    bool perPoint = groups.names.size() == points;
    for (std::size_t p = 0; p < points && perPoint; ++p) perPoint = groups.groupOfPoint[p] == p;
    if (perPoint) return std::vector<std::string>(points);
    // Each group one value of the first parameter: pairs share the others.
    std::vector<std::optional<double>> valueOfGroup(groups.names.size());
    for (std::size_t p = 0; p < points; ++p) {
        std::optional<double>& v = valueOfGroup[groups.groupOfPoint[p]];
        if (!v) v = design.value(p, 0);
        if (*v != design.value(p, 0)) return {};
    }
    std::vector<std::string> pairing(points);
    for (std::size_t p = 0; p < points; ++p)
        for (std::size_t j = 1; j < design.parameters.size(); ++j)
            pairing[p] += format_value(design.value(p, j)) + ",";
    return pairing;
}

std::string design_pair_key(const std::vector<std::string>& pairing, std::size_t point,
                            std::int64_t seed) {
    if (point >= pairing.size()) return {};
    return pairing[point] + std::to_string(seed);
}

long long SweepSummary::horizon() const {
    if (horizon_ > 0) return horizon_;
    double latest = 0.0;
    for (const auto& runs : figures_)
        for (const RunFigures& run : runs)
            for (int i = 0; i < FIGURE_COUNT; ++i) {
                double v = 0.0;
                const auto f = static_cast<Figure>(i);
                if (figure_kind(f) == FigureKind::Time && figure_value(run, f, v))
                    latest = std::max(latest, v);
            }
    return static_cast<long long>(latest);
}

std::vector<FigureEstimate> SweepSummary::estimates() const {
    std::vector<FigureEstimate> rows;
    const auto end = static_cast<double>(horizon());
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        const std::vector<RunFigures>& runs = figures_[g];
        for (int i = 0; i < FIGURE_COUNT; ++i) {
            const auto f = static_cast<Figure>(i);
            std::vector<double> values;
            std::vector<TimeObservation> times;
            for (const RunFigures& run : runs) {
                double v = 0.0;
                const bool has = figure_value(run, f, v);
                if (has) values.push_back(v);
                times.push_back({has ? v : end, has});
            }
            const std::size_t reached = values.size(), censored = runs.size() - values.size();
            switch (figure_kind(f)) {
                case FigureKind::Count:
                    rows.push_back({g, f, "mean", mean_interval(values), reached, censored});
                    break;
                case FigureKind::Time:
                    rows.push_back({g, f, "km_median", km_median(times), reached, censored});
                    rows.push_back(
                        {g, f, "restricted_mean", restricted_mean(times, end), reached, censored});
                    break;
                case FigureKind::Conditional:
                    rows.push_back(
                        {g, f, "mean_of_reached", mean_interval(values), reached, censored});
                    break;
            }
        }
    }
    return rows;
}

std::vector<PairedDifference> SweepSummary::paired_differences() const {
    if (groups_.size() < 2) return {};
    // The runs of a group by their key, each key once (a key twice pairs nothing).
    const auto by_key = [&](std::size_t g) {
        std::map<std::string, std::size_t> index;
        std::map<std::string, int> count;
        for (std::size_t r = 0; r < pairKeys_[g].size(); ++r) {
            if (pairKeys_[g][r].empty()) continue;
            index[pairKeys_[g][r]] = r;
            ++count[pairKeys_[g][r]];
        }
        for (const auto& [key, n] : count)
            if (n > 1) index.erase(key);
        return index;
    };
    const std::map<std::string, std::size_t> reference = by_key(0);
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> pairsOf(groups_.size());
    bool any = false;
    for (std::size_t g = 1; g < groups_.size(); ++g) {
        const std::map<std::string, std::size_t> mine = by_key(g);
        // In this group's run order, whatever the keys' order.
        for (std::size_t r = 0; r < pairKeys_[g].size(); ++r) {
            if (mine.count(pairKeys_[g][r]) == 0) continue;
            const auto other = reference.find(pairKeys_[g][r]);
            if (other == reference.end()) continue;
            pairsOf[g].emplace_back(other->second, r);
            any = true;
        }
    }
    std::vector<PairedDifference> rows;
    if (!any) return rows;
    for (std::size_t g = 1; g < groups_.size(); ++g)
        for (int i = 0; i < FIGURE_COUNT; ++i) {
            PairedDifference d;
            d.group = g;
            d.figure = static_cast<Figure>(i);
            d.matched = pairsOf[g].size();
            std::vector<double> differences;
            for (const auto& [first, mine] : pairsOf[g]) {
                double a = 0.0, b = 0.0;
                const bool hasA = figure_value(figures_[0][first], d.figure, a);
                const bool hasB = figure_value(figures_[g][mine], d.figure, b);
                if (hasA && hasB) differences.push_back(b - a);
                d.onlyReference += hasA && !hasB;
                d.onlyThis += hasB && !hasA;
            }
            d.pairs = differences.size();
            d.difference = bootstrap_mean(differences);
            rows.push_back(d);
        }
    return rows;
}

std::string SweepSummary::group_label(std::size_t group) const {
    if (levels_.empty() || group >= levels_.size()) return groups_[group];
    const std::string number = spread_text(levels_[group]);
    return groups_[group] == number ? number : groups_[group] + " (" + number + ")";
}

std::string SweepSummary::estimator_note() const {
    const std::string end = std::to_string(horizon());
    return "Times in ticks; a run that never reaches one is censored at its last tick (" + end +
           "): KM median is the Kaplan-Meier median with the Brookmeyer-Crowley 95 % interval "
           "(log-log), restricted mean the area under its curve to tick " +
           end +
           ". mean: over every run, mean of reached: over the runs that have the figure only, "
           "both with Student's 95 % interval. \"never\": past the runs' end.";
}

std::string SweepSummary::paired_note() const {
    char text[512];
    std::snprintf(text, sizeof text,
                  "Paired differences against %s: each run less the run of %s on the same "
                  "scenario%s, over the pairs where both runs have the figure (only first/this: "
                  "pairs where only one run has it, left out); 95 %% percentile bootstrap "
                  "interval of the mean difference (%zu resamples, seed %llu).",
                  group_label(0).c_str(), group_label(0).c_str(),
                  title_ == "plan"                                   ? " and error level"
                  : levels_.empty() && title_.rfind("point", 0) != 0 ? " and other parameters"
                                                                     : "",
                  PAIRED_RESAMPLES, static_cast<unsigned long long>(PAIRED_SEED));
    return text;
}

int SweepSummary::label_width() const {
    int width = std::max(9, static_cast<int>(title_.size()));
    for (std::size_t g = 0; g < groups_.size(); ++g)
        width = std::max(width, static_cast<int>(group_label(g).size()));
    return std::min(width, 60);
}

void SweepSummary::write_table(std::ostream& out) const {
    const int width = label_width();
    char line[512];
    std::snprintf(line, sizeof line, "%-*s %-22s %-24s %10s  %-24s %7s %8s\n", width,
                  title_.c_str(), "figure", "estimator", "value", "95 % interval", "reached",
                  "censored");
    out << trimmed(line);
    std::size_t group = groups_.size();
    for (const FigureEstimate& e : estimates()) {
        const std::string name = e.group != group ? group_label(e.group) : "";
        group = e.group;
        const bool time = figure_kind(e.figure) == FigureKind::Time;
        const char* none = time ? "never" : "-";
        const std::string interval =
            e.estimate.value && (e.estimate.low || e.estimate.high)
                ? shown(e.estimate.low, none) + " .. " + shown(e.estimate.high, none)
                : "-";
        std::snprintf(
            line, sizeof line, "%-*s %-22s %-24s %10s  %-24s %7zu %8zu\n", width, name.c_str(),
            figure_column(e.figure), estimator_label(e.estimator, horizon()).c_str(),
            shown(e.estimate.value, none).c_str(), interval.c_str(), e.reached, e.censored);
        out << trimmed(line);
    }
    out << wrapped(estimator_note());
}

void SweepSummary::write_paired_table(std::ostream& out,
                                      const std::vector<PairedDifference>& rows) const {
    if (rows.empty()) return;
    const int width = label_width();
    char line[512];
    out << '\n' << wrapped(paired_note());
    std::snprintf(line, sizeof line, "%-*s %-22s %7s %15s %16s  %-24s\n", width, title_.c_str(),
                  "figure", "pairs", "only first/this", "mean difference", "95 % interval");
    out << trimmed(line);
    std::size_t group = 0;
    for (const PairedDifference& d : rows) {
        const std::string name = d.group != group ? group_label(d.group) : "";
        group = d.group;
        const std::string only = std::to_string(d.onlyReference) + "/" + std::to_string(d.onlyThis);
        const std::string interval =
            d.difference.low ? shown(d.difference.low, "-") + " .. " + shown(d.difference.high, "-")
                             : "-";
        std::snprintf(line, sizeof line, "%-*s %-22s %7zu %15s %16s  %-24s\n", width, name.c_str(),
                      figure_column(d.figure), d.pairs, only.c_str(),
                      shown(d.difference.value, "-").c_str(), interval.c_str());
        out << trimmed(line);
    }
}

std::string SweepSummary::group_fields(std::size_t group) const {
    if (levels_.empty()) return csv_field(groups_[group]) + ",";
    return csv_field(groups_[group]) + "," + spread_text(levels_[group]) + ",";
}

std::string SweepSummary::table_csv() const {
    std::string out = levels_.empty() ? "group," : "error,spread,";
    out += "figure,estimator,value,low,high,reached,censored\n";
    for (const FigureEstimate& e : estimates())
        out += group_fields(e.group) + figure_column(e.figure) + "," + e.estimator + "," +
               exact(e.estimate.value) + "," + exact(e.estimate.low) + "," +
               exact(e.estimate.high) + "," + std::to_string(e.reached) + "," +
               std::to_string(e.censored) + "\n";
    return out;
}

std::string SweepSummary::paired_csv(const std::vector<PairedDifference>& rows) const {
    std::string out =
        levels_.empty() ? "group,reference," : "error,spread,reference,reference_spread,";
    out += "figure,matched,pairs,only_reference,only_this,difference,low,high\n";
    for (const PairedDifference& d : rows)
        out += group_fields(d.group) + group_fields(0) + figure_column(d.figure) + "," +
               std::to_string(d.matched) + "," + std::to_string(d.pairs) + "," +
               std::to_string(d.onlyReference) + "," + std::to_string(d.onlyThis) + "," +
               exact(d.difference.value) + "," + exact(d.difference.low) + "," +
               exact(d.difference.high) + "\n";
    return out;
}

void SweepSummary::write_paired_sentences(std::ostream& out,
                                          const std::vector<PairedDifference>& rows,
                                          double minutesPerTick) const {
    const auto amount = [&](double ticks, double low, double high, const char* unit) {
        char text[160];
        const int digits = unit[0] == 'h' ? 2 : 1;
        std::snprintf(text, sizeof text, "%.*f %s [%.*f, %.*f]", digits, ticks, unit, digits, low,
                      digits, high);
        return std::string(text);
    };
    bool first = true;
    for (const PairedDifference& d : rows) {
        if (d.figure != Figure::TickHalf && d.figure != Figure::TickMost) continue;
        if (!d.difference.value) continue;
        if (first) out << '\n';
        first = false;
        const char* share = d.figure == Figure::TickHalf ? "50 %" : "90 %";
        const double v = *d.difference.value;
        // Sooner is a negative difference: this group's tick less the first's.
        const double sign = v < 0 ? -1.0 : 1.0;
        const double low = d.difference.low ? *d.difference.low * sign : v * sign;
        const double high = d.difference.high ? *d.difference.high * sign : v * sign;
        const double lo = std::min(low, high), hi = std::max(low, high);
        std::string line = group_label(d.group) + " clears " + share + " ";
        if (v == 0.0) {
            line += "at the same tick as " + group_label(0);
        } else {
            line += amount(v * sign, lo, hi, "ticks");
            if (minutesPerTick > 0) {
                const double h = minutesPerTick / 60.0;
                line += " (" + amount(v * sign * h, lo * h, hi * h, "h") + ")";
            }
            line += std::string(v < 0 ? " sooner" : " later") + " than " + group_label(0);
        }
        out << line << ", over " << d.pairs << " paired runs\n";
    }
}
