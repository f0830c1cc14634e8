#include "experiments/running/ete.h"

#include "experiments/records/observations.h"
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

std::vector<std::string> ete_zone_names(const SweepPlan& plan) {
    const Town& town = plan.town ? *plan.town : *shared_builtin_town();
    std::vector<std::string> names;
    if (reports_zones(town, plan.orders))
        for (std::size_t z = 0; z < zone_count(town); ++z) names.push_back(zone_name(town, z));
    return names;
}
