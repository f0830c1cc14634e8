// Real places: importing a synthetic 10 km² town from OpenStreetMap XML (a grid
// of about 2,000 street ways and 20,000 houses, generated here), and an
// evacuation time estimate of 50 replicates of the imported West Oakland.
// Targets: the import within 10 s on one core and 500 MB at its peak; the
// estimate within 5 s on two cores.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/peak_memory.h"
#include "experiments/running/ete.h"
#include "places/osm_import.h"
#include "sim/town_text.h"

namespace {

constexpr double LAT0 = 48.0, LON0 = 11.0;  // the synthetic town's south-west corner
constexpr double SIDE_M = 3200.0;           // 3.2 km a side: 10.24 km²
constexpr double BLOCK_M = 100.0;           // street to street
constexpr int BLOCKS = static_cast<int>(SIDE_M / BLOCK_M);
constexpr int HOUSES_PER_SIDE = 5;  // of a block: 20 a block, 20,480 in all

// An OSM XML file of a street grid: every street way one block long (2 x 32 x 33
// of them), every fourth line one way, every eighth tertiary; 10 m houses
// along every block's sides, 12 m from the street's middle.
std::string synthetic_town_xml() {
    const double mPerLat = EARTH_RADIUS_M * 3.14159265358979323846 / 180.0;
    const double mPerLon = mPerLat * std::cos((LAT0 + SIDE_M / 2 / mPerLat) * 3.14159265358979323846 / 180.0);
    std::string nodes, ways;
    long long next = 1, way = 1;
    char line[256];
    const auto node = [&](double east, double north) {
        std::snprintf(line, sizeof line, "  <node id=\"%lld\" lat=\"%.7f\" lon=\"%.7f\"/>\n", next,
                      LAT0 + north / mPerLat, LON0 + east / mPerLon);
        nodes += line;
        return next++;
    };
    // Street corners: (BLOCKS + 1)^2 nodes, index i + j * (BLOCKS + 1).
    std::vector<long long> corner;
    for (int j = 0; j <= BLOCKS; ++j)
        for (int i = 0; i <= BLOCKS; ++i) corner.push_back(node(i * BLOCK_M + 5, j * BLOCK_M + 5));
    const auto street = [&](long long a, long long b, int lineIndex) {
        std::snprintf(line, sizeof line,
                      "  <way id=\"%lld\"><nd ref=\"%lld\"/><nd ref=\"%lld\"/><tag k=\"highway\" "
                      "v=\"%s\"/>%s</way>\n",
                      way++, a, b, lineIndex % 8 == 0 ? "tertiary" : "residential",
                      lineIndex % 4 == 2 ? "<tag k=\"oneway\" v=\"yes\"/>" : "");
        ways += line;
    };
    const auto at = [&](int i, int j) { return corner[static_cast<std::size_t>(j * (BLOCKS + 1) + i)]; };
    for (int j = 0; j <= BLOCKS; ++j)
        for (int i = 0; i < BLOCKS; ++i) street(at(i, j), at(i + 1, j), j);
    for (int i = 0; i <= BLOCKS; ++i)
        for (int j = 0; j < BLOCKS; ++j) street(at(i, j), at(i, j + 1), i);
    const auto house = [&](double e, double n) {
        const long long a = node(e - 5, n - 5), b = node(e + 5, n - 5), c = node(e + 5, n + 5),
                        d = node(e - 5, n + 5);
        std::snprintf(line, sizeof line,
                      "  <way id=\"%lld\"><nd ref=\"%lld\"/><nd ref=\"%lld\"/><nd ref=\"%lld\"/><nd "
                      "ref=\"%lld\"/><nd ref=\"%lld\"/><tag k=\"building\" v=\"house\"/></way>\n",
                      way++, a, b, c, d, a);
        ways += line;
    };
    for (int j = 0; j < BLOCKS; ++j)
        for (int i = 0; i < BLOCKS; ++i) {
            const double e0 = i * BLOCK_M + 5, n0 = j * BLOCK_M + 5;
            for (int k = 0; k < HOUSES_PER_SIDE; ++k) {
                const double along = 18 + k * 16;
                house(e0 + along, n0 + 12);            // facing the street to the south
                house(e0 + along, n0 + BLOCK_M - 12);  // the north
                house(e0 + 12, n0 + along);            // the west
                house(e0 + BLOCK_M - 12, n0 + along);  // the east
            }
        }
    std::snprintf(line, sizeof line,
                  "  <bounds minlat=\"%.7f\" minlon=\"%.7f\" maxlat=\"%.7f\" maxlon=\"%.7f\"/>\n",
                  LAT0, LON0, LAT0 + SIDE_M / mPerLat, LON0 + SIDE_M / mPerLon);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<osm version=\"0.6\" generator=\"bench\">\n" +
           std::string(line) + nodes + ways + "</osm>\n";
}

// Reading the file, importing it and formatting the town file, as town import does.
void BM_ImportSyntheticTown(benchmark::State& state) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("marovel-place-bench-" + std::to_string(::getpid()) + ".osm"))
                                 .string();
    std::ofstream(path) << synthetic_town_xml();
    ImportReport report;
    Town town;
    std::size_t textBytes = 0;
    for (auto _ : state) {
        OsmMap map;
        std::string error;
        if (!read_osm_file(path, map, error) ||
            !import_town(map, ImportOptions{}, town, report, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        textBytes = format_town(town).size();
    }
    std::filesystem::remove(path);
    std::size_t streets = 0;
    for (const auto& [cls, n] : report.roadsByClass) streets += n;
    state.counters["km2"] = report.widthM * report.heightM / 1e6;
    state.counters["cells"] = static_cast<double>(town.layout.size());
    state.counters["streets"] = static_cast<double>(streets);
    state.counters["houses"] = static_cast<double>(town.houses.size());
    state.counters["exits"] = static_cast<double>(town.exits.size());
    state.counters["file_MB"] = static_cast<double>(textBytes) / 1e6;
    state.counters["peak_MB"] = peak_rss_bytes() / 1e6;
}
BENCHMARK(BM_ImportSyntheticTown)->Unit(benchmark::kSecond)->Iterations(1);

// marovel-sim ete --town west-oakland --replicates 50 --set route_guide=road, on two threads.
void BM_EteWestOakland(benchmark::State& state) {
    OsmMap map;
    std::string error;
    auto town = std::make_shared<Town>();
    ImportReport report;
    if (!read_osm_file(MAROVEL_SOURCE_DIR "/tests/data/osm/west-oakland.osm.bz2", map, error) ||
        !import_town(map, ImportOptions{}, *town, report, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    SweepPlan plan;
    plan.town = town;
    plan.parameters.routeGuide = ROUTE_GUIDE_ROAD;
    for (long long k = 0; k < state.range(0); ++k) {
        SweepRun run;
        run.scenario = {seed_of_step(k), k};
        run.errorSpread = static_cast<float>(plan.parameters.errorSpread);
        plan.runs.push_back(run);
    }
    std::size_t rows = 0;
    for (auto _ : state) {
        const std::vector<EteReplicate> replicates = run_ete(plan, static_cast<int>(state.range(1)));
        rows = ete_estimates(replicates, plan.ticks).size();
    }
    state.counters["replicates"] = static_cast<double>(state.range(0));
    state.counters["threads"] = static_cast<double>(state.range(1));
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_EteWestOakland)->Args({50, 2})->Args({50, 1})->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
