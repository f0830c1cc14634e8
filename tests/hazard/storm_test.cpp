#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

#include "hazard/storm.h"
#include "support/town.h"

namespace {

// A track whose components pick out the three weights: x follows w0, y follows
// w1 and size follows w2.
StormPoint weights_at(float t) {
    const StormPoint track[3] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    return eval_track(track, t);
}

TEST(StormTrack, PassesThroughItsThreePoints) {
    const StormPoint track[3] = {{3.5f, 0, 12.25f, 0.004f}, {27.0f, 14, 10.5f, 0.0071f}, {8.25f, 29, 14.0f, 0.002f}};
    for (int i = 0; i < 3; ++i) {
        const StormPoint p = eval_track(track, 0.5f * static_cast<float>(i));
        EXPECT_FLOAT_EQ(p.x, track[i].x) << i;
        EXPECT_FLOAT_EQ(p.y, track[i].y) << i;
        EXPECT_FLOAT_EQ(p.size, track[i].size) << i;
        EXPECT_FLOAT_EQ(p.speed, track[i].speed) << i;
    }
}

TEST(StormTrack, QuadraticWeightsInsideAndBeyondTheTrack) {
    const StormPoint quarter = weights_at(0.25f);
    EXPECT_EQ(quarter.x, 0.375f);
    EXPECT_EQ(quarter.y, 0.75f);
    EXPECT_EQ(quarter.size, -0.125f);
    const StormPoint two = weights_at(2.0f);
    EXPECT_EQ(two.x, 3.0f);
    EXPECT_EQ(two.y, -8.0f);
    EXPECT_EQ(two.size, 6.0f);
    // Row coordinates 0, 14, 29 give y = 27t + 2t^2.
    const StormPoint rows[3] = {{0, 0, 0, 0}, {0, 14, 0, 0}, {0, 29, 0, 0}};
    EXPECT_FLOAT_EQ(eval_track(rows, 0.3f).y, 27 * 0.3f + 2 * 0.09f);
}

TEST(StormReset, SeedsTheGeneratorAndDrawsNineTrackValues) {
    auto a = new_simulation();
    a->rng.state = 777;  // whatever came before does not matter
    reset_storm(a->storm, a->rng, 4001);
    RandomState expected;
    seed_random(expected, 4001);
    for (int i = 0; i < 9; ++i) next_random(expected);
    EXPECT_EQ(a->rng.state, expected.state);

    const StormState& s = a->storm;
    EXPECT_EQ(s.simTime, 0.0f);
    EXPECT_EQ(s.stormPhase, -1.0f);
    EXPECT_EQ(s.stormSpin, 0.0f);
    EXPECT_EQ(s.storm.x, -100.0f);
    EXPECT_EQ(s.storm.size, 15.0f);
    EXPECT_EQ(s.stormTrack[0].y, 0.0f);
    EXPECT_EQ(s.stormTrack[1].y, 14.0f);
    EXPECT_EQ(s.stormTrack[2].y, 29.0f);
    for (const StormPoint& p : s.stormTrack) {
        EXPECT_GE(p.x, 0.0f);
        EXPECT_LE(p.x, 40.0f);
        EXPECT_GE(p.size, 10.0f);
        EXPECT_LE(p.size, 15.0f);
        EXPECT_GE(p.speed, 0.002f);
        EXPECT_LE(p.speed, 0.008f);
    }
    // The same seed gives the same track, whatever the generator held before.
    auto b = new_simulation();
    reset_storm(b->storm, b->rng, 4001);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b->storm.stormTrack[i].x, s.stormTrack[i].x);
        EXPECT_EQ(b->storm.stormTrack[i].size, s.stormTrack[i].size);
        EXPECT_EQ(b->storm.stormTrack[i].speed, s.stormTrack[i].speed);
    }
}

TEST(StormAdvance, StaysParkedFor500TicksAndTakesTheTrackOnThe501st) {
    auto sim = reset_town();
    StormState& s = sim->storm;
    for (int i = 0; i < 500; ++i) advance_storm(s, sim->vehicles);
    EXPECT_EQ(s.simTime, 500.0f);
    EXPECT_LT(s.stormPhase, 0.0f);
    EXPECT_NEAR(s.stormPhase, -5.8e-6, 1e-6);
    EXPECT_EQ(s.storm.x, PARKED_STORM.x);
    EXPECT_EQ(s.storm.y, PARKED_STORM.y);
    EXPECT_EQ(s.storm.size, PARKED_STORM.size);
    EXPECT_NEAR(s.stormSpin, 720.0f, 0.01f);  // two turns per unit of phase
    advance_storm(s, sim->vehicles);
    EXPECT_GT(s.stormPhase, 0.0f);
    const StormPoint on = eval_track(s.stormTrack, s.stormPhase);
    EXPECT_EQ(s.storm.x, on.x);
    EXPECT_EQ(s.storm.y, on.y);
    EXPECT_EQ(s.storm.speed, on.speed);
    // From now on the phase grows by the track's own speed.
    const float phase = s.stormPhase;
    advance_storm(s, sim->vehicles);
    EXPECT_EQ(s.stormPhase, phase + on.speed);
}

