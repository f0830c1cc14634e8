#include "experiments/planning/sensitivity.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <random>

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

const char* output_figure_name(OutputFigure f) {
    switch (f) {
        case OutputFigure::TickHalf:
            return "tick_50";
        case OutputFigure::Settled:
            return "settled_tick";
        case OutputFigure::EvacuatedShare:
            return "evacuated_share";
        case OutputFigure::GaveUp:
            return "gave_up";
        case OutputFigure::Towed:
            return "towed";
    }
    return "";
}

bool output_figure_value(const RunFigures& run, OutputFigure f, double& value) {
    const VehicleTally& t = run.final;
    switch (f) {
        case OutputFigure::TickHalf:
            if (!run.tickHalf) return false;
            value = static_cast<double>(*run.tickHalf);
            return true;
        case OutputFigure::Settled:
            if (!run.observed.settledTick) return false;
            value = static_cast<double>(*run.observed.settledTick);
            return true;
        case OutputFigure::EvacuatedShare: {
            const double cars =
                double(t.notEvacuated) + t.evacuated + t.gaveUp + t.enRoute + t.towed + t.outOfGas;
            if (!(cars > 0)) return false;
            value = t.evacuated / cars;
            return true;
        }
        case OutputFigure::GaveUp:
            value = t.gaveUp;
            return true;
        case OutputFigure::Towed:
            value = t.towed;
            return true;
    }
    return false;
}

bool can_analyse(const Design& design) {
    return design.sample && (design.sample->method == SampleMethod::Saltelli ||
                             design.sample->method == SampleMethod::Morris);
}

SensitivityReport::SensitivityReport(const Design& design)
    : design_(design),
      sums_(design.point_count() * OUTPUT_FIGURE_COUNT, 0.0),
      counts_(design.point_count() * OUTPUT_FIGURE_COUNT, 0),
      runs_(design.point_count(), 0) {}

void SensitivityReport::add(const SweepRun& run, const RunFigures& figures) {
    if (run.point >= runs_.size()) return;
    ++runs_[run.point];
    for (int f = 0; f < OUTPUT_FIGURE_COUNT; ++f) {
        double v = 0.0;
        if (!output_figure_value(figures, static_cast<OutputFigure>(f), v)) continue;
        const std::size_t i = run.point * OUTPUT_FIGURE_COUNT + static_cast<std::size_t>(f);
        sums_[i] += v;
        ++counts_[i];
    }
}

std::vector<SensitivityReport::Row> SensitivityReport::analyse() const {
    std::vector<Row> rows;
    const std::size_t points = runs_.size();
    for (int f = 0; f < OUTPUT_FIGURE_COUNT; ++f) {
        Row row;
        row.figure = static_cast<OutputFigure>(f);
        std::vector<double> y(points);
        std::size_t lacking = 0;
        for (std::size_t p = 0; p < points; ++p) {
            const std::size_t i = p * OUTPUT_FIGURE_COUNT + static_cast<std::size_t>(f);
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
        rows.push_back(std::move(row));
    }
    return rows;
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
