// The fit: NLopt's optimisers over the varied parameters' bounds, every
// candidate simulated once (a candidate met again is not run again: the
// scenarios are the same, so its shares are too; an earlier run's trace gives
// the objectives it found), and the uncertainty of the best values from a
// parametric bootstrap.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "experiments/calibration/problem.h"

// What an evaluation was for: the fit (sample 0), a refit to bootstrap
// sample b (1..B), or a slice through the best fit.
enum class Stage { Fit, Bootstrap, Slice };
const char* stage_name(Stage stage);
std::optional<Stage> parse_stage(std::string_view name);

struct Evaluation {
    std::size_t number = 0;  // 1, 2, ... in the order made
    Stage stage = Stage::Fit;
    int sample = 0;              // the bootstrap sample; 0 otherwise
    std::vector<double> values;  // as the model stores them
    double objective = 0.0;
    std::vector<double> targets;  // the targets' simulated means, in the file's units
    bool earlier = false;  // taken from an earlier run's trace, not run
};

// Scores candidates against an observed curve. `onEvaluation` sees every
// evaluation as it is made (the trace and the progress line).
class Evaluator {
  public:
    using Listener = std::function<void(const Evaluation&)>;
    Evaluator(const CalibrationSetup& setup, Listener onEvaluation);
    // An objective found before (an earlier run's trace), by stage, sample and
    // stored values, with the targets' simulated means it showed.
    void remember(Stage stage, int sample, const std::vector<double>& values, double objective,
                  const std::vector<double>& targets);
    // The objective of `values` against `observed` (the setup's by default).
    double score(std::vector<double> values, Stage stage, int sample = 0,
                 const ObservedCurve* observed = nullptr);
    std::size_t evaluations() const { return count_; }
    std::size_t evaluations(Stage stage) const { return byStage_[static_cast<int>(stage)]; }
    std::size_t runs() const { return runs_; }  // runs simulated, not counting remembered ones
    const CalibrationSetup& setup() const { return setup_; }

  private:
    using Key = std::pair<int, std::vector<double>>;  // (stage * 2^20 + sample, values)
    const CalibrationSetup& setup_;
    Listener listener_;
    std::map<std::vector<double>, SimulatedShares> shares_;
    std::map<Key, std::pair<double, std::vector<double>>> earlier_;
    std::size_t count_ = 0, runs_ = 0, byStage_[3] = {};
};

struct FitResult {
    std::vector<double> best;  // stored values
    double objective = 0.0;
    std::size_t evaluations = 0;  // of the fit
    std::string stopped;          // why the optimiser stopped
};

// Fits from the base record's values (the middle of a bound range that does not hold them).
FitResult fit(Evaluator& evaluator);

struct ParameterInterval {
    double low = 0.0, high = 0.0;  // the 95 % interval, within the bounds
    bool identified = true;        // false when the slice stays under the threshold everywhere
    std::vector<std::pair<double, double>> slice;  // (value, objective), the others at the best fit
};

struct Uncertainty {
    std::vector<ParameterInterval> intervals;
    std::vector<std::vector<double>> correlation;  // over the bootstrap fits; NaN when one is constant
    std::vector<std::vector<double>> samples;      // the bootstrap fits
    double noiseScale = 0.0;  // the bootstrap's residual scale against one run's
    double flatness = 0.0;    // the rise a slice must exceed to identify its parameter
};

// Bootstrap observations are made at the best fit from B runs of their own
// (the scenarios after the replicates): the mean of the replicates plus each
// run's deviation from it, scaled by lambda so that the observations lie as
// far from the mean, on average, as the observed one does:
// lambda^2 = S_min / sum_t w_t var_t x n / (n - p), var_t being the
// replicates' variance at each observed tick and of each target (a time's as
// a share of the run), n the observed values and p the fitted parameters. The observed points' own noise and that of the
// replicates' mean (the same for every candidate) are both in S_min, so both
// are in the bootstrap's, and its noise has the model's own correlation along
// the curve. Each is refitted from the best fit;
// the intervals are the best values +- 1.96 times the refits' standard
// deviation (the bootstrap's normal interval, steadier than its percentiles
// with a few tens of samples), within the bounds; the refits' correlations are
// the parameters'. A parameter is not identified when its slice
// through the best fit rises less than S_min t(0.975, n - p)^2 / (n - p)
// across its whole range; its interval is then its whole range.
Uncertainty bootstrap_uncertainty(Evaluator& evaluator, const FitResult& fit,
                                  const SimulatedShares& best);
