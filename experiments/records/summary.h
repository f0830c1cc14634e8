// Statistics across the runs of a sweep: the per-level table printed at the
// end, the paired differences between levels run on the same scenarios, and
// the mean curves with their 10-90 % band that the plot draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "experiments/planning/design.h"
#include "experiments/planning/run_plan.h"
#include "experiments/records/run_figures.h"
#include "experiments/records/survival.h"

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
// The figure's column in the summary file: not_evacuated, ..., tick_50, tick_90,
// ..., households_never_left. The tables name the figures so.
const char* figure_column(Figure f);
// The figure's value in one run, or false when the run has none (a threshold never reached).
bool figure_value(const RunFigures& run, Figure f, double& value);

// How a figure is estimated over runs.
enum class FigureKind {
    Count,        // every run has it: the mean
    Time,         // a tick some runs never reach (tick_50, tick_90, settled_tick): a run
                  // without it is censored at its last tick; Kaplan-Meier median, restricted mean
    Conditional,  // only runs with an arrival or a trip have it (last_arrival_tick,
                  // trip_mean, trip_p90): the mean over those runs, named so
};
FigureKind figure_kind(Figure f);

// One figure of one group under one estimator: km_median, restricted_mean (to
// the horizon), mean (every run) or mean_of_reached (the runs that have it).
struct FigureEstimate {
    std::size_t group = 0;
    Figure figure = Figure::NotEvacuated;
    std::string estimator;
    Estimate estimate;         // with its 95 % interval
    std::size_t reached = 0;   // runs that have the figure
    std::size_t censored = 0;  // runs that ended without it
};

// A figure's paired difference between a group and the first: each run of the
// group less the run of the first group on the same scenario (and, in a
// design grouped by a parameter's values, the same other parameters).
struct PairedDifference {
    std::size_t group = 0;  // 1, 2, ...: against group 0
    Figure figure = Figure::NotEvacuated;
    std::size_t matched = 0;        // pairs of runs on the same scenario
    std::size_t pairs = 0;          // of which both runs have the figure
    std::size_t onlyReference = 0;  // only the first group's run has it
    std::size_t onlyThis = 0;       // only this group's run has it
    Estimate difference;            // the mean difference with its bootstrap 95 % interval
};

// The percentile bootstrap of a mean: `resamples` resamples of the values
// with replacement, drawn by the 64-bit Mersenne twister seeded with `seed`
// (each index the engine's next number r, redrawn while r < 2^64 mod n, taken
// mod n), the interval from the 2.5th to the 97.5th percentile of their means
// (percentile_of_sorted). No interval for fewer than two values; nothing for none.
constexpr std::size_t PAIRED_RESAMPLES = 2000;
constexpr std::uint64_t PAIRED_SEED = 25;  // fixed: the same intervals on every machine and run
Estimate bootstrap_mean(const std::vector<double>& values, std::size_t resamples = PAIRED_RESAMPLES,
                        std::uint64_t seed = PAIRED_SEED);

// What pairs a design's runs across its groups, point by point: nothing but
// the seed when each group is one point; the values of the parameters but the
// first when each group is one value of the first parameter. Empty (no pairs)
// when a group spans several values. A run's key is design_pair_key's.
std::vector<std::string> design_pairing(const Design& design, const PointGroups& groups);
std::string design_pair_key(const std::vector<std::string>& pairing, std::size_t point,
                            std::int64_t seed);

// Collects the runs of a sweep in groups: by error level, in the order the
// levels were given, or in named groups (a design's points or values).
class SweepSummary {
  public:
    // keepCurves: also keep every run's samples for the plot.
    SweepSummary(std::vector<float> levels, std::vector<long long> sampleTicks, bool keepCurves);
    // Groups with names, under a title for the table's first column.
    SweepSummary(std::string title, std::vector<std::string> groups,
                 std::vector<long long> sampleTicks, bool keepCurves);

    // A run of one of the levels (ignored when its level is none of them),
    // paired with the other levels' runs of its seed.
    void add(const SweepRun& run, const RunResult& result);
    // A run of a group; `pairKey` names its counterparts in the other groups
    // (design_pair_key; empty: none).
    void add_to(std::size_t group, const RunResult& result, std::string pairKey = {});
    // The ticks every run lasted: where a run that never reaches a time is
    // censored, and the restricted means' horizon (0 until set: the latest
    // time any run reached).
    void set_horizon(long long ticks) { horizon_ = ticks; }
    long long horizon() const;

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

    // Every group's figures: a count's mean with Student's 95 % interval; a
    // time's Kaplan-Meier median (Brookmeyer-Crowley interval) and restricted
    // mean to the horizon, the runs that never reach it censored at the
    // horizon; a conditional figure's mean over the runs that have it. Each
    // with the runs that reached the figure and those censored.
    std::vector<FigureEstimate> estimates() const;
    // The paired differences of every group but the first against the first,
    // per figure: the pairs where both runs have it, their mean difference
    // (this group less the first) with its bootstrap interval (bootstrap_mean).
    // Empty when no run of a later group has a counterpart in the first.
    std::vector<PairedDifference> paired_differences() const;

    // The table printed after a sweep: the estimates, group by group.
    void write_table(std::ostream& out) const;
    // The paired differences' table (`rows`: paired_differences()), printed
    // after it, a blank line first; nothing without pairs.
    void write_paired_table(std::ostream& out, const std::vector<PairedDifference>& rows) const;
    // After the paired table, a line per later group on the clearance times
    // (tick_50, tick_90): "B clears 90 % 54.0 ticks (1.8 h) sooner than A
    // [36.0, 72.0]", hours only with a tick length (`minutesPerTick` > 0).
    void write_paired_sentences(std::ostream& out, const std::vector<PairedDifference>& rows,
                                double minutesPerTick) const;
    // The same as CSV, one row per group, figure and estimator, or per group
    // and figure: a plain sweep's rows start with error,spread (the level's
    // name and its spread as a number), a design's with group.
    // error,spread,figure,estimator,value,low,high,reached,censored
    std::string table_csv() const;
    // error,spread,reference,reference_spread,figure,matched,pairs,only_reference,
    // only_this,difference,low,high
    std::string paired_csv(const std::vector<PairedDifference>& rows) const;
    // One line each on how the estimates and the paired differences were
    // made, for the tables and the files' headers.
    std::string estimator_note() const;
    std::string paired_note() const;

  private:
    std::string group_label(std::size_t group) const;  // "moderate (360)", "180", a group's name
    int label_width() const;
    std::string group_fields(std::size_t group) const;  // the CSV's first fields

    std::string title_ = "error";
    std::vector<std::string> groups_;
    std::vector<float> levels_;
    std::vector<long long> ticks_;
    bool keepCurves_;
    std::size_t runCount_ = 0;
    long long horizon_ = 0;
    std::vector<std::vector<RunFigures>> figures_;                 // [level][run]
    std::vector<std::vector<std::string>> pairKeys_;               // [level][run]
    std::vector<std::vector<std::vector<VehicleTally>>> samples_;  // [level][run][sample]
};
