#include <gtest/gtest.h>

#include "sim/route.h"
#include "sim/vehicles.h"
#include "support/town.h"

namespace {

std::unique_ptr<Simulation> town_from_state(std::uint32_t state) {
    auto sim = new_simulation();
    sim->rng.state = state;
    populate_town(sim->grid, sim->vehicles, sim->rng);
    return sim;
}

TEST(Population, CarsComeTwoPerHouseInMapOrder) {
    auto sim = reset_town();
    const VehicleTable& t = sim->vehicles;
    ASSERT_EQ(t.vehicleCount, 720);
    EXPECT_EQ(t.vehicles[0].home, (CellPos{1, 1}));
    EXPECT_EQ(t.vehicles[1].home, (CellPos{1, 1}));
    EXPECT_EQ(t.vehicles[2].home, (CellPos{2, 1}));
    EXPECT_EQ(t.vehicles[3].home, (CellPos{2, 1}));
    EXPECT_EQ(t.vehicles[719].home, (CellPos{38, 27}));
    for (int i = 0; i < t.vehicleCount; ++i) {
        const Vehicle& v = t.vehicles[i];
        EXPECT_EQ(v.state, VS_WAITING);
        EXPECT_EQ(v.heading, DIR_Y_DEC);
        EXPECT_EQ(v.pos, v.home);
        EXPECT_EQ(v.prevPos, v.home);
        EXPECT_EQ(sim->grid.cells[v.home.y][v.home.x].layout, LAYOUT_HOUSE);
        EXPECT_GE(v.patience, 240);
        EXPECT_LE(v.patience, 360);
        EXPECT_GE(v.fuel, 200);
        EXPECT_LE(v.fuel, 400);
    }
}

TEST(Population, DrawsPatienceThenFuelFromTheSharedGenerator) {
    RandomState seeded;
    seed_random(seeded, 1);
    auto sim = town_from_state(seeded.state);
    const Vehicle* v = sim->vehicles.vehicles;
    EXPECT_EQ(v[0].patience, 240);
    EXPECT_EQ(v[0].fuel, 369);
    EXPECT_EQ(v[1].patience, 316);
    EXPECT_EQ(v[1].fuel, 329);
    EXPECT_EQ(v[2].patience, 350);
    EXPECT_EQ(v[2].fuel, 314);

    // Two draws per car: 1440 in all.
    RandomState expected = seeded;
    for (int i = 0; i < 1440; ++i) next_random(expected);
    EXPECT_EQ(sim->rng.state, expected.state);
}

TEST(Population, TruncatesTheDoublePrecisionDrawNotAFloat) {
    // f = 0.175 as a float is just below 0.175, so 240 + 120 f lies just below
    // 261 in double precision (while single precision would round it up to 261).
    auto sim = town_from_state(state_yielding(1750).state);
    EXPECT_EQ(sim->vehicles.vehicles[0].patience, 260);
    EXPECT_EQ(240.0f + 120.0f * 0.175f, 261.0f);

    // f = 0.5 for fuel is exact: 300.
    RandomState rng = state_yielding(5000);
    EXPECT_EQ(static_cast<int>(uniform_random(rng, 200, 400)), 300);
}

TEST(Tally, FreshTownIsAllNotEvacuatedAndTheTotalIsTheCarCount) {
    auto sim = reset_town();
    const VehicleTally t = tally_vehicles(sim->vehicles);
    EXPECT_EQ(t.notEvacuated, 720);
    EXPECT_EQ(t.evacuated + t.gaveUp + t.enRoute + t.towed + t.outOfGas, 0);
    EXPECT_EQ(tally_total(t), 720);
}

TEST(Tally, EachStateAndPlaceFallsInItsOwnCount) {
    auto sim = reset_town();
    Vehicle* v = sim->vehicles.vehicles;
    v[0].state = VS_EVACUATING;
    v[0].pos = ExitCell;  // evacuated
    v[1].state = VS_EVACUATING;  // at home but leaving: en route
    v[2].state = VS_GAVE_UP;     // at home: gave up
    v[3].state = VS_GAVE_UP;
    v[3].pos = {5, 0};  // driving home: en route
    v[4].state = VS_OUT_OF_GAS;  // at home: towed
    v[5].state = VS_OUT_OF_GAS;
    v[5].pos = {5, 2};  // stranded: out of gas
    v[6].state = 7;     // not a state: counted nowhere
    const VehicleTally t = tally_vehicles(sim->vehicles);
    EXPECT_EQ(t.notEvacuated, 713);
    EXPECT_EQ(t.evacuated, 1);
    EXPECT_EQ(t.enRoute, 2);
    EXPECT_EQ(t.gaveUp, 1);
    EXPECT_EQ(t.towed, 1);
    EXPECT_EQ(t.outOfGas, 1);
    EXPECT_EQ(tally_total(t), 719);
}

TEST(LifeCycle, WaitingAndArrivedCarsAreNeverStepped) {
    auto sim = reset_town();
    Vehicle* v = sim->vehicles.vehicles;
    place_car(*sim, 2, VS_EVACUATING, ExitCell, DIR_X_INC, {19, 29});
    v[3].state = VS_GAVE_UP;  // at home
    v[4].state = VS_OUT_OF_GAS;
    const Vehicle before[5] = {v[0], v[1], v[2], v[3], v[4]};
    for (int tick = 0; tick < 500; ++tick) step_all_vehicles(sim->grid, sim->vehicles);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(v[i].patience, before[i].patience) << i;
        EXPECT_EQ(v[i].fuel, before[i].fuel) << i;
        EXPECT_EQ(v[i].pos, before[i].pos) << i;
        EXPECT_EQ(v[i].state, before[i].state) << i;
    }
    EXPECT_FALSE(is_under_way(v[0]));
    EXPECT_FALSE(is_under_way(v[2]));
}

