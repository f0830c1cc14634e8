// Real places: a town from an OpenStreetMap extract. The whole interface.
//
// Reading (osm_read.cpp, libosmium: XML plain, .bz2, .gz, and PBF) fills an
// OsmMap, plain data; everything after it is pure: the projection, drawing
// roads onto cells, placing houses by the street they face, exits where roads
// leave the area, and the report. Tests feed an OsmMap directly.
//
// Projection: the town's origin (sim/town.h) at the area's south-west corner,
// true to scale along the area's centre latitude, row 0 at the south. Across a
// few kilometres its distortion is below that of a 10 m cell. The town keeps
// its origin, so every cell maps back to a latitude and longitude.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/town.h"

// ---- The map as read -------------------------------------------------------

struct OsmNode {
    double lat = 0.0;
    double lon = 0.0;
};

struct OsmWay {
    std::int64_t id = 0;
    std::vector<std::int64_t> nodes;          // references, in order
    std::map<std::string, std::string> tags;  // key -> value
};

struct OsmBounds {
    double minLon = 0.0, minLat = 0.0, maxLon = 0.0, maxLat = 0.0;
};

struct OsmMap {
    std::map<std::int64_t, OsmNode> nodes;
    std::vector<OsmWay> ways;
    bool hasBounds = false;  // the file's own <bounds> (or PBF header box)
    OsmBounds bounds;
    std::size_t relations = 0;  // read and not drawn: multipolygon water and buildings
};

// Reads an .osm, .osm.bz2, .osm.gz or .osm.pbf file. False with "PATH: what"
// in `error` for anything that is not a whole, valid OSM file (truncated,
// not OSM, entity declarations, a node off the earth). Only regular files.
bool read_osm_file(const std::string& path, OsmMap& map, std::string& error);
// The same from bytes in memory: `format` "osm" (XML), "pbf", "osm.bz2", ...;
// `error` is then what is wrong, without a file's name.
bool read_osm_bytes(std::string_view bytes, const std::string& format, OsmMap& map,
                    std::string& error);

// ---- What to make of it ----------------------------------------------------

enum class HouseSource : std::uint8_t { Buildings, AlongStreets, Both };

struct ImportOptions {
    double cellM = 10.0;   // metres along a cell's side
    bool hasBbox = false;  // otherwise the file's bounds, or the data's extent
    OsmBounds bbox;
    std::vector<OsmNode> exitsAt;  // empty: exits where drivable roads leave the area
    HouseSource houses = HouseSource::Buildings;
    std::vector<std::string> roadClasses = default_road_classes();  // highway=* values drawn
    double maxDoorDistanceM = 50.0;  // a building farther from every road is dropped
    std::string name;                // the town's name; empty: the file's name without .osm*

    static std::vector<std::string> default_road_classes();
};

// Counts of what was read, made and dropped, printed by format_import_report.
struct ImportReport {
    double widthM = 0.0, heightM = 0.0;
    std::int32_t width = 0, height = 0;
    OsmBounds area;
    std::size_t nodes = 0, ways = 0;
    std::map<std::string, std::size_t> roadsByClass;     // ways drawn, by highway value
    std::map<std::string, std::size_t> droppedByReason;  // "footway", "building far from road", ...
    std::size_t roadCells = 0, oneWayCells = 0, waterCells = 0;
    std::size_t houses = 0, housesFromBuildings = 0, housesAlongStreets = 0;
    std::int64_t cars = 0;  // at the default cars_per_house for houses without their own count
    std::size_t exits = 0;
    std::vector<std::string> warnings;  // e.g. no residential buildings: houses along the streets
};

// The town, or false with one line in `error` ("no drivable road in the area",
// "the area is 52 x 3 km: ... --cell 13 would fit", ...). `carsPerHouse` only
// feeds the report's car count.
bool import_town(const OsmMap& map, const ImportOptions& options, Town& town, ImportReport& report,
                 std::string& error, double carsPerHouse = 2.0);

// The report, several lines, each ending in '\n'.
std::string format_import_report(const ImportReport& report);

// The comment lines (ASCII, as a town file is) the importer writes at the top of a town file: the
// file it came from, its attribution and what the origin keys mean.
std::string import_header(const std::string& source);

// An imported town's source: its map's attribution and licence.
constexpr const char* OSM_ATTRIBUTION = "map data (c) OpenStreetMap contributors, ODbL 1.0";

// ---- The drawing, pure and small -------------------------------------------

// The cells from `a` to `b` inclusive as a 4-connected chain: each cell shares a
// side with the next; a diagonal becomes a staircase that keeps within half a
// cell of the straight line.
std::vector<CellPos> cell_chain(CellPos a, CellPos b);

// A way's cells, in its direction, clipped to width x height; `points` are in
// cells (fractional). `leaves` receives the chain's cells on the grid's edge
// where the way goes on beyond it, with whether the way heads out there.
struct EdgeCrossing {
    CellPos cell;
    bool outward;  // the way's direction leaves the area here
};
std::vector<std::vector<CellPos>> way_cells(const std::vector<std::pair<double, double>>& points,
                                            std::int32_t width, std::int32_t height,
                                            std::vector<EdgeCrossing>* leaves);

// Lanes drawn one way at a time, then made into layout bytes: a cell on a
// two-way road takes every entry (+); a cell only on one-way roads is entered
// by the moves those roads make into it, or from any side where they disagree.
class LaneCanvas {
  public:
    LaneCanvas(std::int32_t width, std::int32_t height);
    void two_way(const std::vector<CellPos>& chain);
    // Cells in the direction of travel.
    void one_way(const std::vector<CellPos>& chain);
    // The layout byte of each cell, row-major; LAYOUT_BLOCKED off the roads.
    std::vector<std::uint8_t> layout() const;

  private:
    std::int32_t width_, height_;
    std::vector<std::uint8_t> twoWay_, entries_, startEntries_;
};

// The cars a building's homes hold: -1 (cars_per_house) for a house, one car a
// 100 m² of floor (footprint x building:levels, 3 levels unless tagged) for
// apartments and residential blocks, 1 to 100.
std::int32_t building_cars(const std::map<std::string, std::string>& tags, double footprintM2);

// Whether a building's tags make it a home: house, detached, residential,
// apartments, terrace, semidetached_house, bungalow, and yes with no other use tagged.
bool is_residential_building(const std::map<std::string, std::string>& tags);
