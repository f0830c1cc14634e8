// A whole scenario in one plain object, and the fixed orders in which it is
// built, rebuilt and advanced. The window program holds one; tests and batch
// runs hold as many as they like, side by side.
#pragma once

#include <cstdint>
#include <memory>

#include "hazard/decisions.h"
#include "hazard/storm.h"
#include "sim/grid.h"
#include "sim/parameters.h"
#include "sim/orders.h"
#include "sim/random.h"
#include "sim/roads.h"
#include "sim/town.h"
#include "sim/vehicles.h"

constexpr std::int32_t SCENARIO_STEP = 1000;  // seed distance between neighbouring scenarios

struct Simulation {
    // The town it runs on, shared and read-only; every rebuild sizes the grid
    // and the tables from it. Change it only right before a rebuild.
    std::shared_ptr<const Town> town = shared_builtin_town();
    RoadGrid grid = {};
    VehicleTable vehicles;
    StormState storm;
    DecisionModel decisions;
    RandomState rng;
    std::int32_t scenarioSeed = 1;  // scenario number = seed / 1000, truncated
    // The model's numbers, the households' error spread among them. They
    // survive resets and scenario steps; every rebuild builds the town under
    // them, and ticks read them. Change them only right before a rebuild.
    ModelParameters parameters;
    // The road plan (exit capacities, closures, contraflow) and what the run
    // keeps of it; set like the parameters, right before a rebuild. Empty by default.
    RoadPlan roads;
    RoadState roadState;
    // Evacuation orders by zone and what the run keeps of them; set like the
    // road plan. None by default.
    std::vector<EvacuationOrder> orders;
    OrderState orderState;
};

// The start-up sequence: the cars draw their patience and fuel from the
// generator's unseeded state 1, and only then is the storm seeded and drawn.
// Both sequences size every table from the town, and allocate only when the
// town's size or car count differs from the last build.
// This town therefore differs from the one Reset builds with the same seed.
void init_app(Simulation& sim);

// The parts of a build that follow the cars (both sequences above end with
// it): the grid reads the town's kept route tables (steps along lanes under
// the road guide, straight-line distances to the nearest of several exits
// otherwise), the storm one threat flag per car, and the decision table; then
// the road plan's quotas and its operations of tick 0; then, with orders, the
// households' compliance draws and the orders of tick 0.
void finish_build(Simulation& sim);

// Rebuilds the current scenario: the storm is seeded and drawn first, then the
// cars, then the decision model. Same seed and error level, same run.
void reset_scenario(Simulation& sim);

// The seed `delta` away, wrapping around at the ends of the 32-bit range.
std::int32_t step_seed(std::int32_t seed, std::int32_t delta);

// Seed +1000 or -1000 (step_seed), then reset.
void next_scenario(Simulation& sim);
void previous_scenario(Simulation& sim);

// One tick: the storm and clock, then every car, then the households'
// decisions, then the orders due, then the road plan's operations of the new tick.
void sim_tick(Simulation& sim);

// The window title: "Marovel 1.0: Scenario=%d Time=%.1f".
struct StatusText {
    char text[256];
};
StatusText status_line(const Simulation& sim);

// The scenario number the user sees for a seed.
inline std::int32_t scenario_number(std::int32_t seed) {
    return seed / SCENARIO_STEP;
}
