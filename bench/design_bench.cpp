// What a design costs beyond its runs. The same 40 runs (scenarios 0..39 under
// the moderate error level, 2000 ticks, curves every 10 ticks) as a plain sweep
// and as a design of 40 points, each naming its scenario and giving five
// parameters their default values, delivered as the command delivers them: rows
// formatted, the table's figures kept, the sensitivity sums added. On one thread,
// timed in process CPU seconds so that other users of the machine matter less.
// The target: the design costs under 2 % more per run.
//
// BM_DesignBookkeeping isolates the design's own work per run (its row keys,
// the per-point record, grouping and sums, the design itself made once per
// 10 000 runs) from the simulation; compare it with sweep_bench's BM_SweepRun.
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>

#include "experiments/planning/design.h"
#include "experiments/planning/sensitivity.h"
#include "experiments/records/summary.h"
#include "experiments/running/sweep.h"

namespace {

constexpr int RUNS = 40;
constexpr long long TICKS = 2000;
const char* const VARIED[] = {"error_spread", "patience_min", "fuel_min", "storm_speed_min",
                              "congestion_rate"};

SweepPlan base_plan() {
    SweepPlan plan;
    plan.ticks = TICKS;
    plan.every = 10;
    return plan;
}

SweepPlan plain_plan() {
    std::vector<SweepScenario> scenarios;
    for (int k = 0; k < RUNS; ++k) scenarios.push_back({seed_of_step(k), k});
    SweepPlan plan = base_plan();
    plan.runs = interleave_runs(scenarios, {ERROR_MODERATE});
    return plan;
}

// Forty points at the defaults (the spread moderate), point k under scenario k.
Design design_of_same_runs() {
    std::string text = "point,scenario";
    for (const char* name : VARIED) text += std::string(",") + name;
    text += '\n';
    for (int k = 0; k < RUNS; ++k)
        text += std::to_string(k) + "," + std::to_string(k) + ",360,240,200,0.002,0.005\n";
    Design design;
    if (const std::string why = parse_design_csv(text, "bench", 1000, design); !why.empty())
        throw std::runtime_error(why);
    return design;
}

void report(benchmark::State& state, double cpuSeconds) {
    const double runs = static_cast<double>(state.iterations()) * RUNS;
    state.counters["cpu-ms/run"] = cpuSeconds * 1000.0 / runs;
}

void BM_PlainSweep(benchmark::State& state) {
    const SweepPlan plan = plain_plan();
    double cpu = 0.0;
    for (auto _ : state) {
        SweepSummary table({ERROR_MODERATE}, sample_ticks(plan), false);
        std::size_t bytes = 0;
        const std::clock_t start = std::clock();
        run_sweep(plan, 1, [&](FinishedRun& run) {
            bytes += run.curveRows.size() + run.summaryRow.size();
            table.add(plan.runs[run.index], run.result);
        });
        cpu += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        benchmark::DoNotOptimize(bytes);
    }
    report(state, cpu);
}
BENCHMARK(BM_PlainSweep)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_DesignSweep(benchmark::State& state) {
    double cpu = 0.0;
    for (auto _ : state) {
        const std::clock_t start = std::clock();
        const Design design = design_of_same_runs();
        SweepPlan plan = base_plan();
        plan.runs = design_runs(design, {});
        attach_design(plan, design);
        const PointGroups groups = group_points(design, 12);
        SweepSummary table(groups.title, groups.names, sample_ticks(plan), false);
        SensitivityReport sums(design);
        std::size_t bytes = 0;
        run_sweep(plan, 1, [&](FinishedRun& run) {
            bytes += run.curveRows.size() + run.summaryRow.size();
            const SweepRun& r = plan.runs[run.index];
            table.add_to(groups.groupOfPoint[r.point], run.result);
            sums.add(r, run.result.figures);
        });
        cpu += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        benchmark::DoNotOptimize(bytes);
    }
    report(state, cpu);
}
BENCHMARK(BM_DesignSweep)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The design's work for one run without the simulation: a share of making a
// Saltelli design of 10 000 runs over five parameters, the run's row key with
// five values on each of its 201 curve rows and its summary row, its table and
// sensitivity entries.
void BM_DesignBookkeeping(benchmark::State& state) {
    std::vector<VaryOption> options;
    for (const char* bounds : {"error_spread=0..720", "patience_min=120..360", "fuel_min=200..400",
                               "storm_speed_min=0.001..0.008", "congestion_rate=0.002..0.008"}) {
        options.emplace_back();
        parse_vary(bounds, options.back());
    }
    SampleOption sample;
    parse_sample("saltelli:1428", sample);  // 9996 points
    Design design;
    sample_design(sample, options, 1, 100000, design);
    SweepPlan plan = base_plan();
    plan.runs = design_runs(design, {{1, 0}});
    attach_design(plan, design);
    const std::vector<long long> ticks = sample_ticks(plan);
    RunResult result;
    result.samples.assign(ticks.size(), VehicleTally{360, 200, 50, 60, 5, 5});
    result.figures.tickHalf = 300;
    const PointGroups groups = group_points(design, 12);
    SweepSummary table(groups.title, groups.names, ticks, false);
    SensitivityReport sums(design);
    std::size_t i = 0;
    for (auto _ : state) {
        if (i % plan.runs.size() == 0) {  // the design made anew once per design's worth of runs
            Design again;
            sample_design(sample, options, 1, 100000, again);
            benchmark::DoNotOptimize(again.values.data());
        }
        const SweepRun& run = plan.runs[i++ % plan.runs.size()];
        std::string curves, summary;
        append_curve_rows(curves, plan, run, ticks, result.samples);
        append_summary_row(summary, plan, run, result.figures);
        table.add_to(groups.groupOfPoint[run.point], result);
        sums.add(run, result.figures);
        benchmark::DoNotOptimize(curves.data());
        benchmark::DoNotOptimize(summary.data());
    }
}
BENCHMARK(BM_DesignBookkeeping)->Unit(benchmark::kMicrosecond);

// The plain sweep's bookkeeping for one run, to set against the design's.
void BM_PlainBookkeeping(benchmark::State& state) {
    const SweepPlan plan = plain_plan();
    const std::vector<long long> ticks = sample_ticks(plan);
    RunResult result;
    result.samples.assign(ticks.size(), VehicleTally{360, 200, 50, 60, 5, 5});
    SweepSummary table({ERROR_MODERATE}, ticks, false);
    std::size_t i = 0;
    for (auto _ : state) {
        const SweepRun& run = plan.runs[i++ % plan.runs.size()];
        std::string curves, summary;
        append_curve_rows(curves, plan, run, ticks, result.samples);
        append_summary_row(summary, plan, run, result.figures);
        table.add(run, result);
        benchmark::DoNotOptimize(curves.data());
        benchmark::DoNotOptimize(summary.data());
    }
}
BENCHMARK(BM_PlainBookkeeping)->Unit(benchmark::kMicrosecond);

}  // namespace
