#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "support/town.h"

namespace {

std::uint8_t layout(int x, int y) {
    return MapLayoutTable[y * GRID_W + x];
}

TEST(RoadGrid, TheTownAsBuiltAndPopulated) {
    auto sim = reset_town();
    sim_tick(*sim);  // traffic of an earlier run is discarded by the next population
    populate_town(sim->grid, sim->vehicles, sim->rng);
    int parked = 0, roads = 0;
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x) {
            const GridCell& c = cell_at(sim->grid, {x, y});
            ASSERT_EQ(c.layout, layout(x, y));
            if (c.layout == LAYOUT_HOUSE) {
                EXPECT_EQ(layout(x, y - 1), LAYOUT_ROAD_ANY)
                    << "every house opens north onto a road";
                EXPECT_EQ(c.traffic, 2);
                parked += c.traffic;
            } else {
                EXPECT_EQ(c.traffic, 0);
                ++roads;
            }
            // The river (columns 19, 20) is crossed only on the bridge rows and at the exit row.
            const bool bridge =
                y == 0 || y == 6 || y == 10 || y == 16 || y == 20 || y == 26 || y == 29;
            if (x == 19 || x == 20) {
                EXPECT_EQ(c.layout, bridge ? LAYOUT_ROAD_X : LAYOUT_BLOCKED) << x << "," << y;
            }
        }
    EXPECT_EQ(parked, 720);
    EXPECT_EQ(roads, 840);
    const VehicleTally t = tally_vehicles(sim->vehicles);
    EXPECT_EQ(t.notEvacuated, 720);
    EXPECT_EQ(tally_total(t), 720);
}

TEST(RoadGrid, TrafficBitsAreFlagsAndLeaveTheLayoutAlone) {
    RoadGrid grid = blank_grid();
    const CellPos p{3, 4};
    cell_at(grid, p).layout = LAYOUT_ROAD_ANY;
    set_traffic(grid, p, DIR_X_INC);
    set_traffic(grid, p, DIR_X_INC | DIR_Y_DEC);
    clear_traffic(grid, p, DIR_X_DEC);  // not set: no change
    EXPECT_EQ(cell_at(grid, p).traffic, DIR_X_INC | DIR_Y_DEC);
    clear_traffic(grid, p, DIR_X_INC);
    EXPECT_EQ(cell_at(grid, p).traffic, DIR_Y_DEC);
    EXPECT_EQ(cell_at(grid, p).layout, LAYOUT_ROAD_ANY);
}

TEST(CellGeometry, SameCellAndDistanceInDoublePrecisionAcrossThe32BitRange) {
    EXPECT_EQ(same_cell(2, 3, 2, 3), 1);
    EXPECT_EQ(same_cell(2, 3, 3, 2), 0);
    EXPECT_EQ(cell_distance(5, 7, 5, 7), 0.0);
    EXPECT_EQ(cell_distance(3, 4, 0, 0), 5.0);
    EXPECT_EQ(cell_distance(0, 0, 1, 1), std::sqrt(2.0));  // not rounded to a float
    // The difference does not fit 32 bits: formed in 64, then rounded to a float.
    EXPECT_EQ(cell_distance(INT_MIN, 0, INT_MAX, 0), 4294967296.0);
}

}  // namespace
