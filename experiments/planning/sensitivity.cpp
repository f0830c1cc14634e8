#include "experiments/planning/sensitivity.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <random>
#include <string_view>

#include "experiments/planning/parameter_text.h"
#include "experiments/records/summary.h"

namespace {

// Bootstrap draws: the standard's 64-bit Mersenne twister, reduced to an index
// here rather than by a library distribution whose results the standard does not fix.
class Resampler {
  public:
    explicit Resampler(std::uint64_t seed) : engine_(seed) {}
    std::size_t below(std::size_t n) {
        const std::uint64_t bound = n;
        const std::uint64_t threshold = (0 - bound) % bound;
        for (;;)
            if (const std::uint64_t r = engine_(); r >= threshold)
                return static_cast<std::size_t>(r % bound);
    }

  private:
    std::mt19937_64 engine_;
};

IndexEstimate with_interval(double value, std::vector<double>& draws) {
    IndexEstimate e;
    e.value = value;
    if (draws.empty()) {
        e.low = e.high = value;
        return e;
    }
    std::sort(draws.begin(), draws.end());
    const double tail = (1.0 - INTERVAL_LEVEL) / 2.0;
    e.low = percentile_of_sorted(draws, tail);
    e.high = percentile_of_sorted(draws, 1.0 - tail);
    return e;
}

// The indices of the blocks `pick` (indices into 0..n-1, repeats allowed).
void sobol_of(const std::vector<double>& y, std::size_t k, const std::vector<std::size_t>& pick,
              std::vector<double>& first, std::vector<double>& total, double& variance) {
    const std::size_t block = k + 2;
    const auto n = static_cast<double>(pick.size());
    double sum = 0.0, squares = 0.0;
    for (std::size_t j : pick) {
        const double a = y[j * block], b = y[j * block + k + 1];
        sum += a + b;
    }
    const double mean = sum / (2.0 * n);
    for (std::size_t j : pick) {
        const double a = y[j * block] - mean, b = y[j * block + k + 1] - mean;
        squares += a * a + b * b;
    }
    variance = squares / (2.0 * n);
    first.assign(k, 0.0);
    total.assign(k, 0.0);
    if (!(variance > 0.0)) return;
    // The outputs are centred on their mean first: the first-order estimator's
    // expectation does not depend on the mean, but its spread grows with it.
    for (std::size_t i = 0; i < k; ++i) {
        double s = 0.0, t = 0.0;
        for (std::size_t j : pick) {
            const double a = y[j * block] - mean, b = y[j * block + k + 1] - mean,
                         ab = y[j * block + 1 + i] - mean;
            s += b * (ab - a);
            t += (a - ab) * (a - ab);
        }
        first[i] = s / n / variance;
        total[i] = t / n / 2.0 / variance;
    }
}

// The elementary effects of each parameter in the trajectories `pick`.
void effects_of(const Design& d, const std::vector<double>& y, const std::vector<std::size_t>& pick,
                std::vector<std::vector<double>>& effects) {
    const std::size_t k = d.parameters.size();
    effects.assign(k, {});
    for (std::size_t t : pick) {
        for (std::size_t s = 1; s <= k; ++s) {
            const std::size_t p = t * (k + 1) + s;
            for (std::size_t i = 0; i < k; ++i) {
                const double change = (d.value(p, i) - d.value(p - 1, i)) / (d.high[i] - d.low[i]);
                if (change != 0.0) effects[i].push_back((y[p] - y[p - 1]) / change);
            }
        }
    }
}

double mean_abs(const std::vector<double>& v) {
    if (v.empty()) return 0.0;
    double sum = 0.0;
    for (double e : v) sum += std::fabs(e);
    return sum / static_cast<double>(v.size());
}

const char* cell(char (&buffer)[32], double v) {
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

}  // namespace

SobolIndices sobol_indices(const std::vector<double>& y, std::size_t k, std::size_t resamples,
                           std::uint64_t seed) {
    const std::size_t n = y.size() / (k + 2);
    std::vector<std::size_t> pick(n);
    for (std::size_t j = 0; j < n; ++j) pick[j] = j;
    std::vector<double> first, total;
    SobolIndices out;
    sobol_of(y, k, pick, first, total, out.variance);

    std::vector<std::vector<double>> firstDraws(k), totalDraws(k);
    Resampler random(seed);
    std::vector<double> f, t;
    double v = 0.0;
    for (std::size_t b = 0; b < resamples && n > 0; ++b) {
        for (std::size_t& j : pick) j = random.below(n);
        sobol_of(y, k, pick, f, t, v);
        for (std::size_t i = 0; i < k; ++i) {
            firstDraws[i].push_back(f[i]);
            totalDraws[i].push_back(t[i]);
        }
    }
    for (std::size_t i = 0; i < k; ++i) {
        out.first.push_back(with_interval(first[i], firstDraws[i]));
        out.total.push_back(with_interval(total[i], totalDraws[i]));
    }
    return out;
}

MorrisEffects morris_effects(const Design& design, const std::vector<double>& y,
                             std::size_t resamples, std::uint64_t seed) {
    const std::size_t k = design.parameters.size();
    const std::size_t r = y.size() / (k + 1);
    std::vector<std::size_t> pick(r);
    for (std::size_t t = 0; t < r; ++t) pick[t] = t;
    std::vector<std::vector<double>> effects;
    effects_of(design, y, pick, effects);

    MorrisEffects out;
    std::vector<std::vector<double>> draws(k);
    Resampler random(seed);
    std::vector<std::vector<double>> resampled;
    for (std::size_t b = 0; b < resamples && r > 0; ++b) {
        for (std::size_t& t : pick) t = random.below(r);
        effects_of(design, y, pick, resampled);
        for (std::size_t i = 0; i < k; ++i) draws[i].push_back(mean_abs(resampled[i]));
    }
    for (std::size_t i = 0; i < k; ++i) {
        const Spread s = spread_of(effects[i]);
        out.mu.push_back(s.mean);
        out.sigma.push_back(s.sd);
        out.muStar.push_back(with_interval(mean_abs(effects[i]), draws[i]));
    }
    return out;
}

namespace {

// The figures by name: the summary's figure columns in their order, the
// evacuated share after the six counts.
struct FigureEntry {
    const char* name;
    std::optional<Figure> summary;  // none: evacuated_share
};
constexpr std::size_t FIGURE_ENTRIES = 16;
const FigureEntry FIGURE_TABLE[FIGURE_ENTRIES] = {
    {"not_evacuated", Figure::NotEvacuated},
    {"evacuated", Figure::Evacuated},
    {"gave_up", Figure::GaveUp},
    {"en_route", Figure::EnRoute},
    {"towed", Figure::Towed},
    {"out_of_gas", Figure::OutOfGas},
    {"evacuated_share", std::nullopt},
    {"tick_50", Figure::TickHalf},
    {"tick_90", Figure::TickMost},
    {"max_en_route", Figure::MaxEnRoute},
    {"max_en_route_tick", Figure::MaxEnRouteTick},
    {"settled_tick", Figure::SettledTick},
    {"last_arrival_tick", Figure::LastArrivalTick},
    {"trip_mean", Figure::TripMean},
    {"trip_p90", Figure::TripP90},
    {"households_never_left", Figure::NeverLeft},
};

std::optional<OutputFigure> figure_named(std::string_view name) {
    for (std::size_t i = 0; i < FIGURE_ENTRIES; ++i)
        if (name == FIGURE_TABLE[i].name) return OutputFigure{static_cast<std::uint8_t>(i)};
    return std::nullopt;
}

}  // namespace

const char* output_figure_name(OutputFigure f) {
    return f.index < FIGURE_ENTRIES ? FIGURE_TABLE[f.index].name : "";
}

std::string output_figure_names() {
    std::string names;
    for (const FigureEntry& e : FIGURE_TABLE) {
        if (!names.empty()) names += ", ";
        names += e.name;
    }
    return names;
}

const std::vector<OutputFigure>& default_output_figures() {
    static const std::vector<OutputFigure> figures = [] {
        std::vector<OutputFigure> f;
        for (const char* name : {"tick_50", "settled_tick", "evacuated_share", "gave_up", "towed"})
            f.push_back(*figure_named(name));
        return f;
    }();
    return figures;
}

std::string parse_output_figures(std::string_view text, std::vector<OutputFigure>& figures) {
    figures.clear();
    if (text.empty()) return "no figure given (one or more of " + output_figure_names() + ")";
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view name = text.substr(0, comma);
        const std::optional<OutputFigure> f = figure_named(name);
        // Appended: GCC 12 warns falsely about "literal" + string.
        std::string quoted(1, '"');
        quoted.append(name).append(1, '"');
        if (!f)
            return (name.empty() ? std::string("an empty figure name")
                                 : quoted.append(" is not a figure of the summary"))
                .append(" (figures: ")
                .append(output_figure_names())
                .append(")");
        for (OutputFigure g : figures)
            if (g.index == f->index) return quoted.append(" comes twice");
        figures.push_back(*f);
        if (comma == std::string_view::npos) return {};
        text.remove_prefix(comma + 1);
    }
}

