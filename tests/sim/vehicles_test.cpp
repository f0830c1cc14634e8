#include <gtest/gtest.h>

#include <cstring>

#include "support/town.h"

namespace {

TEST(Population, TwoCarsPerHouseInMapOrderWithPatienceThenFuelDrawn) {
    auto sim = new_simulation();
    seed_random(sim->rng, 1);
    populate_town(sim->grid, sim->vehicles, sim->rng);
    const Vehicle* v = sim->vehicles.vehicles.data();
    ASSERT_EQ(sim->vehicles.vehicleCount, 720);
    EXPECT_TRUE(v[1].home == (CellPos{1, 1}) && v[2].home == (CellPos{2, 1}) &&
                v[719].home == (CellPos{38, 27}));
    for (int i = 0; i < 720; ++i)
        EXPECT_TRUE(v[i].state == VS_WAITING && v[i].heading == DIR_Y_DEC &&
                    v[i].pos == v[i].home && v[i].prevPos == v[i].home && v[i].patience >= 240 &&
                    v[i].patience <= 360 && v[i].fuel >= 200 && v[i].fuel <= 400)
            << i;
    EXPECT_EQ(state_before(sim->rng, 1440).state, 1u);  // two draws per car after the seed
    // f = 0.175 as a float lies just below 0.175: 240 + 120 f lies just below 261
    // in double precision and truncates to 260 (single precision would give 261).
    sim->rng = state_yielding(1750);
    populate_town(sim->grid, sim->vehicles, sim->rng);
    EXPECT_EQ(v[0].patience, 260);
}

TEST(Tally, EachStateAndPlaceFallsInItsOwnCount) {
    auto sim = reset_town();
    Vehicle* v = sim->vehicles.vehicles.data();
    const std::uint8_t states[7] = {VS_EVACUATING, VS_EVACUATING, VS_GAVE_UP, VS_GAVE_UP,
                                    VS_OUT_OF_GAS, VS_OUT_OF_GAS, 7};
    for (int i = 0; i < 7; ++i) v[i].state = states[i];
    v[0].pos = ExitCell;  // evacuated; v[1] at home but leaving: en route
    v[3].pos = {5, 0};    // driving home: en route; v[2] at home: gave up
    v[5].pos = {5, 2};    // stranded: out of gas; v[4] at home: towed; v[6] counted nowhere
    index_vehicles(sim->grid, sim->vehicles);
    EXPECT_EQ(tally_of(*sim), "713 1 1 2 1 1");
}

// Car 0 of house (1, 1) sent off with the given counters; the rest of the town waits.
Vehicle& send_off(Simulation& sim, int patience, int fuel) {
    Vehicle& v = sim.vehicles.vehicles[0];
    v.state = VS_EVACUATING;
    v.patience = patience;
    v.fuel = fuel;
    index_vehicles(sim.vehicles);
    return v;
}

void steps(Simulation& sim, int n) {
    for (int i = 0; i < n; ++i) step_all_vehicles(sim.grid, sim.vehicles);
}

TEST(LifeCycle, WaitingAndArrivedCarsAreNeverStepped) {
    auto sim = reset_town();
    place_car(*sim, 2, VS_EVACUATING, ExitCell, DIR_X_INC, {19, 29});
    sim->vehicles.vehicles[3].state = VS_GAVE_UP;  // at home
    index_vehicles(sim->vehicles);
    const VehicleTable before = sim->vehicles;
    steps(*sim, 300);
    EXPECT_EQ(std::memcmp(before.vehicles.data(), sim->vehicles.vehicles.data(),
                          sizeof(Vehicle) * before.vehicles.size()),
              0);
    EXPECT_TRUE(before.underWay.words == sim->vehicles.underWay.words &&
                before.waiting.words == sim->vehicles.waiting.words);
    EXPECT_EQ(std::memcmp(&before.tally, &sim->vehicles.tally, sizeof before.tally), 0);
    EXPECT_EQ(traffic_at(*sim, ExitCell), DIR_X_INC);  // an evacuated car keeps its lane
}

TEST(LifeCycle, GivesUpOnStepPPlusOneRunsDryOnFPlusOneAndIsTowedOnFPlus61) {
    auto quitter = reset_town();
    const Vehicle& q = send_off(*quitter, 3, 300);
    steps(*quitter, 3);
    EXPECT_EQ(q.state, VS_EVACUATING);
    steps(*quitter, 1);
    EXPECT_EQ(q.state, VS_GAVE_UP);
    for (int i = 0; i < 40 && !(q.pos == q.home); ++i) steps(*quitter, 1);
    EXPECT_EQ(tally_of(*quitter), "719 0 1 0 0 0");  // home again
    const int F = 5;
    for (int patience : {F + 61, F + 60}) {
        auto sim = reset_town();
        const Vehicle& v = send_off(*sim, patience, F);
        steps(*sim, F + 1);
        const CellPos stranded = v.pos;
        EXPECT_TRUE(v.state == VS_OUT_OF_GAS && traffic_at(*sim, stranded) == v.heading);
        steps(*sim, 59);
        EXPECT_TRUE(v.fuel == -60 && v.pos == stranded && traffic_at(*sim, stranded) == v.heading);
        steps(*sim, 1);
        EXPECT_TRUE(v.pos == v.home && traffic_at(*sim, stranded) == 0 &&
                    traffic_at(*sim, v.home) == 2);
        // Counted as towed only if its patience outlasted the tow.
        EXPECT_EQ(tally_of(*sim), patience >= F + 61 ? "719 0 0 0 1 0" : "719 0 1 0 0 0");
    }
}

TEST(LifeCycle, ACarThatCannotLeaveSpendsItsCountersAtHomeAndRunningDryWinsATie) {
    const struct {
        int patience, fuel;
        std::uint8_t ends;  // at home: counted as towed, or as gave up
    } cases[] = {{50, 10, VS_OUT_OF_GAS}, {10, 50, VS_GAVE_UP}, {10, 10, VS_OUT_OF_GAS}};
    for (const auto& c : cases) {
        auto sim = reset_town();
        // Car 0 stands out of fuel in front of the house, holding the lane car 1 needs.
        place_car(*sim, 0, VS_OUT_OF_GAS, {1, 0}, DIR_Y_DEC, {1, 1}).fuel = -1;
        Vehicle& v = sim->vehicles.vehicles[1];
        v = {VS_EVACUATING, v.home, v.pos,  v.prevPos, v.heading, v.prevHeading,
             c.patience,    c.fuel, v.door, v.onExit};
        index_vehicles(sim->vehicles);
        steps(*sim, 60);
        EXPECT_TRUE(v.pos == v.home && v.state == c.ends) << c.patience << "/" << c.fuel;
    }
}

}  // namespace
