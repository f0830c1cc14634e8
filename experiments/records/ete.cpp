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
    for (const ZoneObservations& z : run.figures.observed.zones)
        r.zones.push_back({z.departures, z.out50, z.out90, z.out100, z.stranded});
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

namespace {

// A share's time under both estimators, from each replicate's tick (none:
// censored at `ticks`).
void add_time_rows(std::vector<EteRow>& rows, const std::string& figure,
                   const std::vector<std::optional<long long>>& times, long long ticks) {
    std::vector<TimeObservation> runs;
    std::size_t reached = 0;
    for (const std::optional<long long>& t : times) {
        runs.push_back({static_cast<double>(t.value_or(ticks)), t.has_value()});
        reached += t.has_value();
    }
    const std::size_t censored = times.size() - reached;
    rows.push_back({figure, "km_median", km_median(runs), reached, censored, true});
    rows.push_back({figure, "restricted_mean", restricted_mean(runs, static_cast<double>(ticks)),
                    reached, censored, true});
}

}  // namespace

std::vector<EteRow> ete_estimates(const std::vector<EteReplicate>& replicates, long long ticks,
                                  const std::vector<std::string>& zoneNames) {
    std::vector<EteRow> rows;
    for (int percent : ETE_SHARES) {
        std::vector<std::optional<long long>> times;
        for (const EteReplicate& r : replicates) times.push_back(ete_share_tick(r, percent));
        add_time_rows(rows, "tick_" + std::to_string(percent), times, ticks);
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
    for (std::size_t k = 0; k < zoneNames.size(); ++k) {
        const std::string zone = "zone_" + zoneNames[k];
        const auto of = [&](const EteReplicate& r) -> const EteZone* {
            return k < r.zones.size() ? &r.zones[k] : nullptr;
        };
        for (int percent : ETE_SHARES) {
            std::vector<std::optional<long long>> times;
            for (const EteReplicate& r : replicates) {
                const EteZone* z = of(r);
                times.push_back(!z              ? std::nullopt
                                : percent == 50 ? z->out50
                                : percent == 90 ? z->out90
                                                : z->out100);
            }
            add_time_rows(rows, zone + "_tick_" + std::to_string(percent), times, ticks);
        }
        std::vector<double> stranded;
        for (const EteReplicate& r : replicates)
            if (const EteZone* z = of(r); z && z->left > 0)
                stranded.push_back(static_cast<double>(z->stranded) / z->left);
        rows.push_back(
            {zone + "_stranded", "mean", mean_interval(stranded), stranded.size(), 0, false});
    }
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
    if (f.rfind("zone_", 0) == 0) {
        // zone_NAME_tick_P or zone_NAME_stranded; a name may hold '_' itself.
        const std::string rest = f.substr(5);
        const std::size_t tick = rest.rfind("_tick_");
        if (tick != std::string::npos && rest.find('_', tick + 6) == std::string::npos)
            return "zone " + rest.substr(0, tick) + ": " + rest.substr(tick + 6) + " % out";
        return "zone " + rest.substr(0, rest.rfind('_')) + ": stranded";
    }
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
    const bool zones = std::any_of(rows.begin(), rows.end(),
                                   [](const EteRow& r) { return r.figure.rfind("zone_", 0) == 0; });
    if (zones)
        out +=
            "A zone's times are of its cars that left, its stranded cars (gave up, out of gas) "
            "a share of them.\n";
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