// A car of house (1, 1) sent off with the given counters while the rest of the
// town waits at home; returns its index.
int send_off(Simulation& sim, int patience, int fuel) {
    Vehicle& v = sim.vehicles.vehicles[0];
    v.state = VS_EVACUATING;
    v.patience = patience;
    v.fuel = fuel;
    return 0;
}

TEST(LifeCycle, PatienceRunsOutOnStepPPlusOneAndTheCarTurnsForHome) {
    auto sim = reset_town();
    const Vehicle& v = sim->vehicles.vehicles[send_off(*sim, 3, 300)];
    for (int step = 1; step <= 3; ++step) {
        step_all_vehicles(sim->grid, sim->vehicles);
        EXPECT_EQ(v.state, VS_EVACUATING) << step;
    }
    step_all_vehicles(sim->grid, sim->vehicles);
    EXPECT_EQ(v.state, VS_GAVE_UP);
    EXPECT_EQ(v.patience, -1);
    // It drives back and parks; from then on it is frozen.
    for (int step = 0; step < 40 && !(v.pos == v.home); ++step) step_all_vehicles(sim->grid, sim->vehicles);
    ASSERT_EQ(v.pos, v.home);
    EXPECT_EQ(traffic_at(*sim, v.home), 2);
    const VehicleTally t = tally_vehicles(sim->vehicles);
    EXPECT_EQ(t.gaveUp, 1);
    EXPECT_TRUE(validate_simulation(*sim).ok) << validate_simulation(*sim).message;
}

TEST(LifeCycle, RunsDryOnStepFPlusOneStandsSixtyTicksAndIsTowedOnFPlus61) {
    const int F = 5;
    for (int patience : {F + 61, F + 60}) {
        SCOPED_TRACE(patience);
        auto sim = reset_town();
        const Vehicle& v = sim->vehicles.vehicles[send_off(*sim, patience, F)];
        for (int step = 1; step <= F; ++step) step_all_vehicles(sim->grid, sim->vehicles);
        EXPECT_EQ(v.state, VS_EVACUATING);
        const CellPos stranded = v.pos;
        const std::uint8_t lane = v.heading;
        step_all_vehicles(sim->grid, sim->vehicles);  // step F + 1
        EXPECT_EQ(v.state, VS_OUT_OF_GAS);
        EXPECT_EQ(v.fuel, -1);
        for (int step = F + 2; step <= F + 60; ++step) step_all_vehicles(sim->grid, sim->vehicles);
        EXPECT_EQ(v.fuel, -60);
        EXPECT_EQ(v.pos, stranded);  // still standing, lane still held
        EXPECT_EQ(traffic_at(*sim, stranded) & lane, lane);
        EXPECT_EQ(tally_vehicles(sim->vehicles).outOfGas, 1);

        step_all_vehicles(sim->grid, sim->vehicles);  // step F + 61: towed
        EXPECT_EQ(v.pos, v.home);
        EXPECT_EQ(traffic_at(*sim, stranded) & lane, 0);
        EXPECT_EQ(traffic_at(*sim, v.home), 2);
        const VehicleTally t = tally_vehicles(sim->vehicles);
        // Towed counts only if patience outlasted the tow; otherwise it gave up.
        if (patience >= F + 61) {
            EXPECT_EQ(v.state, VS_OUT_OF_GAS);
            EXPECT_EQ(t.towed, 1);
        } else {
            EXPECT_EQ(v.state, VS_GAVE_UP);
            EXPECT_EQ(t.gaveUp, 1);
        }
        EXPECT_TRUE(validate_simulation(*sim).ok) << validate_simulation(*sim).message;
    }
}

