#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "support/town.h"

namespace {

TEST(Population, TwoCarsPerHouseInMapOrderWithPatienceThenFuelDrawn) {
    auto sim = new_simulation();
    seed_random(sim->rng, 1);
    populate_town(sim->grid, sim->vehicles, sim->rng);
    const Vehicle* v = sim->vehicles.vehicles;
    ASSERT_EQ(sim->vehicles.vehicleCount, 720);
    const CellPos homes[4] = {{1, 1}, {1, 1}, {2, 1}, {2, 1}};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i].home, homes[i]);
    EXPECT_EQ(v[719].home, (CellPos{38, 27}));
    const int drawn[3][2] = {{240, 369}, {316, 329}, {350, 314}};  // seeded with 1
    for (int i = 0; i < 3; ++i) EXPECT_EQ((std::pair{v[i].patience, v[i].fuel}), (std::pair{drawn[i][0], drawn[i][1]}));
    for (int i = 0; i < 720; ++i) {
        EXPECT_TRUE(v[i].state == VS_WAITING && v[i].heading == DIR_Y_DEC && v[i].pos == v[i].home &&
                    v[i].prevPos == v[i].home);
        EXPECT_TRUE(v[i].patience >= 240 && v[i].patience <= 360 && v[i].fuel >= 200 && v[i].fuel <= 400);
    }
    RandomState expected;  // two draws per car
    seed_random(expected, 1);
    for (int i = 0; i < 1440; ++i) next_random(expected);
    EXPECT_EQ(sim->rng.state, expected.state);
}

TEST(Population, TruncatesTheDoublePrecisionDrawNotAFloat) {
    // f = 0.175 as a float is just below 0.175: 240 + 120 f is just below 261 in
    // double precision, while single precision rounds it up to 261.
    auto sim = new_simulation();
    sim->rng = state_yielding(1750);
    populate_town(sim->grid, sim->vehicles, sim->rng);
    EXPECT_EQ(sim->vehicles.vehicles[0].patience, 260);
    EXPECT_EQ(240.0f + 120.0f * 0.175f, 261.0f);
}

TEST(Tally, EachStateAndPlaceFallsInItsOwnCount) {
    auto sim = reset_town();
    Vehicle* v = sim->vehicles.vehicles;
    const std::uint8_t states[7] = {VS_EVACUATING, VS_EVACUATING, VS_GAVE_UP, VS_GAVE_UP,
                                    VS_OUT_OF_GAS, VS_OUT_OF_GAS, 7};
    for (int i = 0; i < 7; ++i) v[i].state = states[i];
    v[0].pos = ExitCell;  // evacuated; v[1] at home but leaving: en route
    v[3].pos = {5, 0};    // driving home: en route; v[2] at home: gave up
    v[5].pos = {5, 2};    // stranded: out of gas; v[4] at home: towed; v[6] counted nowhere
    const VehicleTally t = tally_vehicles(sim->vehicles);
    const int counts[6] = {t.notEvacuated, t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas};
    const int expected[6] = {713, 1, 1, 2, 1, 1};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(counts[k], expected[k]) << k;
}

// Car 0 of house (1, 1) sent off with the given counters; the rest of the town waits.
Vehicle& send_off(Simulation& sim, int patience, int fuel) {
    Vehicle& v = sim.vehicles.vehicles[0];
    v.state = VS_EVACUATING;
    v.patience = patience;
    v.fuel = fuel;
    return v;
}

void steps(Simulation& sim, int n) {
    for (int i = 0; i < n; ++i) step_all_vehicles(sim.grid, sim.vehicles);
}

TEST(LifeCycle, WaitingAndArrivedCarsAreNeverStepped) {
    auto sim = reset_town();
    place_car(*sim, 2, VS_EVACUATING, ExitCell, DIR_X_INC, {19, 29});
    sim->vehicles.vehicles[3].state = VS_GAVE_UP;  // at home
    const VehicleTable before = sim->vehicles;
    steps(*sim, 300);
    EXPECT_EQ(std::memcmp(&before, &sim->vehicles, sizeof before), 0);
    EXPECT_EQ(traffic_at(*sim, ExitCell), DIR_X_INC);  // an evacuated car keeps its lane
}

TEST(LifeCycle, PatienceRunsOutOnStepPPlusOneAndTheCarDrivesHome) {
    auto sim = reset_town();
    const Vehicle& v = send_off(*sim, 3, 300);
    steps(*sim, 3);
    EXPECT_EQ(v.state, VS_EVACUATING);
    steps(*sim, 1);
    EXPECT_EQ(v.state, VS_GAVE_UP);
    for (int i = 0; i < 40 && !(v.pos == v.home); ++i) steps(*sim, 1);
    EXPECT_EQ(v.pos, v.home);
    EXPECT_EQ(tally_vehicles(sim->vehicles).gaveUp, 1);
    EXPECT_TRUE(validate_simulation(*sim).ok) << validate_simulation(*sim).message;
}

TEST(LifeCycle, RunsDryOnStepFPlusOneStandsTo60AndIsTowedOnFPlus61) {
    const int F = 5;
    for (int patience : {F + 61, F + 60}) {
        auto sim = reset_town();
        const Vehicle& v = send_off(*sim, patience, F);
        steps(*sim, F + 1);
        EXPECT_EQ(v.state, VS_OUT_OF_GAS);
        const CellPos stranded = v.pos;
        const std::uint8_t lane = v.heading;
        steps(*sim, 59);
        EXPECT_EQ(v.fuel, -60);
        EXPECT_EQ(v.pos, stranded);
        EXPECT_EQ(traffic_at(*sim, stranded), lane);
        steps(*sim, 1);
        EXPECT_EQ(v.pos, v.home);
        EXPECT_EQ(traffic_at(*sim, stranded), 0);
        EXPECT_EQ(traffic_at(*sim, v.home), 2);
        // Counted as towed only if its patience outlasted the tow.
        const VehicleTally t = tally_vehicles(sim->vehicles);
        EXPECT_EQ(patience >= F + 61 ? t.towed : t.gaveUp, 1) << patience;
    }
}

TEST(LifeCycle, ACarThatCannotLeaveSpendsItsCountersAtHome) {
    for (bool fuelFirst : {true, false}) {
        auto sim = reset_town();
        // Car 0 stands out of fuel in front of the house, holding the lane car 1 needs.
        place_car(*sim, 0, VS_OUT_OF_GAS, {1, 0}, DIR_Y_DEC, {1, 1}).fuel = -1;
        Vehicle& v = sim->vehicles.vehicles[1];
        v.state = VS_EVACUATING;
        v.patience = fuelFirst ? 50 : 10;
        v.fuel = fuelFirst ? 10 : 50;
        steps(*sim, 12);
        EXPECT_EQ(v.pos, v.home);
        EXPECT_EQ(v.state, fuelFirst ? VS_OUT_OF_GAS : VS_GAVE_UP);  // towed, or gave up, at home
        EXPECT_EQ(v.fuel, fuelFirst ? -1 : 39);
    }
}

TEST(LifeCycle, OutOfGasWinsOverGivingUpInTheSameStep) {
    auto sim = reset_town();
    const Vehicle& v = send_off(*sim, 4, 4);
    steps(*sim, 6);
    EXPECT_EQ(v.state, VS_OUT_OF_GAS);
    EXPECT_EQ(v.patience, -2);
}

}  // namespace
