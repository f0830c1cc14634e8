#include "experiments/records/survival.h"

#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>

namespace {

constexpr double Z95 = 1.959963984540054;  // the normal distribution's 97.5th percentile

// The pointwise 95 % interval of S at a step, on the log-log scale.
void survival_interval(const SurvivalStep& s, double& low, double& high) {
    if (s.survival <= 0.0 || s.survival >= 1.0) {
        low = high = s.survival;
        return;
    }
    const double se = std::sqrt(s.greenwood) / std::abs(std::log(s.survival));
    low = std::pow(s.survival, std::exp(Z95 * se));
    high = std::pow(s.survival, std::exp(-Z95 * se));
}

}  // namespace

std::vector<SurvivalStep> kaplan_meier(const std::vector<TimeObservation>& runs) {
    std::vector<TimeObservation> sorted = runs;
    std::sort(sorted.begin(), sorted.end(),
              [](const TimeObservation& a, const TimeObservation& b) { return a.time < b.time; });
    std::vector<SurvivalStep> steps;
    std::size_t atRisk = sorted.size();
    double survival = 1.0, greenwood = 0.0;
    for (std::size_t i = 0; i < sorted.size();) {
        // The runs censored at a time of events were still at risk at it.
        std::size_t j = i, events = 0;
        while (j < sorted.size() && sorted[j].time == sorted[i].time) events += sorted[j++].reached;
        if (events > 0) {
            const auto n = static_cast<double>(atRisk), d = static_cast<double>(events);
            survival *= 1.0 - d / n;
            if (atRisk > events) greenwood += d / (n * (n - d));
            steps.push_back({sorted[i].time, atRisk, events, survival, greenwood});
        }
        atRisk -= j - i;
        i = j;
    }
    return steps;
}

Estimate km_median(const std::vector<TimeObservation>& runs) {
    const std::vector<SurvivalStep> steps = kaplan_meier(runs);
    Estimate e;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (!e.value && steps[i].survival <= 0.5) {
            const bool flat = std::abs(steps[i].survival - 0.5) < 1e-12 && i + 1 < steps.size();
            e.value = flat ? (steps[i].time + steps[i + 1].time) / 2.0 : steps[i].time;
        }
        double low = 0.0, high = 0.0;
        survival_interval(steps[i], low, high);
        if (!e.low && low <= 0.5) e.low = steps[i].time;
        if (!e.high && high <= 0.5) e.high = steps[i].time;
    }
    return e;
}

Estimate restricted_mean(const std::vector<TimeObservation>& runs, double horizon) {
    Estimate e;
    if (runs.empty()) return e;
    std::vector<SurvivalStep> steps = kaplan_meier(runs);
    steps.erase(std::remove_if(steps.begin(), steps.end(),
                               [&](const SurvivalStep& s) { return s.time > horizon; }),
                steps.end());
    // The area under the curve from each step to the horizon, from the last step back.
    std::vector<double> tail(steps.size());
    double area = 0.0;
    for (std::size_t k = steps.size(); k-- > 0;) {
        const double next = k + 1 < steps.size() ? steps[k + 1].time : horizon;
        area += steps[k].survival * (next - steps[k].time);
        tail[k] = area;
    }
    const double first = steps.empty() ? horizon : steps[0].time;
    const double mean = std::min(first, horizon) + area;
    double variance = 0.0;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const auto n = static_cast<double>(steps[k].atRisk);
        const auto d = static_cast<double>(steps[k].events);
        if (n > d) variance += tail[k] * tail[k] * d / (n * (n - d));
    }
    e.value = mean;
    e.low = mean - Z95 * std::sqrt(variance);
    e.high = mean + Z95 * std::sqrt(variance);
    return e;
}

Estimate mean_interval(const std::vector<double>& values) {
    Estimate e;
    if (values.empty()) return e;
    const auto n = static_cast<double>(values.size());
    double sum = 0.0;
    for (double v : values) sum += v;
    const double mean = sum / n;
    e.value = mean;
    if (values.size() < 2) return e;
    double squares = 0.0;
    for (double v : values) squares += (v - mean) * (v - mean);
    const double t =
        boost::math::quantile(boost::math::students_t_distribution<double>(n - 1.0), 0.975);
    const double half = t * std::sqrt(squares / (n - 1.0) / n);
    e.low = mean - half;
    e.high = mean + half;
    return e;
}
