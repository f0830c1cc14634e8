// The three layers as they appear on the screen: the map upright, the right car
// frame on every occupied cell, the storm placed, turned and sized, and pure
// red transparent only in the sprites.
#include <cmath>
#include <limits>

#include "gl_watch.h"
#include "scene_fixture.h"
#include "sim/grid.h"

namespace {

using MapLayer = SceneTest;
using CarLayer = SceneTest;
using StormLayer = SceneTest;

TEST_F(MapLayer, EveryCellShowsItsOwnPartOfThePictureUpright) {
    write_standard_pictures();
    init_all();
    draw();
    // The initial camera on a 4:3 view shows exactly the town, 8 pixels a cell.
    for (int y = 0; y < GRID_H; ++y) {
        for (int x = 0; x < GRID_W; ++x) {
            int sx = -1;
            int sy = -1;
            const Rgb c = at(x + 0.5, y + 0.5);
            ASSERT_TRUE(map_cell_of(c, sx, sy)) << "cell " << x << "," << y;
            EXPECT_EQ(sx, x);
            EXPECT_EQ(sy, y);
        }
    }
    // The picture's bottom row lies along the bottom of the screen, its left
    // column along the left edge, and the exit (20, 29) in the middle of the top
    // row of cells.
    EXPECT_TRUE(same_colour(pixel(0, 0), map_cell_colour(0, 0)));
    EXPECT_TRUE(same_colour(pixel(VIEW_W - 1, VIEW_H - 1), map_cell_colour(39, 29)));
    EXPECT_TRUE(
        same_colour(pixel(20 * 8 + 4, VIEW_H - 4), map_cell_colour(ExitCell.x, ExitCell.y)));
}

TEST_F(MapLayer, PictureRowsOfAnyWidthAreTakenUpWithoutShear) {
    // Two pixels a row: 6 bytes, not a multiple of 4. Each pixel is one
    // quadrant of the town, its centre exactly on the texel's centre.
    const Rgb quadrant[2][2] = {{{200, 40, 40}, {40, 200, 40}}, {{40, 40, 200}, {200, 200, 40}}};
    write_picture("map.bmp", 2, 2, [&](int x, int y) { return quadrant[y][x]; });
    init_map(setup());
    draw();
    EXPECT_TRUE(same_colour(at(10, 7.5), quadrant[0][0]));
    EXPECT_TRUE(same_colour(at(30, 7.5), quadrant[0][1]));
    EXPECT_TRUE(same_colour(at(10, 22.5), quadrant[1][0]));
    EXPECT_TRUE(same_colour(at(30, 22.5), quadrant[1][1]));
}

TEST_F(MapLayer, PureRedInTheMapIsDrawnRed) {
    write_picture("map.bmp", 400, 300, [](int x, int y) {
        return x / 10 == 5 && y / 10 == 7 ? PURE_RED : map_cell_colour(x / 10, y / 10);
    });
    init_map(setup());
    draw();
    EXPECT_TRUE(same_colour(at(5.5, 7.5), PURE_RED));
    EXPECT_TRUE(same_colour(at(6.5, 7.5), map_cell_colour(6, 7)));
}

TEST_F(CarLayer, HousesShowTheParkedFrameWhateverTheirCountAndEmptyCellsNothing) {
    write_standard_pictures();
    init_all();
    set_cell(3, 4, LAYOUT_HOUSE, 1);
    set_cell(5, 4, LAYOUT_HOUSE, 2);
    set_cell(7, 4, LAYOUT_HOUSE, 5);
    set_cell(9, 4, LAYOUT_HOUSE, 0);      // everyone gone
    set_cell(11, 4, LAYOUT_ROAD_ANY, 0);  // empty road
    draw();
    for (int x : {3, 5, 7}) {
        EXPECT_TRUE(same_colour(at(x + 0.5, 4.5), car_frame_colour(1))) << "house at " << x;
    }
    EXPECT_TRUE(same_colour(at(9.5, 4.5), map_cell_colour(9, 4)));
    EXPECT_TRUE(same_colour(at(11.5, 4.5), map_cell_colour(11, 4)));
    // A sprite covers its own cell only.
    EXPECT_TRUE(same_colour(at(4.5, 4.5), map_cell_colour(4, 4)));
    EXPECT_TRUE(same_colour(at(3.5, 5.5), map_cell_colour(3, 5)));
}

TEST_F(CarLayer, RoadCellsShowTheFrameNumberedByTheirHeadings) {
    write_standard_pictures();
    init_all();
    for (int k = 1; k <= 15; ++k)
        set_cell(2 * k, 10, LAYOUT_ROAD_ANY, static_cast<std::uint8_t>(k));
    draw();
    for (int k = 1; k <= 15; ++k) {
        // Frame k is the sheet's columns 20k..20k+19 in its bottom 20 rows.
        EXPECT_TRUE(same_colour(at(2 * k + 0.5, 10.5), car_sheet_pixel(20 * k + 10, 10)))
            << "traffic " << k;
    }
}

TEST_F(CarLayer, HeadingsNorthAndEastShowTheFrameFromColumns180To199) {
    // Every column outside 180..199 of the bottom rows is one colour, so any
    // other part of the sheet would show up.
    const Rgb frame9 = {30, 160, 210};
    write_standard_pictures();
    write_picture("car.bmp", 320, 20, [&](int x, int) {
        return x >= 180 && x <= 199 ? frame9 : Rgb{250, 120, 20};
    });
    init_all();
    set_cell(12, 12, LAYOUT_ROAD_ANY, DIR_Y_DEC | DIR_X_INC);
    draw();
    EXPECT_TRUE(same_colour(at(12.5, 12.5), frame9));
    EXPECT_TRUE(same_colour(at(12.2, 12.2), frame9));
    EXPECT_TRUE(same_colour(at(12.8, 12.8), frame9));
}

TEST_F(CarLayer, PureRedOfTheSheetShowsTheMapBeneath) {
    // Frame 1 with a pure red middle (columns 25..34, rows 5..14) in a rim of its own colour.
    write_standard_pictures();
    write_picture("car.bmp", CAR_SHEET_W, CAR_SHEET_H, [](int x, int y) {
        if (x >= 25 && x <= 34 && y >= 5 && y <= 14) return PURE_RED;
        return car_sheet_pixel(x, y);
    });
    init_all();
    set_cell(6, 6, LAYOUT_HOUSE, 2);
    camera = {6.5f, 6.5f, 20.0f};  // 24 pixels a cell
    draw();
    EXPECT_TRUE(same_colour(at(6.5, 6.5), map_cell_colour(6, 6)));
    EXPECT_TRUE(same_colour(at(6.1, 6.5), car_frame_colour(1)));
    EXPECT_TRUE(same_colour(at(6.5, 6.9), car_frame_colour(1)));
}

TEST_F(CarLayer, ATrafficByteBeyondTheFramesDrawsNoSprite) {
    write_standard_pictures();
    init_all();
    draw();
    const std::vector<std::uint8_t> empty = frame;
    // 100 and 101 are the numbers of the map and storm quads.
    set_cell(4, 4, LAYOUT_ROAD_ANY, 100);
    set_cell(8, 4, LAYOUT_BLOCKED, 101);
    set_cell(12, 4, LAYOUT_ROAD_X, 16);
    draw();
    EXPECT_EQ(frame, empty);
}

TEST_F(StormLayer, TheParkedStormLiesOffTheMap) {
    write_standard_pictures();
    init_all();
    draw();  // the storm state starts parked
    const std::vector<std::uint8_t> parked = frame;
    place_storm(std::numeric_limits<float>::quiet_NaN(), 0.0f, 15.0f, 0.0f);
    draw();  // no storm at all
    EXPECT_EQ(parked, frame);

    // Looking at the parked position shows it there: 15 cells wide, centred on
    // (-100, -100), its lower-left quarter below and left of the centre.
    storm = StormState{};
    camera = {-100.0f, -100.0f, 60.0f};
    draw();
    EXPECT_TRUE(same_colour(at(-100 - 5, -100 - 5), storm_quadrant_colour(LOWER_LEFT)));
    EXPECT_TRUE(same_colour(at(-100 + 5, -100 + 5), storm_quadrant_colour(UPPER_RIGHT)));
    EXPECT_TRUE(same_colour(at(-107.0, -100 + 5), storm_quadrant_colour(UPPER_LEFT)));
    EXPECT_TRUE(same_colour(at(-108.0, -100 + 5), GREY));
    EXPECT_TRUE(same_colour(at(-100 + 5, -93.0), storm_quadrant_colour(UPPER_RIGHT)));
    EXPECT_TRUE(same_colour(at(-100 + 5, -92.0), GREY));
}

TEST_F(StormLayer, SpinTurnsThePictureCounterClockwise) {
    write_standard_pictures();
    init_all();
    const struct {
        float spin;
        Quadrant lowerLeft, lowerRight, upperRight, upperLeft;  // what the screen shows there
    } cases[] = {
        {0.0f, LOWER_LEFT, LOWER_RIGHT, UPPER_RIGHT, UPPER_LEFT},
        {90.0f, UPPER_LEFT, LOWER_LEFT, LOWER_RIGHT, UPPER_RIGHT},
        {180.0f, UPPER_RIGHT, UPPER_LEFT, LOWER_LEFT, LOWER_RIGHT},
        {450.0f, UPPER_LEFT, LOWER_LEFT, LOWER_RIGHT, UPPER_RIGHT},  // beyond a whole turn
        {-90.0f, LOWER_RIGHT, UPPER_RIGHT, UPPER_LEFT, LOWER_LEFT},
    };
    for (const auto& c : cases) {
        place_storm(20.0f, 15.0f, 10.0f, c.spin);
        draw();
        SCOPED_TRACE(testing::Message() << "spin " << c.spin);
        EXPECT_TRUE(same_colour(at(17.5, 12.5), storm_quadrant_colour(c.lowerLeft)));
        EXPECT_TRUE(same_colour(at(22.5, 12.5), storm_quadrant_colour(c.lowerRight)));
        EXPECT_TRUE(same_colour(at(22.5, 17.5), storm_quadrant_colour(c.upperRight)));
        EXPECT_TRUE(same_colour(at(17.5, 17.5), storm_quadrant_colour(c.upperLeft)));
    }
}

TEST_F(StormLayer, SizeIsTheWidthInCells) {
    write_standard_pictures();
    init_all();
    camera.cameraDistance = 40.0f;  // 12 pixels a cell
    draw();
    const std::vector<std::uint8_t> without = frame;
    for (float size : {10.0f, 4.0f}) {
        place_storm(20.0f, 15.0f, size, 0.0f);
        draw();
        // Along a row through the upper quarters (above the red middle), the
        // pixels that changed are the storm's.
        const int row = static_cast<int>(to_window(camera, VIEW_W, VIEW_H, 0, 15 + size / 4).y);
        int first = -1;
        int last = -1;
        for (int x = 0; x < VIEW_W; ++x) {
            const std::size_t i = (static_cast<std::size_t>(row) * VIEW_W + x) * 4;
            if (frame[i] != without[i] || frame[i + 1] != without[i + 1]) {
                if (first < 0) first = x;
                last = x;
            }
        }
        const double expected = size * 12.0;
        EXPECT_NEAR(last - first + 1, expected, 2.0) << "size " << size;
        EXPECT_NEAR((first + last + 1) / 2.0, to_window(camera, VIEW_W, VIEW_H, 20, 0).x, 1.0);
    }
}

TEST_F(StormLayer, PureRedOfTheStormShowsTheCarsAndMapBeneathAndTheRestCoversThem) {
    write_standard_pictures();
    init_all();
    set_cell(20, 15, LAYOUT_ROAD_ANY, DIR_X_INC);  // under the red middle
    set_cell(17, 12, LAYOUT_ROAD_ANY, DIR_Y_INC);  // under the lower-left quarter
    place_storm(20.0f, 15.0f, 10.0f, 0.0f);        // red middle: 18.75..21.25 in x and y
    draw();
    EXPECT_TRUE(same_colour(at(20.5, 15.5), car_frame_colour(DIR_X_INC)));
    EXPECT_TRUE(same_colour(at(19.5, 14.5), map_cell_colour(19, 14)));
    EXPECT_TRUE(same_colour(at(17.5, 12.5), storm_quadrant_colour(LOWER_LEFT)));
}

TEST_F(StormLayer, AStormThatIsNotFiniteIsNotDrawn) {
    write_standard_pictures();
    init_all();
    set_cell(17, 12, LAYOUT_ROAD_ANY, DIR_Y_INC);
    draw();
    const std::vector<std::uint8_t> without = frame;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float bad : {nan, inf, -inf}) {
        for (int field = 0; field < 4; ++field) {
            float v[4] = {20.0f, 15.0f, 10.0f, 30.0f};  // x, y, size, spin
            v[field] = bad;
            place_storm(v[0], v[1], v[2], v[3]);
            reset_transform_watch();
            draw();
            EXPECT_EQ(frame, without) << "field " << field << " = " << bad;
            EXPECT_EQ(nonfinite_transform_calls(), 0) << "field " << field << " = " << bad;
            EXPECT_GT(transform_calls(), 0);  // the watch does see the frame's calls
        }
    }
    // The skipped storm leaves nothing behind: the next finite one is drawn.
    place_storm(20.0f, 15.0f, 10.0f, 0.0f);
    draw();
    EXPECT_TRUE(same_colour(at(17.5, 12.5), storm_quadrant_colour(LOWER_LEFT)));
}

}  // namespace
