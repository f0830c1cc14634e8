// marovel-sim town and --town, as a user runs them.
#include <gtest/gtest.h>

#include <QImage>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "experiments/sim_folder.h"
#include "render/town_map.h"
#include "sim/town_text.h"

namespace {

const std::string TOWNS = MAROVEL_SOURCE_DIR "/tests/sim/towns/";
const std::string BUILTIN = MAROVEL_SOURCE_DIR "/data/towns/builtin.town";

// The lines of `text` that do not start with `prefix`.
std::string without_lines(const std::string& text, const std::string& prefix) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size() - 1;
        const std::string line = text.substr(at, nl + 1 - at);
        if (line.rfind(prefix, 0) != 0) out += line;
        at = nl + 1;
    }
    return out;
}

// The shipped file is the built-in town as `town show` prints it, and a run on
// it, single or in a sweep, is the default run: the same fingerprints, the
// same rows; the files only add the town to their header.
TEST_F(SimFolder, TheShippedBuiltInTownRunsAsTheDefaultRun) {
    const CommandResult shown = sim("town show builtin");
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out, read_file(BUILTIN));

    const CommandResult plain = sim("--seed 7 --error moderate --ticks 1500 --fingerprint");
    const CommandResult onFile =
        sim("--town '" + BUILTIN + "' --seed 7 --error moderate --ticks 1500 --fingerprint");
    ASSERT_EQ(onFile.status, 0) << onFile.err;
    EXPECT_EQ(without_lines(onFile.out, "# town: "), plain.out);
    EXPECT_NE(onFile.out.find("# town: built-in, 40 x 30 cells, sha256 "), std::string::npos);

    const std::string sweep = "sweep --scenarios 0..5 --ticks 800 --curves c.csv --summary s.csv";
    ASSERT_EQ(sim(sweep).status, 0);
    const std::string c0 = read_file(dir / "c.csv"), s0 = read_file(dir / "s.csv");
    ASSERT_EQ(sim(sweep + " --town '" + BUILTIN + "'").status, 0);
    for (const auto& [was, now] :
         {std::pair{c0, read_file(dir / "c.csv")}, std::pair{s0, read_file(dir / "s.csv")}}) {
        EXPECT_EQ(without_lines(without_lines(was, "# command: "), "# build: "),
                  without_lines(without_lines(without_lines(now, "# command: "), "# build: "),
                                "# town: "));
        EXPECT_NE(now.find("# town: built-in"), std::string::npos);
    }
}

// town check: the facts, then every problem with its cell; errors give status 2.
TEST_F(SimFolder, TownCheckReportsEveryProblemWithItsCell) {
    const CommandResult river = sim("town check '" + TOWNS + "river_no_bridge.town'");
    EXPECT_EQ(river.status, 0) << river.err;
    EXPECT_NE(river.out.find("6 houses, 12 cars"), std::string::npos) << river.out;
    EXPECT_NE(river.out.find("warning: no exit can be reached from the house at (4, 0)"),
              std::string::npos)
        << river.out;
    EXPECT_NE(river.out.find("0 errors, 6 warnings"), std::string::npos) << river.out;

    // An exit off the roads: refused where the file says it, status 2.
    std::ofstream(dir / "bad.town") << "exit = 0,1\ngrid\n.+\nS.\n";
    const CommandResult bad = sim("town check bad.town");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.town:1: exit at (0, 1) is not a road"), std::string::npos)
        << bad.err;

    const CommandResult good = sim("town check '" + TOWNS + "two_exits.town'");
    EXPECT_EQ(good.status, 0) << good.out;
    EXPECT_NE(good.out.find("2 exits"), std::string::npos) << good.out;
}