// A storm whose zone sits still on one spot: all three track points equal and
// no speed, so the zone is that point on every advance.
void pin_zone(StormState& s, float x, float y, float size) {
    for (StormPoint& p : s.stormTrack) p = {x, y, size, 0.0f};
    s.storm = {x, y, size, 0.0f};
    s.stormPhase = -1.0f;
}

TEST(ThreatZone, FlagsWaitingHouseholdsWithinHalfTheSizeIncludingTheEdge) {
    auto sim = reset_town();
    // House (1, 1) lies exactly 5 cells from (4, 5); house (2, 1) lies sqrt(20) away,
    // house (8, 1) sqrt(32) = 5.66 away.
    pin_zone(sim->storm, 4.5f, 5.9f, 10.0f);  // centre cell (4, 5), radius 5
    sim->vehicles.vehicles[1].state = VS_EVACUATING;
    advance_storm(sim->storm, sim->vehicles);
    const auto& flags = sim->storm.threatFlags;
    EXPECT_EQ(flags[car_of_house(*sim, {1, 1}, 0)], 1);
    EXPECT_EQ(flags[car_of_house(*sim, {1, 1}, 1)], 0);  // has left: never flagged
    EXPECT_EQ(flags[car_of_house(*sim, {2, 1}, 0)], 1);
    EXPECT_EQ(flags[car_of_house(*sim, {8, 1}, 0)], 0);
    // A car that leaves loses its flag on the next advance.
    sim->vehicles.vehicles[0].state = VS_EVACUATING;
    advance_storm(sim->storm, sim->vehicles);
    EXPECT_EQ(flags[0], 0);
    EXPECT_EQ(flags[car_of_house(*sim, {2, 1}, 0)], 1);
}

TEST(ThreatZone, FlagsExactlyTheWaitingHouseholdsWithinTheRadiusWhereverTheZoneIs) {
    // Zones near and far, small and huge, with radii on and off whole distances.
    std::mt19937 pick(99);
    std::uniform_real_distribution<float> place(-2500.0f, 2500.0f), near(-20.0f, 60.0f);
    auto sim = reset_town();
    for (int i = 0; i < 720; i += 3) sim->vehicles.vehicles[i].state = VS_EVACUATING;
    for (int trial = 0; trial < 400; ++trial) {
        const float x = trial % 2 ? near(pick) : place(pick);
        const float y = trial % 2 ? near(pick) : place(pick);
        float size = static_cast<float>(pick() % 8000) / 100.0f;
        if (trial % 5 == 0) size = 2.0f * std::sqrt(static_cast<float>(pick() % 3000));  // on a root
        if (trial % 7 == 0) size = -size;
        if (trial % 11 == 0) size = 2.0f * std::hypot(x, y) + static_cast<float>(pick() % 50);
        pin_zone(sim->storm, x, y, size);
        advance_storm(sim->storm, sim->vehicles);
        const CellPos c{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
        const double radius = static_cast<double>(size * 0.5f);
        for (int i = 0; i < 720; ++i) {
            const Vehicle& v = sim->vehicles.vehicles[i];
            const int expected = v.state == VS_WAITING && cell_distance(v.home, c) <= radius;
            ASSERT_EQ(sim->storm.threatFlags[i], expected) << "zone " << x << "," << y << " size " << size << " car " << i;
        }
    }
}

TEST(ThreatZone, CentreCoordinatesTruncateTowardZero) {
    CellPos c{};
    ASSERT_TRUE(zone_centre_cell({-0.7f, 12.99f, 1, 0}, c));
    EXPECT_EQ(c, (CellPos{0, 12}));
    ASSERT_TRUE(zone_centre_cell({-2147483648.0f, 2147483520.0f, 1, 0}, c));
    EXPECT_EQ(c, (CellPos{INT_MIN, 2147483520}));
    // Off every cell: beyond the 32-bit range, infinite, or not a number.
    EXPECT_FALSE(zone_centre_cell({2147483648.0f, 0, 1, 0}, c));
    EXPECT_FALSE(zone_centre_cell({0, -2147483904.0f, 1, 0}, c));
    EXPECT_FALSE(zone_centre_cell({INFINITY, 0, 1, 0}, c));
    EXPECT_FALSE(zone_centre_cell({0, NAN, 1, 0}, c));

    // A centre off the grid still measures distances: a large zone far to the left.
    auto sim = reset_town();
    pin_zone(sim->storm, -30.0f, 1.0f, 63.0f);  // radius 31.5 reaches column 1 only
    advance_storm(sim->storm, sim->vehicles);
    EXPECT_EQ(sim->storm.threatFlags[0], 1);
    EXPECT_EQ(sim->storm.threatFlags[2], 0);
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
        ++runawayTicks;
        EXPECT_EQ(flagged, 0) << "tick " << tick;
        // Truncated the undefined way (to INT_MIN), this zone's radius would have
        // reached every house in town.
        if (runawayTicks == 1 && std::isfinite(zone.size)) {
            EXPECT_GT(zone.size * 0.5, cell_distance({INT_MIN, 0}, {39, 29}));
        }
    }
    EXPECT_GT(flaggedBefore, 0);
    EXPECT_GT(runawayTicks, 100);
}

}  // namespace