bool output_figure_value(const RunFigures& run, OutputFigure f, double& value) {
    if (f.index >= FIGURE_ENTRIES) return false;
    if (const std::optional<Figure> summary = FIGURE_TABLE[f.index].summary)
        return figure_value(run, *summary, value);
    const VehicleTally& t = run.final;
    const double cars =
        double(t.notEvacuated) + t.evacuated + t.gaveUp + t.enRoute + t.towed + t.outOfGas;
    if (!(cars > 0)) return false;
    value = t.evacuated / cars;
    return true;
}

bool can_analyse(const Design& design) {
    return design.sample && (design.sample->method == SampleMethod::Saltelli ||
                             design.sample->method == SampleMethod::Morris);
}

SensitivityReport::SensitivityReport(const Design& design, std::vector<OutputFigure> figures)
    : design_(design),
      figures_(std::move(figures)),
      sums_(design.point_count() * figures_.size(), 0.0),
      counts_(design.point_count() * figures_.size(), 0),
      runs_(design.point_count(), 0) {}

void SensitivityReport::add(const SweepRun& run, const RunFigures& figures) {
    if (run.point >= runs_.size()) return;
    ++runs_[run.point];
    for (std::size_t f = 0; f < figures_.size(); ++f) {
        double v = 0.0;
        if (!output_figure_value(figures, figures_[f], v)) continue;
        const std::size_t i = run.point * figures_.size() + f;
        sums_[i] += v;
        ++counts_[i];
    }
}