// Anything that is not a town is refused in one line naming the file (and the
// line and column where the text is at fault), status 2, and nothing is written.
TEST_F(SimFolder, WhatIsNoTownIsRefusedInOneLine) {
    std::ofstream(dir / "ragged.town") << "exit = 1,0\ngrid\nS+\n+\n";
    std::ofstream(dir / "char.town") << "exit = 1,0\ngrid\nSx\n";
    std::ofstream(dir / "binary.town") << std::string("exit = 1,0\ngrid\nS\0+\n", 17);
    ASSERT_EQ(run_command("cd '" + dir.string() + "' && mkfifo fifo.town && mkdir dir.town").status,
              0);
    const auto before = entries();
    for (const auto& [file, named] : {std::pair{"ragged.town", "ragged.town:4:"},
                                      {"char.town", "char.town:3:2:"},
                                      {"binary.town", "binary.town"},
                                      {"fifo.town", "fifo.town: not a regular file"},
                                      {"dir.town", "dir.town: not a regular file"},
                                      {"none.town", "none.town: "},
                                      {"/dev/zero", "/dev/zero: not a regular file"}}) {
        for (const std::string& args :
             {"town check " + std::string(file), "--town " + std::string(file) + " --ticks 5",
              "sweep --scenarios 0..1 --summary out.csv --town " + std::string(file)}) {
            EXPECT_TRUE(refused(sim(args), named)) << args;
        }
    }
    EXPECT_EQ(entries(), before);
}

// town generate repeats the built-in pattern; its runs keep every car accounted for.
TEST_F(SimFolder, GeneratedTownsRepeatTheBuiltInPattern) {
    ASSERT_EQ(sim("town generate --repeat 5x2 --exits 3 --out city.town").status, 0);
    const CommandResult check = sim("town check city.town");
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("200 x 60 cells of 10 m, 3600 houses, 7200 cars"), std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("3 exits"), std::string::npos) << check.out;
    const CommandResult run = sim("--town city.town --error moderate --ticks 600 --csv");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string last = run.out.substr(run.out.rfind("\n600,") + 1);
    long long counts[6] = {};
    ASSERT_EQ(std::sscanf(last.c_str(), "600,%lld,%lld,%lld,%lld,%lld,%lld", &counts[0], &counts[1],
                          &counts[2], &counts[3], &counts[4], &counts[5]),
              6)
        << run.out;
    EXPECT_EQ(counts[0] + counts[1] + counts[2] + counts[3] + counts[4] + counts[5], 7200);
    EXPECT_GT(counts[1], 0) << "no car reached any of the three exits";

    const auto before = entries();
    for (const std::string bad :
         {"--repeat 103x1", "--repeat 0x2", "--repeat 2", "--repeat 2x2x"}) {
        EXPECT_TRUE(refused(sim("town generate " + bad + " --out more.town"), "")) << bad;
    }
    EXPECT_EQ(entries(), before);
}

// A sweep's files name their town; merge and --resume refuse another town's files.
TEST_F(SimFolder, ShardsAndResumedFilesOfAnotherTownAreRefused) {
    ASSERT_EQ(sim("town generate --repeat 2x1 --exits 1 --out a.town").status, 0);
    ASSERT_EQ(sim("town generate --repeat 2x1 --exits 2 --out b.town").status, 0);
    const std::string sweep = "sweep --scenarios 0..3 --ticks 300 ";
    ASSERT_EQ(sim(sweep + "--town a.town --shard 1/2 --summary s1.csv").status, 0);
    ASSERT_EQ(sim(sweep + "--town a.town --shard 2/2 --summary s2.csv").status, 0);
    // b.town differs from a.town only in its exits: the town lines tell them apart.
    ASSERT_EQ(sim(sweep + "--town b.town --shard 2/2 --summary t2.csv").status, 0);
    EXPECT_EQ(sim("merge s1.csv s2.csv --summary whole.csv").status, 0);
    const CommandResult mixed = sim("merge s1.csv t2.csv --summary mixed.csv");
    EXPECT_EQ(mixed.status, 2) << mixed.err;
    EXPECT_FALSE(fs::exists(dir / "mixed.csv"));

    ASSERT_EQ(sim(sweep + "--town a.town --summary r.csv").status, 0);
    const std::string kept = read_file(dir / "r.csv");
    for (const std::string other : {"--town b.town", ""}) {
        const CommandResult resumed = sim(sweep + other + " --summary r.csv --resume");
        EXPECT_EQ(resumed.status, 2) << other;
        EXPECT_NE(resumed.err.find("another town"), std::string::npos) << resumed.err;
        EXPECT_EQ(read_file(dir / "r.csv"), kept) << other;
    }
    EXPECT_EQ(sim(sweep + "--town a.town --summary r.csv --resume").status, 0);
}

