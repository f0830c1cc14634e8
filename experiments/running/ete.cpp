#include "experiments/running/ete.h"

#include "experiments/running/sweep.h"

std::vector<EteReplicate> run_ete(SweepPlan plan, int threads) {
    plan.every = 1;
    plan.householdColumns.clear();
    const Town& town = plan.town ? *plan.town : *shared_builtin_town();
    std::vector<EteReplicate> replicates;
    replicates.reserve(plan.runs.size());
    run_sweep(plan, threads, [&](FinishedRun& run) {
        const ModelParameters p = run_parameters(plan, plan.runs[run.index]);
        replicates.push_back(ete_replicate(run.result, town_households(town, p.carsPerHouse)));
    });
    return replicates;
}
