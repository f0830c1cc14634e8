// `--shard auto`: the shard of a batch job array, from the variables the
// scheduler sets for each of its tasks (Slurm: SLURM_ARRAY_TASK_ID, _COUNT,
// _MIN, and _MAX and _STEP when it sets them).
#pragma once

#include <functional>
#include <string>

using EnvironmentLookup = std::function<const char*(const char*)>;

// Sets `index` (1-based) and `count` from the task's variables. Error text,
// naming the variable and what is wrong, when one is missing or they disagree.
std::string shard_from_environment(const EnvironmentLookup& lookup, long long& index,
                                   long long& count);
