// Generated towns of growing size (the built-in town repeated cols x rows
// times): the cost of a tick per car that a tick can change (cars under way
// plus households still waiting), and the process's peak memory.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bench/peak_memory.h"
#include "sim/scenario.h"

namespace {

// One whole run of `ticks` ticks per iteration, moderate error, seed 1, under
// the straight rule or (a fourth argument of 1) the road guide.
void BM_RepeatedTown(benchmark::State& state) {
    const int cols = static_cast<int>(state.range(0));
    const int rows = static_cast<int>(state.range(1));
    const int ticks = static_cast<int>(state.range(2));
    ModelParameters parameters = error_level(ERROR_MODERATE);
    if (state.range(3) != 0) parameters.routeGuide = ROUTE_GUIDE_ROAD;
    const auto town = std::make_shared<const Town>(generate_repeated_town(cols, rows, cols));
    auto sim = std::make_unique<Simulation>();
    double active = 0.0, seconds = 0.0;
    for (auto _ : state) {
        build_scenario(*sim, {1, parameters, false}, town);
        const auto start = std::chrono::steady_clock::now();
        for (int t = 0; t < ticks; ++t) {
            const VehicleTally& k = current_tally(sim->vehicles);
            active += k.notEvacuated + k.enRoute + k.outOfGas;
            sim_tick(*sim);
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(sim->rng.state);
    }
    const double n = static_cast<double>(state.iterations());
    const double cars = sim->vehicles.vehicleCount;
    const double cells = static_cast<double>(town->layout.size());
    const double rss = peak_rss_bytes();
    state.counters["cars"] = cars;
    state.counters["cells"] = cells;
    state.counters["s/run"] = seconds / n;
    state.counters["ns/tick"] = seconds / n / ticks * 1e9;
    // Nanoseconds of a tick for each car a tick can change, over the whole run.
    state.counters["ns/active-car-tick"] = seconds * 1e9 / (active > 0 ? active : 1);
    state.counters["peak_MB"] = rss / 1e6;
    state.counters["budget_MB"] = (150.0 * cars + 8.0 * cells + 30e6) / 1e6;
    state.counters["home_searches"] = static_cast<double>(sim->vehicles.home.searches);
    state.counters["home_no_road"] = static_cast<double>(sim->vehicles.home.noRoad);
}

BENCHMARK(BM_RepeatedTown)
    ->Args({1, 1, 3000, 0})
    ->Args({5, 2, 3000, 0})
    ->Args({10, 10, 3000, 0})
    ->Args({10, 10, 3000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
// The largest: 1280 x 960 cells, 737,280 cars; run last so that its peak is its own.
BENCHMARK(BM_RepeatedTown)
    ->Args({32, 32, 3000, 0})
    ->Args({32, 32, 3000, 1})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace
