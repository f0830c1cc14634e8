// Plans as files: a plan reads to the orders and operations its lines give,
// as the command line's parsers read them, and every bad line is refused with
// the line and column of what is wrong.
#include "experiments/planning/plan_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "experiments/planning/order_text.h"
#include "experiments/planning/road_text.h"
#include "sim/town_text.h"
#include "support/zoned_street.h"

namespace {

Town zoned_street(double minutesPerTick = 0.0) {
    Town town;
    TownTextError e;
    EXPECT_TRUE(parse_town(ZONED_STREET, town, e)) << e.message;
    town.minutesPerTick = minutesPerTick;
    return town;
}

// The plan of `text` on the street, for runs of `ticks` ticks; the error or empty.
std::string read_plan(const std::string& text, Plan& plan, long long ticks = 500,
                      double minutesPerTick = 0.0) {
    std::vector<PlanLine> lines;
    if (std::string why = split_plan_text(text, lines); !why.empty()) return why;
    return read_plan_lines(lines, zoned_street(minutesPerTick), ticks, plan);
}

// Every line as the command line's parsers read the same text, in the order
// written; hours are the nearest tick of the town's tick length.
TEST(PlanFile, ReadsItsLinesAsTheOptionsOfTheSameText) {
    Plan plan;
    const std::string text =
        "# far first, then near\n"
        "name = staged\n"
        "\n"
        "  order   =  far@20  \n"
        "order = near@1.5h\n"
        "close = 3,1:4,1@100\r\n"
        "reopen = 3,1:4,1@2h\n"
        "contraflow = 0,1:11,1@0:left\n"
        "exit_capacity = 2\n";
    ASSERT_EQ(read_plan(text, plan, 500, 2.0), "");
    EXPECT_EQ(plan.name, "staged");
    const Town town = zoned_street(2.0);
    ASSERT_EQ(plan.orders.size(), 2u);
    EvacuationOrder far;
    ASSERT_EQ(parse_order("far@20", town, far), "");
    EXPECT_EQ(plan.orders[0].zone, far.zone);
    EXPECT_EQ(plan.orders[0].tick, 20);
    EXPECT_EQ(order_text(town, plan.orders[1]), "near@45");
    EXPECT_EQ(plan.roads.exitCapacity, 2);
    ASSERT_EQ(plan.roads.operations.size(), 3u);
    EXPECT_EQ(road_operation_text(plan.roads.operations[0]), "3,1:4,1@100");
    EXPECT_EQ(plan.roads.operations[1].action, RoadAction::Reopen);
    EXPECT_EQ(road_operation_text(plan.roads.operations[1]), "3,1:4,1@60");
    EXPECT_EQ(plan.roads.operations[2].action, RoadAction::Contraflow);
    EXPECT_EQ(road_operation_text(plan.roads.operations[2]), "0,1:11,1@0:left");
}

// Each fault with the line and column it is reported at.
TEST(PlanFile, RefusesABadLineAtItsLineAndColumn) {
    const struct {
        const char* text;
        const char* where;  // LINE:COLUMN
        const char* what;   // a part of the message
    } cases[] = {
        {"order = far@1\ncolour = red\n", "2:1", "unknown key \"colour\""},
        {"# a plan\n   just words\n", "2:4", "not a `key = value` line"},
        {"order =   \n", "1:8", "has no value"},
        {"name = a\nname = b\n", "2:1", "name given twice (first on line 1)"},
        {"exit_capacity = 1\nexit_capacity = 2\n", "2:1", "given twice"},
        {"name = two words\n", "1:8", "a name is letters"},
        {"order = east@10\n", "1:9", "no zone \"east\" (its zones: far, near)"},
        {"order = far@-1\n", "1:9", "before tick 0"},
        {"order = far@501\n", "1:9", "past the run's 500 ticks"},
        {"order = far@2h\n", "1:9", "the town has no minutes_per_tick"},
        {"close = 12,1@10\n", "1:9", "outside the town"},
        {"reopen = 3,1@x\n", "1:10", "the tick must be a whole number"},
        {"contraflow = 0,0:11,0@10\n", "1:14", "no road cell"},
        {"close = 3,1@600\n", "1:9", "past the run's 500 ticks"},
        {"exit_capacity = 0\n", "1:17", "an exit takes 1..1000000 cars a tick"},
        {"exit_capacity = -2\n", "1:17", "an exit takes 1.."},
        {"order = far@1\n\torder=far:2\n", "2:8", "is not ZONE@TICK"},
    };
    for (const auto& c : cases) {
        Plan plan;
        const std::string why = read_plan(c.text, plan);
        EXPECT_EQ(why.substr(0, why.find(": ")), c.where) << c.text << " -> " << why;
        EXPECT_NE(why.find(c.what), std::string::npos) << c.text << " -> " << why;
        EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    }
}

// A file names itself after its stem unless it says otherwise, lays the zones
// file beside it over the town, and its errors name it, as do the zones file's.
TEST(PlanFile, AFileReadsItsZonesBesideItAndNamesItselfInItsErrors) {
    char path[] = "/tmp/marovel-plan-XXXXXX";
    ASSERT_NE(mkdtemp(path), nullptr);
    const std::string dir = path;
    Town plain;
    TownTextError e;
    std::string street = ZONED_STREET;
    ASSERT_TRUE(parse_town(street.substr(0, street.find("zones")), plain, e)) << e.message;
    const auto town = std::make_shared<const Town>(plain);
    std::ofstream(dir + "/street.zones")
        << "A = a\nB = b\nAAAAAABBBBBB\n............\nAAAAAABBBBBB\n";
    std::ofstream(dir + "/ab.plan") << "zones = street.zones\norder = b@5\n";
    std::ofstream(dir + "/bad.plan") << "order = b@5\n";
    std::ofstream(dir + "/badzones.plan") << "\nzones = missing.zones\n";
    std::ofstream(dir + "/two words.plan") << "order = a@5\n";
    Plan plan;
    std::string error;
    ASSERT_TRUE(read_plan_file(dir + "/ab.plan", town, 100, plan, error)) << error;
    EXPECT_EQ(plan.name, "ab");
    ASSERT_TRUE(plan.town);
    EXPECT_EQ(zone_name(*plan.town, static_cast<std::size_t>(plan.orders.at(0).zone)), "b");
    EXPECT_TRUE(town->zoneNames.empty());  // the given town stays as it was
    EXPECT_FALSE(read_plan_file(dir + "/bad.plan", town, 100, plan, error));
    EXPECT_EQ(error.rfind(dir + "/bad.plan:1:9: order", 0), 0u) << error;
    EXPECT_FALSE(read_plan_file(dir + "/badzones.plan", town, 100, plan, error));
    EXPECT_EQ(error.rfind(dir + "/badzones.plan:2:9: zones: " + dir + "/missing.zones: ", 0), 0u)
        << error;
    EXPECT_FALSE(read_plan_file(dir + "/two words.plan", town, 100, plan, error));
    EXPECT_NE(error.find("give the plan a `name = ...` line"), std::string::npos) << error;
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
