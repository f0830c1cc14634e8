#include "sim/route.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/town.h"

namespace {

// A move's price: distance from the entered cell to the target, plus one for a
// car ahead in the same lane, rounded once to a float.
float price(CellPos c, CellPos t, int ahead = 0) {
    return static_cast<float>(std::hypot(double(t.x - c.x), double(t.y - c.y)) + ahead);
}

struct Costs {
    float yDec, xDec, xInc, yInc;
};
Costs costs(const Simulation& sim, const Vehicle& v, CellPos t) {
    return {cost_y_dec(sim.grid, v, t), cost_x_dec(sim.grid, v, t), cost_x_inc(sim.grid, v, t),
            cost_y_inc(sim.grid, v, t)};
}

TEST(RouteChoice, TheFirstCarLeavesNorthOneCarPerTickAndTurnsTowardsTheExit) {
    auto sim = reset_town();
    Vehicle* v = sim->vehicles.vehicles.data();
    v[0].state = v[1].state = VS_EVACUATING;
    index_vehicles(sim->vehicles);
    // At home only north is open (the house's road is there even to the south).
    Costs c = costs(*sim, v[0], ExitCell);
    EXPECT_NEAR(c.yDec, 34.67, 0.01);
    EXPECT_TRUE(c.xDec == NO_WAY_COST && c.xInc == NO_WAY_COST && c.yInc == NO_WAY_COST);
    step_all_vehicles(sim->grid, sim->vehicles);
    EXPECT_TRUE(v[0].pos == (CellPos{1, 0}) && v[0].prevPos == (CellPos{1, 1}) &&
                v[0].heading == DIR_Y_DEC);
    EXPECT_EQ(v[1].pos, v[1].home);  // lane 1 of (1, 0) is taken: the second car waits
    EXPECT_TRUE(traffic_at(*sim, {1, 1}) == 1 && traffic_at(*sim, {1, 0}) == DIR_Y_DEC);
    // From (1, 0): east is nearer than west, the house behind is no way, north is off the grid.
    c = costs(*sim, v[0], ExitCell);
    EXPECT_EQ(c.xInc, price({2, 0}, ExitCell));
    EXPECT_EQ(c.xDec, price({0, 0}, ExitCell));
    EXPECT_TRUE(c.yDec == NO_WAY_COST && c.yInc == NO_WAY_COST);
    step_all_vehicles(sim->grid, sim->vehicles);
    EXPECT_TRUE(v[0].pos == (CellPos{2, 0}) && v[0].heading == DIR_X_INC &&
                v[1].pos == (CellPos{1, 0}));
    EXPECT_EQ(traffic_at(*sim, {1, 1}), 0);
}

TEST(RouteChoice, HousesAreEnteredOnlyByTheirOwnCarsFromTheRoadInFront) {
    auto sim = reset_town();
    const CellPos home{8, 3};
    Vehicle& back =
        place_car(*sim, car_of_house(*sim, home), VS_GAVE_UP, {8, 4}, DIR_X_DEC, {9, 4});
    EXPECT_EQ(cost_y_dec(sim->grid, back, home), NO_WAY_COST);  // from behind: no way
    Vehicle& front =
        place_car(*sim, car_of_house(*sim, home, 1), VS_GAVE_UP, {8, 2}, DIR_X_DEC, {9, 2});
    EXPECT_EQ(cost_y_inc(sim->grid, front, home), 0.0f);
    step_vehicle(sim->grid, front);
    // One car back in, the other still out.
    EXPECT_TRUE(front.pos == home && traffic_at(*sim, home) == 1 && traffic_at(*sim, {8, 2}) == 0);
    // Nobody enters someone else's house, evacuating or returning.
    Vehicle& leaving = place_car(*sim, 0, VS_EVACUATING, {3, 2}, DIR_X_INC, {2, 2});
    EXPECT_EQ(cost_y_inc(sim->grid, leaving, ExitCell), NO_WAY_COST);
    Vehicle& returning =
        place_car(*sim, car_of_house(*sim, {4, 1}), VS_GAVE_UP, {3, 0}, DIR_X_INC, {2, 0});
    EXPECT_EQ(cost_y_inc(sim->grid, returning, returning.home), NO_WAY_COST);
}

TEST(RouteChoice, OneCarPerLaneAndACarAheadInTheSameLaneCostsOne) {
    auto sim = reset_town();
    place_car(*sim, 0, VS_EVACUATING, {12, 4}, DIR_X_INC, {11, 4});
    Vehicle& follower = place_car(*sim, 2, VS_EVACUATING, {11, 4}, DIR_X_INC, {10, 4});
    Vehicle& behind = place_car(*sim, 4, VS_EVACUATING, {10, 4}, DIR_Y_INC, {10, 3});
    EXPECT_EQ(cost_x_inc(sim->grid, follower, ExitCell), NO_WAY_COST);  // lane 8 of (12, 4) taken
    place_car(*sim, 2, VS_EVACUATING, {30, 0}, DIR_X_INC, {29, 0});     // the follower is gone
    EXPECT_EQ(cost_x_inc(sim->grid, behind, ExitCell), price({11, 4}, ExitCell, 1));
    place_car(*sim, 0, VS_EVACUATING, {12, 4}, DIR_X_DEC, {13, 4});  // ahead, but the other way
    EXPECT_EQ(cost_x_inc(sim->grid, behind, ExitCell), price({11, 4}, ExitCell));
    Vehicle& crossing = place_car(*sim, 6, VS_GAVE_UP, {12, 5}, DIR_Y_DEC, {12, 6});
    step_vehicle(sim->grid, crossing);  // shares (12, 4) with the west-bound car
    EXPECT_EQ(traffic_at(*sim, {12, 4}), DIR_X_DEC | DIR_Y_DEC);
}

TEST(RouteChoice, TiesGoToTheEarlierMoveUnlessTheLookAheadBreaksThem) {
    // On the bridge (20, 26) west and east are equally near the exit; west comes first.
    for (bool westBusy : {false, true}) {
        auto sim = reset_town();
        Vehicle& v = place_car(*sim, 0, VS_EVACUATING, {20, 26}, DIR_Y_DEC, {20, 27});
        if (westBusy) place_car(*sim, 2, VS_GAVE_UP, {18, 26}, DIR_X_DEC, {19, 26});
        step_vehicle(sim->grid, v);
        EXPECT_EQ(v.pos, (CellPos{westBusy ? 21 : 19, 26}));
    }
}

TEST(RouteChoice, TurnsBackOnlyWhenBoxedInAndWaitsWhenNothingIsOpen) {
    // (6, 8) is a one-lane north-south road between blocked cells; the car came from the south.
    for (int blocked = 0; blocked <= 2; ++blocked) {
        auto sim = reset_town();
        Vehicle& v = place_car(*sim, 0, VS_EVACUATING, {6, 8}, DIR_Y_DEC, {6, 9});
        EXPECT_EQ(cost_y_inc(sim->grid, v, ExitCell), BACKTRACK_PENALTY);
        if (blocked >= 1) place_car(*sim, 2, VS_OUT_OF_GAS, {6, 7}, DIR_Y_DEC, {6, 8});
        if (blocked >= 2) place_car(*sim, 4, VS_OUT_OF_GAS, {6, 9}, DIR_Y_INC, {6, 8});
        step_vehicle(sim->grid, v);
        const CellPos expected[3] = {{6, 7}, {6, 9}, {6, 8}};
        EXPECT_EQ(v.pos, expected[blocked]) << blocked;
        EXPECT_EQ(v.prevPos, (blocked == 2 ? CellPos{6, 9} : CellPos{6, 8}))
            << blocked;  // kept when stuck
    }
}

TEST(ExitCell, EvacuatingCarsShareItsLanesAndALeavingCarClearsTheSharedLane) {
    auto sim = reset_town();
    // A car that gave up crosses the exit eastwards while lane 8 is free...
    Vehicle& quitter =
        place_car(*sim, car_of_house(*sim, {22, 27}), VS_GAVE_UP, {19, 29}, DIR_X_INC, {18, 29});
    step_vehicle(sim->grid, quitter);
    ASSERT_EQ(quitter.pos, ExitCell);
    // ...evacuating cars arrive in the same lane at price 0, and their cars make (19, 29) dearer...
    for (int i : {0, 2}) {
        Vehicle& v = place_car(*sim, i, VS_EVACUATING, {19, 29}, DIR_X_INC, {18, 29});
        EXPECT_EQ(cost_x_inc(sim->grid, v, ExitCell), 0.0f);
        step_vehicle(sim->grid, v);
        EXPECT_EQ(v.pos, ExitCell);
    }
    Vehicle& next = place_car(*sim, 4, VS_EVACUATING, {18, 29}, DIR_Y_INC, {18, 28});
    EXPECT_EQ(cost_x_inc(sim->grid, next, ExitCell), price({19, 29}, ExitCell, 1));
    // ...but a car that gave up is refused in a taken lane like anywhere else.
    Vehicle& other = place_car(*sim, 6, VS_GAVE_UP, {19, 29}, DIR_X_INC, {18, 29});
    EXPECT_EQ(cost_x_inc(sim->grid, other, other.home), NO_WAY_COST);
    // When the first car drives on, lane 8 is clear although two cars still stand there.
    step_vehicle(sim->grid, quitter);
    EXPECT_EQ(quitter.pos, (CellPos{21, 29}));
    EXPECT_EQ(traffic_at(*sim, ExitCell), 0);
    EXPECT_TRUE(validate_simulation(*sim).ok) << validate_simulation(*sim).message;
}

}  // namespace
