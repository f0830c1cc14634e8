#include "experiments/running/sweep.h"

#include <omp.h>

#include <map>
#include <memory>

#include "experiments/records/households.h"

RunResult simulate_run(Simulation& sim, const SweepRun& run, const SweepPlan& plan,
                       const std::vector<long long>& ticks, RunListener* listener) {
    const bool varied = !plan.variants.empty();
    build_scenario(sim,
                   {run.scenario.seed, run_parameters(plan, run), plan.startup,
                    varied ? plan.variants[run.variant].roads : plan.roads,
                    varied ? plan.variants[run.variant].orders : plan.orders},
                   plan.town ? plan.town : shared_builtin_town());
    const std::int64_t cars = sim.vehicles.vehicleCount;
    RunResult result;
    result.samples.reserve(ticks.size());
    RunFigures& f = result.figures;
    std::size_t nextSample = 0;
    auto observer = std::make_unique<RunObserver>();

    for (long long tick = 0;; ++tick) {
        const VehicleTally t = current_tally(sim.vehicles);
        if (tick == 0)
            observer->start(sim, t);
        else
            observer->after_tick(sim, tick, t);
        if (listener != nullptr) listener->observe(sim, tick);
        if (!f.tickHalf && t.evacuated * 100LL >= cars * EVACUATED_HALF_PERCENT) f.tickHalf = tick;
        if (!f.tickMost && t.evacuated * 100LL >= cars * EVACUATED_MOST_PERCENT) f.tickMost = tick;
        if (tick == 0 || t.enRoute > f.maxEnRoute) {
            f.maxEnRoute = t.enRoute;
            f.maxEnRouteTick = tick;
        }
        if (nextSample < ticks.size() && ticks[nextSample] == tick) {
            result.samples.push_back(t);
            ++nextSample;
        }
        if (tick == plan.ticks) {
            f.final = t;
            f.observed = observer->observations(sim);
            break;
        }
        sim_tick(sim);
    }
    return result;
}

namespace {

// Two listeners of one run, in turn.
class BothListeners final : public RunListener {
  public:
    BothListeners(RunListener& first, RunListener& second) : first_(first), second_(second) {}
    void observe(const Simulation& sim, long long tick) override {
        first_.observe(sim, tick);
        second_.observe(sim, tick);
    }

  private:
    RunListener& first_;
    RunListener& second_;
};

}  // namespace

void run_sweep(const SweepPlan& plan, int threads, const DeliverFn& deliver,
               const ThreadListenerFn& listenerOfThread) {
    const std::vector<long long> ticks = sample_ticks(plan);
    const auto runCount = static_cast<long long>(plan.runs.size());
    std::map<std::size_t, FinishedRun> waiting;  // finished ahead of their turn
    std::size_t nextToDeliver = 0;

    const int teamSize = threads > 0 ? threads : omp_get_max_threads();
#pragma omp parallel num_threads(teamSize)
    {
        // One simulation per thread, reused from run to run (each run rebuilds it).
        auto sim = std::make_unique<Simulation>();
        const std::unique_ptr<RunListener> own = listenerOfThread ? listenerOfThread() : nullptr;
        // Dynamic, one run at a time: runs are then taken in order, and finish
        // close to it.
#pragma omp for schedule(dynamic, 1)
        for (long long i = 0; i < runCount; ++i) {
            const auto index = static_cast<std::size_t>(i);
            const SweepRun& run = plan.runs[index];
            FinishedRun done;
            done.index = index;
            try {
                if (plan.householdColumns.empty()) {
                    done.result = simulate_run(*sim, run, plan, ticks, own.get());
                } else {
                    HouseholdRecorder recorder;
                    if (own) {
                        BothListeners both(recorder, *own);
                        done.result = simulate_run(*sim, run, plan, ticks, &both);
                    } else {
                        done.result = simulate_run(*sim, run, plan, ticks, &recorder);
                    }
                    recorder.append_rows(done.householdRows, plan_run_key(plan, run),
                                         plan.householdColumns);
                }
            } catch (const SweepStopped&) {
                continue;  // no exception leaves the loop's iteration
            }
            append_curve_rows(done.curveRows, plan, run, ticks, done.result.samples);
            append_summary_row(done.summaryRow, plan, run, done.result.figures);
#pragma omp critical(marovel_sweep_deliver)
            {
                waiting.emplace(index, std::move(done));
                for (auto it = waiting.begin(); it != waiting.end() && it->first == nextToDeliver;
                     it = waiting.erase(it)) {
                    deliver(it->second);
                    ++nextToDeliver;
                }
            }
        }
    }
}
