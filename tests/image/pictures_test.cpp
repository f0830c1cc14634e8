// The committed pictures: that the picture maker still draws them, and that they
// keep the promises the renderer relies on (sizes, frame layout, key colour) and
// the ones the town's users see (a map that matches the road table).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bmp_bytes.h"
#include "render/bmp.h"
#include "sim/grid.h"

namespace {

const std::string DATA = MAROVEL_DATA_DIR;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

Rgb at(const Image& image, int x, int y) {
    const std::uint8_t* p =
        image.pixels.get() + (static_cast<std::size_t>(y) * image.width + x) * 3;
    return {p[0], p[1], p[2]};
}

bool is_key(Rgb c) {
    return c == Rgb{255, 0, 0};
}
bool power_of_two(int v) {
    return v > 0 && (v & (v - 1)) == 0;
}

Image load_picture(const std::string& name) {
    Image image;
    EXPECT_EQ(read_bmp((DATA + "/" + name).c_str(), image), 1) << name;
    return image;
}

class PictureMaker : public bmp_test::TempDir {};

TEST_F(PictureMaker, RedrawsTheCommittedPicturesByteForByte) {
    const std::string command =
        std::string("\"") + MAKE_PICTURES_PATH + "\" \"" + dir_.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* name : {"map.bmp", "car.bmp", "storm.bmp"}) {
        const bmp_test::Bytes made = load(path(name));
        const bmp_test::Bytes committed = load(DATA + "/" + name);
        ASSERT_FALSE(committed.empty()) << name;
        EXPECT_TRUE(made == committed) << name << " differs from data/; rerun make_pictures data";
    }
}

TEST(Pictures, SidesArePowersOfTwoAndLargeEnough) {
    const Image map = load_picture("map.bmp");
    const Image car = load_picture("car.bmp");
    const Image storm = load_picture("storm.bmp");
    for (const Image* image : {&map, &car, &storm}) {
        EXPECT_TRUE(power_of_two(image->width)) << image->width;
        EXPECT_TRUE(power_of_two(image->height)) << image->height;
    }
    EXPECT_GE(map.width, 1024);  // sharp when the town is zoomed in
    EXPECT_GE(car.width, 16 * 20);
    EXPECT_GE(car.height, 20);
}

// --- Map: each cell's part of the picture must look like its layout. ---

enum CellKind { FOUR_WAY, ALONG_Y, BRIDGE, HOUSE, LAND, RIVER, EXIT, KINDS };

CellKind kind_of(int x, int y) {
    const std::uint8_t layout = MapLayoutTable[y * GRID_W + x];
    if (x == ExitCell.x && y == ExitCell.y) return EXIT;
    const bool river = x == 19 || x == 20;
    switch (layout) {
        case LAYOUT_ROAD_ANY:
            return FOUR_WAY;
        case LAYOUT_ROAD_Y:
            return ALONG_Y;
        case LAYOUT_ROAD_X:
            return BRIDGE;  // every road along x crosses the river
        case LAYOUT_HOUSE:
            return HOUSE;
        default:
            return river ? RIVER : LAND;
    }
}

// A cell's part of the map as the renderer shows it there (x / 40 .. (x + 1) / 40
// of the width from the left, y / 30 .. (y + 1) / 30 of the height from the
// bottom), shrunk to 8 x 8 block averages. The outer eighth on each side, where a
// cell blends into its neighbours, is left out.
constexpr int GRID = 8;
using Thumb = std::array<double, GRID * GRID * 3>;

// Block (0..GRID-1) holding the pixel whose centre lies at pixel + 1/2 of `size`
// pixels, in a picture `cells` cells long; -1 outside the cell's inner part.
int block_of(int pixel, int size, int cells, int cell) {
    // The centre in 128ths of a cell: the inner part runs from 16 to 112, 12 per block.
    const long long at = (2LL * pixel + 1) * 64 * cells / size - 128LL * cell;
    if (at < 16 || at >= 112) return -1;
    return static_cast<int>((at - 16) / 12);
}

Thumb thumb(const Image& map, int cx, int cy) {
    Thumb sum{};
    std::array<int, GRID * GRID> n{};
    const int x0 = cx * map.width / GRID_W, x1 = (cx + 1) * map.width / GRID_W + 1;
    const int y0 = cy * map.height / GRID_H, y1 = (cy + 1) * map.height / GRID_H + 1;
    for (int y = y0; y < y1 && y < map.height; ++y)
        for (int x = x0; x < x1 && x < map.width; ++x) {
            const int i = block_of(x, map.width, GRID_W, cx),
                      j = block_of(y, map.height, GRID_H, cy);
            if (i < 0 || j < 0) continue;
            const Rgb c = at(map, x, y);
            const int k = j * GRID + i;
            sum[3 * k] += c.r;
            sum[3 * k + 1] += c.g;
            sum[3 * k + 2] += c.b;
            ++n[k];
        }
    for (int k = 0; k < GRID * GRID; ++k)
        for (int c = 0; c < 3; ++c) sum[3 * k + c] /= std::max(n[k], 1);
    return sum;
}

double distance(const Thumb& a, const Thumb& b) {
    double d = 0;
    for (std::size_t i = 0; i < a.size(); ++i) d += (a[i] - b[i]) * (a[i] - b[i]);
    return d;
}