TEST(LifeCycle, ACarThatCannotLeaveSpendsItsCountersAtHome) {
    // Car 1 of house (1, 1) is shut in: car 0 holds the southbound lane of the
    // road in front of the house for good (it is out of fuel there).
    for (bool fuelFirst : {true, false}) {
        SCOPED_TRACE(fuelFirst);
        auto sim = reset_town();
        Vehicle& blocker = place_car(*sim, 0, VS_OUT_OF_GAS, {1, 0}, DIR_Y_DEC, {1, 1});
        blocker.fuel = -1;
        blocker.patience = 1000;
        Vehicle& v = sim->vehicles.vehicles[1];
        v.state = VS_EVACUATING;
        v.patience = fuelFirst ? 50 : 10;
        v.fuel = fuelFirst ? 10 : 50;
        for (int step = 0; step < 12; ++step) step_all_vehicles(sim->grid, sim->vehicles);
        EXPECT_EQ(v.pos, v.home);
        const VehicleTally t = tally_vehicles(sim->vehicles);
        if (fuelFirst) {
            EXPECT_EQ(v.state, VS_OUT_OF_GAS);
            EXPECT_EQ(t.towed, 1);  // counted as towed without having been towed
        } else {
            EXPECT_EQ(v.state, VS_GAVE_UP);
            EXPECT_EQ(t.gaveUp, 1);
        }
        EXPECT_EQ(v.fuel, fuelFirst ? -1 : 39);
        EXPECT_EQ(traffic_at(*sim, v.home), 1);
    }
}

TEST(LifeCycle, OutOfGasWinsOverGivingUpInTheSameStep) {
    auto sim = reset_town();
    const Vehicle& v = sim->vehicles.vehicles[send_off(*sim, 4, 4)];
    for (int step = 0; step < 5; ++step) step_all_vehicles(sim->grid, sim->vehicles);
    EXPECT_EQ(v.patience, -1);
    EXPECT_EQ(v.fuel, -1);
    EXPECT_EQ(v.state, VS_OUT_OF_GAS);
    // While stranded it flips to giving up and back every step, and stays put.
    const CellPos stranded = v.pos;
    step_all_vehicles(sim->grid, sim->vehicles);
    EXPECT_EQ(v.state, VS_OUT_OF_GAS);
    EXPECT_EQ(v.pos, stranded);
}

TEST(LifeCycle, AnEvacuatedCarStaysOnTheExitWithItsLaneAndCounters) {
    auto sim = reset_town();
    Vehicle& v = place_car(*sim, 0, VS_EVACUATING, {19, 29}, DIR_X_INC, {18, 29});
    step_all_vehicles(sim->grid, sim->vehicles);
    ASSERT_EQ(v.pos, ExitCell);
    const int patience = v.patience, fuel = v.fuel;
    for (int step = 0; step < 50; ++step) step_all_vehicles(sim->grid, sim->vehicles);
    EXPECT_EQ(v.pos, ExitCell);
    EXPECT_EQ(v.patience, patience);
    EXPECT_EQ(v.fuel, fuel);
    EXPECT_EQ(traffic_at(*sim, ExitCell), DIR_X_INC);
    EXPECT_EQ(tally_vehicles(sim->vehicles).evacuated, 1);
}

}  // namespace
