// Whole scenarios from a fresh reset: how many ticks per second one core runs.
#include <benchmark/benchmark.h>

#include <memory>

#include "sim/fingerprint.h"
#include "sim/scenario.h"

namespace {

constexpr int TICKS = 2000;

void BM_Scenario(benchmark::State& state, float errorSpread) {
    auto sim = std::make_unique<Simulation>();
    for (auto _ : state) {
        build_scenario(*sim, {1, error_level(errorSpread), false});
        for (int t = 0; t < TICKS; ++t) sim_tick(*sim);
        benchmark::DoNotOptimize(sim->rng.state);
    }
    state.counters["ticks/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * TICKS,
                                                   benchmark::Counter::kIsRate);
    state.counters["car-steps/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * TICKS * sim->vehicles.vehicleCount,
        benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_Scenario, low, ERROR_LOW)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Scenario, moderate, ERROR_MODERATE)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Scenario, high, ERROR_HIGH)->Unit(benchmark::kMillisecond);

// The parts of a tick, on a town in the middle of its evacuation.
void BM_TickParts(benchmark::State& state) {
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, {1, error_level(ERROR_MODERATE), false});
    for (int t = 0; t < 150; ++t) sim_tick(*sim);
    auto work = std::make_unique<Simulation>();
    const int part = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        *work = *sim;
        state.ResumeTiming();
        switch (part) {
            case 0:
                advance_storm(work->storm, work->vehicles);
                break;
            case 1:
                step_all_vehicles(work->grid, work->vehicles);
                break;
            default:
                update_decisions(work->decisions, work->vehicles, work->storm,
                                 static_cast<float>(work->parameters.errorSpread), work->rng);
        }
        benchmark::DoNotOptimize(work->rng.state);
    }
}
BENCHMARK(BM_TickParts)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// A tick of a town whose cars have all arrived (seed 1, moderate error, after
// tick 300): what every tick costs once nothing moves, the floor of a long run.
void BM_SettledTick(benchmark::State& state) {
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, {1, error_level(ERROR_MODERATE), false});
    for (int t = 0; t < 300; ++t) sim_tick(*sim);
    for (auto _ : state) sim_tick(*sim);
    benchmark::DoNotOptimize(sim->rng.state);
}
BENCHMARK(BM_SettledTick)->Unit(benchmark::kMicrosecond);

// The fingerprint line of a town in the middle of its evacuation.
void BM_FingerprintLine(benchmark::State& state) {
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, {1, error_level(ERROR_MODERATE), false});
    for (int t = 0; t < 150; ++t) sim_tick(*sim);
    for (auto _ : state) benchmark::DoNotOptimize(fingerprint_line(*sim, 150));
}
BENCHMARK(BM_FingerprintLine)->Unit(benchmark::kMicrosecond);

}  // namespace