TEST(MapPicture, EveryCellLooksMostLikeCellsOfItsOwnKind) {
    // Four-way, y-only and x-only roads, houses, land, river and the exit must be
    // told apart: each cell must lie nearer the average look of its own kind than
    // of any other. A picture turned upside down or shifted fails this too.
    const Image map = load_picture("map.bmp");
    ASSERT_EQ(map.channels, 3);
    std::array<Thumb, KINDS> mean{};
    std::array<int, KINDS> count{};
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x) {
            const Thumb t = thumb(map, x, y);
            const CellKind k = kind_of(x, y);
            for (std::size_t i = 0; i < t.size(); ++i) mean[k][i] += t[i];
            ++count[k];
        }
    for (int k = 0; k < KINDS; ++k)
        for (double& v : mean[k]) v /= count[k];

    int wrong = 0;
    for (int y = 0; y < GRID_H; ++y)
        for (int x = 0; x < GRID_W; ++x) {
            const Thumb t = thumb(map, x, y);
            const CellKind own = kind_of(x, y);
            for (int k = 0; k < KINDS; ++k)
                if (k != own && distance(t, mean[k]) <= distance(t, mean[own])) {
                    ADD_FAILURE() << "cell (" << x << ", " << y << ") looks like kind " << k
                                  << " rather than " << own;
                    if (++wrong > 10) return;
                    break;
                }
        }
}

// --- Car sheet ---

constexpr int FRAME = 20;

TEST(CarSheet, FrameKShowsExactlyTheCarsOfItsHeadingBitsOnKeyColour) {
    // Frame k's pixel must be that of the one single-heading frame (1, 2, 4, 8)
    // of k's bits that has a car there, else key colour; so must every pixel
    // outside frames 1..15. A frame's outermost ring stays key colour, so that
    // linear filtering never shows a neighbouring frame.
    const Image sheet = load_picture("car.bmp");
    for (int y = 0; y < sheet.height; ++y)
        for (int x = 0; x < sheet.width; ++x) {
            const int k = x / FRAME, fx = x % FRAME;
            Rgb expected{255, 0, 0};
            if (k >= 1 && k < 16 && y < FRAME) {
                int covering = 0;
                for (int bit : {DIR_Y_DEC, DIR_X_DEC, DIR_Y_INC, DIR_X_INC}) {
                    const Rgb single = at(sheet, bit * FRAME + fx, y);
                    if (is_key(single)) continue;
                    ++covering;
                    if (k & bit) expected = single;
                }
                ASSERT_LE(covering, 1) << "single-heading cars overlap at " << fx << "," << y;
                const bool ring = fx == 0 || fx == FRAME - 1 || y == 0 || y == FRAME - 1;
                ASSERT_TRUE(!ring || is_key(expected)) << fx << "," << y;
            }
            ASSERT_EQ(at(sheet, x, y), expected) << "frame " << k << " at " << fx << "," << y;
        }
}

TEST(CarSheet, EachCarKeepsToTheRightOfItsLaneAndFacesItsWay) {
    const Image sheet = load_picture("car.bmp");
    const double mid = (FRAME - 1) / 2.0;
    struct Way {
        int bit, dx, dy;  // heading and the way it drives on screen (y up)
    };
    for (const Way w : {Way{DIR_Y_DEC, 0, -1}, Way{DIR_X_DEC, -1, 0}, Way{DIR_Y_INC, 0, 1},
                        Way{DIR_X_INC, 1, 0}}) {
        // Centre of the car's pixels, and of its near-white ones (the headlights).
        double cx = 0, cy = 0, lx = 0, ly = 0;
        int pixels = 0, lights = 0;
        for (int y = 0; y < FRAME; ++y)
            for (int x = 0; x < FRAME; ++x) {
                const Rgb c = at(sheet, w.bit * FRAME + x, y);
                if (is_key(c)) continue;
                ++pixels, cx += x, cy += y;
                if (std::min({c.r, c.g, c.b}) > 200) ++lights, lx += x, ly += y;
            }
        ASSERT_GT(pixels, 30) << "heading " << w.bit;
        ASSERT_GT(lights, 0) << "heading " << w.bit;
        cx /= pixels, cy /= pixels, lx /= lights, ly /= lights;
        // The driver's right-hand side is (dy, -dx).
        EXPECT_GT((cx - mid) * w.dy - (cy - mid) * w.dx, 2.0) << "heading " << w.bit << " lane";
        EXPECT_GT((lx - cx) * w.dx + (ly - cy) * w.dy, 2.0) << "heading " << w.bit << " front";
    }
}

// --- Storm ---

TEST(StormPicture, CloudIsFramedByKeyColourAndHoldsNoReddishColour) {
    const Image storm = load_picture("storm.bmp");
    int cloud = 0;
    for (int y = 0; y < storm.height; ++y)
        for (int x = 0; x < storm.width; ++x) {
            const Rgb c = at(storm, x, y);
            const bool edge = x == 0 || y == 0 || x == storm.width - 1 || y == storm.height - 1;
            if (edge) {
                ASSERT_TRUE(is_key(c)) << "the sprite's square would show at " << x << "," << y;
            }
            if (is_key(c)) continue;
            ++cloud;
            // Filtering blends cloud with key texels; a reddish cloud would read as a red rim.
            ASSERT_LE(c.r, std::max(c.g, c.b)) << x << "," << y;
        }
    EXPECT_GT(cloud, storm.width * storm.height / 8);
    EXPECT_LT(cloud, storm.width * storm.height * 3 / 4);
}

}  // namespace
