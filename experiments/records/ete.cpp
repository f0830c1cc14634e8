#include "experiments/records/ete.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "experiments/records/summary.h"

EteReplicate ete_replicate(const RunResult& run, std::int32_t households) {
    EteReplicate r;
    r.arrived.reserve(run.samples.size());
    for (const VehicleTally& t : run.samples) r.arrived.push_back(t.evacuated);
    const VehicleTally& f = run.figures.final;
    r.left = f.evacuated + f.gaveUp + f.enRoute + f.towed + f.outOfGas;
    r.onRoad = f.enRoute + f.outOfGas;
    r.households = households;
    r.householdsLeft = households - run.figures.observed.householdsNeverLeft;
    return r;
}

std::int32_t town_households(const Town& town, double carsPerHouse) {
    std::int32_t n = 0;
    for (const House& h : town.houses)
        n += (h.cars < 0 ? static_cast<int>(carsPerHouse) : h.cars) > 0 ? 1 : 0;
    return n;
}

std::optional<long long> ete_share_tick(const EteReplicate& r, int percent) {
    if (r.left <= 0) return std::nullopt;
    for (std::size_t tick = 0; tick < r.arrived.size(); ++tick)
        if (r.arrived[tick] * 100LL >= static_cast<long long>(r.left) * percent)
            return static_cast<long long>(tick);
    return std::nullopt;
}

std::vector<EteRow> ete_estimates(const std::vector<EteReplicate>& replicates, long long ticks) {
    std::vector<EteRow> rows;
    for (int percent : ETE_SHARES) {
        std::vector<TimeObservation> runs;
        std::size_t reached = 0;
        for (const EteReplicate& r : replicates) {
            const std::optional<long long> t = ete_share_tick(r, percent);
            runs.push_back({static_cast<double>(t.value_or(ticks)), t.has_value()});
            reached += t.has_value();
        }
        const std::string figure = "tick_" + std::to_string(percent);
        const std::size_t censored = replicates.size() - reached;
        rows.push_back({figure, "km_median", km_median(runs), reached, censored, true});
        rows.push_back({figure, "restricted_mean",
                        restricted_mean(runs, static_cast<double>(ticks)), reached, censored,
                        true});
    }
    std::vector<double> householdsLeft, onRoad;
    for (const EteReplicate& r : replicates) {
        if (r.households > 0)
            householdsLeft.push_back(static_cast<double>(r.householdsLeft) / r.households);
        if (r.left > 0) onRoad.push_back(static_cast<double>(r.onRoad) / r.left);
    }
    rows.push_back({"households_left", "mean", mean_interval(householdsLeft), householdsLeft.size(),
                    0, false});
    rows.push_back({"on_road", "mean", mean_interval(onRoad), onRoad.size(), 0, false});
    return rows;
}

namespace {

std::string number(std::optional<double> v, bool isTime) {
    if (!v) return "";
    char text[64];
    std::snprintf(text, sizeof text, isTime ? "%.1f" : "%.4f", *v);
    return text;
}

std::string clock_time(std::optional<double> ticks, double minutesPerTick) {
    if (!ticks) return "never";
    const long long minutes = std::llround(*ticks * minutesPerTick);
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld", minutes / 60, minutes % 60);
    return text;
}

const char* estimator_name(const std::string& e) {
    return e == "km_median"         ? "Kaplan-Meier median"
           : e == "restricted_mean" ? "restricted mean"
                                    : "mean";
}

std::string figure_name(const std::string& f) {
    if (f.rfind("tick_", 0) == 0) return f.substr(5) + " % of leaving cars out";
    return f == "households_left" ? "households that left" : "leaving cars on the road";
}

}  // namespace

std::string ete_table(const std::string& title, const std::vector<EteRow>& rows,
                      std::optional<double> minutesPerTick) {
    std::string out = title + "\n";
    char line[512];
    std::snprintf(line, sizeof line, "%-28s %-20s %10s  %-22s %7s %8s%s\n", "figure", "estimator",
                  "value", "95 % interval", "reached", "censored",
                  minutesPerTick ? "  h:mm (interval)" : "");
    out += line;
    for (const EteRow& r : rows) {
        const auto shown = [&](std::optional<double> v) {
            return v ? number(v, r.isTime) : std::string(r.isTime ? "never" : "-");
        };
        const std::string interval =
            r.estimate.value ? shown(r.estimate.low) + " .. " + shown(r.estimate.high) : "-";
        std::string clock;
        if (minutesPerTick && r.isTime)
            clock = "  " + clock_time(r.estimate.value, *minutesPerTick) + " (" +
                    clock_time(r.estimate.low, *minutesPerTick) + " .. " +
                    clock_time(r.estimate.high, *minutesPerTick) + ")";
        std::snprintf(line, sizeof line, "%-28s %-20s %10s  %-22s %7zu %8zu%s\n",
                      figure_name(r.figure).c_str(), estimator_name(r.estimator),
                      r.estimate.value ? number(r.estimate.value, r.isTime).c_str() : "never",
                      interval.c_str(), r.reached, r.censored, clock.c_str());
        out += line;
    }
    out +=
        "Times in ticks. A run that never reaches a share is censored at its last tick: the "
        "median is\nthe Kaplan-Meier estimate (95 % interval by Brookmeyer-Crowley, log-log), the "
        "restricted\nmean the area under its curve up to the last tick (censored runs count as "
        "the last tick).\nShares: the mean over the runs with Student's 95 % interval; cars on "
        "the road are of those\nthat left. \"never\": the estimate or bound is past the runs' "
        "end.\n";
    return out;
}

std::string ete_csv(const std::vector<EteRow>& rows) {
    std::string out = "figure,estimator,value,low,high,reached,censored\n";
    for (const EteRow& r : rows) {
        // Enough digits to read back the same number.
        const auto exact = [](std::optional<double> v) {
            if (!v) return std::string();
            char text[64];
            std::snprintf(text, sizeof text, "%.17g", *v);
            return std::string(text);
        };
        out += r.figure + "," + r.estimator + "," + exact(r.estimate.value) + "," +
               exact(r.estimate.low) + "," + exact(r.estimate.high) + "," +
               std::to_string(r.reached) + "," + std::to_string(r.censored) + "\n";
    }
    return out;
}

EteBand ete_band(const std::vector<EteReplicate>& replicates) {
    EteBand band;
    std::size_t ticks = 0;
    for (const EteReplicate& r : replicates)
        if (r.left > 0) {
            ticks = std::max(ticks, r.arrived.size());
            ++band.runs;
        }
    std::vector<double> shares;
    for (std::size_t tick = 0; tick < ticks; ++tick) {
        shares.clear();
        for (const EteReplicate& r : replicates)
            if (r.left > 0 && tick < r.arrived.size())
                shares.push_back(static_cast<double>(r.arrived[tick]) / r.left);
        std::sort(shares.begin(), shares.end());
        double sum = 0.0;
        for (double s : shares) sum += s;
        band.mean.push_back(sum / static_cast<double>(shares.size()));
        band.low.push_back(percentile_of_sorted(shares, 0.025));
        band.high.push_back(percentile_of_sorted(shares, 0.975));
    }
    return band;
}
