// Feeds arbitrary bytes to the OpenStreetMap reader as XML, and every map it
// reads to the importer, at a cell coarse enough for a town of at most 256
// cells a side. A town it makes must be valid, format back to itself and let
// every house's door reach an exit; a refusal must say why. Crashes, leaks,
// overflows, hangs and undefined behaviour are the sanitizers' and the fuzzer's
// part; what an import should draw is the unit tests'.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "places/osm_import.h"
#include "sim/town_text.h"

namespace {

constexpr double FUZZ_SIDE_CELLS = 256.0;   // cells a side at most, so that an input runs fast
constexpr double METRES_PER_DEGREE = 111200.0;  // at most, along a meridian or the equator

// The largest side of the map's area in metres, an upper bound.
double side_metres(const OsmMap& map) {
    OsmBounds a = map.bounds;
    if (!map.hasBounds) {
        if (map.nodes.empty()) return 0.0;
        a = {180.0, 90.0, -180.0, -90.0};
        for (const auto& [id, n] : map.nodes) {
            a.minLon = std::min(a.minLon, n.lon), a.maxLon = std::max(a.maxLon, n.lon);
            a.minLat = std::min(a.minLat, n.lat), a.maxLat = std::max(a.maxLat, n.lat);
        }
    }
    return std::max(a.maxLon - a.minLon, a.maxLat - a.minLat) * METRES_PER_DEGREE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    OsmMap map;
    std::string error;
    if (!read_osm_bytes(bytes, "osm", map, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    const double side = side_metres(map);
    if (!std::isfinite(side)) std::abort();  // the reader keeps only nodes on the earth
    ImportOptions options;
    options.cellM = std::clamp(std::ceil(side / FUZZ_SIDE_CELLS), 1.0, 1000.0);
    Town town;
    ImportReport report;
    if (!import_town(map, options, town, report, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (has_errors(validate_town(town))) std::abort();
    Town again;
    TownTextError where;
    if (!parse_town(format_town(town), again, where) || !same_town(town, again)) std::abort();
    const std::vector<std::int32_t>& steps = town.exit_steps();
    for (const House& h : town.houses) {
        const CellPos d = door_cell(h);
        if (steps[static_cast<std::size_t>(d.y) * static_cast<std::size_t>(town.width) +
                  static_cast<std::size_t>(d.x)] < 0)
            std::abort();
    }
    return 0;
}
