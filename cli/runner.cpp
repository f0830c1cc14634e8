#include "cli/runner.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "experiments/planning/parameter_text.h"
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
    write_observations(out, options.format, observer->observations(*sim), tick);
}
