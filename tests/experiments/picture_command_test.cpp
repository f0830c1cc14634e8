// The pictures marovel-sim draws without a display: snapshots of a run through
// the program's renderer, and the plot of a sweep's curves.
#include <QImage>
#include <array>
#include <cmath>

#include "render/bmp.h"
#include "sim/grid.h"
#include "sim_folder.h"

namespace {

using Rgb = std::array<int, 3>;

// Whether `c` is a blend of the four texels linear filtering takes at (s, t),
// texels from the picture's lower-left corner: 1 when it is (a blend cannot
// leave their channel ranges, give or take rounding), 0 when not, -1 when one
// of them is the key colour.
int blend_of(const Rgb& c, const Image& image, double s, double t) {
    std::array<Rgb, 4> q;
    for (int k = 0; k < 4; ++k) {
        const int x = std::clamp(static_cast<int>(std::floor(s - 0.5)) + k % 2, 0, image.width - 1);
        const int y =
            std::clamp(static_cast<int>(std::floor(t - 0.5)) + k / 2, 0, image.height - 1);
        const std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
        q[k] = {p[0], p[1], p[2]};
    }
    if (std::count(q.begin(), q.end(), Rgb{255, 0, 0}) > 0) return -1;
    for (int k = 0; k < 3; ++k) {
        const auto [lo, hi] = std::minmax({q[0][k], q[1][k], q[2][k], q[3][k]});
        if (c[k] < lo - 3 || c[k] > hi + 3) return 0;
    }
    return 1;
}

// At tick 0 every house holds its cars, so each house cell must show the
// parked-car frame (frame 1 of the sheet: columns 20..39, bottom 20 rows) over
// the map. The initial camera shows the whole town: 25.6 pixels per cell, its
// lower-left corner at the image's. Every pixel whose sample falls wholly on
// the frame's opaque texels must be a blend of them, and somewhere on each
// house the car must differ from the map beneath.
TEST_F(SimFolder, SnapshotOfTickZeroShowsAParkedCarOnEveryHouse) {
    // The program looks for its pictures in data/ below the working folder.
    const fs::path data = fs::path(MAROVEL_SOURCE_DIR) / "data";
    fs::create_directory_symlink(data, dir / "data");
    ASSERT_EQ(sim("--ticks 30 --snapshot 0:0.png").err, "");
    const QImage shot(QString::fromStdString(dir / "0.png"));
    ASSERT_EQ(shot.size(), QSize(1024, 768));
    Image car, map;
    ASSERT_EQ(read_bmp((data / "car.bmp").c_str(), car), 1);
    ASSERT_EQ(read_bmp((data / "map.bmp").c_str(), map), 1);
    constexpr double CELL = 1024.0 / GRID_W;  // pixels
    constexpr double FRAME = 20;              // texels
    int houses = 0;
    for (int y = 0; y < GRID_H; ++y) {
        for (int x = 0; x < GRID_W; ++x) {
            if (MapLayoutTable[static_cast<std::size_t>(y * GRID_W + x)] != LAYOUT_HOUSE) continue;
            int carPixels = 0;
            int unlikeMap = 0;
            for (int py = static_cast<int>(y * CELL); py <= y * CELL + 26; ++py) {
                for (int px = static_cast<int>(x * CELL); px <= x * CELL + 26; ++px) {
                    const double u = (px + 0.5) / CELL;  // in cells from the town's corner
                    const double v = (py + 0.5) / CELL;
                    const double s = FRAME * (u - x);  // in texels from the frame's corner
                    const double t = FRAME * (v - y);
                    if (std::min(s, t) < 0.5 || std::max(s, t) >= FRAME - 0.5) continue;
                    const QRgb q = shot.pixel(px, 767 - py);
                    const Rgb seen = {qRed(q), qGreen(q), qBlue(q)};
                    const int onCar = blend_of(seen, car, FRAME + s, t);
                    if (onCar < 0) continue;
                    EXPECT_EQ(onCar, 1) << "pixel " << px << ", " << py;
                    ++carPixels;
                    unlikeMap +=
                        blend_of(seen, map, u / GRID_W * map.width, v / GRID_H * map.height) == 0;
                }
            }
            houses += carPixels > 20 && unlikeMap > 0;
        }
    }
    EXPECT_EQ(houses, 360);
}

TEST_F(SimFolder, PlotIsDrawnAsPngAndSvgWithoutADisplay) {
    ASSERT_EQ(sim("sweep --seeds 1..5 --errors low,high --ticks 9 --plot c.png --plot c.svg").err,
              "");
    const QImage png(QString::fromStdString(dir / "c.png"));
    EXPECT_GT(png.width(), png.height());  // a landscape chart, not an empty image
    const std::string svg = read_file(dir / "c.svg");
    for (const char* text : {"<svg", "Evacuated", "En route", "Not evacuated", "low error",
                             "high error", "10 runs of 9 ticks", "</svg>"})
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    EXPECT_EQ(svg.find("moderate error"), std::string::npos);
    EXPECT_EQ(entries(), (std::set<std::string>{"c.png", "c.svg"}));
}

}  // namespace
