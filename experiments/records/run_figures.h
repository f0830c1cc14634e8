// What a run yields: the figures the summary keeps and the tally at each
// sample tick, and the interface through which a run's simulation is read
// while it runs. Plain data.
#pragma once

#include <optional>
#include <vector>

#include "experiments/records/observations.h"
#include "sim/driver.h"

constexpr int EVACUATED_HALF_PERCENT = 50;
constexpr int EVACUATED_MOST_PERCENT = 90;

// What the summary keeps of one run. The thresholds are checked after every
// tick, not only at the sampled ones.
struct RunFigures {
    VehicleTally final = {};            // the tally after the last tick
    std::optional<long long> tickHalf;  // first tick with >= 50 % of the cars evacuated
    std::optional<long long> tickMost;  // first tick with >= 90 % of the cars evacuated
    std::int32_t maxEnRoute = 0;        // the most cars on the road at one time
    long long maxEnRouteTick = 0;       // the first tick with that many
    RunObservations observed;           // settling, last arrival, trip times, never left
};

struct RunResult {
    RunFigures figures;
    std::vector<VehicleTally> samples;  // the tally at each sample tick
};

// Reads a run's simulation at tick 0 and after every tick, without changing it.
class RunListener {
  public:
    virtual ~RunListener() = default;
    virtual void observe(const Simulation& sim, long long tick) = 0;
};
