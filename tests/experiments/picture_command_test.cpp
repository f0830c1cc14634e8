// The pictures marovel-sim draws without a display: snapshots of a run through
// the program's renderer, and the plot of a sweep's curves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render/bmp.h"
#include "sim/grid.h"
#include "support/command.h"

namespace {

namespace fs = std::filesystem;
const std::string SIM = MAROVEL_SIM;
const fs::path SOURCE_DIR = MAROVEL_SOURCE_DIR;

using Rgb = std::array<int, 3>;

class PictureCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("marovel-pictures-" + std::to_string(::getpid()) + "-" + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    // Runs marovel-sim from the source folder, where data/ holds the pictures,
    // with no display at all.
    CommandResult sim(const std::string& args) const {
        return run_command("cd '" + SOURCE_DIR.string() +
                           "' && env -u DISPLAY -u WAYLAND_DISPLAY '" + SIM + "' " + args);
    }
    std::string at(const char* name) const { return (dir / name).string(); }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        return names;
    }
    fs::path dir;
};

Rgb texel(const Image& image, int x, int y) {
    const std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
    return {p[0], p[1], p[2]};
}

// The four texels that linear filtering blends at texel coordinates (s, t),
// counted in texels from the picture's lower-left corner.
std::array<Rgb, 4> neighbourhood(const Image& image, double s, double t, int& x0, int& y0) {
    x0 = static_cast<int>(std::floor(s - 0.5));
    y0 = static_cast<int>(std::floor(t - 0.5));
    const int x1 = std::min(x0 + 1, image.width - 1);
    const int y1 = std::min(y0 + 1, image.height - 1);
    const int xa = std::max(x0, 0);
    const int ya = std::max(y0, 0);
    return {texel(image, xa, ya), texel(image, x1, ya), texel(image, xa, y1), texel(image, x1, y1)};
}

// Whether a colour lies within the channel ranges of the blended texels
// (a linear blend cannot leave them), give or take `slack`.
bool within(const Rgb& c, const std::array<Rgb, 4>& texels, int slack) {
    for (int k = 0; k < 3; ++k) {
        int lo = 255;
        int hi = 0;
        for (const Rgb& t : texels) {
            lo = std::min(lo, t[k]);
            hi = std::max(hi, t[k]);
        }
        if (c[k] < lo - slack || c[k] > hi + slack) return false;
    }
    return true;
}

