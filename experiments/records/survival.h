// Statistics of times that some runs never reach: the Kaplan-Meier estimate of
// the survival curve, its median with the Brookmeyer-Crowley interval on the
// log-log scale, the restricted mean up to a horizon, and the plain mean of a
// figure every run has. Pure functions of the values given.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

// One run's time: the tick it reached the share, or the tick its observation
// ended without reaching it (censored).
struct TimeObservation {
    double time = 0.0;
    bool reached = false;
};

// The Kaplan-Meier curve S(t) = P(T > t): one step at each distinct time with
// at least one event, in increasing order.
struct SurvivalStep {
    double time = 0.0;
    std::size_t atRisk = 0;  // runs still unreached just before `time`
    std::size_t events = 0;  // runs reaching at `time`
    double survival = 1.0;   // S(time), just after the step
    double greenwood = 0.0;  // sum of d / (n (n - d)) up to and including this step
};
std::vector<SurvivalStep> kaplan_meier(const std::vector<TimeObservation>& runs);

// An estimate with its 95 % interval; a missing bound is one the data cannot
// give (the curve never falls far enough).
struct Estimate {
    std::optional<double> value;
    std::optional<double> low;
    std::optional<double> high;
};

// The median of the Kaplan-Meier curve: the first time at which S falls to 0.5
// or below; where S is exactly 0.5 over an interval, the midpoint between its
// start and the next event time (with no censoring, the sample median). The
// interval is Brookmeyer and Crowley's: the times whose pointwise 95 % interval
// of S, by the log-log transform with Greenwood's variance, holds 0.5: from the
// first time the lower bound falls to 0.5 or below to the first time the upper
// bound does.
Estimate km_median(const std::vector<TimeObservation>& runs);

// The restricted mean up to `horizon`: the area under the Kaplan-Meier curve
// from 0 to `horizon`, with the normal 95 % interval from its Greenwood-type
// variance, sum over event times t of A(t)^2 d / (n (n - d)), A(t) being the
// area under the curve from t to the horizon. With no censoring before the
// horizon it is the sample mean, with variance sum (x - mean)^2 / n^2.
Estimate restricted_mean(const std::vector<TimeObservation>& runs, double horizon);

// The sample mean with Student's 95 % interval, mean +- t(0.975, n - 1) s / sqrt(n)
// (no interval for one value; nothing for none).
Estimate mean_interval(const std::vector<double>& values);
