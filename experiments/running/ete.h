// An evacuation time estimate's runs: the plan's runs on all cores, each
// sampled at every tick, kept as replicates in run order (the same whatever
// the number of threads).
#pragma once

#include <vector>

#include "experiments/planning/run_plan.h"
#include "experiments/records/ete.h"

// Runs every run of `plan` (its sampling interval is set to one tick) on
// `threads` threads (0: all cores).
std::vector<EteReplicate> run_ete(SweepPlan plan, int threads);

// The names of the zones the runs of `plan` report (its town has zones or it
// orders), in order; none otherwise.
std::vector<std::string> ete_zone_names(const SweepPlan& plan);
