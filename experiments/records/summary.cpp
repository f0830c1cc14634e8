#include "experiments/records/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "experiments/planning/parameter_text.h"

double percentile_of_sorted(const std::vector<double>& sorted, double p) {
    const double h = static_cast<double>(sorted.size() - 1) * p;
    const double below = std::floor(h);
    const auto i = static_cast<std::size_t>(below);
    if (i + 1 >= sorted.size()) return sorted.back();
    return sorted[i] + (h - below) * (sorted[i + 1] - sorted[i]);
}

Spread spread_of(std::vector<double> values) {
    Spread s;
    s.count = values.size();
    if (values.empty()) return s;
    double sum = 0.0;
    for (double v : values) sum += v;
    s.mean = sum / static_cast<double>(values.size());
    if (values.size() > 1) {
        double squares = 0.0;
        for (double v : values) squares += (v - s.mean) * (v - s.mean);
        s.sd = std::sqrt(squares / static_cast<double>(values.size() - 1));
    }
    std::sort(values.begin(), values.end());
    s.p10 = percentile_of_sorted(values, 0.10);
    s.p90 = percentile_of_sorted(values, 0.90);
    return s;
}

const char* figure_label(Figure f) {
    switch (f) {
        case Figure::NotEvacuated:
            return "not evacuated";
        case Figure::Evacuated:
            return "evacuated";
        case Figure::GaveUp:
            return "gave up";
        case Figure::EnRoute:
            return "en route";
        case Figure::Towed:
            return "towed";
        case Figure::OutOfGas:
            return "out of gas";
        case Figure::TickHalf:
            return "tick of 50% evacuated";
        case Figure::TickMost:
            return "tick of 90% evacuated";
        case Figure::MaxEnRoute:
            return "most en route";
        case Figure::MaxEnRouteTick:
            return "tick of most en route";
        case Figure::SettledTick:
            return "tick settled";
        case Figure::LastArrivalTick:
            return "tick of last arrival";
        case Figure::TripMean:
            return "mean trip time";
        case Figure::TripP90:
            return "p90 trip time";
        case Figure::NeverLeft:
            return "households never left";
    }
    return "";
}

const char* figure_column(Figure f) {
    static const char* const columns[FIGURE_COUNT] = {
        "not_evacuated", "evacuated",         "gave_up",   "en_route",     "towed",
        "out_of_gas",    "tick_50",           "tick_90",   "max_en_route", "max_en_route_tick",
        "settled_tick",  "last_arrival_tick", "trip_mean", "trip_p90",     "households_never_left"};
    const auto i = static_cast<int>(f);
    return i >= 0 && i < FIGURE_COUNT ? columns[i] : "";
}

FigureKind figure_kind(Figure f) {
    switch (f) {
        case Figure::TickHalf:
        case Figure::TickMost:
        case Figure::SettledTick:
            return FigureKind::Time;
        case Figure::LastArrivalTick:
        case Figure::TripMean:
        case Figure::TripP90:
            return FigureKind::Conditional;
        default:
            return FigureKind::Count;
    }
}

bool figure_value(const RunFigures& run, Figure f, double& value) {
    switch (f) {
        case Figure::NotEvacuated:
            value = run.final.notEvacuated;
            return true;
        case Figure::Evacuated:
            value = run.final.evacuated;
            return true;
        case Figure::GaveUp:
            value = run.final.gaveUp;
            return true;
        case Figure::EnRoute:
            value = run.final.enRoute;
            return true;
        case Figure::Towed:
            value = run.final.towed;
            return true;
        case Figure::OutOfGas:
            value = run.final.outOfGas;
            return true;
        case Figure::TickHalf:
            if (!run.tickHalf) return false;
            value = static_cast<double>(*run.tickHalf);
            return true;
        case Figure::TickMost:
            if (!run.tickMost) return false;
            value = static_cast<double>(*run.tickMost);
            return true;
        case Figure::MaxEnRoute:
            value = run.maxEnRoute;
            return true;
        case Figure::MaxEnRouteTick:
            value = static_cast<double>(run.maxEnRouteTick);
            return true;
        case Figure::SettledTick:
            if (!run.observed.settledTick) return false;
            value = static_cast<double>(*run.observed.settledTick);
            return true;
        case Figure::LastArrivalTick:
            if (!run.observed.lastArrivalTick) return false;
            value = static_cast<double>(*run.observed.lastArrivalTick);
            return true;
        case Figure::TripMean:
        case Figure::TripP90:
            if (run.observed.trips == 0) return false;
            value = f == Figure::TripMean ? run.observed.tripMean : run.observed.tripP90;
            return true;
        case Figure::NeverLeft:
            value = run.observed.householdsNeverLeft;
            return true;
    }
    return false;
}

SweepSummary::SweepSummary(std::vector<float> levels, std::vector<long long> sampleTicks,
                           bool keepCurves)
    : levels_(std::move(levels)),
      ticks_(std::move(sampleTicks)),
      keepCurves_(keepCurves),
      figures_(levels_.size()),
      pairKeys_(levels_.size()),
      samples_(levels_.size()) {
    for (float level : levels_) groups_.push_back(error_spread_text(level));
}

SweepSummary::SweepSummary(std::string title, std::vector<std::string> groups,
                           std::vector<long long> sampleTicks, bool keepCurves)
    : title_(std::move(title)),
      groups_(std::move(groups)),
      ticks_(std::move(sampleTicks)),
      keepCurves_(keepCurves),
      figures_(groups_.size()),
      pairKeys_(groups_.size()),
      samples_(groups_.size()) {}

void SweepSummary::add(const SweepRun& run, const RunResult& result) {
    const auto it = std::find(levels_.begin(), levels_.end(), run.errorSpread);
    if (it == levels_.end()) return;
    add_to(static_cast<std::size_t>(it - levels_.begin()), result,
           std::to_string(run.scenario.seed));
}

void SweepSummary::add_to(std::size_t group, const RunResult& result, std::string pairKey) {
    if (group >= figures_.size()) return;
    figures_[group].push_back(result.figures);
    pairKeys_[group].push_back(std::move(pairKey));
    if (keepCurves_) samples_[group].push_back(result.samples);
    ++runCount_;
}

Spread SweepSummary::figure_spread(std::size_t level, Figure f) const {
    std::vector<double> values;
    values.reserve(figures_[level].size());
    for (const RunFigures& run : figures_[level]) {
        double v = 0.0;
        if (figure_value(run, f, v)) values.push_back(v);
    }
    return spread_of(std::move(values));
}

SweepSummary::Band SweepSummary::curve_band(std::size_t level, Quantity q) const {
    Band band;
    const auto& runs = samples_[level];
    if (runs.empty()) return band;
    std::vector<double> values(runs.size());
    for (std::size_t s = 0; s < ticks_.size(); ++s) {
        for (std::size_t r = 0; r < runs.size(); ++r) {
            const VehicleTally& t = runs[r][s];
            values[r] = q == Quantity::Evacuated ? t.evacuated
                        : q == Quantity::EnRoute ? t.enRoute
                                                 : t.notEvacuated;
        }
        const Spread spread = spread_of(values);
        band.mean.push_back(spread.mean);
        band.p10.push_back(spread.p10);
        band.p90.push_back(spread.p90);
    }
    return band;
}
