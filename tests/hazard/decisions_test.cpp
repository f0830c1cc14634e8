#include "hazard/decisions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "sim/fingerprint.h"
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
    for (int i = 0; i < 720; ++i) {
        const DecisionRecord r = decision_record(m, i);
        ASSERT_EQ(std::memcmp(&r, &start, sizeof start), 0) << i;
    }
    sim_tick(*sim);
    for (int i = 0; i < 720; ++i) {
        const DecisionRecord r = decision_record(m, i);
        EXPECT_EQ(r.signalBase, 1001.0f);  // I x 0 + J + H x 1000 with I = J = H = 1
        EXPECT_TRUE(r.signal == 1001.0f + r.signalError && std::fabs(r.signalError) <= 360.0f);
    }
    // J and I settle on a / (1 - b) and c / (1 - b), H on 2d / (2 - b (1 + E0)) with E0 = 1.
    EXPECT_NEAR(m.signalIntercept, 6.8627, 1e-4);
    EXPECT_NEAR(m.signalTravelCoef, 3.9216, 1e-4);
    EXPECT_NEAR(m.signalArrivalCoef, 3.9216, 1e-4);
}

// (Three draws a car a tick, whatever its state, are held against the plain
// tick below, generator and all.)
TEST(DecisionModel, WithoutCarsNothingIsDrawnAndNothingChanges) {
    auto empty = new_simulation();
    const DecisionModel before = empty->decisions;
    const std::string print = fingerprint_line(*empty, 0).text;  // coefficients, generator
    update_decisions(empty->decisions, empty->vehicles, empty->storm, ERROR_LOW, empty->rng);
    const DecisionModel& after = empty->decisions;
    EXPECT_EQ(fingerprint_line(*empty, 0).text, print);
    EXPECT_TRUE(before.households.block == after.households.block &&
                before.arrivalVarianceKnown == after.arrivalVarianceKnown &&
                before.errorsAhead.next == after.errorsAhead.next);
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
        const DecisionRecord r = decision_record(m, i);
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
    const float* departure = sim->decisions.households.departureTime;
    EXPECT_EQ(departure[0], 15.0f);
    for (int i = 0; i < 720; ++i)
        EXPECT_EQ(sim->vehicles.vehicles[i].state == VS_EVACUATING, departure[i] < 15.0f) << i;
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

// The tick done the plain way: every car tested and stepped in table order,
// the threat flags of every car, and the model's steps each in its defined
// order with every draw through uniform_random, reading the parameters from
// the record. The real tick skips what cannot change, fuses loops, jumps the
// generator and works variances out ahead; it must agree with this to the bit.
// (The coefficients themselves are pinned by the golden runs and the settled
// values of J, I and H.)
void plain_update(DecisionModel& m, VehicleTable& table, const StormState& storm,
                  const ModelParameters& p, RandomState& rng) {
    const int n = table.vehicleCount;
    DecisionTable& h = m.households;
    const double spread = static_cast<double>(static_cast<float>(p.errorSpread));
    for (int i = 0; i < n; ++i) {
        h.signalError[i] = static_cast<float>(uniform_random(rng, -spread, spread));
        h.signalBase[i] = (m.signalTravelCoef * h.travelTerm[i] + m.signalIntercept) +
                          m.signalArrivalCoef * h.arrivalEstimate[i];
        h.signal[i] = h.signalBase[i] + h.signalError[i];
    }
    const float ve = field_variance(m, table, 'e');
    update_travel_terms(m, table, storm.simTime);
    update_arrival_estimates(m, table, storm);
    const float vw = field_variance(m, table, 'w');
    update_coefficients(m, ve, vw);
    for (int i = 0; i < n; ++i) {
        h.departureNoise[i] =
            static_cast<float>(uniform_random(rng, -p.departureNoise, p.departureNoise));
        h.departureTime[i] = ((m.departureTravelCoef * h.travelTerm[i] + m.departureIntercept) +
                              m.departureSignalCoef * h.signal[i]) +
                             h.departureNoise[i];
        if (h.departureTime[i] < storm.simTime && table.vehicles[i].state == VS_WAITING)
            table.vehicles[i].state = VS_EVACUATING;
        uniform_random(rng, -p.departureNoise, p.departureNoise);
    }
}

void plain_tick(Simulation& sim) {
    // Kept sets and tally from a fresh scan, and no flag pass skipped.
    index_vehicles(sim.vehicles);
    sim.storm.threatFlagsClear = false;
    advance_storm(sim.storm, sim.vehicles);
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i)
        step_vehicle(sim.grid, sim.vehicles.vehicles[i], sim.vehicles.towFuelLimit);
    plain_update(sim.decisions, sim.vehicles, sim.storm, sim.parameters, sim.rng);
}

