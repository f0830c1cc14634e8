// marovel-sim town import, as a user runs it on real extracts and on bad files.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "experiments/sim_folder.h"
#include "support/earth.h"

namespace {

const std::string OSM = MAROVEL_SOURCE_DIR "/tests/data/osm/";

// Each extract imports into a town that says where it came from, checks with
// no error and no warning (every house reaches an exit), and a whole run on it
// under the road guide accounts for every car of the town.
TEST_F(SimFolder, RealExtractsImportIntoTownsWhoseEveryCarIsAccountedFor) {
    for (const std::string file : {"west-oakland.osm.bz2", "small-german-village.osm"}) {
        SCOPED_TRACE(file);
        const CommandResult imported = sim("town import '" + OSM + file + "' --out place.town");
        ASSERT_EQ(imported.status, 0) << imported.err;
        EXPECT_NE(imported.err.find("houses: "), std::string::npos) << imported.err;
        EXPECT_NE(imported.err.find("dropped: "), std::string::npos) << imported.err;
        const std::string town = read_file(dir / "place.town");
        EXPECT_EQ(town.rfind("# Imported from ", 0), 0u);
        EXPECT_NE(town.find("# Map data (c) OpenStreetMap contributors"), std::string::npos);
        EXPECT_NE(town.find("\nname = " + file.substr(0, file.find(".osm")) + "\n"),
                  std::string::npos);
        EXPECT_NE(town.find("\ncell_size_m = 10\n"), std::string::npos);

        const CommandResult check = sim("town check place.town");
        ASSERT_EQ(check.status, 0) << check.out;
        EXPECT_NE(check.out.find("0 errors, 0 warnings"), std::string::npos) << check.out;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(check.out, m, std::regex(R"((\d+) houses, (\d+) cars)")));
        const long long cars = std::stoll(m[2]);
        EXPECT_GT(std::stoll(m[1]), 10);

        const CommandResult run =
            sim("--town place.town --set route_guide=road --seed 5 --error moderate --ticks 3000");
        ASSERT_EQ(run.status, 0) << run.err;
        // The last row of the tally: tick, then its columns, then the total.
        std::smatch row;
        ASSERT_TRUE(std::regex_search(
            run.out, row,
            std::regex(R"(\n\s*3000\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\n)")))
            << run.out;
        long long sum = 0;
        for (int i = 1; i <= 6; ++i) sum += std::stoll(row[i]);
        EXPECT_EQ(std::stoll(row[7]), cars);
        EXPECT_EQ(sum, cars);
        EXPECT_EQ(row[4], "0") << "cars still en route at the end";
    }
}

// A bad file, or an area that makes no town: one line naming the file and what
// is wrong, status 2, nothing written.
TEST_F(SimFolder, BadMapsAreRefusedInOneLineAndNothingIsWritten) {
    const std::string oakland = read_file(OSM + "west-oakland.osm.bz2");
    std::ofstream(dir / "truncated.osm.bz2", std::ios::binary)
        << oakland.substr(0, oakland.size() / 2);
    std::ofstream(dir / "page.osm") << "<?xml version=\"1.0\"?><html><body/></html>\n";
    std::ofstream(dir / "bomb.osm")
        << "<?xml version=\"1.0\"?>\n<!DOCTYPE osm [<!ENTITY a \"aaaaaaaaaa\">"
           "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c "
           "\"&b;&b;&b;&b;&b;&b;&b;&b;\">]>\n"
           "<osm version=\"0.6\"><node id=\"1\" lat=\"1\" lon=\"1\"><tag k=\"x\" "
           "v=\"&c;\"/></node></osm>\n";
    std::ofstream(dir / "offearth.osm")
        << "<?xml version=\"1.0\"?>\n<osm version=\"0.6\"><node id=\"1\" lat=\"95\" lon=\"1\"/>"
           "<node id=\"2\" lat=\"1\" lon=\"1.001\"/><way id=\"1\"><nd ref=\"1\"/><nd ref=\"2\"/>"
           "<tag k=\"highway\" v=\"residential\"/></way></osm>\n";
    std::ofstream(dir / "missing.osm")
        << "<?xml version=\"1.0\"?>\n<osm version=\"0.6\"><bounds minlat=\"1\" minlon=\"1\" "
           "maxlat=\"1.001\" maxlon=\"1.001\"/><way id=\"1\"><nd ref=\"7\"/><nd ref=\"8\"/>"
           "<tag k=\"highway\" v=\"residential\"/></way></osm>\n";
    const std::string wo = "'" + OSM + "west-oakland.osm.bz2'";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"truncated.osm.bz2", "truncated.osm.bz2: not a whole OpenStreetMap file"},
        {"page.osm", "page.osm: not a whole OpenStreetMap file"},
        {"bomb.osm", "bomb.osm: not a whole OpenStreetMap file (XML entities are not supported)"},
        {"offearth.osm", "offearth.osm: node 1 has no coordinates on the earth"},
        {"missing.osm", "missing.osm: its roads name nodes the file does not hold"},
        {"absent.osm", "absent.osm: cannot be read"},
        {wo + " --bbox=-122.3025,37.8062,-122.3024,37.8063", "no drivable road in the area"},
        {wo + " --bbox=-123,37,-122,38", "more than 4096 cells on a side; --cell 28 would fit"},
        {wo + " --bbox=1,2,3", "--bbox: \"1,2,3\" is not MINLON,MINLAT,MAXLON,MAXLAT"},
        {wo + " --exit 37.8,nope", "--exit: \"37.8,nope\" is not LAT,LON"},
    };
    const std::set<fs::path> before = entries();
    for (const auto& [args, says] : cases) {
        EXPECT_TRUE(refused(sim("town import " + args + " --out t.town"), says)) << args;
        EXPECT_EQ(entries(), before) << args;
    }
    // The cell it names does fit.
    EXPECT_EQ(sim("town import " + wo +
                  " --bbox=-123,37,-122,38 --cell 28 --exit 37.807,-122.30 "
                  "--out t.town")
                  .status,
              0);
}

