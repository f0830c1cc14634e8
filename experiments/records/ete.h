// An evacuation time estimate: what each replicate run shows of the cars that
// leave home, and the estimates over the replicates, as a table, a CSV and the
// band of the cumulative arrivals. A run that never brings a share of its
// leaving cars to an exit is censored at its last tick, not dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "experiments/records/run_figures.h"
#include "experiments/records/survival.h"
#include "sim/town.h"

// The shares of the leaving cars whose arrival times are estimated, in percent.
constexpr int ETE_SHARES[] = {50, 90, 100};

// One replicate run. The cars that leave are those that ever left home (the
// cars not waiting at home after the last tick), whatever became of them.
// What one zone's cars did in a replicate run.
struct EteZone {
    std::int32_t left = 0;                          // cars that left home
    std::optional<long long> out50, out90, out100;  // first ticks with that share of them out
    std::int32_t stranded = 0;  // cars that gave up or stand out of gas at the end
};

struct EteReplicate {
    std::vector<std::int32_t> arrived;  // cars at an exit after each tick, from tick 0
    std::int32_t left = 0;              // cars that left home
    std::int32_t onRoad = 0;            // cars still on the road after the last tick
    std::int32_t households = 0;        // houses with at least one car
    std::int32_t householdsLeft = 0;    // of which at least one car left
    std::vector<EteZone> zones;         // by zone, when the run reports zones
};

// The replicate of a run sampled at every tick from 0; `households` as
// town_households counts them.
EteReplicate ete_replicate(const RunResult& run, std::int32_t households);

// The houses with at least one car under `carsPerHouse`.
std::int32_t town_households(const Town& town, double carsPerHouse);

// The first tick by which `percent` % of the leaving cars are at an exit; none
// when the run never gets there, or when no car left.
std::optional<long long> ete_share_tick(const EteReplicate& r, int percent);

// One figure under one estimator, over the replicates.
struct EteRow {
    std::string figure;     // tick_50, tick_90, tick_100, households_left, on_road; per zone
                            // zone_NAME_tick_50, _tick_90, _tick_100 and zone_NAME_stranded
    std::string estimator;  // km_median, restricted_mean, mean
    Estimate estimate;
    std::size_t reached = 0;   // runs that have the figure (all, for the shares)
    std::size_t censored = 0;  // runs that ended before reaching it
    bool isTime = false;       // in ticks; else a share from 0 to 1
};

// Per share, the Kaplan-Meier median and the restricted mean up to `ticks` (a
// run that never reaches the share is censored at `ticks`); then the mean
// share of households that left and of leaving cars still on the road. With
// `zoneNames` (the replicates' zones, in order), the same shares' times for
// each zone's leaving cars, and the mean share of them stranded.
std::vector<EteRow> ete_estimates(const std::vector<EteReplicate>& replicates, long long ticks,
                                  const std::vector<std::string>& zoneNames = {});

// The table for the standard output; times also as hours:minutes when
// `minutesPerTick` is given.
std::string ete_table(const std::string& title, const std::vector<EteRow>& rows,
                      std::optional<double> minutesPerTick);

// figure,estimator,value,low,high,reached,censored: one row per figure and
// estimator; a value or bound the data cannot give is empty.
std::string ete_csv(const std::vector<EteRow>& rows);

// The share of leaving cars at an exit after every tick: the mean over the
// replicates with at least one leaving car, and the 2.5th and 97.5th
// percentiles among them.
struct EteBand {
    std::vector<double> mean, low, high;
    std::size_t runs = 0;
};
EteBand ete_band(const std::vector<EteReplicate>& replicates);
