// Zones and orders on the command line: a sweep on a zoned town reports each
// zone in its summary and names each car's zone in its households rows, the
// files of a town without zones or orders keep their columns, and bad zones
// or orders are refused in one line before anything is written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/command.h"

namespace {

const std::string SIM = MAROVEL_SIM;

std::string folder() {
    char path[] = "/tmp/marovel-zones-XXXXXX";
    return mkdtemp(path) != nullptr ? path : "";
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// The column names and the data rows of a CSV file with comment lines.
struct Table {
    std::vector<std::string> columns;
    std::vector<std::map<std::string, std::string>> rows;
};

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string f;
    while (std::getline(in, f, ',')) out.push_back(f);
    if (!line.empty() && line.back() == ',') out.push_back("");
    return out;
}

Table read_table(const std::string& path) {
    Table t;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (t.columns.empty()) {
            t.columns = fields(line);
            continue;
        }
        const std::vector<std::string> f = fields(line);
        std::map<std::string, std::string> row;
        for (std::size_t k = 0; k < t.columns.size() && k < f.size(); ++k) row[t.columns[k]] = f[k];
        t.rows.push_back(row);
    }
    return t;
}

constexpr const char* STREET =
    "exit = 0,1\n"
    "grid\n"
    "SSSSSSSSSSSS\n"
    "++++++++++++\n"
    "NNNNNNNNNNNN\n";
constexpr const char* STREET_ZONES =
    "F = far\n"
    "N = near\n"
    "NNNNNNFFFFFF\n"
    "............\n"
    "NNNNNNFFFFFF\n";

