// A sweep of 200 runs (scenarios 0..199 under the moderate error level, 2000
// ticks each, curves sampled every 10 ticks) on 1, 2, ... threads. The speed-up
// is the 1-thread time over the n-thread time; with two cores the target is 1.8.
// On a machine that others are using too, the wall-clock time depends on their
// load; the process's CPU seconds per sweep (all threads together) do not much,
// and their ratio shows how much the parallel runs cost beyond the work itself.
#include <benchmark/benchmark.h>
#include <omp.h>

#include <ctime>
#include <memory>
#include <string>

#include "experiments/running/sweep.h"

namespace {

constexpr int SWEEP_RUNS = 200;
constexpr long long TICKS = 2000;

SweepPlan plan_of_200_runs() {
    std::vector<SweepScenario> scenarios;
    for (int k = 0; k < SWEEP_RUNS; ++k) scenarios.push_back({seed_of_step(k), k});
    SweepPlan plan;
    plan.runs = interleave_runs(scenarios, {ERROR_MODERATE});
    plan.ticks = TICKS;
    plan.every = 10;
    return plan;
}

void BM_Sweep200(benchmark::State& state) {
    const SweepPlan plan = plan_of_200_runs();
    const int threads = static_cast<int>(state.range(0));
    omp_set_num_threads(threads);
    std::size_t bytes = 0;
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        bytes = 0;
        const std::clock_t start = std::clock();  // CPU time of the whole process
        run_sweep(plan, threads, [&](FinishedRun& run) { bytes += run.curveRows.size(); });
        cpuSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        benchmark::DoNotOptimize(bytes);
    }
    const double runs = static_cast<double>(state.iterations()) * SWEEP_RUNS;
    state.counters["process-cpu-s/sweep"] = cpuSeconds / static_cast<double>(state.iterations());
    state.counters["runs/s"] = benchmark::Counter(runs, benchmark::Counter::kIsRate);
    state.counters["car-steps/s"] =
        benchmark::Counter(runs * TICKS * 720.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Sweep200)
    ->DenseRange(1, 2)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// One run as a sweep does it (the tally after every tick for the thresholds and
// the most en route, samples every 10 ticks): comparable with sim_bench's
// BM_Scenario/moderate, which only ticks.
void BM_SweepRun(benchmark::State& state) {
    SweepPlan plan;
    plan.ticks = TICKS;
    plan.every = 10;
    const std::vector<long long> ticks = sample_ticks(plan);
    auto sim = std::make_unique<Simulation>();
    const SweepRun run = {{1, 0}, ERROR_MODERATE};
    for (auto _ : state) benchmark::DoNotOptimize(simulate_run(*sim, run, plan, ticks));
    state.counters["car-steps/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * TICKS * 720.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SweepRun)->Unit(benchmark::kMillisecond);

}  // namespace