#if MAROVEL_WITH_PICTURES
// town picture: a few pixels a cell, the top row first, exits in red.
TEST_F(SimFolder, TownPictureDrawsEveryCellWithItsExitsInRed) {
    const CommandResult r = sim("town picture '" + TOWNS + "two_exits.town' two.png");
    ASSERT_EQ(r.status, 0) << r.err;
    const QImage image(QString::fromStdString((dir / "two.png").string()));
    ASSERT_FALSE(image.isNull());
    Town town;
    TownTextError e;
    ASSERT_TRUE(parse_town(read_file(TOWNS + "two_exits.town"), town, e)) << e.message;
    const int k = image.width() / town.width;
    EXPECT_EQ(image.width(), town.width * k);
    EXPECT_EQ(image.height(), town.height * k);
    ASSERT_EQ(town.exits.size(), 2u);
    for (const CellPos& exit : town.exits) {
        const QColor c =
            image.pixelColor(exit.x * k + k / 2, (town.height - 1 - exit.y) * k + k / 2);
        EXPECT_GT(c.red(), 180) << exit.x << "," << exit.y;
        EXPECT_LT(c.green(), 80) << exit.x << "," << exit.y;
    }
    const CommandResult notPng = sim("town picture builtin town.jpg");
    EXPECT_EQ(notPng.status, 2);
    EXPECT_FALSE(fs::exists(dir / "town.jpg"));
}

