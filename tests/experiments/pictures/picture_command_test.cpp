// The pictures marovel-sim draws without a display: snapshots of a run through
// the program's renderer, and the plot of a sweep's curves.
#include <QImage>
#include <algorithm>
#include <cmath>
#include <fstream>

#include "experiments/sim_folder.h"
#include "render/town_map.h"
#include "sim/grid.h"

namespace {

const QRgb MAP = qRgb(40, 90, 200), CAR = qRgb(15, 250, 60);

// data/ below the folder with the three pictures in plain colours, the storm
// pure red; big enough for the car sheet (20-pixel frames along its bottom).
void write_plain_pictures(const fs::path& dir) {
    fs::create_directory(dir / "data");
    for (const auto& [name, colour] :
         {std::pair{"map", MAP}, {"car", CAR}, {"storm", qRgb(255, 0, 0)}}) {
        QImage picture(340, 300, QImage::Format_RGB888);
        picture.fill(colour);
        ASSERT_TRUE(picture.save(QString::fromStdString(dir / "data" / name) + ".bmp"));
    }
}

// The program takes its pictures from data/ below the working folder. These
// are plain colours: the map, the car sheet, and the storm pure red, the key
// colour of transparent parts, so that it hides nothing. The initial camera
// shows the whole town in 1024 x 768 pixels, 25.6 a cell, row 0 at the bottom:
// away from the cells' edges, where colours blend, each pixel must show the map,
// or a parked car on a house (each holds its cars at tick 0). The plot of a
// sweep comes as PNG and SVG.
TEST_F(SimFolder, SnapshotAndPlotAreDrawnWithoutADisplay) {
    write_plain_pictures(dir);
    ASSERT_EQ(sim("--ticks 30 --snapshot 0:0.png").err, "");
    const QImage shot(QString::fromStdString(dir / "0.png"));
    for (int i = 0; i < 1024 * 768; ++i) {  // pixel (i % 1024, i / 1024)
        const double u = (i % 1024 + 0.5) / 25.6, v = (767.5 - i / 1024) / 25.6;  // in cells
        const int x = static_cast<int>(u), y = static_cast<int>(v);
        if (std::max(std::abs(u - x - 0.5), std::abs(v - y - 0.5)) > 0.4) continue;  // edges blend
        const bool house = MapLayoutTable[y * GRID_W + x] == LAYOUT_HOUSE;
        ASSERT_EQ(shot.pixel(i % 1024, i / 1024), house ? CAR : MAP) << x << ", " << y;
    }

    ASSERT_EQ(sim("sweep --seeds 5 --errors low,high --ticks 9 --plot c.png --plot c.svg").err, "");
    EXPECT_FALSE(QImage(QString::fromStdString(dir / "c.png")).isNull());
    const std::string svg = read_file(dir / "c.svg");
    for (const char* text : {"<svg", "Evacuated", "En route", "Not evacuated", "spread 0.001 (low)",
                             "spread 1e+30 (high)", "2 runs of 9 ticks", "</svg>"})
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    EXPECT_EQ(entries(),
              (std::set<fs::path>{dir / "data", dir / "0.png", dir / "c.png", dir / "c.svg"}));
}

// A town file's snapshot has the town's own cells, drawn from the file with the
// camera fitted to it: its exit, water, roads and doors where the file has them,
// each house holding its parked cars. The movie's first frame is that snapshot,
// and a bad town file is refused with its line and column, nothing written.
TEST_F(SimFolder, SnapshotsAndMoviesOfATownFileShowItsCells) {
    write_plain_pictures(dir);
    // +++~+++   the exit at (0, 1), water at x = 3
    // NNN~NNN   houses, their doors above them
    fs::copy_file(MAROVEL_SOURCE_DIR "/tests/sim/towns/river_no_bridge.town", dir / "river.town");
    ASSERT_EQ(
        sim("--town river.town --ticks 30 --snapshot 0:0.png --movie m.png --movie-every 30").err,
        "");
    const QImage shot(QString::fromStdString(dir / "0.png"));
    ASSERT_EQ(shot.size(), QSize(1024, 768));
    // Seven cells fill the 1024 pixels across, about the middle of the town (3.5, 1).
    const double perCell = 1024.0 / 7;
    const auto at = [&](double x, double y) {
        return shot.pixel(static_cast<int>(512 + (x - 3.5) * perCell),
                          static_cast<int>(384 - (y - 1) * perCell));
    };
    const auto rgb = [](TownColour c) { return qRgb(c.r, c.g, c.b); };
    EXPECT_EQ(at(0.5, 1.5), rgb(TOWN_EXIT));
    EXPECT_EQ(at(6.5, 1.5), rgb(TOWN_ROAD));
    EXPECT_EQ(at(3.5, 1.5), rgb(TOWN_WATER));
    EXPECT_EQ(at(3.5, 0.5), rgb(TOWN_WATER));
    for (const double x : {0.5, 2.5, 4.5, 6.5}) EXPECT_EQ(at(x, 0.5), CAR) << "a house at " << x;
    EXPECT_EQ(at(3.5, 2.5), qRgb(160, 160, 160)) << "above the town, the grey around it";
    EXPECT_TRUE(QImage(QString::fromStdString(dir / "m_000001.png")) == shot)
        << "the movie's first frame is the snapshot of tick 0";

    std::ofstream(dir / "bad.town") << "exit = 0,1\ngrid\n+++\nN?N\n";
    const auto before = entries();
    for (const char* pictures : {"--snapshot 0:1.png", "--movie n.png"}) {
        EXPECT_TRUE(refused(sim(std::string("--town bad.town --ticks 5 ") + pictures),
                            "marovel-sim: --town: bad.town:4:2:"));
    }
    EXPECT_EQ(entries(), before) << "nothing written";
}

// Error levels given as spreads are labelled by their spread and drawn each in
// a colour of its own (the palette's after low's, moderate's and high's), not
// all three as "custom error" in high's red; the named levels keep theirs.
TEST_F(SimFolder, SpreadLevelsAreLabelledByValueInColoursOfTheirOwn) {
    const auto pixels = [](const QImage& image, QRgb colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour;
        return n;
    };
    const QRgb blue = qRgb(0x1f, 0x77, 0xb4), orange = qRgb(0xff, 0x7f, 0x0e),
               red = qRgb(0xd6, 0x27, 0x28), green = qRgb(0x2c, 0xa0, 0x2c),
               purple = qRgb(0x94, 0x67, 0xbd), brown = qRgb(0x8c, 0x56, 0x4b);
    const CommandResult r =
        sim("sweep --scenarios 0..2 --errors 90,180,720 --ticks 300 --plot three.png --plot "
            "three.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = read_file(dir / "three.svg");
    for (const char* label : {">spread 90<", ">spread 180<", ">spread 720<"}) {
        std::size_t shown = 0;
        for (std::size_t at = svg.find(label); at != std::string::npos;
             at = svg.find(label, at + 1))
            ++shown;
        EXPECT_EQ(shown, 3u) << label;  // once in each panel's legend
    }
    EXPECT_EQ(svg.find("custom"), std::string::npos);
    const QImage three(QString::fromStdString(dir / "three.png"));
    for (QRgb colour : {green, purple, brown}) EXPECT_GT(pixels(three, colour), 50) << colour;
    for (QRgb colour : {blue, orange, red}) EXPECT_EQ(pixels(three, colour), 0) << colour;

    ASSERT_EQ(
        sim("sweep --scenarios 0..2 --errors high,90,low --ticks 300 --plot mixed.png").status, 0);
    const QImage mixed(QString::fromStdString(dir / "mixed.png"));
    for (QRgb colour : {red, green, blue}) EXPECT_GT(pixels(mixed, colour), 50) << colour;
    for (QRgb colour : {orange, purple}) EXPECT_EQ(pixels(mixed, colour), 0) << colour;
}

// A design's plot names its groups, here values of the first parameter; a
// sensitivity run draws a panel per figure with bars of both orders' colours
// (the curves' first two) and names every parameter.
TEST_F(SimFolder, DesignPlotAndIndexBarsAreDrawn) {
    ASSERT_EQ(
        sim("sweep --vary departure_noise=20..80 --vary fuel_min=100..300 --sample saltelli:4 "
            "--plot d.svg --sensitivity-plot i.png --sensitivity-plot i.svg")
            .err,
        "");
    EXPECT_NE(read_file(dir / "d.svg").find("Evacuated by departure_noise"), std::string::npos);
    const std::string svg = read_file(dir / "i.svg");
    for (const char* text : {"first order", "total order", "evacuated_share", "gave_up", "towed",
                             "departure_noise", "fuel_min", "16 points x 1 replicate"})
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    const QImage bars(QString::fromStdString(dir / "i.png"));
    int first = 0, total = 0;
    for (int y = 0; y < bars.height(); ++y)
        for (int x = 0; x < bars.width(); ++x) {
            first += bars.pixel(x, y) == qRgb(0x1f, 0x77, 0xb4);
            total += bars.pixel(x, y) == qRgb(0xff, 0x7f, 0x0e);
        }
    EXPECT_GT(first, 500);
    EXPECT_GT(total, 500);
}

// A design grouped into many ranges names every group in full in each panel's
// legend (a legend below the plot cut such names short).
TEST_F(SimFolder, DesignPlotNamesEveryGroupInFull) {
    const CommandResult r =
        sim("sweep --vary departure_noise=20..80 --sample lhs:24 --ticks 50 "
            "--plot g.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = read_file(dir / "g.svg");
    std::istringstream table(r.out);
    int groups = 0;
    for (std::string line; std::getline(table, line);) {
        if (!line.starts_with("departure_noise ") ||
            line.find("not_evacuated") == std::string::npos)
            continue;
        const std::string range = line.substr(16, line.find(' ', 16) - 16);  // "21.27..25.97"
        std::size_t shown = 0;
        for (std::size_t at = svg.find(">" + range + "<"); at != std::string::npos;
             at = svg.find(">" + range + "<", at + 1))
            ++shown;
        EXPECT_EQ(shown, 3u) << range;
        ++groups;
    }
    EXPECT_EQ(groups, 12);
}

}  // namespace
