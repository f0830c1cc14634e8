// Statistics across the runs of a sweep: the per-level table printed at the
// end, and the mean curves with their 10-90 % band that the plot draws.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "experiments/planning/run_plan.h"
#include "experiments/records/run_figures.h"

// The p-quantile (0 <= p <= 1) of sorted values by linear interpolation
// between closest ranks: h = (n - 1) p, then x[floor h] + (h - floor h)
// (x[floor h + 1] - x[floor h]). Needs at least one value.
double percentile_of_sorted(const std::vector<double>& sorted, double p);

struct Spread {
    std::size_t count = 0;  // values that went in
    double mean = 0.0;
    double sd = 0.0;  // sample standard deviation (n - 1); 0 for fewer than two values
    double p10 = 0.0;
    double p90 = 0.0;
};
Spread spread_of(std::vector<double> values);

// The figures of the summary, in the table's order.
enum class Figure {
    NotEvacuated,
    Evacuated,
    GaveUp,
    EnRoute,
    Towed,
    OutOfGas,
    TickHalf,
    TickMost,
    MaxEnRoute,
    MaxEnRouteTick,
    SettledTick,
    LastArrivalTick,
    TripMean,
    TripP90,
    NeverLeft,
};
constexpr int FIGURE_COUNT = 15;
const char* figure_label(Figure f);
// The figure's value in one run, or false when the run has none (a threshold never reached).
bool figure_value(const RunFigures& run, Figure f, double& value);

// Collects the runs of a sweep in groups: by error level, in the order the
// levels were given, or in named groups (a design's points or values).
class SweepSummary {
  public:
    // keepCurves: also keep every run's samples for the plot.
    SweepSummary(std::vector<float> levels, std::vector<long long> sampleTicks, bool keepCurves);
    // Groups with names, under a title for the table's first column.
    SweepSummary(std::string title, std::vector<std::string> groups,
                 std::vector<long long> sampleTicks, bool keepCurves);

    // A run of one of the levels (ignored when its level is none of them).
    void add(const SweepRun& run, const RunResult& result);
    void add_to(std::size_t group, const RunResult& result);

    std::size_t runs() const { return runCount_; }
    const std::vector<float>& levels() const { return levels_; }  // empty for named groups
    const std::vector<std::string>& groups() const { return groups_; }
    const std::string& group_title() const { return title_; }
    const std::vector<long long>& sample_ticks() const { return ticks_; }

    // A figure across the runs of one group.
    Spread figure_spread(std::size_t level, Figure f) const;

    // One quantity of the curves across the runs of one level, at every sample tick.
    enum class Quantity { Evacuated, EnRoute, NotEvacuated };
    struct Band {
        std::vector<double> mean, p10, p90;  // one entry per sample tick
    };
    Band curve_band(std::size_t level, Quantity q) const;

    // The table printed after a sweep: for each group, each figure's runs,
    // mean, standard deviation, 10th and 90th percentile.
    void write_table(std::ostream& out) const;

  private:
    std::string title_ = "error";
    std::vector<std::string> groups_;
    std::vector<float> levels_;
    std::vector<long long> ticks_;
    bool keepCurves_;
    std::size_t runCount_ = 0;
    std::vector<std::vector<RunFigures>> figures_;                 // [level][run]
    std::vector<std::vector<std::vector<VehicleTally>>> samples_;  // [level][run][sample]
};
