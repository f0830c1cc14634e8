#include <gtest/gtest.h>

#include <cmath>

#include "sim/route.h"
#include "support/town.h"

namespace {

// A move's price: the distance from the entered cell to the target, plus one
// for a car ahead in the same lane, rounded once to a float.
float distance_price(CellPos c, CellPos t, int ahead = 0) {
    const int dx = t.x - c.x, dy = t.y - c.y;
    return static_cast<float>(std::sqrt(static_cast<double>(dx * dx + dy * dy)) + ahead);
}

TEST(RouteChoice, TheFirstCarLeavesNorthAndTurnsTowardsTheExit) {
    auto sim = reset_town();
    Vehicle& v = sim->vehicles.vehicles[0];
    v.state = VS_EVACUATING;
    // At home only the move north is open; the look-ahead cell (1, -1) is off the grid.
    EXPECT_EQ(cost_y_dec(sim->grid, v, ExitCell), distance_price({1, 0}, ExitCell));
    EXPECT_NEAR(cost_y_dec(sim->grid, v, ExitCell), 34.67, 0.01);
    EXPECT_EQ(cost_x_dec(sim->grid, v, ExitCell), NO_WAY_COST);
    EXPECT_EQ(cost_x_inc(sim->grid, v, ExitCell), NO_WAY_COST);
    EXPECT_EQ(cost_y_inc(sim->grid, v, ExitCell), NO_WAY_COST);  // (1, 2) is a road, but the car is at home

    step_vehicle(sim->grid, v);
    EXPECT_EQ(v.pos, (CellPos{1, 0}));
    EXPECT_EQ(v.prevPos, (CellPos{1, 1}));
    EXPECT_EQ(v.heading, DIR_Y_DEC);
    EXPECT_EQ(traffic_at(*sim, {1, 1}), 1);
    EXPECT_EQ(traffic_at(*sim, {1, 0}), DIR_Y_DEC);

    // From (1, 0): east is nearer the exit than west; back into a house that is
    // not the target is no way; north is off the grid.
    EXPECT_NEAR(cost_x_inc(sim->grid, v, ExitCell), 34.13, 0.01);
    EXPECT_NEAR(cost_x_dec(sim->grid, v, ExitCell), 35.23, 0.01);
    EXPECT_EQ(cost_y_inc(sim->grid, v, ExitCell), NO_WAY_COST);
    EXPECT_EQ(cost_y_dec(sim->grid, v, ExitCell), NO_WAY_COST);
    step_vehicle(sim->grid, v);
    EXPECT_EQ(v.pos, (CellPos{2, 0}));
    EXPECT_EQ(v.heading, DIR_X_INC);
    EXPECT_EQ(v.prevHeading, DIR_Y_DEC);
    EXPECT_EQ(traffic_at(*sim, {1, 0}), 0);
    EXPECT_EQ(traffic_at(*sim, {2, 0}), DIR_X_INC);
}

TEST(RouteChoice, TheSecondCarOfAHouseWaitsUntilTheFirstHasMovedOn) {
    auto sim = reset_town();
    sim->vehicles.vehicles[0].state = VS_EVACUATING;
    sim->vehicles.vehicles[1].state = VS_EVACUATING;
    step_all_vehicles(sim->grid, sim->vehicles);
    EXPECT_EQ(sim->vehicles.vehicles[0].pos, (CellPos{1, 0}));
    EXPECT_EQ(sim->vehicles.vehicles[1].pos, (CellPos{1, 1}));  // lane 1 of (1, 0) is taken
    EXPECT_EQ(sim->vehicles.vehicles[1].prevPos, (CellPos{1, 1}));
    EXPECT_EQ(traffic_at(*sim, {1, 1}), 1);
    step_all_vehicles(sim->grid, sim->vehicles);
    EXPECT_EQ(sim->vehicles.vehicles[0].pos, (CellPos{2, 0}));
    EXPECT_EQ(sim->vehicles.vehicles[1].pos, (CellPos{1, 0}));
    EXPECT_EQ(traffic_at(*sim, {1, 1}), 0);
}

TEST(RouteChoice, AReturningCarEntersItsHouseOnlyFromTheRoadInFront) {
    auto sim = reset_town();
    const CellPos home{8, 3};
    const int i = car_of_house(*sim, home);
    // From (x, y-1), moving +y: price 0, and the house count goes back up.
    Vehicle& v = place_car(*sim, i, VS_GAVE_UP, {8, 2}, DIR_X_DEC, {9, 2});
    EXPECT_EQ(cost_y_inc(sim->grid, v, v.home), 0.0f);
    step_vehicle(sim->grid, v);
    EXPECT_EQ(v.pos, home);
    EXPECT_EQ(v.heading, DIR_Y_INC);
    EXPECT_EQ(traffic_at(*sim, home), 2);
    EXPECT_EQ(traffic_at(*sim, {8, 2}), 0);
    EXPECT_EQ(tally_vehicles(sim->vehicles).gaveUp, 1);

    // From the road behind the house, (x, y+1), the house is no way.
    auto other = reset_town();
    Vehicle& w = place_car(*other, i, VS_GAVE_UP, {8, 4}, DIR_X_DEC, {9, 4});
    EXPECT_EQ(cost_y_dec(other->grid, w, w.home), NO_WAY_COST);
    step_vehicle(other->grid, w);
    EXPECT_NE(w.pos, home);
}

TEST(RouteChoice, NoCarEntersAHouseThatIsNotItsTarget) {
    auto sim = reset_town();
    // A car on the road north of a row of houses, evacuating: the houses south of it
    // are nearer the exit, yet never entered.
    Vehicle& v = place_car(*sim, car_of_house(*sim, {2, 1}), VS_EVACUATING, {3, 2}, DIR_X_INC, {2, 2});
    EXPECT_EQ(cost_y_inc(sim->grid, v, ExitCell), NO_WAY_COST);  // (3, 3) is a house
    // A car that gave up, heading for a different house, passes by its neighbour.
    Vehicle& w = place_car(*sim, car_of_house(*sim, {4, 1}), VS_GAVE_UP, {3, 0}, DIR_X_INC, {2, 0});
    EXPECT_EQ(cost_y_inc(sim->grid, w, w.home), NO_WAY_COST);  // (3, 1) is someone else's house
}

TEST(RouteChoice, LanesHoldOneCarPerHeading) {
    auto sim = reset_town();
    // Two cars east-bound on row 0: the second may not enter the first's cell,
    // but a car going another way may share it.
    place_car(*sim, 0, VS_EVACUATING, {5, 0}, DIR_X_INC, {4, 0});
    Vehicle& follower = place_car(*sim, 2, VS_EVACUATING, {4, 0}, DIR_X_INC, {3, 0});
    EXPECT_EQ(cost_x_inc(sim->grid, follower, ExitCell), NO_WAY_COST);
    Vehicle& crossing = place_car(*sim, 4, VS_GAVE_UP, {6, 0}, DIR_X_DEC, {7, 0});
    EXPECT_LT(cost_x_dec(sim->grid, crossing, crossing.home), NO_WAY_COST);
    step_vehicle(sim->grid, crossing);
    EXPECT_EQ(crossing.pos, (CellPos{5, 0}));
    EXPECT_EQ(traffic_at(*sim, {5, 0}), DIR_X_INC | DIR_X_DEC);
}

TEST(RouteChoice, ACarAheadInTheSameLaneAddsOneAndOtherLanesAddNothing) {
    auto sim = reset_town();
    Vehicle& v = place_car(*sim, 0, VS_EVACUATING, {10, 4}, DIR_X_INC, {9, 4});
    const float free = cost_x_inc(sim->grid, v, ExitCell);
    EXPECT_EQ(free, distance_price({11, 4}, ExitCell));
    place_car(*sim, 2, VS_GAVE_UP, {12, 4}, DIR_X_DEC, {13, 4});
    EXPECT_EQ(cost_x_inc(sim->grid, v, ExitCell), free);
    place_car(*sim, 4, VS_EVACUATING, {12, 4}, DIR_X_INC, {11, 4});
    EXPECT_EQ(cost_x_inc(sim->grid, v, ExitCell), distance_price({11, 4}, ExitCell, 1));
}

TEST(RouteChoice, TiesGoToTheEarlierMoveAndTheLookAheadCanBreakThem) {
    // On the bridge (20, 26) west and east are equally near the exit.
    auto sim = reset_town();
    Vehicle& v = place_car(*sim, 0, VS_EVACUATING, {20, 26}, DIR_Y_DEC, {20, 27});
    ASSERT_EQ(cost_x_dec(sim->grid, v, ExitCell), cost_x_inc(sim->grid, v, ExitCell));
    Simulation copy = *sim;
    step_vehicle(copy.grid, copy.vehicles.vehicles[0]);
    EXPECT_EQ(copy.vehicles.vehicles[0].pos, (CellPos{19, 26}));

    // A west-bound car one cell beyond (19, 26) makes west dearer.
    place_car(*sim, 2, VS_GAVE_UP, {18, 26}, DIR_X_DEC, {19, 26});
    step_vehicle(sim->grid, v);
    EXPECT_EQ(v.pos, (CellPos{21, 26}));
}

TEST(RouteChoice, TurnsBackOnlyWhenBoxedInAndWaitsWhenNothingIsOpen) {
    // (6, 8) is a one-lane north-south road between blocked cells.
    auto sim = reset_town();
    Vehicle& v = place_car(*sim, 0, VS_EVACUATING, {6, 8}, DIR_Y_DEC, {6, 9});
    // Back south is nearer the exit but costs the penalty: the car carries on north.
    EXPECT_EQ(cost_y_inc(sim->grid, v, ExitCell), BACKTRACK_PENALTY);
    EXPECT_EQ(cost_x_dec(sim->grid, v, ExitCell), NO_WAY_COST);
    EXPECT_EQ(cost_x_inc(sim->grid, v, ExitCell), NO_WAY_COST);
    {
        Simulation copy = *sim;
        step_vehicle(copy.grid, copy.vehicles.vehicles[0]);
        EXPECT_EQ(copy.vehicles.vehicles[0].pos, (CellPos{6, 7}));
    }
    // North-bound lane ahead taken: the only way is back.
    place_car(*sim, 2, VS_OUT_OF_GAS, {6, 7}, DIR_Y_DEC, {6, 8});
    {
        Simulation copy = *sim;
        Vehicle& c = copy.vehicles.vehicles[0];
        step_vehicle(copy.grid, c);
        EXPECT_EQ(c.pos, (CellPos{6, 9}));
        EXPECT_EQ(c.heading, DIR_Y_INC);
        EXPECT_EQ(c.prevPos, (CellPos{6, 8}));
    }
    // South-bound lane behind taken too: it waits, spending fuel, and remembers its last move.
    place_car(*sim, 4, VS_OUT_OF_GAS, {6, 9}, DIR_Y_INC, {6, 8});
    const int fuel = v.fuel;
    step_vehicle(sim->grid, v);
    EXPECT_EQ(v.pos, (CellPos{6, 8}));
    EXPECT_EQ(v.prevPos, (CellPos{6, 9}));
    EXPECT_EQ(v.heading, DIR_Y_DEC);
    EXPECT_EQ(v.fuel, fuel - 1);
}

TEST(ExitCell, EvacuatingCarsShareItsLanesAndOthersAreRefused) {
    auto sim = reset_town();
    Vehicle& first = place_car(*sim, 0, VS_EVACUATING, {19, 29}, DIR_X_INC, {18, 29});
    step_vehicle(sim->grid, first);
    ASSERT_EQ(first.pos, ExitCell);
    EXPECT_EQ(traffic_at(*sim, ExitCell), DIR_X_INC);

    // A second evacuating car from the same side arrives at price 0 although lane 8 is taken.
    Vehicle& second = place_car(*sim, 2, VS_EVACUATING, {19, 29}, DIR_X_INC, {18, 29});
    EXPECT_EQ(cost_x_inc(sim->grid, second, ExitCell), 0.0f);
    // The look-ahead does not treat the exit specially: its cars make (19, 29) dearer.
    Vehicle& third = place_car(*sim, 6, VS_EVACUATING, {18, 29}, DIR_Y_INC, {18, 28});
    EXPECT_EQ(cost_x_inc(sim->grid, third, ExitCell), NO_WAY_COST);  // second holds lane 8 of (19, 29)
    step_vehicle(sim->grid, second);
    EXPECT_EQ(second.pos, ExitCell);
    EXPECT_EQ(cost_x_inc(sim->grid, third, ExitCell), static_cast<float>(1.0 + 1.0));

    // A car that gave up treats the exit as an ordinary road: lane 8 is taken.
    Vehicle& quitter = place_car(*sim, 4, VS_GAVE_UP, {19, 29}, DIR_X_INC, {18, 29});
    EXPECT_EQ(cost_x_inc(sim->grid, quitter, quitter.home), NO_WAY_COST);
}

TEST(ExitCell, ACarLeavingTheExitClearsItsLaneForEveryoneSharingIt) {
    auto sim = reset_town();
    // A car that gave up crosses the exit eastwards while lane 8 is free...
    Vehicle& quitter = place_car(*sim, car_of_house(*sim, {22, 27}), VS_GAVE_UP, {19, 29}, DIR_X_INC, {18, 29});
    step_vehicle(sim->grid, quitter);
    ASSERT_EQ(quitter.pos, ExitCell);
    // ...an evacuating car arrives in the same lane...
    Vehicle& arrival = place_car(*sim, 0, VS_EVACUATING, {19, 29}, DIR_X_INC, {18, 29});
    step_vehicle(sim->grid, arrival);
    ASSERT_EQ(arrival.pos, ExitCell);
    EXPECT_EQ(traffic_at(*sim, ExitCell), DIR_X_INC);
    // ...and when the first drives on, the lane is clear although the arrival still stands there.
    step_vehicle(sim->grid, quitter);
    EXPECT_EQ(quitter.pos, (CellPos{21, 29}));
    EXPECT_EQ(traffic_at(*sim, ExitCell), 0);
    EXPECT_EQ(arrival.pos, ExitCell);
    EXPECT_TRUE(validate_simulation(*sim).ok) << validate_simulation(*sim).message;
}

}  // namespace
