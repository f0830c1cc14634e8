// Building a scenario the way the program does, for every caller that runs
// scenarios without the window: the headless runner, sweeps, tests, benchmarks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/driver.h"

struct ScenarioSetup {
    std::int32_t seed = 1;       // the scenario seed; scenario K of the window is 1 + 1000 K
    ModelParameters parameters;  // checked by check_parameters before a run
    bool startup = false;  // the town the window shows at launch instead of the one Reset builds
    RoadPlan roads = {};   // exit capacities and road operations; checked by check_road_plan
    std::vector<EvacuationOrder> orders = {};  // by zone; checked by check_orders
};

// The default parameters under another error spread.
inline ModelParameters error_level(float errorSpread) {
    ModelParameters p;
    p.errorSpread = errorSpread;
    return p;
}

// The seed the window reaches from launch by `steps` presses of Next (negative:
// Previous), wrapping around like the window does.
std::int32_t seed_of_step(std::int64_t steps);

// Rebuilds `sim` as a new simulation object of that scenario: the start-up
// sequence from an unseeded generator, or the reset sequence, with every threat
// flag cleared as in a new object.
void build_scenario(Simulation& sim, const ScenarioSetup& setup);
// The same on another town, which the simulation keeps from then on.
void build_scenario(Simulation& sim, const ScenarioSetup& setup, std::shared_ptr<const Town> town);

// "low", "moderate", "high" and back.
std::optional<float> error_level_named(std::string_view name);
// "custom" for any other spread.
const char* error_level_name(double errorSpread);
