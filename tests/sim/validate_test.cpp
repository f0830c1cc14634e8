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

}  // namespace
