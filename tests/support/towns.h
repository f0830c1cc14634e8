// Towns for the simulation tests: the catalogue's files, and runs on them.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "sim/scenario.h"
#include "sim/town_text.h"
#include "sim/validate.h"

inline std::string read_text_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Parses a town's text into `t`; fails the test, naming where, when it does not parse.
inline bool parse_or_fail(const std::string& text, Town& t, const std::string& name) {
    TownTextError e;
    if (parse_town(text, t, e)) return true;
    ADD_FAILURE() << name << ": line " << e.line << ", column " << e.column << ": " << e.message;
    return false;
}

// A town from its text (an empty town when it does not parse).
inline Town parsed_town(const std::string& text, const std::string& name = "the town") {
    Town t;
    parse_or_fail(text, t, name);
    return t;
}

// One tick, then the whole state checked.
inline ::testing::AssertionResult checked_tick(Simulation& sim) {
    sim_tick(sim);
    const ValidationResult r = validate_simulation(sim);
    if (r.ok) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "tick " << sim.storm.simTime << ": " << r.message;
}

// A town of the catalogue in tests/sim/towns, parsed (null when it does not parse).
inline std::shared_ptr<const Town> catalogue_town(const std::string& name) {
    auto t = std::make_shared<Town>();
    const std::string file = std::string(MAROVEL_TOWNS_DIR) + "/" + name + ".town";
    return parse_or_fail(read_text_file(file), *t, name) ? t : nullptr;
}

// A scenario on the town under the parameters (and a road plan), built as Reset builds it.
inline std::unique_ptr<Simulation> town_run(std::shared_ptr<const Town> town,
                                            const ModelParameters& p, std::int32_t seed = 1,
                                            RoadPlan roads = {}) {
    auto sim = std::make_unique<Simulation>();
    ScenarioSetup setup{seed, p, false};
    setup.roads = std::move(roads);
    build_scenario(*sim, setup, std::move(town));
    return sim;
}

// Every household leaves on the first ticks: the signal counts for nothing.
inline ModelParameters everyone_leaves(double routeGuide = ROUTE_GUIDE_STRAIGHT) {
    ModelParameters p;
    p.errorSpread = ERROR_HIGH;
    p.routeGuide = routeGuide;
    return p;
}
