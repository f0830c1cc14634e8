#include "sim/town_text.h"

#include <gtest/gtest.h>

#include "sim/fingerprint.h"
#include "support/town.h"
#include "support/towns.h"
#include "support/zoned_street.h"

namespace {

TEST(TownText, TheBuiltInTownsFileIsTheFormattersTextAndParsesToTheBuiltInTown) {
    const std::string file = read_text_file(std::string(MAROVEL_DATA_DIR) + "/towns/builtin.town");
    EXPECT_EQ(file, format_town(builtin_town()));
    Town parsed;
    TownTextError e;
    ASSERT_TRUE(parse_town(file, parsed, e)) << e.line << ":" << e.column << " " << e.message;
    EXPECT_TRUE(same_town(parsed, builtin_town()));
    // The top row comes first: the exit's row, and the river's bridge beside it.
    EXPECT_NE(file.find("grid\n..................+--+..................\n"), std::string::npos);
}

TEST(TownText, ARunOnTheParsedBuiltInTownIsTheDefaultRunBitForBit) {
    Town parsed;
    TownTextError e;
    ASSERT_TRUE(parse_town(format_town(builtin_town()), parsed, e));
    for (float level : {ERROR_MODERATE, ERROR_HIGH}) {
        auto standard = reset_town(1, level);
        auto onParsed = town_run(std::make_shared<const Town>(parsed), error_level(level));
        for (int t = 1; t <= 2000; ++t) {
            sim_tick(*standard);
            sim_tick(*onParsed);
            if (t % 250 == 0) {
                ASSERT_STREQ(fingerprint_line(*standard, t).text, fingerprint_line(*onParsed, t).text);
            }
        }
    }
}

TEST(TownText, EveryCellKindDoorCountAndKeyReadsBackAsWritten) {
    const std::string text =
        "# every kind of cell\n"
        "name = sampler\n"
        "cell_size_m = 12.5\n"
        "source = survey of 1931, public domain\n"
        "origin = -33.9249, 18.4241\n"
        "standard_parallel = -33.92\n"
        "exit = 0,2\n"
        "exit = 5,0, 3\n"
        "cars = 1,1,3\n"
        "grid\n"
        "+|-^v>+\n"
        "+S+NE+W\n"
        "~+.+<++\n";
    Town t;
    TownTextError e;
    ASSERT_TRUE(parse_town(text, t, e)) << e.line << ":" << e.column << " " << e.message;
    EXPECT_EQ(t.name, "sampler");
    EXPECT_EQ(t.cellSizeM, 12.5);
    EXPECT_EQ(t.source, "survey of 1931, public domain");
    ASSERT_TRUE(t.origin.has_value());
    EXPECT_TRUE(t.origin->lat == -33.9249 && t.origin->lon == 18.4241 &&
                t.origin->standardParallel == -33.92);
    EXPECT_TRUE(t.width == 7 && t.height == 3);
    EXPECT_EQ(t.layout_at({2, 0}), LAYOUT_BLOCKED);
    EXPECT_EQ(t.layout_at({0, 0}), LAYOUT_WATER);
    EXPECT_EQ(t.layout_at({1, 2}), LAYOUT_ROAD_Y);
    EXPECT_EQ(t.layout_at({2, 2}), LAYOUT_ROAD_X);
    EXPECT_EQ(t.layout_at({3, 2}), LAYOUT_ONE_WAY_Y_INC);
    EXPECT_EQ(t.layout_at({4, 2}), LAYOUT_ONE_WAY_Y_DEC);
    EXPECT_EQ(t.layout_at({5, 2}), LAYOUT_ONE_WAY_X_INC);
    EXPECT_EQ(t.layout_at({4, 0}), LAYOUT_ONE_WAY_X_DEC);
    ASSERT_EQ(t.houses.size(), 4u);
    EXPECT_TRUE(t.houses[0].pos == (CellPos{1, 1}) && t.houses[0].door == DIR_Y_DEC &&
                t.houses[0].cars == 3);
    EXPECT_EQ(t.houses[1].door, DIR_Y_INC);
    EXPECT_EQ(t.houses[2].door, DIR_X_INC);
    EXPECT_EQ(t.houses[3].door, DIR_X_DEC);
    EXPECT_EQ(t.houses[3].cars, -1);
    ASSERT_EQ(t.exits.size(), 2u);
    EXPECT_TRUE(t.exits[0] == (CellPos{0, 2}) && t.exits[1] == (CellPos{5, 0}));
    EXPECT_EQ(t.exitCapacities, (std::vector<std::int32_t>{0, 3}));  // any number, then 3 a tick
    Town back;
    ASSERT_TRUE(parse_town(format_town(t), back, e)) << e.message;
    EXPECT_TRUE(same_town(t, back));
    // Windows line ends and comments between keys change nothing.
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Town fromCrlf;
    ASSERT_TRUE(parse_town(crlf, fromCrlf, e)) << e.message;
    EXPECT_TRUE(same_town(t, fromCrlf));
}

// The road classes: the top row first like the grid's, each class's letter,
// written back as read; a town differing in one class is another town, and a
// class off the roads is an error.
TEST(TownText, RoadClassesReadBackAsWrittenAndOnlyOnRoads) {
    const std::string text =
        "cell_size_m = 10\n"
        "exit = 0,2\n"
        "grid\n"
        "+++++++++\n"
        "+N+~++<+.\n"
        "^++|-++++\n"
        "roads\n"
        "MPSTRAX..\n"
        "M.P.RR.S.\n"
        "..A.RRRRR\n";
    Town t;
    TownTextError e;
    ASSERT_TRUE(parse_town(text, t, e)) << e.line << ":" << e.column << " " << e.message;
    ASSERT_EQ(t.roadClass.size(), t.layout.size());
    const auto cls = [&](std::int32_t x, std::int32_t y) {
        return t.roadClass[static_cast<std::size_t>(y) * t.width + x];
    };
    const std::uint8_t top[] = {ROAD_CLASS_MOTORWAY, ROAD_CLASS_PRIMARY, ROAD_CLASS_SECONDARY,
                                ROAD_CLASS_TERTIARY, ROAD_CLASS_MINOR,   ROAD_CLASS_SERVICE,
                                ROAD_CLASS_OTHER,    ROAD_CLASS_NONE,    ROAD_CLASS_NONE};
    for (std::int32_t x = 0; x < 9; ++x) EXPECT_EQ(cls(x, 2), top[x]) << x;
    EXPECT_EQ(cls(0, 0), ROAD_CLASS_NONE);
    EXPECT_EQ(cls(2, 0), ROAD_CLASS_SERVICE) << "the last line is row 0";
    EXPECT_EQ(cls(7, 1), ROAD_CLASS_SECONDARY);
    EXPECT_EQ(format_town(t), text) << "the formatter writes what it reads";

    Town other = t;
    other.roadClass[static_cast<std::size_t>(2) * t.width + 1] = ROAD_CLASS_SECONDARY;
    EXPECT_FALSE(same_town(other, t));
    EXPECT_FALSE(has_errors(validate_town(other)));
    other.roadClass[static_cast<std::size_t>(1) * t.width + 1] = ROAD_CLASS_MINOR;  // the house
    EXPECT_TRUE(has_errors(validate_town(other)));
    other.roadClass.pop_back();
    EXPECT_TRUE(has_errors(validate_town(other)));
}

using namespace std::string_literals;

struct Refusal {
    std::string text;
    int line, column;
    const char* says;
};

TEST(TownText, EachFaultIsRefusedWithItsLineAndColumn) {
    const Refusal cases[] = {
        {"exit = 0,0\ngrid\n+N\n+\n"s, 4, 2, "row of 1 cells; the first row has 2"},
        {"exit = 0,0\ngrid\n+N+\n+?+\n"s, 4, 2, "unknown cell character '?'"},
        {"exit = 0,1\ngrid\n+N\n+\0\n"s, 4, 2, "binary"},
        {"grid\n+N\n"s, 2, 0, "no exit"},
        {"exit = 0,0\ngrid\n+++\n"s, 3, 0, "no house"},
        {"exit = 1,0\ngrid\nN.\n+.\n"s, 1, 0, "not a road cell (line 4, column 2)"},
        {"exit = 0,0\ngrid\n.N\n+.\n"s, 3, 2, "door of the house at (1, 1) is not a road"},
        {"exit = 0,0\nwidth = 3\ngrid\n+N\n"s, 2, 1, "unknown key `width`"},
        {"exit = 0;0\ngrid\n+N\n"s, 1, 8, "exit must be X,Y"},
        {"exit = 0,0,0\ngrid\n+N\n"s, 1, 12, "exit capacity must be 1..1000000"},
        {"exit = 0,0, -2\ngrid\n+N\n"s, 1, 13, "exit capacity must be"},
        {"exit = 0,0,1,1\ngrid\n+N\n"s, 1, 8, "exit must be X,Y or X,Y,CAP"},
        {"exit = 0,0\ncars = 0,0,5\ngrid\nN\n+\n"s, 2, 0, "not a house"},
        {"exit = 0,0\ncars = 0,1,101\ngrid\nN\n+\n"s, 2, 8, "cars must be X,Y,N"},
        {"exit = 0,0\ncell_size_m = -1\ngrid\nN\n+\n"s, 2, 15, "cell_size_m must be"},
        {"exit = 0,0\nthe town\n"s, 2, 1, "expected `key = value`"},
        {"exit = 0,0\n"s, 1, 0, "no `grid` line"},
        {"exit = 0,0\norigin = 86,10\ngrid\nN\n+\n"s, 2, 10, "origin must be LAT,LON"},
        {"exit = 0,0\norigin = 40\ngrid\nN\n+\n"s, 2, 10, "origin must be LAT,LON"},
        {"exit = 0,0\norigin = 40,nan\ngrid\nN\n+\n"s, 2, 10, "origin must be LAT,LON"},
        {"exit = 0,0\nstandard_parallel = 40\ngrid\nN\n+\n"s, 2, 1, "without an origin"},
        {"exit = 0,0\ngrid\n+N\n\n+N\n"s, 5, 1, "after the blank line"},
        {"exit = 0,0\ngrid\nN+\n++\nroads\n.R\nR\n"s, 7, 2, "road row of 1 cells; the grid's rows have 2"},
        {"exit = 0,0\ngrid\nN+\n++\nroads\n.R\nRq\n"s, 7, 2, "unknown road class 'q'"},
        {"exit = 0,0\ngrid\nN+\n++\nroads\nRR\nRR\n"s, 6, 1, "road class 'R' on a cell that is no road ('N' in the grid)"},
        {"exit = 0,0\ngrid\nN+\n++\n\nroads\n.R\n"s, 6, 0, "the roads have 1 rows; the grid has 2"},
        {"exit = 0,0\ngrid\nN+\n++\nroads\n.R\nRR\nRR\n"s, 8, 1, "more road rows than the grid's 2"},
        {"exit = 0,0\ngrid\nN+\n++\nroads\n.R\n\nRR\n"s, 8, 1, "after the blank line that ended the roads"},
    };
    for (const Refusal& c : cases) {
        const std::string& text = c.text;
        Town t;
        TownTextError e;
        EXPECT_FALSE(parse_town(text, t, e)) << c.says;
        EXPECT_TRUE(e.line == c.line && e.column == c.column)
            << c.says << ": line " << e.line << ", column " << e.column << ": " << e.message;
        EXPECT_NE(e.message.find(c.says), std::string::npos) << e.message;
    }
}

TEST(TownText, WhatIsReadIsBoundedBeforeItIsStored) {
    Town t;
    TownTextError e;
    // A row beyond the largest town is refused at its first cell too many.
    const std::string wide = "exit = 0,0\ngrid\n" + std::string(TOWN_MAX_SIDE + 1, '+') + "\n";
    EXPECT_FALSE(parse_town(wide, t, e));
    EXPECT_TRUE(e.line == 3 && e.column == TOWN_MAX_SIDE + 1) << e.message;
    // Rows beyond it: the first row too many.
    std::string tall = "exit = 0,0\ngrid\n";
    for (int r = 0; r <= TOWN_MAX_SIDE; ++r) tall += "N\n";
    EXPECT_FALSE(parse_town(tall, t, e));
    EXPECT_EQ(e.line, 3 + TOWN_MAX_SIDE);
    // Text longer than any town's is refused as a whole, unread.
    EXPECT_FALSE(parse_town(std::string(TOWN_TEXT_MAX_BYTES + 1, '#'), t, e));
    EXPECT_TRUE(e.line == 0 && e.message.find("larger") != std::string::npos) << e.message;
}

}  // namespace

