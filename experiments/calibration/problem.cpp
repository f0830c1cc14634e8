#include "experiments/calibration/problem.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "experiments/planning/parameter_text.h"
#include "experiments/records/summary.h"
#include "experiments/running/sweep.h"

std::string parse_varied(std::string_view text, VariedParameter& varied) {
    const std::size_t eq = text.find('=');
    const std::string_view name = trim(text.substr(0, eq));
    const ParameterInfo* info = find_parameter(name.data(), name.size());
    if (eq == std::string_view::npos)
        return "--vary: " + quote_input(text) + " is not NAME=LOW..HIGH";
    if (!info) return "--vary: " + quote_input(name) + " is no parameter (see marovel-sim params)";
    if (info->kind != ParameterKind::Real || info->choices)
        return "--vary: " + std::string(info->name) + " takes whole values; only real parameters are fitted";
    const std::string_view range = text.substr(eq + 1);
    const std::size_t dots = range.find("..");
    double low = 0.0, high = 0.0;
    if (dots == std::string_view::npos || !parse_decimal(trim(range.substr(0, dots)), low) ||
        !parse_decimal(trim(range.substr(dots + 2)), high) || !std::isfinite(low) ||
        !std::isfinite(high))
        return "--vary: " + quote_input(range) + " is not LOW..HIGH, two finite decimal numbers";
    if (!(low < high))
        return "--vary: " + std::string(info->name) + "=" + std::string(range) +
               ": the low bound must lie below the high one";
    for (const double v : {low, high})
        if (const ParameterCheck check = check_parameter(*info, v); !check.ok())
            return "--vary: bound " + format_value(v) + " of " + info->name +
                   " lies outside the parameter's range: " + check.text;
    varied = {info, low, high};
    return {};
}

std::optional<FitMethod> parse_method(std::string_view name) {
    if (name == "bobyqa") return FitMethod::Bobyqa;
    if (name == "neldermead") return FitMethod::NelderMead;
    if (name == "crs2") return FitMethod::Crs2;
    return std::nullopt;
}

const char* method_name(FitMethod method) {
    switch (method) {
    case FitMethod::Bobyqa: return "bobyqa";
    case FitMethod::NelderMead: return "neldermead";
    case FitMethod::Crs2: return "crs2";
    }
    return "?";
}

SweepPlan candidate_plan(const CalibrationSetup& setup, const std::vector<double>& values) {
    SweepPlan plan = setup.base;
    for (std::size_t i = 0; i < setup.varied.size(); ++i) {
        const ParameterInfo& info = *setup.varied[i].info;
        plan.parameters.*info.field = stored_value(info, values[i]);
    }
    long long every = 0;
    for (const ObservedPoint& p : setup.observed.points) every = std::gcd(every, p.tick);
    for (const ObservedTarget& t : setup.observed.targets)
        if (t.tick) every = std::gcd(every, *t.tick);
    plan.every = std::max(every, 1LL);
    plan.runs.clear();
    for (long long k = 0; k < setup.replicates; ++k) {
        SweepRun run;
        run.scenario = {seed_of_step(setup.seedBase + k), setup.seedBase + k};
        run.errorSpread = static_cast<float>(plan.parameters.errorSpread);
        run.replicate = static_cast<std::uint32_t>(k);
        plan.runs.push_back(run);
    }
    return plan;
}

SimulatedShares simulate_candidate(const CalibrationSetup& setup, const std::vector<double>& values) {
    return simulate_candidate(setup, values, setup.seedBase, setup.replicates);
}