// An imported town's households rows say where each home lies: as far on the
// earth from the town's origin as its cell's centre is on the grid. Their
// outcomes add up to the summary's tally. On a made-up town the rows keep their
// columns, and asking for a home's latitude is refused.
TEST_F(SimFolder, HouseholdsOfAnImportedTownSayWhereEachHomeLies) {
    ASSERT_EQ(sim("town import '" + OSM + "west-oakland.osm.bz2' --out place.town").status, 0);
    const std::string town = read_file(dir / "place.town");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(town, m, std::regex(R"(\norigin = ([-0-9.]+),([-0-9.]+)\n)")));
    const double lat0 = std::stod(m[1]), lon0 = std::stod(m[2]);
    const CommandResult check = sim("town check place.town");
    EXPECT_NE(check.out.find(" km²\n"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("OpenStreetMap contributors"), std::string::npos) << check.out;
    // 40 x 30 cells of 10 m.
    EXPECT_NE(sim("town check '" MAROVEL_SOURCE_DIR "/data/towns/builtin.town'").out.find(
                  ", 0.12 km²\n"),
              std::string::npos);

    const CommandResult sweep = sim(
        "sweep --town place.town --set route_guide=road --scenarios 1..2 --errors moderate,high "
        "--ticks 30 --households h.csv --summary s.csv");
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    const auto rows = csv_rows(read_file(dir / "h.csv"));
    ASSERT_GT(rows.size(), 0u);
    std::map<std::string, std::map<std::string, int>> outcomes;  // run key -> outcome -> cars
    for (auto r : rows) {
        const double east = (std::stoi(r["home_x"]) + 0.5) * 10.0;
        const double north = (std::stoi(r["home_y"]) + 0.5) * 10.0;
        EXPECT_NEAR(metres_between(lat0, lon0, std::stod(r["home_lat"]), std::stod(r["home_lon"])),
                    std::hypot(east, north), 0.05)
            << r["car"];
        outcomes[r["seed"] + "," + r["error"]][r["outcome"]] += 1;
    }
    const auto summary = csv_rows(read_file(dir / "s.csv"));
    ASSERT_EQ(summary.size(), 4u);
    int moved = 0;
    for (auto run : summary) {
        auto& tally = outcomes[run["seed"] + "," + run["error"]];
        for (const char* count :
             {"not_evacuated", "evacuated", "gave_up", "en_route", "towed", "out_of_gas"})
            EXPECT_EQ(tally[count == std::string("not_evacuated") ? "never_left" : count],
                      std::stoi(run[count]))
                << count;
        moved += std::stoi(run["evacuated"]);
    }
    EXPECT_GT(moved, 0) << "no car reached an exit in 30 ticks";

    ASSERT_EQ(sim("sweep --scenarios 1 --ticks 5 --households b.csv").status, 0);
    EXPECT_EQ(csv_rows(read_file(dir / "b.csv"))[0].size(), 13u)
        << "seed,step,error,spread and the nine columns of a town without an origin";
    EXPECT_TRUE(refused(sim("sweep --scenarios 1 --ticks 5 --households c.csv --columns "
                            "car,home_lat"),
                        "need a town with an origin"));
}

}  // namespace
