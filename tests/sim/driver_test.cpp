#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "sim/fingerprint.h"
#include "support/town.h"

namespace {

std::string title(const Simulation& sim) { return status_line(sim).text; }
std::string print(const Simulation& sim, long long tick) { return fingerprint_line(sim, tick).text; }

TEST(StatusLine, ShowsTheScenarioNumberAndTheClock) {
    auto sim = new_simulation();
    init_app(*sim);
    EXPECT_EQ(title(*sim), "Marovel 1.0: Scenario=0 Time=0.0");
    for (int i = 0; i < 5; ++i) sim_tick(*sim);
    EXPECT_EQ(title(*sim), "Marovel 1.0: Scenario=0 Time=5.0");
    reset_scenario(*sim);
    EXPECT_EQ(title(*sim), "Marovel 1.0: Scenario=0 Time=0.0");
}

TEST(ScenarioSteps, NextAndPreviousMoveTheSeedByAThousand) {
    auto sim = new_simulation();
    init_app(*sim);
    previous_scenario(*sim);
    EXPECT_EQ(sim->scenarioSeed, -999);
    EXPECT_EQ(title(*sim), "Marovel 1.0: Scenario=0 Time=0.0");  // -999 / 1000 truncates to 0
    previous_scenario(*sim);
    EXPECT_EQ(sim->scenarioSeed, -1999);
    EXPECT_EQ(title(*sim), "Marovel 1.0: Scenario=-1 Time=0.0");
    next_scenario(*sim);
    next_scenario(*sim);
    next_scenario(*sim);
    EXPECT_EQ(sim->scenarioSeed, 1001);
    EXPECT_EQ(title(*sim), "Marovel 1.0: Scenario=1 Time=0.0");
}

TEST(ScenarioSteps, TheSeedWrapsAroundAtTheEndsOfThe32BitRange) {
    auto sim = new_simulation();
    sim->scenarioSeed = INT_MAX - 500;
    next_scenario(*sim);
    EXPECT_EQ(sim->scenarioSeed, INT_MIN + 499);
    previous_scenario(*sim);
    EXPECT_EQ(sim->scenarioSeed, INT_MAX - 500);
    EXPECT_EQ(sim->vehicles.vehicleCount, 720);
}

TEST(ScenarioSteps, StartUpAndResetShareTheTrackButNotTheCars) {
    auto started = new_simulation();
    init_app(*started);
    auto reset = reset_town(1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(started->storm.stormTrack[i].x, reset->storm.stormTrack[i].x);
        EXPECT_EQ(started->storm.stormTrack[i].size, reset->storm.stormTrack[i].size);
        EXPECT_EQ(started->storm.stormTrack[i].speed, reset->storm.stormTrack[i].speed);
    }
    int differ = 0;
    for (int i = 0; i < 720; ++i)
        differ += started->vehicles.vehicles[i].patience != reset->vehicles.vehicles[i].patience ||
                  started->vehicles.vehicles[i].fuel != reset->vehicles.vehicles[i].fuel;
    EXPECT_GT(differ, 600);
    // Reset right after start-up gives the reset town.
    reset_scenario(*started);
    EXPECT_EQ(print(*started, 0), print(*reset, 0));
}

TEST(ScenarioSteps, TwoResetsGiveIdenticalRunsTickForTick) {
    auto a = reset_town(1, ERROR_MODERATE);
    auto b = reset_town(1, ERROR_MODERATE);
    for (int i = 0; i < 50; ++i) sim_tick(*b);
    reset_scenario(*b);  // a reset in the middle of a run starts over exactly
    // (The threat flags of the earlier run stand until the first advance rewrites them.)
    for (int tick = 1; tick <= 600; ++tick) {
        sim_tick(*a);
        sim_tick(*b);
        ASSERT_EQ(print(*a, tick), print(*b, tick));
    }
}

TEST(ScenarioSteps, TheErrorLevelSurvivesResetsAndChangesTheRun) {
    auto sim = reset_town(1, ERROR_HIGH);
    next_scenario(*sim);
    previous_scenario(*sim);
    reset_scenario(*sim);
    EXPECT_EQ(sim->errorSpread, ERROR_HIGH);
    EXPECT_EQ(sim->scenarioSeed, 1);
    auto low = reset_town(1, ERROR_LOW);
    for (int i = 0; i < 3; ++i) {
        sim_tick(*sim);
        sim_tick(*low);
    }
    EXPECT_NE(tally_vehicles(sim->vehicles).notEvacuated, tally_vehicles(low->vehicles).notEvacuated);
}

TEST(Tick, RunsStormThenCarsThenDecisions) {
    // A household switched to evacuating in one tick first moves in the next.
    auto sim = reset_town(1, ERROR_HIGH);
    sim_tick(*sim);
    int leaving = -1;
    for (int i = 0; i < 720 && leaving < 0; ++i)
        if (sim->vehicles.vehicles[i].state == VS_EVACUATING) leaving = i;
    ASSERT_GE(leaving, 0);
    const Vehicle& v = sim->vehicles.vehicles[leaving];
    EXPECT_EQ(v.pos, v.home);
    const int patience = v.patience;
    sim_tick(*sim);
    EXPECT_EQ(v.patience, patience - 1);
    EXPECT_EQ(sim->storm.simTime, 2.0f);
}

TEST(Fingerprint, LineFormatAndWhatEachHashCovers) {
    auto sim = reset_town();
    const std::string line = print(*sim, 0);
    EXPECT_EQ(line.rfind("0 0.0 720 0 0 0 0 0 ", 0), 0u) << line;
    EXPECT_EQ(line.size(), std::strlen("0 0.0 720 0 0 0 0 0 ") + 4 * 17 + 8) << line;
    char r[9];
    std::snprintf(r, sizeof r, "%08x", sim->rng.state);
    EXPECT_EQ(line.substr(line.size() - 8), r);

    const Fingerprint base = fingerprint(*sim);
    auto other = reset_town();
    other->grid.cells[0][5].traffic = 4;  // the grid only
    Fingerprint f = fingerprint(*other);
    EXPECT_NE(f.grid, base.grid);
    EXPECT_EQ(f.vehicles, base.vehicles);
    EXPECT_EQ(f.storm, base.storm);

    other = reset_town();
    other->vehicles.vehicles[719].fuel -= 1;
    other->vehicles.vehicles[3].prevHeading = 8;  // left out on purpose
    f = fingerprint(*other);
    EXPECT_NE(f.vehicles, base.vehicles);
    EXPECT_EQ(f.grid, base.grid);

    other = reset_town();
    other->storm.threatFlags[719] = 1;
    EXPECT_NE(fingerprint(*other).storm, base.storm);
    other->storm.threatFlags[719] = 0;
    other->storm.threatFlags[720] = 1;  // beyond the cars in use: not covered
    EXPECT_EQ(fingerprint(*other).storm, base.storm);

    other = reset_town();
    other->decisions.signalIntercept = 2.0f;
    EXPECT_NE(fingerprint(*other).decisions, base.decisions);
}

TEST(Fingerprint, EveryNaNHashesAlike) {
    auto a = reset_town();
    auto b = reset_town();
    float quiet = std::numeric_limits<float>::quiet_NaN();
    std::uint32_t bits = 0xFFC00001u;  // a negative NaN with a payload
    float other;
    std::memcpy(&other, &bits, sizeof other);
    a->storm.storm.x = quiet;
    b->storm.storm.x = other;
    EXPECT_EQ(fingerprint(*a).storm, fingerprint(*b).storm);
    b->storm.storm.x = INFINITY;
    EXPECT_NE(fingerprint(*a).storm, fingerprint(*b).storm);
}

}  // namespace