namespace {

std::size_t sample_index(const SimulatedShares& shares, long long tick) {
    return static_cast<std::size_t>(
        std::lower_bound(shares.ticks.begin(), shares.ticks.end(), tick) - shares.ticks.begin());
}

double departed_share(const VehicleTally& c) {
    const double cars = static_cast<double>(c.notEvacuated) + c.evacuated + c.gaveUp + c.enRoute +
                        c.towed + c.outOfGas;
    return cars > 0 ? 1.0 - c.notEvacuated / cars : 0.0;
}

// One run's value of a target. A zone's figures come from the run's zones
// when it reports them; a town without zones is its one zone.
double target_of_run(const ObservedTarget& t, const FinishedRun& run, const SimulatedShares& shares,
                     const std::vector<double>& departed) {
    const RunFigures& f = run.result.figures;
    const ZoneObservations* zone =
        t.zoneIndex >= 0 && static_cast<std::size_t>(t.zoneIndex) < f.observed.zones.size()
            ? &f.observed.zones[static_cast<std::size_t>(t.zoneIndex)]
            : nullptr;
    if (t.kind == TargetKind::Clearance90) {
        const std::optional<long long> tick = zone ? zone->clear90 : f.tickMost;
        return static_cast<double>(tick.value_or(shares.runTicks));
    }
    if (zone) return zone->cars > 0 ? static_cast<double>(zone->departures) / zone->cars : 0.0;
    if (t.tick) return departed[sample_index(shares, *t.tick)];
    return departed_share(f.final);
}

}  // namespace

double target_scale(const ObservedTarget& target, const SimulatedShares& shares) {
    return target.kind == TargetKind::Clearance90 ? static_cast<double>(std::max(shares.runTicks, 1LL))
                                                  : 1.0;
}

SimulatedShares simulate_candidate(const CalibrationSetup& setup, const std::vector<double>& values,
                                   long long first, long long count) {
    CalibrationSetup scenarios = setup;
    scenarios.seedBase = first;
    scenarios.replicates = count;
    const SweepPlan plan = candidate_plan(scenarios, values);
    SimulatedShares shares;
    shares.ticks = sample_ticks(plan);
    shares.runTicks = plan.ticks;
    const std::size_t n = shares.ticks.size();
    const std::vector<ObservedTarget>& targets = setup.observed.targets;
    std::vector<std::vector<double>> departed(n), arrived(n), targeted(targets.size());
    run_sweep(plan, setup.threads, [&](FinishedRun& run) {
        const std::vector<VehicleTally>& s = run.result.samples;
        std::vector<double>& d = shares.departedRuns.emplace_back();
        std::vector<double>& a = shares.arrivedRuns.emplace_back();
        for (std::size_t t = 0; t < n && t < s.size(); ++t) {
            const VehicleTally& c = s[t];
            const double cars = static_cast<double>(c.notEvacuated) + c.evacuated + c.gaveUp +
                                c.enRoute + c.towed + c.outOfGas;
            d.push_back(departed_share(c));
            a.push_back(cars > 0 ? c.evacuated / cars : 0.0);
            departed[t].push_back(d.back());
            arrived[t].push_back(a.back());
        }
        std::vector<double>& g = shares.targetRuns.emplace_back();
        for (std::size_t k = 0; k < targets.size(); ++k) {
            g.push_back(target_of_run(targets[k], run, shares, d));
            targeted[k].push_back(g.back());
        }
        ++shares.runs;
    });
    for (std::size_t t = 0; t < n; ++t) {
        const Spread d = spread_of(departed[t]), a = spread_of(arrived[t]);
        shares.departedMean.push_back(d.mean);
        shares.departedLow.push_back(d.p10);
        shares.departedHigh.push_back(d.p90);
        shares.arrivedMean.push_back(a.mean);
        shares.arrivedLow.push_back(a.p10);
        shares.arrivedHigh.push_back(a.p90);
    }
    for (const std::vector<double>& runs : targeted) {
        const Spread g = spread_of(runs);
        shares.targetMean.push_back(g.mean);
        shares.targetLow.push_back(g.p10);
        shares.targetHigh.push_back(g.p90);
    }
    return shares;
}

double objective_of(const ObservedCurve& observed, const SimulatedShares& shares) {
    double sum = 0.0;
    for (const ObservedPoint& p : observed.points) {
        const std::size_t t = sample_index(shares, p.tick);
        const double d = p.departed - shares.departedMean[t];
        const double a = observed.hasArrived ? *p.arrived - shares.arrivedMean[t] : 0.0;
        sum += p.weight * (d * d + a * a);
    }
    for (std::size_t k = 0; k < observed.targets.size(); ++k) {
        const ObservedTarget& t = observed.targets[k];
        const double d = (t.value - shares.targetMean[k]) / target_scale(t, shares);
        sum += t.weight * d * d;
    }
    return sum;
}
