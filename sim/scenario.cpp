#include "sim/scenario.h"

std::int32_t seed_of_step(std::int64_t steps) {
    const std::uint64_t seed =
        1u + static_cast<std::uint64_t>(steps) * static_cast<std::uint64_t>(SCENARIO_STEP);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(seed));
}

void build_scenario(Simulation& sim, const ScenarioSetup& setup) {
    sim.scenarioSeed = setup.seed;
    sim.parameters = setup.parameters;
    sim.roads = setup.roads;
    sim.orders = setup.orders;
    for (std::int32_t& flag : sim.storm.threatFlags) flag = 0;
    if (setup.startup) {
        sim.rng = RandomState{};
        init_app(sim);
    } else {
        reset_scenario(sim);
    }
}

void build_scenario(Simulation& sim, const ScenarioSetup& setup, std::shared_ptr<const Town> town) {
    sim.town = std::move(town);
    build_scenario(sim, setup);
}

std::optional<float> error_level_named(std::string_view name) {
    if (name == "low") return ERROR_LOW;
    if (name == "moderate") return ERROR_MODERATE;
    if (name == "high") return ERROR_HIGH;
    return std::nullopt;
}

const char* error_level_name(double errorSpread) {
    if (errorSpread == ERROR_LOW) return "low";
    if (errorSpread == ERROR_MODERATE) return "moderate";
    if (errorSpread == ERROR_HIGH) return "high";
    return "custom";
}