namespace {

constexpr const char* ZONED = ZONED_STREET;

// The zones layer is part of the town: it reads into each house's zone and is
// written back as it was read; the same town without it has no zones and is
// written without the block.
TEST(TownText, AZonesLayerReadsIntoEachHousesZoneAndIsWrittenBackAsRead) {
    Town t;
    TownTextError e;
    ASSERT_TRUE(parse_town(ZONED, t, e)) << e.line << ":" << e.column << " " << e.message;
    ASSERT_EQ(t.zoneNames, (std::vector<std::string>{"far", "near"}));
    for (std::size_t k = 0; k < t.houses.size(); ++k) {
        const CellPos p = t.houses[k].pos;
        EXPECT_EQ(zone_name(t, house_zone(t, k)), in_far_zone(p) ? "far" : "near") << p.x << "," << p.y;
    }
    EXPECT_EQ(format_town(t), ZONED);
    const std::string plain(ZONED, std::string_view(ZONED).find("zones\n"));
    Town unzoned;
    ASSERT_TRUE(parse_town(plain, unzoned, e));
    EXPECT_TRUE(unzoned.zoneNames.empty());
    EXPECT_EQ(zone_count(unzoned), 1u);
    EXPECT_EQ(format_town(unzoned), plain);
    EXPECT_FALSE(same_town(t, unzoned));
    // A tick length is a key of its own, written after the cell size, and read back.
    std::string timed = ZONED;
    timed.insert(timed.find("exit"), "minutes_per_tick = 2.5\n");
    Town withLength;
    ASSERT_TRUE(parse_town(timed, withLength, e)) << e.message;
    EXPECT_EQ(withLength.minutesPerTick, 2.5);
    EXPECT_EQ(format_town(withLength), timed);
    EXPECT_FALSE(same_town(withLength, t));
}

// A layer that does not fit the town is refused at the line and column where it fails.
TEST(TownText, AZonesLayerThatDoesNotFitIsRefusedAtItsLineAndColumn) {
    const std::string head(ZONED, std::string_view(ZONED).find("NNNNNNFFFFFF\n..."));
    struct Case {
        std::string layer;  // after the legend (line 10 is its first row)
        int line, column;
        const char* says;
    };
    const Case cases[] = {
        {"NNNNNNFFFFFF\n....Q.......\nNNNNNFFFFFFF\n", 11, 5, "unknown zone character 'Q'"},
        {"NNNNNNFFFFFF\n...........\nNNNNNFFFFFFF\n", 11, 12, "zone row of 11 cells"},
        {"NNNNNNFFFFFF\n............\n", 10, 0, "the zones have 2 rows; the town has 3"},
        {"NNNNNNFFFFFF\n............\nNNNNNFFFFFFF\nNNNNNFFFFFFF\n", 13, 1, "more zone rows"},
        {"NNNNNNFFFFFF\n............\nNNN.NFFFFFFF\n", 12, 4, "the house at (3, 0) lies in no zone"},
    };
    for (const Case& c : cases) {
        Town t;
        TownTextError e;
        EXPECT_FALSE(parse_town(head + c.layer, t, e)) << c.says;
        EXPECT_EQ(e.line, c.line) << c.says << ": " << e.message;
        EXPECT_EQ(e.column, c.column) << c.says << ": " << e.message;
        EXPECT_NE(e.message.find(c.says), std::string::npos) << e.message;
    }
    Town t;
    TownTextError e;
    EXPECT_FALSE(parse_town(std::string(ZONED).replace(std::string_view(ZONED).find("N = near"), 8,
                                                       "F = near"),
                            t, e));
    EXPECT_EQ(e.line, 9);
    EXPECT_NE(e.message.find("named twice"), std::string::npos) << e.message;
}

}  // namespace
