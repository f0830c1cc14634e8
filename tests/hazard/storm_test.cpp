#include "hazard/storm.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>

#include "support/town.h"

namespace {

TEST(StormTrack, PassesItsThreePointsWithQuadraticWeightsInsideAndBeyond) {
    const StormPoint track[3] = {
        {3.5f, 0, 12.25f, 0.004f}, {27.0f, 14, 10.5f, 0.0071f}, {8.25f, 29, 14.0f, 0.002f}};
    for (int i = 0; i < 3; ++i) {
        const StormPoint p = eval_track(track, 0.5f * static_cast<float>(i));
        EXPECT_TRUE(p.x == track[i].x && p.y == track[i].y && p.size == track[i].size &&
                    p.speed == track[i].speed)
            << i;
    }
    // A track whose x, y and size pick out the three weights w0, w1, w2.
    const StormPoint unit[3] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    const StormPoint quarter = eval_track(unit, 0.25f), two = eval_track(unit, 2.0f);
    EXPECT_TRUE(quarter.x == 0.375f && quarter.y == 0.75f && quarter.size == -0.125f);
    EXPECT_TRUE(two.x == 3.0f && two.y == -8.0f && two.size == 6.0f);
}

TEST(StormAdvance, ResetParksTheStormFor500TicksAndItTakesTheTrackOnThe501st) {
    auto sim = new_simulation();
    populate_town(sim->grid, sim->vehicles, sim->rng);
    reset_storm(sim->storm, sim->rng, 4001);
    EXPECT_EQ(state_before(sim->rng, 9).state, 4001u);  // seeded, then nine draws
    StormState& s = sim->storm;
    EXPECT_TRUE(s.simTime == 0.0f && s.stormPhase == -1.0f && s.stormSpin == 0.0f);
    EXPECT_TRUE(s.stormTrack[0].y == 0 && s.stormTrack[1].y == 14 && s.stormTrack[2].y == 29);
    for (int i = 0; i < 500; ++i) advance_storm(s, sim->vehicles);
    EXPECT_EQ(s.simTime, 500.0f);
    EXPECT_NEAR(s.stormPhase, -5.8e-6, 1e-6);
    EXPECT_EQ(std::memcmp(&s.storm, &PARKED_STORM, sizeof PARKED_STORM), 0);
    EXPECT_NEAR(s.stormSpin, 720.0f, 0.01f);  // two turns per unit of phase
    advance_storm(s, sim->vehicles);
    const StormPoint on = eval_track(s.stormTrack, s.stormPhase);
    EXPECT_EQ(std::memcmp(&s.storm, &on, sizeof on), 0);
    const float phase = s.stormPhase;
    advance_storm(s, sim->vehicles);
    EXPECT_EQ(s.stormPhase, phase + on.speed);  // from now on the track's own speed
}

// A zone that sits still: all three track points equal and no speed.
void pin_zone(StormState& s, float x, float y, float size) {
    for (StormPoint& p : s.stormTrack) p = {x, y, size, 0.0f};
    s.storm = {x, y, size, 0.0f};
    s.stormPhase = -1.0f;
}

TEST(ThreatZone, FlagsExactlyTheWaitingHouseholdsWithinTheRadiusEdgeIncluded) {
    auto sim = reset_town();
    const auto& flags = sim->storm.threatFlags;
    // House (1, 1) lies exactly 5 from the centre cell (4, 5), (2, 1) sqrt(20), (8, 1) sqrt(32).
    pin_zone(sim->storm, 4.5f, 5.9f, 10.0f);
    advance_storm(sim->storm, sim->vehicles);
    EXPECT_EQ(
        flags[0] + 2 * flags[car_of_house(*sim, {2, 1})] + 4 * flags[car_of_house(*sim, {8, 1})],
        1 + 2);
    // Zones near and far, small and huge, radii on and off whole distances,
    // negative sizes, each against the distances measured here; a flag raised
    // by one zone must fall under the next that does not reach its house.
    std::mt19937 pick(99);
    std::uniform_real_distribution<float> place(-2500.0f, 2500.0f), near(-20.0f, 60.0f);
    for (int i = 0; i < 720; i += 3) sim->vehicles.vehicles[i].state = VS_EVACUATING;
    index_vehicles(sim->vehicles);
    for (int trial = 0; trial < 400; ++trial) {
        const float x = trial % 2 ? near(pick) : place(pick),
                    y = trial % 2 ? near(pick) : place(pick);
        float size = static_cast<float>(pick() % 8000) / 100.0f;
        if (trial % 5 == 0) size = 2.0f * std::sqrt(static_cast<float>(pick() % 3000));
        if (trial % 7 == 0) size = -size;
        if (trial % 11 == 0) size = 2.0f * std::hypot(x, y) + static_cast<float>(pick() % 50);
        pin_zone(sim->storm, x, y, size);
        advance_storm(sim->storm, sim->vehicles);
        const CellPos c{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
        for (int i = 0; i < 720; ++i) {
            const Vehicle& v = sim->vehicles.vehicles[i];
            const bool inside =
                v.state == VS_WAITING && cell_distance(v.home, c) <= double(size * 0.5f);
            ASSERT_EQ(flags[i], inside ? 1 : 0)
                << x << "," << y << " size " << size << " car " << i;
        }
    }
    // Once nobody waits, a zone over the whole town leaves every flag down,
    // tick after tick, and a reset brings the flag pass back.
    pin_zone(sim->storm, 20.0f, 15.0f, 100.0f);
    advance_storm(sim->storm, sim->vehicles);
    ASSERT_EQ(flags[2], 1);
    for (int i = 0; i < 720; ++i) sim->vehicles.vehicles[i].state = VS_GAVE_UP;
    index_vehicles(sim->vehicles);
    for (int tick = 0; tick < 3; ++tick) {
        advance_storm(sim->storm, sim->vehicles);
        for (int i = 0; i < 720; ++i) ASSERT_EQ(flags[i], 0) << "tick " << tick << " car " << i;
    }
    populate_town(sim->grid, sim->vehicles, sim->rng);
    reset_storm(sim->storm, sim->rng, 1);
    pin_zone(sim->storm, 20.0f, 15.0f, 100.0f);
    advance_storm(sim->storm, sim->vehicles);
    EXPECT_EQ(flags[1], 1);
}

TEST(ThreatZone, CentresTruncateTowardZeroAndOffTheRangeLieOnNoCell) {
    CellPos c{};
    ASSERT_TRUE(zone_centre_cell({-0.7f, 12.99f, 1, 0}, c));
    EXPECT_EQ(c, (CellPos{0, 12}));
    ASSERT_TRUE(zone_centre_cell({-2147483648.0f, 2147483520.0f, 1, 0}, c));
    EXPECT_EQ(c, (CellPos{INT_MIN, 2147483520}));
    for (StormPoint off : {StormPoint{2147483648.0f, 0, 1, 0}, StormPoint{0, -2147483904.0f, 1, 0},
                           StormPoint{INFINITY, 0, 1, 0}, StormPoint{0, NAN, 1, 0}})
        EXPECT_FALSE(zone_centre_cell(off, c)) << off.x << "," << off.y;
}

TEST(ThreatZone, ARunawayTrackFlagsNobodyOnceItsCentreLeavesThe32BitRange) {
    // Scenario 1 (seed 1001): the extrapolated track runs away after tick 1100.
    auto sim = reset_town(1001);
    StormState& s = sim->storm;
    int flaggedBefore = 0, runawayTicks = 0;
    for (int tick = 1; tick <= 1400; ++tick) {
        advance_storm(s, sim->vehicles);  // every car stays at home, waiting
        int flagged = 0;
        for (int i = 0; i < 720; ++i) flagged += s.threatFlags[i];
        CellPos centre{};
        const StormPoint zone = eval_track(s.stormTrack, s.stormPhase + s.lookAheadOffset);
        if (zone_centre_cell(zone, centre)) {
            flaggedBefore += flagged;
            continue;
        }
        EXPECT_EQ(flagged, 0) << "tick " << tick;
        // Truncated the undefined way (to INT_MIN) this zone would have reached every house.
        if (++runawayTicks == 1) {
            EXPECT_GT(zone.size * 0.5, cell_distance({INT_MIN, 0}, {39, 29}));
        }
    }
    EXPECT_GT(flaggedBefore, 0);
    EXPECT_GT(runawayTicks, 100);
}

}  // namespace
