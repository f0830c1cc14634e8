#include "hazard/decisions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "support/town.h"

namespace {

TEST(DecisionModel, FirstTickAfterAResetStartsFromTheResetValues) {
    auto sim = reset_town(1, ERROR_MODERATE);
    for (int i = 0; i < 3; ++i) sim_tick(*sim);
    reset_scenario(*sim);
    const DecisionModel& m = sim->decisions;
    EXPECT_TRUE(m.departureSignalCoef == 1 && m.departureTravelCoef == 1 &&
                m.departureIntercept == 1 && m.signalArrivalCoef == 1 && m.signalTravelCoef == 1 &&
                m.signalIntercept == 1);
    const DecisionRecord start = {0, 1000, 1000, 0, 0, 0, 0};
    for (int i = 0; i < 720; ++i)
        ASSERT_EQ(std::memcmp(&m.decisionTable[i], &start, sizeof start), 0) << i;
    sim_tick(*sim);
    for (int i = 0; i < 720; ++i) {
        const DecisionRecord& r = m.decisionTable[i];
        EXPECT_EQ(r.signalBase, 1001.0f);  // I x 0 + J + H x 1000 with I = J = H = 1
        EXPECT_TRUE(r.signal == 1001.0f + r.signalError && std::fabs(r.signalError) <= 360.0f);
    }
    // J and I settle on a / (1 - b) and c / (1 - b), H on 2d / (2 - b (1 + E0)) with E0 = 1.
    EXPECT_NEAR(m.signalIntercept, 6.8627, 1e-4);
    EXPECT_NEAR(m.signalTravelCoef, 3.9216, 1e-4);
    EXPECT_NEAR(m.signalArrivalCoef, 3.9216, 1e-4);
}

TEST(DecisionModel, ThreeDrawsPerCarPerTickWhateverItsStateAndNoneWithoutCars) {
    auto sim = reset_town();
    sim->vehicles.vehicles[0].state = VS_EVACUATING;
    sim->vehicles.vehicles[5].state = VS_GAVE_UP;
    sim->vehicles.vehicles[9].state = VS_OUT_OF_GAS;
    RandomState expected = sim->rng;
    for (int i = 0; i < 3 * 720; ++i) next_random(expected);
    sim_tick(*sim);
    EXPECT_EQ(sim->rng.state, expected.state);
    auto empty = new_simulation();
    const DecisionModel before = empty->decisions;
    update_decisions(empty->decisions, empty->vehicles, empty->storm, ERROR_LOW, empty->rng);
    EXPECT_EQ(std::memcmp(&before, &empty->decisions, sizeof before), 0);
    EXPECT_EQ(empty->rng.state, RandomState{}.state);
}

TEST(DecisionModel, HighErrorSilencesTheSignalAndEmptiesTheTownInTwoTicks) {
    auto sim = reset_town(1, ERROR_HIGH);
    sim_tick(*sim);
    const DecisionModel& m = sim->decisions;
    EXPECT_EQ(field_variance(m, sim->vehicles, 'e'), INFINITY);  // the errors' squares overflow
    EXPECT_TRUE(m.departureSignalCoef == 0 && m.departureTravelCoef == 0 &&
                m.departureIntercept == 0);
    int left = 0;
    for (int i = 0; i < 720; ++i) {
        const DecisionRecord& r = m.decisionTable[i];
        // E0 = 1 on the first tick: the departure time is the noise alone; below 1 leaves.
        EXPECT_TRUE(std::isfinite(r.signal) && r.departureTime == r.departureNoise);
        EXPECT_EQ(sim->vehicles.vehicles[i].state,
                  r.departureNoise < 1.0f ? VS_EVACUATING : VS_WAITING);
        left += r.departureNoise < 1.0f;
    }
    EXPECT_TRUE(left > 0 && left < 720);
    sim_tick(*sim);  // the travel term (<= -350) now dominates: everyone leaves
    EXPECT_EQ(tally_vehicles(sim->vehicles).notEvacuated, 0);
}

TEST(DecisionModel, ADepartureTimeEqualToTheClockDoesNotLeave) {
    // With E0 = 1 and nobody threatened, F = G = E = 0 and the departure time is
    // the noise. The first car's noise draw (after 720 errors) is rigged to 15.
    auto sim = reset_town();
    sim->storm.simTime = 15.0f;
    sim->rng = state_before(state_yielding(7500), 720);
    update_decisions(sim->decisions, sim->vehicles, sim->storm, ERROR_LOW, sim->rng);
    EXPECT_EQ(sim->decisions.decisionTable[0].departureTime, 15.0f);
    for (int i = 0; i < 720; ++i)
        EXPECT_EQ(sim->vehicles.vehicles[i].state == VS_EVACUATING,
                  sim->decisions.decisionTable[i].departureTime < 15.0f)
            << i;
}

TEST(DecisionModel, WithNobodyThreatenedTheSignalCountsForNothingAndLaterItCountsFully) {
    auto calm = reset_town();
    for (StormPoint& p : calm->storm.stormTrack) p.x = -1000.0f;  // the zone never reaches town
    sim_tick(*calm);
    EXPECT_EQ(calm->decisions.departureSignalCoef, 0.0f);  // every estimate equal: Vw = 0
    auto low = reset_town(1, ERROR_LOW);
    for (int i = 0; i < 300; ++i) sim_tick(*low);
    EXPECT_NEAR(low->decisions.departureSignalCoef, 1.0f, 0.01f);
}

// The update done the plain way: each step in its defined order, every draw
// through uniform_random. The real update fuses loops and jumps the generator;
// it must agree with this to the bit. (The coefficients themselves are pinned
// by the golden runs and the settled values of J, I and H.)
void plain_update(DecisionModel& m, VehicleTable& table, const StormState& storm, float spread,
                  RandomState& rng) {
    const int n = table.vehicleCount;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = m.decisionTable[i];
        r.signalError =
            static_cast<float>(uniform_random(rng, -static_cast<double>(spread), spread));
        r.signalBase = (m.signalTravelCoef * r.travelTerm + m.signalIntercept) +
                       m.signalArrivalCoef * r.arrivalEstimate;
        r.signal = r.signalBase + r.signalError;
    }
    const float ve = field_variance(m, table, 'e');
    update_travel_terms(m, table, storm.simTime);
    update_arrival_estimates(m, table, storm);
    const float vw = field_variance(m, table, 'w');
    update_coefficients(m, ve, vw);
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = m.decisionTable[i];
        r.departureNoise = static_cast<float>(uniform_random(rng, -30, 30));
        r.departureTime = ((m.departureTravelCoef * r.travelTerm + m.departureIntercept) +
                           m.departureSignalCoef * r.signal) +
                          r.departureNoise;
        if (r.departureTime < storm.simTime && table.vehicles[i].state == VS_WAITING)
            table.vehicles[i].state = VS_EVACUATING;
        uniform_random(rng, -30, 30);
    }
}

TEST(DecisionModel, AgreesBitForBitWithTheStepsDoneOneByOne) {
    for (float level : {ERROR_LOW, ERROR_MODERATE, ERROR_HIGH, 7.5f}) {
        auto fast = reset_town(2001, level);
        auto plain = reset_town(2001, level);
        for (int tick = 1; tick <= 700; ++tick) {
            for (Simulation* s : {fast.get(), plain.get()}) {
                advance_storm(s->storm, s->vehicles);
                step_all_vehicles(s->grid, s->vehicles);
            }
            update_decisions(fast->decisions, fast->vehicles, fast->storm, level, fast->rng);
            plain_update(plain->decisions, plain->vehicles, plain->storm, level, plain->rng);
            ASSERT_EQ(fast->rng.state, plain->rng.state) << level << " tick " << tick;
            ASSERT_EQ(std::memcmp(&fast->decisions, &plain->decisions, sizeof(DecisionModel)), 0)
                << tick;
            ASSERT_EQ(std::memcmp(&fast->vehicles, &plain->vehicles, sizeof(VehicleTable)), 0)
                << tick;
        }
    }
}

}  // namespace
