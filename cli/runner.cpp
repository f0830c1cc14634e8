#include "cli/runner.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "experiments/planning/parameter_text.h"
#include "experiments/planning/order_text.h"
#include "experiments/planning/road_text.h"
#include "experiments/records/observations.h"
#include "experiments/records/provenance.h"
#include "sim/fingerprint.h"

std::vector<long long> report_ticks(const RunOptions& options) {
    std::vector<long long> ticks;
    for (long long t : options.at)
        if (t >= 0 && t <= options.ticks) ticks.push_back(t);
    if (options.every > 0)
        for (long long t = 0; t <= options.ticks; t += options.every) ticks.push_back(t);
    if (options.at.empty() && options.every <= 0) ticks.push_back(options.ticks);
    std::sort(ticks.begin(), ticks.end());
    ticks.erase(std::unique(ticks.begin(), ticks.end()), ticks.end());
    return ticks;
}

void write_tally_header(std::ostream& out, TallyFormat format) {
    if (format == TallyFormat::Csv) {
        out << "tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas,total\n";
        return;
    }
    out << "   tick  not evacuated  evacuated  gave up  en route  towed  out of gas  total\n";
}

void write_tally_row(std::ostream& out, TallyFormat format, long long tick, const VehicleTally& t) {
    char line[160];
    if (format == TallyFormat::Csv)
        std::snprintf(line, sizeof line, "%lld,%d,%d,%d,%d,%d,%d,%d\n", tick, t.notEvacuated,
                      t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas, tally_total(t));
    else
        std::snprintf(line, sizeof line, "%7lld  %13d  %9d  %7d  %8d  %5d  %10d  %5d\n", tick,
                      t.notEvacuated, t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas,
                      tally_total(t));
    out << line;
}

namespace {

// Each zone's departures and clearance, and who left before, after or without
// an order; as comment lines in CSV. Only for a run whose reports carry zones.
void write_zone_observations(std::ostream& out, TallyFormat format, const Town& town,
                             const RunObservations& o) {
    const auto tick = [](const std::optional<long long>& t) {
        return t ? std::to_string(*t) : std::string();
    };
    const std::int64_t left = std::int64_t{o.leftBeforeOrder} + o.leftAfterOrder + o.leftWithoutOrder;
    const auto share = [&](std::int32_t n) {
        return left > 0 ? format_value(static_cast<double>(n) / static_cast<double>(left))
                        : std::string();
    };
    if (format == TallyFormat::Csv) {
        out << "# zone,cars,departures,tick_50,tick_90,tick_100,stranded\n";
        for (std::size_t z = 0; z < o.zones.size(); ++z) {
            const ZoneObservations& s = o.zones[z];
            out << "# " << zone_name(town, z) << ',' << s.cars << ',' << s.departures << ','
                << tick(s.clear50) << ',' << tick(s.clear90) << ',' << tick(s.clear100) << ','
                << s.stranded << '\n';
        }
        out << "# left_before_order,left_after_order,left_without_order\n# "
            << share(o.leftBeforeOrder) << ',' << share(o.leftAfterOrder) << ','
            << share(o.leftWithoutOrder) << '\n';
        return;
    }
    for (std::size_t z = 0; z < o.zones.size(); ++z) {
        const ZoneObservations& s = o.zones[z];
        // With a tick length, the hours beside the tick.
        const auto at = [&](const std::optional<long long>& t) {
            if (!t) return std::string("never");
            char hours[48] = "";
            if (town.minutesPerTick > 0)
                std::snprintf(hours, sizeof hours, " (%.1f h)",
                              static_cast<double>(*t) * town.minutesPerTick / 60.0);
            return "at tick " + std::to_string(*t) + hours;
        };
        out << "zone " << zone_name(town, z) << ": " << s.cars << " cars, " << s.departures
            << " left home; 50 % out " << at(s.clear50) << ", 90 % " << at(s.clear90) << ", all "
            << at(s.clear100) << "; " << s.stranded << " stranded\n";
    }
    char line[200];
    const auto percent = [&](std::int32_t n) { return 100.0 * n / static_cast<double>(left); };
    if (left > 0) {
        std::snprintf(line, sizeof line,
                      "cars that left home: %.1f %% before their zone's order, %.1f %% at or after "
                      "it, %.1f %% in a zone without one\n",
                      percent(o.leftBeforeOrder), percent(o.leftAfterOrder),
                      percent(o.leftWithoutOrder));
        out << line;
    }
}

void write_observations(std::ostream& out, TallyFormat format, const RunObservations& o,
                        long long ticksRun) {
    char line[256];
    auto tick_or = [](const std::optional<long long>& t, const char* none) {
        return t ? std::to_string(*t) : std::string(none);
    };
    if (format == TallyFormat::Csv) {
        out << "# settled_tick,last_arrival_tick,trips,trip_mean,trip_p90,households_never_left\n";
        std::snprintf(line, sizeof line, "# %s,%s,%d,%s,%s,%d\n",
                      tick_or(o.settledTick, "").c_str(), tick_or(o.lastArrivalTick, "").c_str(),
                      o.trips, o.trips > 0 ? format_value(o.tripMean).c_str() : "",
                      o.trips > 0 ? format_value(o.tripP90).c_str() : "", o.householdsNeverLeft);
        out << line;
        return;
    }
    if (o.settledTick)
        std::snprintf(line, sizeof line, "settled at tick %lld\n", *o.settledTick);
    else
        std::snprintf(line, sizeof line, "not settled after %lld ticks\n", ticksRun);
    out << line;
    if (o.lastArrivalTick)
        std::snprintf(line, sizeof line, "last arrival at the exit at tick %lld\n",
                      *o.lastArrivalTick);
    else
        std::snprintf(line, sizeof line, "no car reached the exit\n");
    out << line;
    if (o.trips > 0) {
        std::snprintf(line, sizeof line,
                      "trip times of %d evacuated cars: mean %.1f, 90th percentile %.1f ticks\n",
                      o.trips, o.tripMean, o.tripP90);
        out << line;
    }
    std::snprintf(line, sizeof line, "households that never left: %d\n", o.householdsNeverLeft);
    out << line;
}

}  // namespace