// Runs a scenario both ways and compares them after every tick, by everything
// a later tick or a reader can see (the fingerprint line: cars, grid, storm,
// threat flags, every decision field and coefficient, the generator); the fast
// one must also pass the state checks, kept sets and tally included.
void expect_same_runs(std::int32_t seed, const ModelParameters& p, int ticks,
                      const std::string& label) {
    ASSERT_TRUE(check_parameters(p).ok()) << label;
    auto fast = new_simulation();
    auto plain = new_simulation();
    build_scenario(*fast, {seed, p, false});
    build_scenario(*plain, {seed, p, false});
    for (int tick = 1; tick <= ticks; ++tick) {
        sim_tick(*fast);
        plain_tick(*plain);
        const ValidationResult valid = validate_simulation(*fast);
        ASSERT_TRUE(valid.ok) << label << " tick " << tick << ": " << valid.message;
        ASSERT_STREQ(fingerprint_line(*fast, tick).text, fingerprint_line(*plain, tick).text)
            << label;
    }
}

TEST(DecisionModel, AgreesBitForBitWithTheStepsDoneOneByOne) {
    const struct {
        const char* label;
        float spread;
        void (*change)(ModelParameters&);
    } cases[] = {
        {"low", ERROR_LOW, [](ModelParameters&) {}},
        {"moderate", ERROR_MODERATE, [](ModelParameters&) {}},
        {"high", ERROR_HIGH, [](ModelParameters&) {}},
        {"spread 7.5", 7.5f, [](ModelParameters&) {}},
        {"spread 0", 0.0f, [](ModelParameters&) {}},
        {"one car a house, noise 0", ERROR_MODERATE,
         [](ModelParameters& p) { p.carsPerHouse = 1, p.departureNoise = 0; }},
        {"five cars a house, noise 400", 40.0f,
         [](ModelParameters& p) { p.carsPerHouse = 5, p.departureNoise = 400; }},
        // More cars than one block of jumps: the draws come in blocks.
        {"twenty cars a house", ERROR_MODERATE, [](ModelParameters& p) { p.carsPerHouse = 20; }},
        {"fast storm, short tow", ERROR_MODERATE,
         [](ModelParameters& p) {
             p.stormSpeedMin = 0.01, p.stormSpeedMax = 0.03, p.parkedSpeed = 0.01;
             p.towWait = 5;
         }},
        {"slow storm, far look-ahead, short patience", ERROR_LOW,
         [](ModelParameters& p) {
             p.stormSpeedMin = p.stormSpeedMax = 0.0005, p.lookAhead = 3;
             p.patienceMin = 20, p.patienceMax = 40, p.fuelMin = 10, p.fuelMax = 30;
         }},
        {"lead 0, congested, heavy feedback", ERROR_MODERATE,
         [](ModelParameters& p) {
             p.arrivalLead = 0, p.congestionRate = 0.5, p.feedbackParam = 0.95;
         }},
    };
    for (const auto& c : cases) {
        ModelParameters p = error_level(c.spread);
        c.change(p);
        expect_same_runs(2001, p, 1500, c.label);
        if (HasFatalFailure()) return;
    }
}

TEST(DecisionModel, AgreesBitForBitOnRandomScenariosAndParameters) {
    std::mt19937 pick(77);
    auto between = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(pick);
    };
    const float spreads[] = {0.0f, 0.001f, 3.0f, 60.0f, ERROR_MODERATE, 5000.0f, ERROR_HIGH};
    for (int run = 0; run < 8; ++run) {
        ModelParameters p = error_level(spreads[pick() % 7]);
        p.carsPerHouse = static_cast<double>(1 + pick() % 5);
        p.departureNoise = pick() % 2 ? 30.0 : between(0, 300);
        p.stormSpeedMin = between(0.0005, 0.01);
        p.stormSpeedMax = p.stormSpeedMin + between(0, 0.02);
        p.towWait = static_cast<double>(pick() % 120);
        p.arrivalLead = between(0, 400);
        const auto seed = static_cast<std::int32_t>(pick());
        expect_same_runs(seed, p, 1200,
                         "run " + std::to_string(run) + " seed " + std::to_string(seed));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
