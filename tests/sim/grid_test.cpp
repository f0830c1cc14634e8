#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "sim/grid.h"
#include "support/town.h"

namespace {

std::uint8_t layout(int x, int y) { return MapLayoutTable[y * GRID_W + x]; }

TEST(MapLayout, EveryHouseOpensNorthOntoAFourWayRoad) {
    int houses = 0;
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x)
            if (layout(x, y) == LAYOUT_HOUSE) {
                ++houses;
                ASSERT_GE(y, 1);
                EXPECT_EQ(layout(x, y - 1), LAYOUT_ROAD_ANY) << "house at " << x << "," << y;
            }
    EXPECT_EQ(houses, 360);
}

TEST(MapLayout, RiverIsCrossedOnlyOnTheBridgeRowsAndAtTheExit) {
    for (int y = 0; y < GRID_H; ++y) {
        const bool bridge = y == 0 || y == 6 || y == 10 || y == 16 || y == 20 || y == 26;
        for (int x : {19, 20}) {
            if (bridge)
                EXPECT_EQ(layout(x, y), LAYOUT_ROAD_X) << x << "," << y;
            else if (y == 29)
                EXPECT_EQ(layout(x, y), LAYOUT_ROAD_X) << x << "," << y;
            else
                EXPECT_EQ(layout(x, y), LAYOUT_BLOCKED) << x << "," << y;
        }
    }
    EXPECT_EQ(layout(ExitCell.x, ExitCell.y), LAYOUT_ROAD_X);
    // The exit is reached from (19, 29), entered from (18, 29), or from (21, 29).
    EXPECT_EQ(layout(18, 29), LAYOUT_ROAD_ANY);
    EXPECT_EQ(layout(21, 29), LAYOUT_ROAD_ANY);
}

TEST(RoadGrid, PopulationParksTwoCarsInEveryHouseAndEmptiesEveryRoad) {
    auto sim = reset_town();
    int parked = 0, empty = 0;
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x) {
            const GridCell& c = sim->grid.cells[y][x];
            EXPECT_EQ(c.layout, layout(x, y));
            if (c.layout == LAYOUT_HOUSE) {
                EXPECT_EQ(c.traffic, 2);
                parked += c.traffic;
            } else {
                EXPECT_EQ(c.traffic, 0);
                ++empty;
            }
        }
    EXPECT_EQ(parked, 720);
    EXPECT_EQ(empty, 840);
}

TEST(RoadGrid, PopulationDiscardsThePreviousRunsTraffic) {
    auto sim = reset_town();
    for (int i = 0; i < 400; ++i) sim_tick(*sim);
    populate_town(sim->grid, sim->vehicles, sim->rng);
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x)
            EXPECT_EQ(sim->grid.cells[y][x].traffic, layout(x, y) == LAYOUT_HOUSE ? 2 : 0);
}

TEST(RoadGrid, TrafficBitsAreFlagsAndLeaveTheLayoutAlone) {
    RoadGrid grid{};
    const CellPos p{3, 4};
    cell_at(grid, p).layout = LAYOUT_ROAD_ANY;
    set_traffic(grid, p, DIR_X_INC);
    set_traffic(grid, p, DIR_X_INC);
    EXPECT_EQ(cell_at(grid, p).traffic, DIR_X_INC);
    set_traffic(grid, p, DIR_Y_DEC);
    EXPECT_EQ(cell_at(grid, p).traffic, DIR_X_INC | DIR_Y_DEC);
    clear_traffic(grid, p, DIR_X_DEC);  // not set: no change
    EXPECT_EQ(cell_at(grid, p).traffic, DIR_X_INC | DIR_Y_DEC);
    clear_traffic(grid, p, DIR_X_INC);
    EXPECT_EQ(cell_at(grid, p).traffic, DIR_Y_DEC);
    EXPECT_EQ(cell_at(grid, p).layout, LAYOUT_ROAD_ANY);
    EXPECT_EQ(grid.cells[4][4].traffic, 0);  // neighbours untouched
}

TEST(CellGeometry, SameCellAndDistance) {
    EXPECT_EQ(same_cell(2, 3, 2, 3), 1);
    EXPECT_EQ(same_cell(2, 3, 3, 2), 0);
    EXPECT_EQ(cell_distance(5, 7, 5, 7), 0.0);
    EXPECT_EQ(cell_distance(0, 0, 3, 4), 5.0);
    EXPECT_EQ(cell_distance(3, 4, 0, 0), 5.0);
    // The result stays in double precision: sqrt(2) is not rounded to a float.
    EXPECT_EQ(cell_distance(0, 0, 1, 1), std::sqrt(2.0));
    EXPECT_NE(cell_distance(0, 0, 1, 1), static_cast<double>(static_cast<float>(std::sqrt(2.0))));
}

TEST(CellGeometry, DistanceAcrossTheWhole32BitRangeDoesNotOverflow) {
    // The difference does not fit 32 bits; it is formed in 64 and rounded to a float.
    const double d = cell_distance(INT_MIN, 0, INT_MAX, 0);
    EXPECT_EQ(d, 4294967296.0);
    EXPECT_EQ(cell_distance(0, INT_MIN, 0, INT_MAX), d);
}

}  // namespace
