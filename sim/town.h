// A town as data: its size, every cell's layout, every house's door, its exits
// and a few facts about it. Built once, then read-only: any number of
// simulations share one (by const reference or shared_ptr<const Town>), and
// each sizes its tables from it when it builds a scenario.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/grid.h"

constexpr std::int32_t TOWN_MAX_SIDE = 4096;  // cells along either side; 16.7 million cells at most
// Metres along the side of one cell: a house plot and its share of road. The
// model itself counts in cells; this only says what a cell stands for.
constexpr double DEFAULT_CELL_SIZE_M = 10.0;
constexpr double EARTH_RADIUS_M = 6371008.8;  // the mean radius: what a degree of latitude spans

// Where a town lies on the earth, for a town made from a map. The grid is an
// equirectangular projection: a point's metres east and north of the south-west
// corner of cell (0, 0) are
//   x = R * (lon - lon0) * cos(standardParallel),  y = R * (lat - lat0)
// (angles in radians, R = EARTH_RADIUS_M), and cell (i, j) holds the points with
// i * cell <= x < (i + 1) * cell, and likewise for j and y.
struct TownOrigin {
    double lat = 0.0;               // degrees north of the south-west corner of cell (0, 0)
    double lon = 0.0;               // degrees east of that corner
    double standardParallel = 0.0;  // degrees: the latitude where a degree east is true to scale
};

struct House {
    CellPos pos;           // the house cell
    std::uint8_t door;     // the move from the house onto its door, the road cell its cars use
    std::int32_t cars;     // cars parked here; -1: as many as the cars_per_house parameter
};

// The house's door cell.
inline CellPos door_cell(const House& h) {
    const CellPos s = move_step(h.door);
    return {h.pos.x + s.x, h.pos.y + s.y};
}

// What kind of road a cell carries, for pictures only: the model never reads it.
// Smaller is the higher class; where two roads meet on a cell the higher one is kept.
constexpr std::uint8_t ROAD_CLASS_NONE = 0;       // not a road, or a road of no known class
constexpr std::uint8_t ROAD_CLASS_MOTORWAY = 1;   // motorway and trunk, with their links
constexpr std::uint8_t ROAD_CLASS_PRIMARY = 2;    // with its links
constexpr std::uint8_t ROAD_CLASS_SECONDARY = 3;  // with its links
constexpr std::uint8_t ROAD_CLASS_TERTIARY = 4;   // with its links
constexpr std::uint8_t ROAD_CLASS_MINOR = 5;      // residential, unclassified, living_street, road
constexpr std::uint8_t ROAD_CLASS_SERVICE = 6;    // car parks, yards, alleys
constexpr std::uint8_t ROAD_CLASS_OTHER = 7;      // any other class asked for: track, path, ...
constexpr std::uint8_t ROAD_CLASS_COUNT = 8;

struct Town {
    std::string name;                         // optional
    double cellSizeM = DEFAULT_CELL_SIZE_M;   // metres per cell side
    // Minutes one tick stands for, so that orders may be given in hours; 0: a
    // tick has no length (the model counts in ticks either way).
    double minutesPerTick = 0.0;
    std::int32_t width = 0;                   // columns, 1..4096
    std::int32_t height = 0;                  // rows, 1..4096
    std::vector<std::uint8_t> layout;         // row-major, element y * width + x
    std::vector<House> houses;                // in row-major order (y, then x): the cars' order
    std::vector<CellPos> exits;               // road cells; at least one
    // Cars a tick each exit takes in, in the order of `exits`; 0: any number.
    // Empty when every exit takes any number.
    std::vector<std::int32_t> exitCapacities;
    std::optional<TownOrigin> origin;         // where it lies on the earth; none for a made-up town
    std::string source;                       // where its map came from and its licence; optional
    // ROAD_CLASS_* of each cell, row-major like `layout`, or empty: drawing only.
    std::vector<std::uint8_t> roadClass;
    // Zones, the areas evacuation orders name. Empty without zones: the whole
    // town is then the one zone TOWN_ZONE_NAME. Otherwise one name and one
    // character (the zones layer's) per zone, and each house's zone index, in
    // the order of `houses`.
    std::vector<std::string> zoneNames;
    std::string zoneChars;
    std::vector<std::uint8_t> houseZone;

