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

// A town from its text (fails the test, and gives an empty town, when it does not parse).
inline Town parsed_town(const std::string& text, const std::string& name = "the town") {
    Town t;
    TownTextError e;
    if (!parse_town(text, t, e))
        ADD_FAILURE() << name << ": line " << e.line << ", column " << e.column << ": "
                      << e.message;
    return t;
}

// One tick, then the whole state checked.
inline ::testing::AssertionResult checked_tick(Simulation& sim) {
    sim_tick(sim);
    const ValidationResult r = validate_simulation(sim);
    if (r.ok) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "tick " << sim.storm.simTime << ": " << r.message;
}

// A town of the catalogue in tests/sim/towns, parsed (fails the test when it does not parse).
inline std::shared_ptr<const Town> catalogue_town(const std::string& name) {
    Town t;
    TownTextError e;
    const std::string text = read_text_file(std::string(MAROVEL_TOWNS_DIR) + "/" + name + ".town");
    if (!parse_town(text, t, e)) {
        ADD_FAILURE() << name << ": line " << e.line << ", column " << e.column << ": "
                      << e.message;
        return nullptr;
    }
    return std::make_shared<const Town>(std::move(t));
}

// A scenario on the town under the parameters, built as Reset builds it.
inline std::unique_ptr<Simulation> town_run(std::shared_ptr<const Town> town,
                                            const ModelParameters& p, std::int32_t seed = 1) {
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, {seed, p, false}, std::move(town));
    return sim;
}

// Every household leaves on the first ticks: the signal counts for nothing.
inline ModelParameters everyone_leaves(double routeGuide = ROUTE_GUIDE_STRAIGHT) {
    ModelParameters p;
    p.errorSpread = ERROR_HIGH;
    p.routeGuide = routeGuide;
    return p;
}
