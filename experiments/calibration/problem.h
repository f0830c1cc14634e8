// What a calibration fits and how one candidate is scored: the varied
// parameters and their bounds, the replicate scenarios every candidate runs
// (the same ones for every candidate, so that two candidates differ only by
// their parameters), and the objective, the weighted squared distance between
// the observed shares and the replicates' mean.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "experiments/calibration/observed.h"
#include "experiments/planning/run_plan.h"

struct VariedParameter {
    const ParameterInfo* info = nullptr;
    double low = 0.0, high = 0.0;  // low < high, both inside the table's range
};

// Reads "NAME=LO..HI". The name must be a real (not whole-number) parameter
// and the bounds decimal numbers inside its range with LO below HI. Returns
// the refusal in one line, or empty text.
std::string parse_varied(std::string_view text, VariedParameter& varied);

enum class FitMethod { Bobyqa, NelderMead, Crs2 };
std::optional<FitMethod> parse_method(std::string_view name);  // bobyqa, neldermead, crs2
const char* method_name(FitMethod method);

struct CalibrationSetup {
    ObservedCurve observed;
    std::vector<VariedParameter> varied;
    SweepPlan base;  // town, roads, ticks and every parameter the fit does not vary; no runs
    long long replicates = 10;
    long long seedBase = 0;  // replicates are scenarios seedBase .. seedBase + R - 1
    FitMethod method = FitMethod::Crs2;
    long long budget = 100;   // evaluations of the fit, at most
    int bootstrap = 20;       // parametric bootstrap samples, each refitted
    long long refitBudget = 0;  // evaluations of each refit; 0: 10 + 5 per parameter
    int slicePoints = 6;      // points of each parameter's slice through the best fit
    int threads = 0;          // 0: all cores
};

// The plan of one candidate: the base plan with the values of the varied
// parameters (as the model stores them), the replicate scenarios under its
// error spread, sampled every gcd of the observed ticks (the curve's and the
// participation targets') up to the last one.
SweepPlan candidate_plan(const CalibrationSetup& setup, const std::vector<double>& values);

// The replicates' shares at the observed ticks: their mean and the 10 and 90
// % points, for the departed and the arrived cars.
struct SimulatedShares {
    std::vector<long long> ticks;  // every sampled tick, from 0
    std::vector<double> departedMean, departedLow, departedHigh;
    std::vector<double> arrivedMean, arrivedLow, arrivedHigh;
    std::size_t runs = 0;
    // Every run's shares, [run][sample], for the bootstrap's observations.
    std::vector<std::vector<double>> departedRuns, arrivedRuns;
    // The observed targets' simulated values (shares, or times in ticks; a run
    // that never clears 90 % counts as clearing at its last tick): the
    // replicates' mean and 10 and 90 % points, and every run's, [run][target].
    std::vector<double> targetMean, targetLow, targetHigh;
    std::vector<std::vector<double>> targetRuns;
    long long runTicks = 0;  // the runs' length, which scales the time targets
};

// What one unit of a target's difference weighs against a share's: 1 for a
// share, the runs' length for a time (a time is scored as a share of the run).
double target_scale(const ObservedTarget& target, const SimulatedShares& shares);

// Runs a candidate's replicates through the sweep machinery (all cores, in
// order): scenarios `first` .. `first + count - 1`, the setup's replicates by default.
SimulatedShares simulate_candidate(const CalibrationSetup& setup, const std::vector<double>& values);
SimulatedShares simulate_candidate(const CalibrationSetup& setup, const std::vector<double>& values,
                                   long long first, long long count);

// The objective: sum over observed points of weight x ((departed - mean)^2 +
// (arrived - mean)^2 when arrivals are observed), plus over targets weight x
// ((observed - mean) / target_scale)^2.
double objective_of(const ObservedCurve& observed, const SimulatedShares& shares);