std::vector<SensitivityReport::Row> SensitivityReport::analyse() const {
    std::vector<Row> rows;
    const std::size_t points = runs_.size();
    for (std::size_t f = 0; f < figures_.size(); ++f) {
        Row row;
        row.figure = figures_[f];
        std::vector<double> y(points);
        std::size_t lacking = 0;
        for (std::size_t p = 0; p < points; ++p) {
            const std::size_t i = p * figures_.size() + f;
            if (runs_[p] == 0 || counts_[i] != runs_[p])
                ++lacking;
            else
                y[p] = sums_[i] / counts_[i];
        }
        if (lacking > 0)
            row.missing = std::to_string(lacking) + " of " + std::to_string(points) +
                          " points have runs without it";
        else if (design_.sample && design_.sample->method == SampleMethod::Saltelli)
            row.sobol = sobol_indices(y, design_.parameters.size());
        else if (design_.sample && design_.sample->method == SampleMethod::Morris)
            row.morris = morris_effects(design_, y);
        row.note = size_note(design_, check_design_size(design_, row));
        rows.push_back(std::move(row));
    }
    return rows;
}

DesignSizeCheck check_design_size(const Design& design, const SensitivityReport::Row& row) {
    DesignSizeCheck c;
    c.size = design.sample ? design.sample->size : 0;
    c.neededSize = c.size;
    const auto half = [](const IndexEstimate& e) { return (e.high - e.low) / 2.0; };
    if (row.sobol) {
        c.resolution = INDEX_RESOLUTION;
        const auto look = [&](const IndexEstimate& e, const char* order, std::size_t i) {
            // How far the estimate lies outside [0, 1]: an error it must have.
            const double outside = e.value > 1.0 ? e.value - 1.0 : e.value < 0.0 ? -e.value : 0.0;
            c.largestError = std::max({c.largestError, half(e), outside});
            // Above 1 is said always; below 0 only beyond the interval, since an
            // index of 0 is estimated as often a little below it as above.
            if (e.value > 1.0 || e.high < 0.0) {
                char text[160];
                std::snprintf(text, sizeof text, "%s %s %.3f [%.3f, %.3f]",
                              design.parameters[i]->name, order, e.value, e.low, e.high);
                c.outOfRange.emplace_back(text);
            }
        };
        for (std::size_t i = 0; i < row.sobol->first.size(); ++i) {
            look(row.sobol->first[i], "first order", i);
            look(row.sobol->total[i], "total order", i);
        }
    } else if (row.morris) {
        double largest = 0.0;
        for (const IndexEstimate& m : row.morris->muStar) {
            largest = std::max(largest, m.value);
            c.largestError = std::max(c.largestError, half(m));
        }
        c.resolution = INDEX_RESOLUTION * largest;
    }
    if (c.resolution > 0.0 && c.largestError > c.resolution && c.size > 0) {
        const double ratio = c.largestError / c.resolution;
        c.neededSize =
            static_cast<std::size_t>(std::ceil(static_cast<double>(c.size) * ratio * ratio));
        c.neededSize = std::max(c.neededSize, c.size + 1);
    }
    return c;
}