// At tick 0 every house holds its two cars, so each house cell must show the
// parked-car frame (frame 1 of the sheet: columns 20..39, bottom 20 rows) over
// the map. At the initial camera distance of 60 the 30 rows fill the 768-pixel
// height and the 40 columns the 1024-pixel width: 25.6 pixels per cell, the
// town's lower-left corner at the image's lower-left corner. Every pixel whose
// sample falls wholly inside the car's opaque texels must have a blend of
// those texels; and somewhere on each house the car must differ from the map.
TEST_F(PictureCommand, SnapshotOfTickZeroShowsAParkedCarOnEveryHouse) {
    const CommandResult r = sim("--scenario 0 --ticks 30 --snapshot 0:" + at("start.png") +
                                " --snapshot 30:" + at("later.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("720"), std::string::npos);  // the report is still printed
    QImage shot(QString::fromStdString(at("start.png")));
    ASSERT_FALSE(shot.isNull());
    ASSERT_EQ(shot.width(), 1024);
    ASSERT_EQ(shot.height(), 768);
    EXPECT_NE(QImage(QString::fromStdString(at("later.png"))), shot);  // cars have left by tick 30

    Image sheet;
    Image map;
    ASSERT_EQ(read_bmp((SOURCE_DIR / "data" / "car.bmp").string().c_str(), sheet), 1);
    ASSERT_EQ(read_bmp((SOURCE_DIR / "data" / "map.bmp").string().c_str(), map), 1);
    const Rgb KEY = {255, 0, 0};
    constexpr double PIXELS_PER_CELL = 1024.0 / GRID_W;
    constexpr int FRAME = 20;

    int houses = 0;
    for (int y = 0; y < GRID_H; ++y) {
        for (int x = 0; x < GRID_W; ++x) {
            if (MapLayoutTable[static_cast<std::size_t>(y * GRID_W + x)] != LAYOUT_HOUSE) continue;
            ++houses;
            int carPixels = 0;
            int unlikeMap = 0;
            const int px0 = static_cast<int>(std::floor(x * PIXELS_PER_CELL));
            const int py0 = static_cast<int>(std::floor(y * PIXELS_PER_CELL));
            for (int py = py0; py <= py0 + 26; ++py) {
                for (int px = px0; px <= px0 + 26; ++px) {
                    const double u = (px + 0.5) / PIXELS_PER_CELL - x;  // within the cell, 0..1
                    const double v = (py + 0.5) / PIXELS_PER_CELL - y;
                    if (u <= 0.0 || u >= 1.0 || v <= 0.0 || v >= 1.0) continue;
                    int sx = 0;
                    int sy = 0;
                    const auto car = neighbourhood(sheet, FRAME + u * FRAME, v * FRAME, sx, sy);
                    if (sx < FRAME || sx + 1 >= 2 * FRAME || sy < 0 || sy + 1 >= FRAME) continue;
                    if (std::find(car.begin(), car.end(), KEY) != car.end()) continue;
                    const QRgb q = shot.pixel(px, 767 - py);
                    const Rgb seen = {qRed(q), qGreen(q), qBlue(q)};
                    ++carPixels;
                    EXPECT_TRUE(within(seen, car, 3))
                        << "house (" << x << ", " << y << ") pixel (" << px << ", " << py << ")";
                    const double mx = (px + 0.5) / PIXELS_PER_CELL;
                    const double my = (py + 0.5) / PIXELS_PER_CELL;
                    const auto under = neighbourhood(map, mx / GRID_W * map.width,
                                                     my / GRID_H * map.height, sx, sy);
                    if (!within(seen, under, 3)) ++unlikeMap;
                }
            }
            EXPECT_GT(carPixels, 20) << "house (" << x << ", " << y << ")";
            EXPECT_GT(unlikeMap, 0) << "house (" << x << ", " << y << ") looks like the bare map";
        }
    }
    EXPECT_EQ(houses, 360);
    free_image(sheet);
    free_image(map);
}

TEST_F(PictureCommand, BadSnapshotsAreRefusedBeforeTheRunAndLeaveNoFile) {
    for (const std::string& request :
         {std::string("3000:") + at("a.png"), at("a.png"), std::string("5:") + at("a.jpg"),
          std::string("-1:") + at("a.png"), std::string("x:") + at("a.png"),
          std::string("5:") + at("missing/a.png"),
          std::string("5:") + at("a.png --snapshot 6:") + at("a.png")}) {
        SCOPED_TRACE(request);
        const CommandResult r = sim("--ticks 2000 --snapshot " + request);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("--snapshot"), std::string::npos) << r.err;
        EXPECT_TRUE(entries().empty());
    }
}

TEST_F(PictureCommand, SnapshotsWithoutPicturesFailWithoutAFile) {
    if (fs::exists(fs::path(MAROVEL_DATA_DIR) / "map.bmp"))
        GTEST_SKIP() << "pictures are installed";
    const CommandResult r =
        run_command("cd '" + dir.string() + "' && '" + SIM + "' --ticks 5 --snapshot 0:shot.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("can't read map"), std::string::npos) << r.err;
    EXPECT_TRUE(entries().empty());
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(PictureCommand, PlotIsDrawnAsPngAndSvgWithoutADisplay) {
    const CommandResult r = sim("sweep --scenarios 0..4 --errors low,high --ticks 300 --plot " +
                                at("curves.png") + " --plot " + at("curves.svg"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    QImage png(QString::fromStdString(at("curves.png")));
    ASSERT_FALSE(png.isNull());
    EXPECT_GT(png.width(), png.height());
    const std::string svg = read_file(at("curves.svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    for (const char* text : {"Evacuated", "En route", "Not evacuated", "low error", "high error",
                             "10 runs of 300 ticks"})
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    EXPECT_EQ(svg.find("moderate error"), std::string::npos);
    EXPECT_EQ(entries().size(), 2u);

    const CommandResult bad = sim("sweep --scenarios 0..4 --plot " + at("curves.gif"));
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--plot"), std::string::npos);
    EXPECT_EQ(entries().size(), 2u);
}

}  // namespace
