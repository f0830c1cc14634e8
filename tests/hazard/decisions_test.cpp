#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "hazard/decisions.h"
#include "support/town.h"

namespace {

// One tick of the whole simulation.
void tick(Simulation& sim) { sim_tick(sim); }

TEST(DecisionReset, StartValuesForCoefficientsAndRecords) {
    auto sim = reset_town();
    for (int i = 0; i < 3; ++i) tick(*sim);
    reset_decisions(sim->decisions, sim->vehicles);
    const DecisionModel& m = sim->decisions;
    EXPECT_EQ(m.interceptParam, 3.5f);
    EXPECT_EQ(m.feedbackParam, 0.49f);
    EXPECT_EQ(m.departureSignalCoef, 1.0f);
    EXPECT_EQ(m.signalArrivalCoef, 1.0f);
    EXPECT_EQ(m.signalIntercept, 1.0f);
    for (int i = 0; i < 720; ++i) {
        const DecisionRecord& r = m.decisionTable[i];
        EXPECT_EQ(r.travelTerm, 0.0f);
        EXPECT_EQ(r.arrivalEstimate, 1000.0f);
        EXPECT_EQ(r.departureTime, 1000.0f);
        EXPECT_EQ(r.signal + r.signalBase + r.signalError + r.departureNoise, 0.0f);
    }
}

TEST(DecisionUpdate, TheFirstTickSignalsFromTheResetValues) {
    auto sim = reset_town(1, ERROR_MODERATE);
    tick(*sim);
    for (int i = 0; i < 720; ++i) {
        const DecisionRecord& r = sim->decisions.decisionTable[i];
        EXPECT_EQ(r.signalBase, 1001.0f);  // I x 0 + J + H x 1000 with I = J = H = 1
        EXPECT_EQ(r.signal, 1001.0f + r.signalError);
        EXPECT_LE(std::fabs(r.signalError), 360.0f);
    }
    // J and I settle on a / (1 - b) and c / (1 - b); H on 2d / (2 - b (1 + E0)) with E0 = 1.
    EXPECT_NEAR(sim->decisions.signalIntercept, 6.8627, 1e-4);
    EXPECT_NEAR(sim->decisions.signalTravelCoef, 3.9216, 1e-4);
    EXPECT_NEAR(sim->decisions.signalArrivalCoef, 3.9216, 1e-4);
}

TEST(DecisionUpdate, DrawsThreeValuesPerCarPerTickWhateverItsState) {
    auto sim = reset_town();
    sim->vehicles.vehicles[0].state = VS_EVACUATING;
    sim->vehicles.vehicles[5].state = VS_GAVE_UP;
    sim->vehicles.vehicles[9].state = VS_OUT_OF_GAS;
    for (int t = 0; t < 3; ++t) {
        RandomState expected = sim->rng;
        for (int i = 0; i < 3 * 720; ++i) next_random(expected);
        tick(*sim);
        EXPECT_EQ(sim->rng.state, expected.state) << "tick " << t + 1;
    }
}

TEST(DecisionUpdate, WithNoCarsTheModelIsLeftAsItWas) {
    auto sim = new_simulation();
    sim->decisions.departureSignalCoef = 0.25f;
    const RandomState before = sim->rng;
    update_decisions(sim->decisions, sim->vehicles, sim->storm, ERROR_LOW, sim->rng);
    EXPECT_EQ(sim->decisions.departureSignalCoef, 0.25f);
    EXPECT_EQ(sim->decisions.signalArrivalCoef, 1.0f);
    EXPECT_EQ(sim->rng.state, before.state);
}

TEST(DecisionUpdate, HighErrorSilencesTheSignalAndEmptiesTheTownInTwoTicks) {
    auto sim = reset_town(1, ERROR_HIGH);
    tick(*sim);
    const DecisionModel& m = sim->decisions;
    EXPECT_EQ(m.departureSignalCoef, 0.0f);  // the errors' variance overflows to infinity
    EXPECT_EQ(field_variance(m, sim->vehicles, 'e'), INFINITY);
    // First tick: E0 = 1, so F = G = 0 and the departure time is the noise alone.
    EXPECT_EQ(m.departureTravelCoef, 0.0f);
    EXPECT_EQ(m.departureIntercept, 0.0f);
    int left = 0;
    for (int i = 0; i < 720; ++i) {
        const DecisionRecord& r = m.decisionTable[i];
        EXPECT_TRUE(std::isfinite(r.signal));
        EXPECT_EQ(r.departureTime, r.departureNoise);
        const bool leaves = r.departureNoise < 1.0f;
        EXPECT_EQ(sim->vehicles.vehicles[i].state, leaves ? VS_EVACUATING : VS_WAITING) << i;
        left += leaves;
    }
    EXPECT_GT(left, 0);
    EXPECT_LT(left, 720);
    // Second tick: the travel term (<= -350) dominates and everyone still at home leaves.
    tick(*sim);
    EXPECT_EQ(m.departureSignalCoef, 0.0f);
    EXPECT_NEAR(m.departureTravelCoef, 2.0f / 0.51f, 1e-5);
    EXPECT_EQ(tally_vehicles(sim->vehicles).notEvacuated, 0);
}

TEST(DecisionUpdate, ADepartureTimeEqualToTheClockDoesNotLeave) {
    // Rig the first car's departure noise to 15 (f = 0.75) and the clock to 15.
    // With E0 = 1 and no threatened household, F = G = E = 0, so its departure
    // time is exactly 15.
    auto sim = reset_town();
    sim->storm.simTime = 15.0f;
    // 720 signal errors come first, then the first car's noise.
    sim->rng = state_before(state_yielding(7500), 720);
    update_decisions(sim->decisions, sim->vehicles, sim->storm, ERROR_LOW, sim->rng);
    const DecisionRecord& r = sim->decisions.decisionTable[0];
    EXPECT_EQ(sim->decisions.departureSignalCoef, 0.0f);
    EXPECT_EQ(r.departureNoise, 15.0f);
    EXPECT_EQ(r.departureTime, 15.0f);
    EXPECT_EQ(sim->vehicles.vehicles[0].state, VS_WAITING);
    // Every car whose time lies strictly below the clock has left, and only those.
    for (int i = 0; i < 720; ++i) {
        const DecisionRecord& d = sim->decisions.decisionTable[i];
        EXPECT_EQ(sim->vehicles.vehicles[i].state == VS_EVACUATING, d.departureTime < 15.0f) << i;
    }
}

TEST(DecisionUpdate, ThreatenedWaitingHouseholdsExpectTheStorm180TicksAfterTheAdvancedClock) {
    auto sim = reset_town();
    for (int i = 0; i < 4; ++i) tick(*sim);
    StormState& s = sim->storm;
    s.threatFlags[3] = 1;
    s.threatFlags[4] = 0;
    sim->vehicles.vehicles[4].state = VS_WAITING;
    sim->vehicles.vehicles[6].state = VS_EVACUATING;  // keeps its last estimate
    s.threatFlags[6] = 1;
    sim->vehicles.vehicles[3].state = VS_WAITING;
    sim->decisions.decisionTable[6].arrivalEstimate = 555.0f;
    update_arrival_estimates(sim->decisions, sim->vehicles, s);
    EXPECT_EQ(sim->decisions.decisionTable[3].arrivalEstimate, s.simTime + 180.0f);
    EXPECT_EQ(sim->decisions.decisionTable[4].arrivalEstimate, 1000.0f);
    EXPECT_EQ(sim->decisions.decisionTable[6].arrivalEstimate, 555.0f);
}

TEST(DecisionUpdate, TravelTermsGrowWithDistanceAndTraffic) {
    auto sim = reset_town();
    sim->storm.simTime = 10.0f;
    update_travel_terms(sim->decisions, sim->vehicles, 10.0f);
    const DecisionRecord* r = sim->decisions.decisionTable;
    // No car on the road: -5 (D + 70), D from the house to the exit.
    const double d0 = std::sqrt(19.0 * 19 + 28 * 28);
    EXPECT_EQ(r[0].travelTerm, static_cast<float>(-5.0 * (d0 + 70)));
    EXPECT_LE(r[0].travelTerm, -350.0f);
    // Four cars under way (one arrived does not count) add 4 x 10 x 0.005 = 0.2 cells.
    for (int i : {10, 11, 12, 13}) place_car(*sim, i, VS_EVACUATING, {i, 0}, DIR_X_INC, {i - 1, 0});
    place_car(*sim, 14, VS_EVACUATING, ExitCell, DIR_X_INC, {19, 29});
    sim->decisions.decisionTable[10].travelTerm = 7.0f;
    update_travel_terms(sim->decisions, sim->vehicles, 10.0f);
    const float congestion = 4.0f * 10.0f * 0.005f;
    EXPECT_EQ(r[0].travelTerm, static_cast<float>(-5.0 * ((d0 + 70) + congestion)));
    EXPECT_EQ(r[10].travelTerm, 7.0f);  // not waiting: kept
}

TEST(FieldVariance, PopulationVarianceOfTheChosenField) {
    auto sim = reset_town();
    DecisionRecord* r = sim->decisions.decisionTable;
    EXPECT_EQ(field_variance(sim->decisions, sim->vehicles, 'w'), 0.0f);
    // Half the records at 1000 and half at 1180: variance 90^2.
    for (int i = 0; i < 720; i += 2) r[i].arrivalEstimate = 1180.0f;
    EXPECT_EQ(field_variance(sim->decisions, sim->vehicles, 'w'), 8100.0f);
    EXPECT_EQ(field_variance(sim->decisions, sim->vehicles, 'x'), 8100.0f);  // any other letter: arrivals
    for (int i = 0; i < 720; ++i) r[i].signalError = i % 2 ? 0.5f : -0.5f;
    EXPECT_EQ(field_variance(sim->decisions, sim->vehicles, 'e'), 0.25f);
}

TEST(DecisionUpdate, NoThreatMeansNoWeightOnTheSignal) {
    // Until some household is threatened every arrival estimate is equal, Vw = 0 and E = 0.
    auto calm = reset_town(1, ERROR_LOW);
    for (StormPoint& p : calm->storm.stormTrack) p.x = -1000.0f;  // the zone never reaches town
    tick(*calm);
    EXPECT_EQ(calm->decisions.departureSignalCoef, 0.0f);

    // With low error and threatened households the signal's weight nears 1.
    auto sim = reset_town(1, ERROR_LOW);
    for (int i = 0; i < 300; ++i) tick(*sim);
    EXPECT_NEAR(sim->decisions.departureSignalCoef, 1.0f, 0.01f);
    EXPECT_NEAR(sim->decisions.departureTravelCoef, 0.0f, 0.05f);
}

}  // namespace

