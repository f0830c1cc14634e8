// A 2-parameter calibration on the built-in town (feedback and parked_speed,
// 20 replicates of 2000 ticks, a budget of 100 evaluations, CRS2, no bootstrap)
// against a plain sweep of the very runs it simulated. The calibration's own
// cost (the optimiser, the shares, the objective, the cache) is its time
// beyond the sweep's; the target is at most 5 % of the runs' time. Both are
// timed on the same threads, one after the other, in wall-clock and in CPU
// seconds: on a machine others load, the CPU seconds are the steadier measure.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "experiments/calibration/fit.h"
#include "experiments/running/sweep.h"

namespace {

constexpr long long TICKS = 2000;
constexpr long long REPLICATES = 20;
constexpr long long BUDGET = 100;

CalibrationSetup setup_of_benchmark() {
    CalibrationSetup setup;
    setup.base.ticks = TICKS;
    setup.replicates = REPLICATES;
    setup.budget = BUDGET;
    setup.method = FitMethod::Crs2;
    setup.bootstrap = 0;
    VariedParameter feedback, parked;
    parse_varied("feedback=0.3..0.55", feedback);
    parse_varied("parked_speed=0.0015..0.0035", parked);
    setup.varied = {feedback, parked};
    // The observed curve: the model's own at known values, every 50 ticks.
    for (long long t = 50; t <= TICKS; t += 50) setup.observed.points.push_back({t, 0.0, 0.0, 1.0});
    const SimulatedShares s = simulate_candidate(setup, {0.42, 0.0026});
    setup.observed.hasArrived = true;
    for (ObservedPoint& p : setup.observed.points) {
        const auto t = static_cast<std::size_t>(p.tick / 50);
        p.departed = s.departedMean[t];
        p.arrived = s.arrivedMean[t];
    }
    return setup;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Calibration2Parameters(benchmark::State& state) {
    const CalibrationSetup setup = setup_of_benchmark();
    double calibration = 0.0, sweep = 0.0, calibrationCpu = 0.0, sweepCpu = 0.0;
    std::size_t runs = 0, evaluations = 0;
    for (auto _ : state) {
        std::vector<std::vector<double>> simulated;
        // Every candidate is simulated once, the first time it is met.
        Evaluator evaluator(setup, [&](const Evaluation& e) { simulated.push_back(e.values); });
        const auto start = std::chrono::steady_clock::now();
        std::clock_t cpu = std::clock();  // CPU time of the whole process, all threads
        const FitResult result = fit(evaluator);
        calibration = seconds_since(start);
        calibrationCpu = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        benchmark::DoNotOptimize(result.objective);
        runs = evaluator.runs();
        evaluations = evaluator.evaluations();
        std::sort(simulated.begin(), simulated.end());
        simulated.erase(std::unique(simulated.begin(), simulated.end()), simulated.end());
        const auto sweepStart = std::chrono::steady_clock::now();
        cpu = std::clock();
        for (const std::vector<double>& values : simulated)
            run_sweep(candidate_plan(setup, values), setup.threads, [](FinishedRun&) {});
        sweep = seconds_since(sweepStart);
        sweepCpu = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        state.SetIterationTime(calibration);
    }
    state.counters["evaluations"] = static_cast<double>(evaluations);
    state.counters["runs"] = static_cast<double>(runs);
    state.counters["calibration-s"] = calibration;
    state.counters["sweep-s"] = sweep;
    state.counters["calibration-runs/s"] = static_cast<double>(runs) / calibration;
    state.counters["sweep-runs/s"] = static_cast<double>(runs) / sweep;
    state.counters["overhead-%"] = 100.0 * (calibration - sweep) / sweep;
    // CPU seconds depend far less than wall-clock ones on what others run meanwhile.
    state.counters["calibration-cpu-s"] = calibrationCpu;
    state.counters["sweep-cpu-s"] = sweepCpu;
    state.counters["overhead-cpu-%"] = 100.0 * (calibrationCpu - sweepCpu) / sweepCpu;
}
BENCHMARK(BM_Calibration2Parameters)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