    std::uint8_t layout_at(CellPos p) const {
        return layout[static_cast<std::size_t>(p.y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(p.x)];
    }
    bool contains(CellPos p) const { return p.x >= 0 && p.x < width && p.y >= 0 && p.y < height; }

    // Steps along lanes, honouring their directions, from every cell to the
    // nearest exit; -1 where no exit can be reached (and on every non-road
    // cell). One breadth-first search over the reversed lanes from all exits at
    // once, made on first use and kept for the town's life: 4 bytes a cell.
    const std::vector<std::int32_t>& exit_steps() const;
    // The squared straight-line distance, in cells, from every cell to the
    // nearest exit (an exact integer: what the straight rule takes the root
    // of). One pass down the columns and one along the rows, made on first
    // use and kept for the town's life: 4 bytes a cell.
    const std::vector<std::uint32_t>& exit_squares() const;

    Town() = default;
    Town(Town&&) = default;
    Town& operator=(Town&&) = default;
    // A copy starts without the cached steps: it may be edited before use.
    Town(const Town& o)
        : name(o.name), cellSizeM(o.cellSizeM), minutesPerTick(o.minutesPerTick), width(o.width), height(o.height),
          layout(o.layout), houses(o.houses), exits(o.exits), exitCapacities(o.exitCapacities),
          origin(o.origin), source(o.source), roadClass(o.roadClass), zoneNames(o.zoneNames),
          zoneChars(o.zoneChars), houseZone(o.houseZone) {}
    Town& operator=(const Town& o) {
        if (this != &o) *this = Town(o);
        return *this;
    }

  private:
    struct StepsCache {
        std::once_flag once;
        std::vector<std::int32_t> steps;
        std::once_flag squaresOnce;
        std::vector<std::uint32_t> squares;
    };
    std::unique_ptr<StepsCache> cache_ = std::make_unique<StepsCache>();
};

// True when both towns hold the same cells, doors, car counts, exits and their capacities,
// name, cell size, tick length, origin, source, road classes and zones.
bool same_town(const Town& a, const Town& b);

// The latitude and longitude (degrees) of the point `x` cells east and `y`
// cells north of the south-west corner of cell (0, 0) (a cell's centre is
// x + 0.5, y + 0.5); false for a town without an origin.
bool town_lat_lon(const Town& town, double x, double y, double& lat, double& lon);
// The area the grid covers, in square kilometres.
double town_area_km2(const Town& town);

// Fills `houses` from the layout, each with the door given by `doorOf` (a
// function of the house cell returning a move bit), in row-major order.
template <class DoorOf>
void list_houses(Town& town, DoorOf doorOf) {
    town.houses.clear();
    for (std::int32_t y = 0; y < town.height; ++y)
        for (std::int32_t x = 0; x < town.width; ++x)
            if (town.layout_at({x, y}) == LAYOUT_HOUSE)
                town.houses.push_back({{x, y}, doorOf(CellPos{x, y}), -1});
}

// Zones: at most this many, each name 1..ZONE_NAME_MAX letters, digits, '_' or '-'
// (it heads the summary's columns), and the one zone of a town without any.
constexpr std::size_t TOWN_MAX_ZONES = 64;
constexpr std::size_t ZONE_NAME_MAX = 32;
constexpr const char* TOWN_ZONE_NAME = "town";
inline std::size_t zone_count(const Town& town) {
    return town.zoneNames.empty() ? 1 : town.zoneNames.size();
}
inline std::string zone_name(const Town& town, std::size_t zone) {
    return town.zoneNames.empty() ? std::string(TOWN_ZONE_NAME) : town.zoneNames[zone];
}
// The zone of house k (0 in a town without zones).
inline std::size_t house_zone(const Town& town, std::size_t k) {
    return k < town.houseZone.size() ? town.houseZone[k] : 0;
}
// The index of the zone named `name`, or -1.
int find_zone(const Town& town, std::string_view name);
// True for a name a zone may take.
bool valid_zone_name(std::string_view name);

// The capacity of exit k (0: any number of cars a tick).
inline std::int32_t exit_capacity(const Town& town, std::size_t k) {
    return k < town.exitCapacities.size() ? town.exitCapacities[k] : 0;
}

// The built-in town: the map table's layout, every door the cell below (y-1),
// one exit at (20, 29). Made once; the same object on every call.
const Town& builtin_town();
std::shared_ptr<const Town> shared_builtin_town();

// What is wrong with a town, cell by cell. Errors make it unusable; warnings
// describe a town that runs but where some cars cannot get out.
struct TownProblem {
    enum class Level : std::uint8_t { Error, Warning } level;
    CellPos cell;         // where; {-1, -1} for the town as a whole
    std::string message;  // one line
};
std::vector<TownProblem> validate_town(const Town& town);
bool has_errors(const std::vector<TownProblem>& problems);

// The cells from which every exit is out of reach along lanes, among the
// houses' doors and the road cells: what validate_town warns about.
bool exit_reachable_from(const Town& town, CellPos roadCell);

// The built-in town's pattern repeated cols x rows times (each copy 40 x 30
// cells, the copies side by side and stacked, their edge roads meeting), with
// `exits` exits spread evenly along the top row at the built-in exit's place
// in the copies across. 1 x 1 with one exit is the built-in town.
Town generate_repeated_town(std::int32_t cols, std::int32_t rows, std::int32_t exits);
