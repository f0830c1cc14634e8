// The state checks catch what a tick keeps instead of recounting going stale:
// each case breaks one kept value the way a caller that edits the tables
// directly (and forgets index_vehicles) would.
#include "sim/validate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/town.h"

namespace {

Vehicle& first_waiting(Simulation& sim) {
    int i = 0;
    while (sim.vehicles.vehicles[i].state != VS_WAITING) ++i;
    return sim.vehicles.vehicles[i];
}

TEST(Validate, KeptSetsTallyFlagsAndVarianceAreCheckedAgainstAFullCount) {
    const struct {
        const char* rule;
        void (*breakIt)(Simulation&);
    } cases[] = {
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
    };
    for (const auto& c : cases) {
        auto sim = reset_town(1, ERROR_MODERATE);
        for (int t = 0; t < 40; ++t) sim_tick(*sim);  // some cars under way, some waiting
        ASSERT_TRUE(validate_simulation(*sim).ok) << c.rule;
        c.breakIt(*sim);
        const ValidationResult r = validate_simulation(*sim);
        EXPECT_FALSE(r.ok) << c.rule;
        EXPECT_NE(std::string(r.message).find(c.rule), std::string::npos) << r.message;
    }
}

TEST(Validate, IndexingAfterADirectEditMakesTheTableWholeAgain) {
    auto sim = reset_town();
    for (int i = 0; i < 720; i += 2) sim->vehicles.vehicles[i].state = VS_EVACUATING;
    EXPECT_FALSE(validate_kept_state(*sim).ok);
    index_vehicles(sim->vehicles);
    EXPECT_TRUE(validate_kept_state(*sim).ok);
    const VehicleTally& t = current_tally(sim->vehicles);
    EXPECT_TRUE(t.notEvacuated == 360 && t.enRoute == 360);
    for (int tick = 0; tick < 300; ++tick) sim_tick(*sim);
    EXPECT_TRUE(validate_kept_state(*sim).ok);
}

// The cross-references themselves: a sound town, as built and as run, passes,
// and each kind of broken cross-reference is refused with its rule named. A
// weakened check would otherwise go unnoticed, since every other test only
// ever shows it sound states.
// The first cell of `layout`, scanning rows from the bottom.
CellPos first_cell(const Simulation& sim, std::uint8_t layout) {
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x)
            if (cell_at(sim.grid, {x, y}).layout == layout && !(CellPos{x, y} == ExitCell))
                return {x, y};
    return {-1, -1};
}

TEST(Validate, SoundTownsPassAndEachBrokenRuleIsNamed) {
    auto running = reset_town(7, ERROR_HIGH);
    for (int tick = 0; tick < 400; ++tick) {
        ASSERT_TRUE(validate_simulation(*running).ok) << tick;
        sim_tick(*running);
    }
    ASSERT_GT(
        tally_vehicles(running->vehicles).enRoute + tally_vehicles(running->vehicles).evacuated,
        0);  // cars on the roads and at the exit were checked, not only parked ones

    struct Case {
        const char* rule;
        void (*corrupt)(Simulation&);
    };
    const Case cases[] = {
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
         [](Simulation& s) {
             place_car(s, 0, VS_EVACUATING, {6, 8}, DIR_X_INC, {5, 8});
         }},
        {"car off the grid",
         [](Simulation& s) {
             s.vehicles.vehicles[3].pos = {GRID_W, 0};
         }},
    };
    // Under a road plan the grid must hold the plan's layout, no more, no less.
    {
        ScenarioSetup setup{7, error_level(ERROR_HIGH), false};
        RoadOperation close;
        close.from = close.to = {6, 8};
        setup.roads.operations = {close};
        auto sim = new_simulation();
        build_scenario(*sim, setup);
        ASSERT_TRUE(validate_simulation(*sim).ok);
        EXPECT_EQ(cell_at(sim->grid, {6, 8}).layout, LAYOUT_BLOCKED);
        cell_at(sim->grid, {6, 8}).layout = LAYOUT_ROAD_Y;  // as the town has it
        EXPECT_EQ(std::string(validate_simulation(*sim).message).rfind("layout changed", 0), 0u);
    }
    for (const Case& c : cases) {
        auto sim = reset_town(7, ERROR_HIGH);
        ASSERT_TRUE(validate_simulation(*sim).ok);
        c.corrupt(*sim);
        const ValidationResult r = validate_simulation(*sim);
        EXPECT_FALSE(r.ok) << c.rule;
        EXPECT_EQ(std::string(r.message).rfind(c.rule, 0), 0u) << r.message;
    }
}

}  // namespace