// The summary's zone figures against the households rows of the same runs,
// stopped while the far zone's cars are on their way:
// each zone's departures are its cars with a decision tick, its stranded cars
// those that gave up or ran out of gas, and the share that
// left without an order is the near zone's share of all that left.
TEST(ZoneOptions, ASweepReportsEachZoneAsItsHouseholdsRowsAccountForIt) {
    const std::string dir = folder();
    write_file(dir + "/street.town", STREET);
    write_file(dir + "/street.zones", STREET_ZONES);
    const CommandResult r = run_command(
        SIM + " sweep --town " + dir + "/street.town --zones " + dir +
        "/street.zones --order far@50 --set order_compliance=1 --seeds 1,2,3 --errors low "
        "--ticks 60 --summary " + dir + "/s.csv --households " + dir + "/h.csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const Table summary = read_table(dir + "/s.csv");
    const Table households = read_table(dir + "/h.csv");
    ASSERT_EQ(summary.rows.size(), 3u);
    for (const auto& row : summary.rows) {
        int left[2] = {0, 0};      // far, near
        int stranded[2] = {0, 0};  // gave up or out of gas at the end
        for (const auto& car : households.rows) {
            if (car.at("seed") != row.at("seed")) continue;
            const int zone = car.at("zone") == "far" ? 0 : 1;
            left[zone] += !car.at("decision_tick").empty();
            stranded[zone] += car.at("outcome") == "gave_up" || car.at("outcome") == "out_of_gas";
        }
        EXPECT_EQ(row.at("zone_far_departures"), std::to_string(left[0]));
        EXPECT_EQ(row.at("zone_near_departures"), std::to_string(left[1]));
        EXPECT_EQ(row.at("zone_far_stranded"), std::to_string(stranded[0]));
        EXPECT_EQ(row.at("zone_near_stranded"), std::to_string(stranded[1]));
        ASSERT_GT(left[0] + left[1], 0);
        EXPECT_NEAR(std::stod(row.at("left_without_order")),
                    static_cast<double>(left[1]) / (left[0] + left[1]), 1e-12);
        // Ten ticks after the order the far zone's cars are still on the street.
        EXPECT_TRUE(row.at("zone_far_tick_100").empty());
    }
    // Without zones or orders, the summary's columns are the ones it always had.
    const CommandResult plain = run_command(SIM + " sweep --town " + dir +
                                            "/street.town --seeds 1 --errors low --ticks 50 "
                                            "--summary " + dir + "/plain.csv --households " + dir +
                                            "/plain-h.csv");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(read_table(dir + "/plain.csv").columns,
              fields("seed,step,error,spread,not_evacuated,evacuated,gave_up,en_route,towed,"
                     "out_of_gas,tick_50,tick_90,max_en_route,max_en_route_tick,settled_tick,"
                     "last_arrival_tick,trip_mean,trip_p90,households_never_left"));
    const std::vector<std::string> carColumns = read_table(dir + "/plain-h.csv").columns;
    EXPECT_EQ(std::count(carColumns.begin(), carColumns.end(), "zone"), 0);
    EXPECT_EQ(std::count(carColumns.begin(), carColumns.end(), "household"), 1);
    std::system(("rm -rf " + dir).c_str());
}

// Each refusal is one line on the standard error naming the option (and, for a
// file, its line and column), status 2, and no output file.
TEST(ZoneOptions, BadZonesAndOrdersAreRefusedInOneLineAndNothingIsWritten) {
    const std::string dir = folder();
    write_file(dir + "/street.town", STREET);
    write_file(dir + "/narrow.zones", "F = far\nFFFF\nFFFF\nFFFF\n");
    write_file(dir + "/short.zones", "F = far\nFFFFFFFFFFFF\n");
    write_file(dir + "/odd.zones", "F = far\nFFFFFFFFFFFF\n....?.......\nFFFFFFFFFFFF\n");
    const std::string sweep = SIM + " sweep --town " + dir + "/street.town --seeds 1 --ticks 100 "
                              "--summary " + dir + "/s.csv ";
    const struct {
        std::string args;
        std::string says;
    } cases[] = {
        {"--order nowhere@10", "--order: \"nowhere@10\": the town has no zone \"nowhere\""},
        {"--order town@101", "tick 101 lies past the run's 100 ticks"},
        {"--order town@-1", "tick -1 lies before tick 0"},
        {"--order town", "\"town\" is not ZONE@TICK"},
        {"--zones " + dir + "/narrow.zones", dir + "/narrow.zones:2:5: zone row of 4 cells"},
        {"--zones " + dir + "/short.zones", dir + "/short.zones:2: the zones have 1 rows"},
        {"--zones " + dir + "/odd.zones", dir + "/odd.zones:3:5: unknown zone character '?'"},
        {"--zones " + dir + "/odd.zones --order far@10", "odd.zones:3:5:"},
    };
    for (const auto& c : cases) {
        const CommandResult r = run_command(sweep + c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_NE(access((dir + "/s.csv").c_str(), F_OK), 0) << c.args;
        const CommandResult single = run_command(SIM + " --town " + dir + "/street.town --ticks 100 " + c.args);
        EXPECT_EQ(single.status, 2) << c.args;
        EXPECT_TRUE(single.out.empty()) << single.out;
    }
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace

namespace {

// On a town whose tick stands for 2 minutes, an order at 0.75h (22.5 ticks)
// is the order at the nearest tick, 23: the same runs, row for row, and not
// those of tick 22; a town without a tick length refuses hours.
TEST(ZoneOptions, AnOrderInHoursIsTheOrderAtTheNearestTickOfTheTownsTickLength) {
    const std::string dir = folder();
    write_file(dir + "/timed.town", std::string("minutes_per_tick = 2\n") + STREET);
    write_file(dir + "/street.town", STREET);
    write_file(dir + "/street.zones", STREET_ZONES);
    const std::string sweep = SIM + " sweep --no-header --zones " + dir +
                              "/street.zones --set order_compliance=0.5 --seeds 1..3 --errors "
                              "low --ticks 200 --town ";
    const CommandResult hours =
        run_command(sweep + dir + "/timed.town --order far@0.75h --summary -");
    const CommandResult ticks = run_command(sweep + dir + "/timed.town --order far@23 --summary -");
    ASSERT_EQ(hours.status, 0) << hours.err;
    ASSERT_EQ(ticks.status, 0) << ticks.err;
    EXPECT_EQ(hours.out, ticks.out);
    const CommandResult earlier =
        run_command(sweep + dir + "/timed.town --order far@22 --summary -");
    EXPECT_NE(earlier.out, hours.out);
    const CommandResult untimed = run_command(sweep + dir + "/street.town --order far@1h");
    EXPECT_EQ(untimed.status, 2);
    EXPECT_NE(untimed.err.find("no minutes_per_tick"), std::string::npos) << untimed.err;
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
