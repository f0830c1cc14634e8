#include "sim/grid.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

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