// A town with road classes is drawn as on a map: each class's roads in the
// class's own colour, a road of no class grey, one-way lanes marked along
// their middle, and a key in the empty corner showing every class it has.
// Without its roads block the same town is drawn as every town was: roads
// grey, one-way lanes darker, and no key.
TEST_F(SimFolder, TownPictureDrawsRoadsByClassWithAKey) {
    // 16 x 16 cells of 32 pixels; the top-left 15 x 8 cells are land, room for the key.
    const char* rows[16][2] = {
        {"...............+", "................"}, {"...............|", "................"},
        {"...............|", "................"}, {"...............|", "................"},
        {"...............|", "................"}, {"...............|", "................"},
        {"...............|", "................"}, {"...............|", "................"},
        {"++++++++++++++++", "MMMMMMMMMMMMMMMM"}, {"N>>>>>>>>>>>>>>+", ".PPPPPPPPPPPPPPP"},
        {"++++++++++++++++", "SSSSSSSSSSSSSSSS"}, {"................", "................"},
        {"++++++++++++++++", "TTTTTTTTTTTTTTTT"}, {"++++++++++++++++", "RRRRRRRRRRRRRRRR"},
        {"++++++++++++++++", "AAAAAAAAAAAAAAAA"}, {"++++++++++++++++", "XXXXXXXXXXXXXXXX"}};
    std::string grid, roads;
    for (const auto& row : rows) grid += std::string(row[0]) + "\n", roads += std::string(row[1]) + "\n";
    std::ofstream(dir / "plain.town") << "exit = 15,0\ngrid\n" << grid;
    std::ofstream(dir / "classed.town") << "exit = 15,0\ngrid\n" << grid << "roads\n" << roads;
    for (const char* name : {"plain", "classed"}) {
        const CommandResult r = sim(std::string("town picture ") + name + ".town " + name + ".png");
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    }
    const QImage plain(QString::fromStdString((dir / "plain.png").string()));
    const QImage classed(QString::fromStdString((dir / "classed.png").string()));
    const int k = 32;
    ASSERT_EQ(plain.size(), QSize(16 * k, 16 * k));
    ASSERT_EQ(classed.size(), plain.size());
    const auto rgb = [](TownColour c) { return qRgb(c.r, c.g, c.b); };
    // Row `r` of the file (0 the top), column x, `dy` pixels below the cell's top.
    const auto at = [&](const QImage& image, int x, int r, int dy) {
        return image.pixel(x * k + k / 2, r * k + dy);
    };

    // Each class in its colour, all eight apart, on a cell clear of the edges
    // and of the one-way mark; the one-way lane marked darker along its middle.
    const std::pair<int, std::uint8_t> classRows[] = {
        {8, ROAD_CLASS_MOTORWAY}, {9, ROAD_CLASS_PRIMARY}, {10, ROAD_CLASS_SECONDARY},
        {12, ROAD_CLASS_TERTIARY}, {13, ROAD_CLASS_MINOR}, {14, ROAD_CLASS_SERVICE},
        {15, ROAD_CLASS_OTHER},    {4, ROAD_CLASS_NONE}};
    std::set<QRgb> seen;
    for (const auto& [r, c] : classRows) {
        const int x = r == 4 ? 15 : 7;
        EXPECT_EQ(at(classed, x, r, 5), rgb(TOWN_ROAD_CLASS[c])) << "row " << r;
        seen.insert(at(classed, x, r, 5));
        EXPECT_EQ(at(plain, x, r, 5), rgb(r == 9 ? TOWN_ONE_WAY : TOWN_ROAD)) << "row " << r;
    }
    EXPECT_EQ(seen.size(), 8u) << "every class a colour of its own";
    EXPECT_LT(qGray(at(classed, 7, 9, k / 2)), qGray(rgb(TOWN_ROAD_CLASS[ROAD_CLASS_PRIMARY])) - 40)
        << "the one-way mark";
    EXPECT_EQ(at(classed, 0, 9, k / 2), rgb(TOWN_HOUSE));
    EXPECT_EQ(at(classed, 15, 15, k / 2), rgb(TOWN_EXIT));

    // The key: in the land at the top left, a swatch (12 x 12 pixels inside
    // its frame) of each class the town has, of a home and of an exit; the
    // plain town leaves that land bare.
    const auto count = [&](const QImage& image, QRgb colour) {
        int n = 0;
        for (int y = 0; y < 8 * k; ++y)
            for (int x = 0; x < 15 * k; ++x) n += image.pixel(x, y) == colour;
        return n;
    };
    for (const auto& [r, c] : classRows)
        EXPECT_GE(count(classed, rgb(TOWN_ROAD_CLASS[c])), 144) << "the key's swatch of row " << r;
    EXPECT_GE(count(classed, rgb(TOWN_EXIT)), 144);
    EXPECT_GE(count(classed, rgb(TOWN_HOUSE)), 100);
    EXPECT_EQ(count(plain, rgb(TOWN_LAND)), 15 * 8 * k * k) << "no key without classes";
}

// A town from OpenStreetMap carries the map's credit in its picture's
// bottom-right corner, and nowhere else: the same town without its source
// line draws the same picture but for that corner.
TEST_F(SimFolder, TownPictureOfAnImportedTownCreditsTheMap) {
    ASSERT_EQ(sim("town import '" MAROVEL_SOURCE_DIR "/tests/data/osm/west-oakland.osm.bz2' "
                  "--out osm.town")
                  .status,
              0);
    std::ofstream(dir / "plain.town") << without_lines(read_file(dir / "osm.town"), "source =");
    ASSERT_EQ(sim("town picture osm.town osm.png").status, 0);
    ASSERT_EQ(sim("town picture plain.town plain.png").status, 0);
    const QImage credited(QString::fromStdString((dir / "osm.png").string()));
    const QImage plain(QString::fromStdString((dir / "plain.png").string()));
    ASSERT_EQ(credited.size(), plain.size());
    int changed = 0, outside = 0, white = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            if (credited.pixel(x, y) == plain.pixel(x, y)) continue;
            ++changed;
            // The corner: the width of a line of small text, the height of one.
            if (x < plain.width() - 260 || y < plain.height() - 30) ++outside;
            if (qGray(credited.pixel(x, y)) > 230) ++white;
        }
    EXPECT_GT(changed, 1000);
    EXPECT_EQ(outside, 0);
    EXPECT_GT(white, 100) << "white letters";
}
#endif

}  // namespace
