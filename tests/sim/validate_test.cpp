// The state checks refuse every broken rule, each by its name: a weakened check
// would otherwise go unnoticed, since every other test only ever shows it sound
// states (sound runs pass tick by tick in the traffic and decision tests).
#include "sim/validate.h"

#include <gtest/gtest.h>

#include <string>

#include "support/town.h"

namespace {

Vehicle& first_waiting(Simulation& sim) {
    int i = 0;
    while (sim.vehicles.vehicles[i].state != VS_WAITING) ++i;
    return sim.vehicles.vehicles[i];
}

// The first cell of `layout` but the exit, scanning rows from the bottom.
CellPos first_cell(const Simulation& sim, std::uint8_t layout) {
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x)
            if (cell_at(sim.grid, {x, y}).layout == layout && !(CellPos{x, y} == ExitCell))
                return {x, y};
    return {-1, -1};
}

TEST(Validate, EachBrokenRuleIsRefusedByName) {
    struct Case {
        const char* rule;
        void (*breakIt)(Simulation&);
    };
    const Case cases[] = {
        // A kept value gone stale, as a caller that edits the tables directly
        // (and forgets index_vehicles) leaves it.
        {"under-way set", [](Simulation& s) { first_waiting(s).state = VS_EVACUATING; }},
        {"waiting set", [](Simulation& s) { first_waiting(s).state = VS_GAVE_UP; }},  // at home
        {"kept tally", [](Simulation& s) { ++s.vehicles.tally.towed; }},
        {"threat flags marked clear",
         [](Simulation& s) {
             s.storm.threatFlagsClear = true;
             s.storm.threatFlags[3] = 1;
         }},
        {"kept arrival variance",
         [](Simulation& s) { s.decisions.households.arrivalEstimate[0] = 180.0f; }},
        // The cross-references between the grid and the cars.
        {"house count",
         [](Simulation& s) { ++cell_at(s.grid, first_cell(s, LAYOUT_HOUSE)).traffic; }},
        {"house count",
         [](Simulation& s) { --cell_at(s.grid, first_cell(s, LAYOUT_HOUSE)).traffic; }},
        // A lane bit with no car in the lane, on a road no car has reached yet.
        {"lanes",
         [](Simulation& s) { cell_at(s.grid, first_cell(s, LAYOUT_ROAD_ANY)).traffic |= 1; }},
        // The exit may show fewer lanes than its cars, never a lane no car holds.
        {"exit lanes", [](Simulation& s) { cell_at(s.grid, ExitCell).traffic |= 0x0F; }},
        {"layout changed",
         [](Simulation& s) {
             cell_at(s.grid, first_cell(s, LAYOUT_ROAD_X)).layout = LAYOUT_ROAD_ANY;
         }},
        {"exit quota", [](Simulation& s) { s.grid.quotas.push_back({ExitCell, 1, 2}); }},
        // A car in a lane its (unchanged) cell does not let in.
        {"car against its lane",
         [](Simulation& s) { place_car(s, 0, VS_EVACUATING, {6, 8}, DIR_X_INC, {5, 8}); }},
        {"car off the grid", [](Simulation& s) { s.vehicles.vehicles[3].pos = {GRID_W, 0}; }},
    };
    for (const Case& c : cases) {
        auto sim = reset_town(7, ERROR_MODERATE);
        sim_tick(*sim);  // some cars decided to leave, none on the roads yet
        ASSERT_TRUE(validate_simulation(*sim).ok) << c.rule;
        c.breakIt(*sim);
        const ValidationResult r = validate_simulation(*sim);
        EXPECT_FALSE(r.ok) << c.rule;
        EXPECT_EQ(std::string(r.message).rfind(c.rule, 0), 0u) << r.message;
    }
    // Under a road plan the grid must hold the plan's layout, no more, no less.
    ScenarioSetup setup{7, error_level(ERROR_HIGH), false};
    setup.roads.operations = {RoadOperation{RoadAction::Close, {6, 8}, {6, 8}}};
    auto sim = new_simulation();
    build_scenario(*sim, setup);
    ASSERT_TRUE(validate_simulation(*sim).ok);
    EXPECT_EQ(cell_at(sim->grid, {6, 8}).layout, LAYOUT_BLOCKED);
    cell_at(sim->grid, {6, 8}).layout = LAYOUT_ROAD_Y;  // as the town has it
    EXPECT_EQ(std::string(validate_simulation(*sim).message).rfind("layout changed", 0), 0u);
}

}  // namespace
