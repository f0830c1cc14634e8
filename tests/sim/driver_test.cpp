#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "sim/fingerprint.h"
#include "support/town.h"

namespace {

std::string print(const Simulation& sim, long long tick) {
    return fingerprint_line(sim, tick).text;
}

// (The title's scenario and clock through ticks, resets and steps are read
// off the window by WindowTest.TicksCommandsAndKeysRebuildTheTown...)
TEST(Driver, TheSeedWrapsAroundAtTheEnds) {
    auto sim = new_simulation();
    init_app(*sim);
    sim->scenarioSeed = INT_MAX - 500;
    next_scenario(*sim);
    EXPECT_EQ(sim->scenarioSeed, INT_MIN + 499);
}

TEST(Driver, StartUpAndResetShareTheTrackButNotTheCarsAndResetsRepeatRunsExactly) {
    auto started = new_simulation();
    init_app(*started);
    auto reset = reset_town(1, ERROR_HIGH);
    const auto& track = reset->storm.stormTrack;
    EXPECT_EQ(std::memcmp(started->storm.stormTrack, track, sizeof track), 0);
    int differ = 0;
    for (int i = 0; i < 720; ++i)
        differ += started->vehicles.vehicles[i].patience != reset->vehicles.vehicles[i].patience;
    EXPECT_GT(differ, 600);
    // A run, Next and Previous later, under the same error level: the reset town
    // again (a rebuilt object runs on as a new one: RebuildingAUsedObject...).
    started->parameters.errorSpread = ERROR_HIGH;
    for (int i = 0; i < 50; ++i) sim_tick(*started);
    next_scenario(*started);
    previous_scenario(*started);
    sim_tick(*started);
    sim_tick(*reset);
    EXPECT_EQ(print(*started, 1), print(*reset, 1));
}

TEST(Fingerprint, EachHashCoversItsOwnPartAndEveryNaNHashesAlike) {
    auto hashes = [](auto&& change) {
        auto s = reset_town();
        change(*s);
        const Fingerprint f = fingerprint(*s);
        return std::array<std::uint64_t, 4>{f.vehicles, f.grid, f.storm, f.decisions};
    };
    const auto base = hashes([](Simulation&) {});
    auto changed = [&](auto&& change) {
        const auto h = hashes(change);
        std::string parts;
        for (int k = 0; k < 4; ++k) parts += h[k] != base[k] ? "VGSD"[k] : '.';
        return parts;
    };
    EXPECT_EQ(changed([](Simulation& s) { cell_at(s.grid, {5, 0}).traffic = 4; }), ".G..");
    EXPECT_EQ(changed([](Simulation& s) { s.vehicles.vehicles[719].fuel -= 1; }), "V...");
    EXPECT_EQ(changed([](Simulation& s) { s.vehicles.vehicles[3].prevHeading = 8; }), "....");
    EXPECT_EQ(changed([](Simulation& s) { s.storm.threatFlags[719] = 1; }), "..S.");
    EXPECT_EQ(changed([](Simulation& s) { s.decisions.signalIntercept = 2.0f; }), "...D");
    const std::uint32_t nanBits = 0xFFC00001u;  // negative, with a payload
    float nan;
    std::memcpy(&nan, &nanBits, sizeof nan);
    const auto quiet = hashes([](Simulation& s) { s.storm.storm.x = NAN; });
    EXPECT_EQ(quiet, hashes([nan](Simulation& s) { s.storm.storm.x = nan; }));
    EXPECT_NE(quiet, hashes([](Simulation& s) { s.storm.storm.x = INFINITY; }));
}

// Pins whole runs: any change to what a scenario does shows up here and has to
// be explained. The line also fixes the format: tick, time, the six counts, four
// hashes and the generator's state.
TEST(Fingerprint, GoldenLinesOfSeed1AtTick2000UnderEachErrorLevel) {
    const std::pair<float, const char*> golden[] = {
        {ERROR_LOW,
         "2000 2000.0 0 600 1 119 0 0 00bbd7cab87e521e 9ac125b45204a6fc 2afdcae47e9ffb39 "
         "d217df24cff09814 3309ab28"},
        {ERROR_MODERATE,
         "2000 2000.0 0 528 153 0 39 0 8404b904322f62cc 44060ecece018ecd "
         "2afdcae47e9ffb39 0e2a523bb990bafd 3309ab28"},
        {ERROR_HIGH,
         "2000 2000.0 0 375 278 0 67 0 77223dad0717b14b 8d9be5504f177b50 "
         "2afdcae47e9ffb39 06b05a8aee2128cd 3309ab28"},
    };
    for (const auto& [level, line] : golden) {
        auto sim = reset_town(1, level);
        for (int t = 0; t < 2000; ++t) sim_tick(*sim);
        EXPECT_EQ(print(*sim, 2000), line);
    }
    EXPECT_EQ(print(*reset_town(), 0).substr(0, 20), "0 0.0 720 0 0 0 0 0 ");
}

// A sweep thread reuses one simulation object for run after run: a rebuild must
// leave nothing of the previous run behind, the threat flags of its storm least
// of all (a flag left set makes a household act as if threatened from tick 0).
TEST(Driver, RebuildingAUsedObjectGivesTheRunOfANewOne) {
    auto used = reset_town(1, ERROR_HIGH);
    int flagged = 0;
    for (int tick = 0; tick < 1500 && flagged == 0; ++tick) {
        sim_tick(*used);
        for (std::int32_t f : used->storm.threatFlags) flagged += f != 0;
    }
    ASSERT_GT(flagged, 0) << "the storm never marked a household";
    for (const bool startup : {false, true}) {
        const ScenarioSetup next{4001, error_level(ERROR_MODERATE), startup};
        build_scenario(*used, next);
        auto fresh = new_simulation();
        build_scenario(*fresh, next);
        EXPECT_EQ(used->storm.threatFlags, fresh->storm.threatFlags);
        for (int tick = 1; tick <= 800; ++tick) {
            sim_tick(*used);
            sim_tick(*fresh);
            ASSERT_EQ(print(*used, tick), print(*fresh, tick)) << startup;
        }
    }
}

TEST(Driver, SeveralExitsPriceByTheTownsKeptDistancesAsByMeasuringEveryExit) {
    // A town of 3 x 2 copies with 5 exits along the top: the grid reads the
    // town's table; a second simulation measures every exit on every price.
    const auto town = std::make_shared<const Town>(generate_repeated_town(3, 2, 5));
    const ScenarioSetup setup{2001, error_level(ERROR_MODERATE), false};
    auto kept = new_simulation();
    build_scenario(*kept, setup, town);
    ASSERT_NE(kept->grid.exitSquares, nullptr);
    auto measured = new_simulation();
    build_scenario(*measured, setup, town);
    measured->grid.exitSquares = nullptr;
    long long evacuated = 0;
    for (int tick = 1; tick <= 1500; ++tick) {
        sim_tick(*kept);
        sim_tick(*measured);
        ASSERT_EQ(print(*kept, tick), print(*measured, tick)) << tick;
        evacuated = current_tally(kept->vehicles).evacuated;
    }
    EXPECT_GT(evacuated, 100);
    // The road guide and a single exit keep their own prices.
    ModelParameters road = error_level(ERROR_MODERATE);
    road.routeGuide = ROUTE_GUIDE_ROAD;
    build_scenario(*kept, {2001, road, false}, town);
    EXPECT_EQ(kept->grid.exitSquares, nullptr);
    build_scenario(*kept, setup, shared_builtin_town());
    EXPECT_EQ(kept->grid.exitSquares, nullptr);
}

}  // namespace