namespace {

// The update done the plain way: each step in its defined order, every draw
// through uniform_random. The real update fuses loops and jumps the generator;
// it must agree with this to the bit.
void plain_update(DecisionModel& m, VehicleTable& table, const StormState& storm, float spread,
                  RandomState& rng) {
    const int n = table.vehicleCount;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = m.decisionTable[i];
        r.signalError = static_cast<float>(uniform_random(rng, -static_cast<double>(spread), spread));
        r.signalBase = (m.signalTravelCoef * r.travelTerm + m.signalIntercept) +
                       m.signalArrivalCoef * r.arrivalEstimate;
        r.signal = r.signalBase + r.signalError;
    }
    const float ve = field_variance(m, table, 'e');
    update_travel_terms(m, table, storm.simTime);
    update_arrival_estimates(m, table, storm);
    const float vw = field_variance(m, table, 'w');
    const float a = m.interceptParam, b = m.feedbackParam, c = m.travelParam, d = m.arrivalParam;
    const float e0 = m.departureSignalCoef, h0 = m.signalArrivalCoef;
    m.departureIntercept = (1.0f - e0) * a / (1.0f - b);
    m.departureTravelCoef = (1.0f - e0) * c / (1.0f - b);
    const float numerator = h0 * (2.0f * d + b * h0) * vw;
    m.departureSignalCoef = numerator / ((2.0f - b) * (h0 * h0 * vw + ve));
    m.signalIntercept = a / (1.0f - b);
    m.signalTravelCoef = c / (1.0f - b);
    m.signalArrivalCoef = 2.0f * d / (2.0f - b * (1.0f + e0));
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

TEST(DecisionUpdate, AgreesBitForBitWithTheStepsDoneOneByOne) {
    for (float level : {ERROR_LOW, ERROR_MODERATE, ERROR_HIGH, 7.5f}) {
        SCOPED_TRACE(level);
        auto fast = reset_town(2001, level);
        auto plain = reset_town(2001, level);
        for (int tick = 1; tick <= 700; ++tick) {
            for (Simulation* s : {fast.get(), plain.get()}) {
                advance_storm(s->storm, s->vehicles);
                step_all_vehicles(s->grid, s->vehicles);
            }
            update_decisions(fast->decisions, fast->vehicles, fast->storm, level, fast->rng);
            plain_update(plain->decisions, plain->vehicles, plain->storm, level, plain->rng);
            ASSERT_EQ(fast->rng.state, plain->rng.state) << tick;
            ASSERT_EQ(std::memcmp(&fast->decisions, &plain->decisions, sizeof(DecisionModel)), 0) << tick;
            ASSERT_EQ(std::memcmp(&fast->vehicles, &plain->vehicles, sizeof(VehicleTable)), 0) << tick;
        }
    }
}

}  // namespace