std::string size_note(const Design& design, const DesignSizeCheck& c) {
    if (!c.too_small() && c.outOfRange.empty()) return {};
    const bool morris = design.sample && design.sample->method == SampleMethod::Morris;
    std::string out;
    for (const std::string& s : c.outOfRange) out += (out.empty() ? "" : ", ") + s;
    if (!out.empty())
        out += c.outOfRange.size() == 1 ? " lies outside [0, 1]" : " lie outside [0, 1]";
    char text[400];
    if (!c.too_small()) {
        // Outside by no more than the resolution: an error the design allows.
        std::snprintf(text, sizeof text,
                      ", within the design's resolution (+-%.3g): true indices lie in [0, 1]",
                      c.resolution);
        return out + text;
    }
    const char* unit = morris ? "trajectories" : "base points";
    const double factor =
        static_cast<double>(c.neededSize) / static_cast<double>(std::max<std::size_t>(c.size, 1));
    // The sample that asks for it, as --sample takes it.
    std::string sample =
        std::string(morris ? "morris:" : "saltelli:") + std::to_string(c.neededSize);
    if (morris && design.sample->levels != SampleOption{}.levels)
        sample.append(1, ':').append(std::to_string(design.sample->levels));
    if (!out.empty()) out += "; ";
    std::snprintf(text, sizeof text,
                  "the design is too small for these indices: errors up to %.3g, more than the "
                  "resolution %.3g; they shrink as 1/sqrt(N), so about %.3g times the %zu %s "
                  "(%s) would bring them to %.3g",
                  c.largestError, c.resolution, factor, c.size, unit, sample.c_str(), c.resolution);
    return out + text;
}

std::string estimator_note(const Design& design) {
    char text[320];
    if (design.sample && design.sample->method == SampleMethod::Morris)
        std::snprintf(text, sizeof text,
                      "Morris elementary effects per whole range: mu, mu_star (mean absolute "
                      "effect) with its %g %% bootstrap interval over the trajectories (%zu "
                      "resamples, seed %llu), sigma",
                      INTERVAL_LEVEL * 100, BOOTSTRAP_RESAMPLES,
                      static_cast<unsigned long long>(BOOTSTRAP_SEED));
    else
        std::snprintf(text, sizeof text,
                      "first order: Saltelli 2010 estimator; total order: Jansen estimator; %g %% "
                      "bootstrap percentile intervals over the base points (%zu resamples, seed "
                      "%llu)",
                      INTERVAL_LEVEL * 100, BOOTSTRAP_RESAMPLES,
                      static_cast<unsigned long long>(BOOTSTRAP_SEED));
    return text;
}