void run_headless(const RunOptions& options, std::ostream& out) {
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, options.scenario, options.town ? options.town : shared_builtin_town());
    if (options.town) out << town_line(*options.town);
    out << changed_parameter_lines(options.scenario.parameters);
    if (!is_empty(options.scenario.roads))
        out << "# roads: " << road_plan_words(options.scenario.roads) << '\n';
    if (!options.scenario.orders.empty())
        out << "# orders: " << order_words(sim->town ? *sim->town : builtin_town(), options.scenario.orders)
            << '\n';
    out << options.planLine;

    if (options.fingerprint) {
        out << fingerprint_line(*sim, 0).text << '\n';
        bool settled = options.untilSettled && is_settled(current_tally(sim->vehicles));
        for (long long tick = 1; tick <= options.ticks && !settled; ++tick) {
            sim_tick(*sim);
            out << fingerprint_line(*sim, tick).text << '\n';
            settled = options.untilSettled && is_settled(current_tally(sim->vehicles));
        }
        return;
    }

    auto observer = std::make_unique<RunObserver>();
    VehicleTally tally = current_tally(sim->vehicles);
    observer->start(*sim, tally);
    const auto stop = [&] { return options.untilSettled && is_settled(tally); };

    std::vector<long long> ticks = report_ticks(options);
    write_tally_header(out, options.format);
    long long tick = 0;
    for (long long wanted : ticks) {
        for (; tick < wanted && !stop(); ++tick) {
            sim_tick(*sim);
            tally = current_tally(sim->vehicles);
            observer->after_tick(*sim, tick + 1, tally);
        }
        if (tick < wanted) break;  // settled before this tick
        write_tally_row(out, options.format, tick, tally);
    }
    // Settled early: the last row is the settled town when no other rows were asked for.
    if (stop() && options.at.empty() && options.every <= 0 && tick < options.ticks)
        write_tally_row(out, options.format, tick, tally);
    const RunObservations seen = observer->observations(*sim);
    write_observations(out, options.format, seen, tick);
    if (reports_zones(*sim->town, sim->orders))
        write_zone_observations(out, options.format, *sim->town, seen);
}
