// Sweeps: many scenarios, each under several error levels, run side by side on
// all cores. Every run has its own simulation object and is sampled at the same
// ticks; the results come back in run order whatever the number of threads, so
// a sweep's files are the same byte for byte on one core or on sixty-four.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "experiments/planning/run_plan.h"
#include "experiments/records/rows.h"
#include "experiments/records/run_figures.h"
#include "sim/scenario.h"

// Runs one scenario in `sim` (overwritten) and samples it at `ticks` (sorted);
// `listener`, if any, reads the simulation at tick 0 and after every tick.
RunResult simulate_run(Simulation& sim, const SweepRun& run, const SweepPlan& plan,
                       const std::vector<long long>& ticks, RunListener* listener = nullptr);

// A finished run with its rows already formatted (by the thread that ran it).
struct FinishedRun {
    std::size_t index = 0;  // position in plan.runs
    RunResult result;
    std::string curveRows;
    std::string summaryRow;
    std::string householdRows;  // when the plan asks for them
};

// Runs every run of the plan on `threads` threads (0: OpenMP's default, all
// cores unless OMP_NUM_THREADS says otherwise). `deliver` is called once per
// run, strictly in run order and never on two threads at once; it may keep
// what it is handed. Runs finish roughly in order, so only about one run per
// thread waits for its turn at any time.
//
// `listenerOfThread`, if given, makes each thread's own listener (on that
// thread), which reads every run the thread simulates. It stops the sweep by
// throwing SweepStopped: that run and every run after it are dropped
// undelivered, and run_sweep returns once every thread has seen it.
using DeliverFn = std::function<void(FinishedRun&)>;
struct SweepStopped {};
using ThreadListenerFn = std::function<std::unique_ptr<RunListener>()>;
void run_sweep(const SweepPlan& plan, int threads, const DeliverFn& deliver,
               const ThreadListenerFn& listenerOfThread = {});