std::string sensitivity_csv(const Design& design, const std::vector<SensitivityReport::Row>& rows) {
    const bool morris = design.sample && design.sample->method == SampleMethod::Morris;
    std::string out = morris ? "figure,parameter,mu,mu_star,mu_star_low,mu_star_high,sigma\n"
                             : "figure,parameter,first,first_low,first_high,total,total_low,"
                               "total_high\n";
    std::string notes;
    for (const SensitivityReport::Row& row : rows)
        if (!row.note.empty())
            notes += std::string("# ") + output_figure_name(row.figure) + ": " + row.note + "\n";
    out.insert(0, notes);
    for (const SensitivityReport::Row& row : rows) {
        for (std::size_t i = 0; i < design.parameters.size(); ++i) {
            out += output_figure_name(row.figure);
            out += ',';
            out += design.parameters[i]->name;
            std::vector<double> cells;
            if (row.sobol) {
                const IndexEstimate &s = row.sobol->first[i], &t = row.sobol->total[i];
                cells = {s.value, s.low, s.high, t.value, t.low, t.high};
            } else if (row.morris) {
                const IndexEstimate& m = row.morris->muStar[i];
                cells = {row.morris->mu[i], m.value, m.low, m.high, row.morris->sigma[i]};
            }
            const std::size_t columns = morris ? 5 : 6;
            for (std::size_t c = 0; c < columns; ++c) {
                out += ',';
                if (c < cells.size()) out += format_value(cells[c]);
            }
            out += '\n';
        }
    }
    return out;
}

void write_sensitivity_table(std::ostream& out, const Design& design,
                             const std::vector<SensitivityReport::Row>& rows) {
    const bool morris = design.sample && design.sample->method == SampleMethod::Morris;
    char line[256];
    if (morris)
        std::snprintf(line, sizeof line, "%-16s %-20s %10s %10s %21s %10s\n", "figure", "parameter",
                      "mu", "mu*", "mu* interval", "sigma");
    else
        std::snprintf(line, sizeof line, "%-16s %-20s %8s %19s %8s %19s\n", "figure", "parameter",
                      "first", "interval", "total", "interval");
    out << line;
    char a[32], b[32], c[32], d[32], e[32];
    for (const SensitivityReport::Row& row : rows) {
        if (!row.missing.empty()) {
            std::snprintf(line, sizeof line, "%-16s no indices: %s\n",
                          output_figure_name(row.figure), row.missing.c_str());
            out << line;
            continue;
        }
        for (std::size_t i = 0; i < design.parameters.size(); ++i) {
            const char* figure = i == 0 ? output_figure_name(row.figure) : "";
            if (row.sobol) {
                const IndexEstimate &s = row.sobol->first[i], &t = row.sobol->total[i];
                std::snprintf(line, sizeof line,
                              "%-16s %-20s %8.3f [%7.3f, %7.3f] %8.3f [%7.3f, %7.3f]\n", figure,
                              design.parameters[i]->name, s.value, s.low, s.high, t.value, t.low,
                              t.high);
            } else if (row.morris) {
                const IndexEstimate& m = row.morris->muStar[i];
                std::snprintf(line, sizeof line, "%-16s %-20s %10s %10s [%9s, %9s] %10s\n", figure,
                              design.parameters[i]->name, cell(a, row.morris->mu[i]),
                              cell(b, m.value), cell(c, m.low), cell(d, m.high),
                              cell(e, row.morris->sigma[i]));
            } else {
                continue;
            }
            out << line;
        }
        if (!row.note.empty()) out << std::string(17, ' ') << "note: " << row.note << '\n';
    }
}

std::string check_design_sweep(const Design& design, std::size_t replicates,
                               std::size_t sampleCount, double maxBytes, bool indices, bool shard) {
    if (!design.scenarios.empty()) replicates = 1;  // each point names its scenario
    const std::size_t points = design.point_count();
    const double bytes = design_memory(points, points * replicates, sampleCount);
    const auto mib = [](double b) { return std::to_string(static_cast<long long>(b / (1 << 20))); };
    if (bytes > maxBytes)
        return "the design's " + std::to_string(points) + " points x " +
               std::to_string(replicates) + " replicates would hold about " + mib(bytes) +
               " MiB (at most " + mib(maxBytes) + "): fewer points or replicates, or no --plot";
    if (indices && !can_analyse(design))
        return "--sensitivity: needs a design from --sample saltelli:N or morris:R";
    if (indices && shard)
        return "--sensitivity: needs every run of the design, not one shard (marovel-sim merge "
               "--sensitivity computes them from the shards' summaries)";
    return {};
}
