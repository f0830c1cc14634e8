// Sensitivity analysis of a design's run figures: variance-based indices from
// a Saltelli design and elementary effects from Morris trajectories. The
// analysers are pure functions of the outputs in design order; the report
// collects a sweep's figures point by point and writes the indices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "experiments/planning/design.h"
#include "experiments/planning/run_plan.h"
#include "experiments/records/run_figures.h"

// An estimate with its bootstrap percentile interval.
struct IndexEstimate {
    double value = 0.0;
    double low = 0.0, high = 0.0;
};

constexpr std::size_t BOOTSTRAP_RESAMPLES = 1000;
constexpr std::uint64_t BOOTSTRAP_SEED = 20101;  // fixed: the same intervals on every machine
constexpr double INTERVAL_LEVEL = 0.95;

// First- and total-order Sobol indices of each of k inputs from the outputs y
// of saltelli_points(n, k), in its order (n blocks A, AB_1, ..., AB_k, B).
// With V the variance (divided by 2n) of the 2n outputs of A and B together:
//   first order, Saltelli et al. 2010:  S_i  = mean_j f(B)_j (f(AB_i)_j - f(A)_j) / V
//   total order, Jansen 1999:           ST_i = mean_j (f(A)_j - f(AB_i)_j)^2 / 2 / V
// Intervals: the 2.5th and 97.5th percentiles over `resamples` bootstrap
// resamples of the n blocks, drawn from `seed`. A constant output (V = 0) has
// all indices 0.
struct SobolIndices {
    std::vector<IndexEstimate> first, total;
    double variance = 0.0;
};
SobolIndices sobol_indices(const std::vector<double>& y, std::size_t k,
                           std::size_t resamples = BOOTSTRAP_RESAMPLES,
                           std::uint64_t seed = BOOTSTRAP_SEED);

// Elementary effects from Morris trajectories (r blocks of k + 1 points, each
// moving one parameter): the effect of a move is the change of the output
// over the change of the parameter as a share of its range (high - low), so
// effects are in the output's units per whole range. mu is their mean, muStar
// the mean of their absolute values (with a bootstrap interval over the
// trajectories), sigma their sample standard deviation.
struct MorrisEffects {
    std::vector<double> mu, sigma;
    std::vector<IndexEstimate> muStar;
};
MorrisEffects morris_effects(const Design& design, const std::vector<double>& y,
                             std::size_t resamples = BOOTSTRAP_RESAMPLES,
                             std::uint64_t seed = BOOTSTRAP_SEED);

// A run figure the indices can be computed for: a figure column of the run
// summary (tick_90, settled_tick, trip_mean, ...) or evacuated_share, the
// evacuated cars' share of all cars after the last tick.
struct OutputFigure {
    std::uint8_t index = 0;  // into the list output_figure_names() gives
};
const char* output_figure_name(OutputFigure f);  // as in the files: "tick_50", "settled_tick", ...
// Every figure's name, in the summary's column order, evacuated_share after
// the six counts: "not_evacuated, evacuated, ..., households_never_left".
std::string output_figure_names();
// The figures analysed unless others are asked for: tick_50, settled_tick,
// evacuated_share, gave_up, towed.
const std::vector<OutputFigure>& default_output_figures();
// Parses "tick_90" or "tick_90,settled_tick,..." (each figure once, in the
// order given). Error text naming the valid figures, or empty.
std::string parse_output_figures(std::string_view text, std::vector<OutputFigure>& figures);
// The figure's value in one run, or false when the run has none.
bool output_figure_value(const RunFigures& run, OutputFigure f, double& value);

// Whether a design is large enough for its indices, judged per figure. The
// sampling errors of an index, the half-width of its interval and how far it
// lies outside [0, 1] (a Sobol index is a share of the variance: only an
// error puts it outside), shrink as 1/sqrt(N) with the design's N base points
// (Saltelli) or trajectories (Morris). A design resolves a figure's indices
// when its largest error e is at most the resolution H: INDEX_RESOLUTION for
// Sobol indices, INDEX_RESOLUTION times the largest mu* for Morris effects.
// Otherwise N must grow by (e / H)^2.
constexpr double INDEX_RESOLUTION = 0.1;
struct DesignSizeCheck {
    double largestError = 0.0;            // e
    double resolution = 0.0;              // H
    std::size_t size = 0;                 // N of the design
    std::size_t neededSize = 0;           // the N that brings e down to H: ceil(N (e / H)^2), or N
    std::vector<std::string> outOfRange;  // "fuel_min first order 1.161 [0.289, 1.784]", ...
    bool too_small() const { return neededSize > size; }
};

// A sweep's figures averaged over each point's replicates, then analysed. It
// keeps one sum and one count per point and figure, not the runs.
class SensitivityReport {
  public:
    explicit SensitivityReport(const Design& design,
                               std::vector<OutputFigure> figures = default_output_figures());
    void add(const SweepRun& run, const RunFigures& figures);

    struct Row {
        OutputFigure figure;
        std::string missing;                  // why there are no indices, or empty
        std::optional<SobolIndices> sobol;    // a Saltelli design's
        std::optional<MorrisEffects> morris;  // a Morris design's
        std::string note;  // when the design is too small for these indices, or an index
                           // lies outside [0, 1] (size_note); else empty
    };
    // Analyses every figure. A figure that some run lacks (a threshold never
    // reached) has no indices: averaging only the runs that reached it would
    // hide the runs that did not.
    std::vector<Row> analyse() const;

    const Design& design() const { return design_; }
    const std::vector<OutputFigure>& figures() const { return figures_; }

  private:
    Design design_;
    std::vector<OutputFigure> figures_;
    std::vector<double> sums_;           // [point * figures + figure]
    std::vector<std::uint32_t> counts_;  // runs that had the figure
    std::vector<std::uint32_t> runs_;    // runs per point
};

// The check of one analysed row of `design` (a row without indices passes).
DesignSizeCheck check_design_size(const Design& design, const SensitivityReport::Row& row);
// The check in words, or empty when it passes: "the design is too small for
// these indices: ..., about 57 times the base points (saltelli:456)".
std::string size_note(const Design& design, const DesignSizeCheck& check);

// True for the designs SensitivityReport can analyse (Saltelli and Morris samples).
bool can_analyse(const Design& design);

// The indices as CSV: Saltelli figure,parameter,first,first_low,first_high,
// total,total_low,total_high; Morris figure,parameter,mu,mu_star,mu_star_low,
// mu_star_high,sigma. A figure without indices has empty cells. The rows'
// notes come first, as "# figure: note" comment lines.
std::string sensitivity_csv(const Design& design, const std::vector<SensitivityReport::Row>& rows);
// The same as an aligned table for the terminal, each figure's note below its rows.
void write_sensitivity_table(std::ostream& out, const Design& design,
                             const std::vector<SensitivityReport::Row>& rows);
// A line naming the estimators and intervals, for headers and help.
std::string estimator_note(const Design& design);

// Whether a sweep of the design can run as asked: the memory it would hold
// (design_memory) within `maxBytes`, and with `indices` a Saltelli or Morris
// design run whole (`shard` false). Refusals in one line, or empty.
std::string check_design_sweep(const Design& design, std::size_t replicates,
                               std::size_t sampleCount, double maxBytes, bool indices, bool shard);
