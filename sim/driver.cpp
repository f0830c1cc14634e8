#include "sim/driver.h"

#include <cstdio>

#include "sim/validate.h"

void finish_build(Simulation& sim) {
    if (sim.parameters.routeGuide == ROUTE_GUIDE_ROAD)
        sim.grid.exitSteps = sim.town->exit_steps().data();
    else if (!sim.grid.singleExit)
        sim.grid.exitSquares = sim.town->exit_squares().data();
    size_threat_flags(sim.storm, sim.vehicles.vehicleCount);
    reset_decisions(sim.decisions, sim.vehicles, sim.parameters);
    prepare_roads(sim);
    prepare_orders(sim);
}

void init_app(Simulation& sim) {
    const Town& town = *sim.town;
    populate_town(town, sim.grid, sim.vehicles, sim.rng, sim.parameters);
    reset_storm(sim.storm, sim.rng, sim.scenarioSeed, sim.parameters, town.width, town.height);
    finish_build(sim);
}

void reset_scenario(Simulation& sim) {
    const Town& town = *sim.town;
    reset_storm(sim.storm, sim.rng, sim.scenarioSeed, sim.parameters, town.width, town.height);
    populate_town(town, sim.grid, sim.vehicles, sim.rng, sim.parameters);
    finish_build(sim);
}

std::int32_t step_seed(std::int32_t seed, std::int32_t delta) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(seed) +
                                     static_cast<std::uint32_t>(delta));
}

void next_scenario(Simulation& sim) {
    sim.scenarioSeed = step_seed(sim.scenarioSeed, SCENARIO_STEP);
    reset_scenario(sim);
}

void previous_scenario(Simulation& sim) {
    sim.scenarioSeed = step_seed(sim.scenarioSeed, -SCENARIO_STEP);
    reset_scenario(sim);
}

void sim_tick(Simulation& sim) {
    advance_storm(sim.storm, sim.vehicles);
    step_all_vehicles(sim.grid, sim.vehicles);
    update_decisions(sim.decisions, sim.vehicles, sim.storm,
                     static_cast<float>(sim.parameters.errorSpread), sim.rng);
    if (sim.orderState.active) advance_orders(sim);
    if (sim.roadState.active) advance_roads(sim);
    MAROVEL_VALIDATE(sim);
}

StatusText status_line(const Simulation& sim) {
    StatusText s{};
    std::snprintf(s.text, sizeof s.text, "Marovel 1.0: Scenario=%d Time=%.1f",
                  static_cast<int>(scenario_number(sim.scenarioSeed)),
                  static_cast<double>(sim.storm.simTime));
    return s;
}
