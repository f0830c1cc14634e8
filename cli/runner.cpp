#include "cli/runner.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>

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

void run_headless(const RunOptions& options, std::ostream& out) {
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, options.scenario);

    if (options.fingerprint) {
        out << fingerprint_line(*sim, 0).text << '\n';
        for (long long tick = 1; tick <= options.ticks; ++tick) {
            sim_tick(*sim);
            out << fingerprint_line(*sim, tick).text << '\n';
        }
        return;
    }

    const std::vector<long long> ticks = report_ticks(options);
    write_tally_header(out, options.format);
    long long tick = 0;
    for (long long wanted : ticks) {
        for (; tick < wanted; ++tick) sim_tick(*sim);
        write_tally_row(out, options.format, tick, tally_vehicles(sim->vehicles));
    }
}
