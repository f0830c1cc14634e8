// Towns from OpenStreetMap: the drawing on synthetic maps, and the two real
// extracts checked as a person would check them against the map.
#include "places/osm_import.h"

#include <gtest/gtest.h>

#include <cmath>

#include "sim/town_text.h"
#include "support/earth.h"
#include "support/lanes.h"

namespace {

const std::string OSM = MAROVEL_SOURCE_DIR "/tests/data/osm/";
using Point = std::pair<double, double>;

std::uint8_t at(const Town& t, CellPos p) {
    return t.layout_at(p);
}

// A synthetic map: nodes at metres east and north of (lat0, lon0).
struct MapMaker {
    OsmMap map;
    double lat0 = 48.0, lon0 = 11.0;
    std::int64_t next = 1;
    std::int64_t node(double eastM, double northM) {
        const double mPerLat = 6371008.8 * 3.14159265358979323846 / 180.0;
        const double mPerLon = mPerLat * std::cos(lat0 * 3.14159265358979323846 / 180.0);
        map.nodes[next] = {lat0 + northM / mPerLat, lon0 + eastM / mPerLon};
        return next++;
    }
    void way(std::vector<std::int64_t> nodes, std::map<std::string, std::string> tags) {
        map.ways.push_back(
            {static_cast<std::int64_t>(map.ways.size() + 1), std::move(nodes), std::move(tags)});
    }
    // A building square of side `s` metres centred at (e, n).
    void building(double e, double n, double s, const std::string& kind = "house") {
        const std::int64_t a = node(e - s / 2, n - s / 2), b = node(e + s / 2, n - s / 2),
                           c = node(e + s / 2, n + s / 2), d = node(e - s / 2, n + s / 2);
        way({a, b, c, d, a}, {{"building", kind}});
    }
    // Bounds from (0, 0) to (w, h) metres, a hair inside so that cells stay whole.
    void bounds(double w, double h) {
        const std::int64_t sw = node(0.01, 0.01), ne = node(w - 0.01, h - 0.01);
        map.hasBounds = true;
        map.bounds = {map.nodes[sw].lon, map.nodes[sw].lat, map.nodes[ne].lon, map.nodes[ne].lat};
        map.nodes.erase(sw);
        map.nodes.erase(ne);
    }
};

// A diagonal becomes a staircase: every step shares a side with the last, it
// ends where it should and never strays half a cell from the straight line.
TEST(CellChain, DiagonalsAreStaircasesOfSideNeighbours) {
    for (const auto& [a, b] : std::vector<std::pair<CellPos, CellPos>>{{{0, 0}, {7, 3}},
                                                                       {{5, 9}, {0, 0}},
                                                                       {{2, 2}, {2, 8}},
                                                                       {{0, 4}, {9, 0}},
                                                                       {{3, 3}, {3, 3}}}) {
        const std::vector<CellPos> c = cell_chain(a, b);
        ASSERT_FALSE(c.empty());
        EXPECT_EQ(c.front(), a);
        EXPECT_EQ(c.back(), b);
        EXPECT_EQ(c.size(),
                  static_cast<std::size_t>(std::abs(b.x - a.x) + std::abs(b.y - a.y) + 1));
        const double len = std::hypot(b.x - a.x, b.y - a.y);
        for (std::size_t i = 0; i < c.size(); ++i) {
            if (i > 0) {
                EXPECT_EQ(std::abs(c[i].x - c[i - 1].x) + std::abs(c[i].y - c[i - 1].y), 1);
            }
            if (len > 0) {
                const double off =
                    std::abs((b.x - a.x) * (c[i].y - a.y) - (b.y - a.y) * (c[i].x - a.x)) / len;
                EXPECT_LE(off, 1.0) << "cell " << c[i].x << "," << c[i].y;
            }
        }
    }
}

// A grid of streets, one of them one-way and one diagonal: the streets join at
// every crossing, the one-way street cannot be driven backwards, each house
// stands beside the street it faces, and the exits are where the roads leave.
TEST(ImportTown, StreetsJoinOneWayHoldsHousesFaceTheirStreet) {
    MapMaker m;
    m.bounds(400, 300);
    // Two-way east-west street at 105 m north, beyond both edges.
    m.way({m.node(-50, 105), m.node(200, 105), m.node(450, 105)}, {{"highway", "residential"}});
    // One-way street heading west at 205 m north, inside the area, joining the avenue.
    m.way({m.node(300, 205), m.node(100, 205)}, {{"highway", "residential"}, {"oneway", "yes"}});
    // A north-south avenue at x = 305 m leaving at the bottom edge only.
    m.way({m.node(305, -40), m.node(305, 105), m.node(305, 205)}, {{"highway", "secondary"}});
    // A diagonal from the street to the one-way street's end.
    m.way({m.node(205, 105), m.node(105, 205)}, {{"highway", "unclassified"}});
    m.way({m.node(50, 50), m.node(50, 60)}, {{"highway", "footway"}});
    // A car park's lane joined to nothing: it reaches no exit and is dropped.
    m.way({m.node(205, 255), m.node(255, 255)}, {{"highway", "service"}});
    // Houses: north of the two-way street, south of it, and one too far from any road.
    m.building(125, 125, 12);
    m.building(255, 85, 12, "apartments");
    m.building(20, 280, 8);

    Town t;
    ImportReport r;
    std::string error;
    ImportOptions o;
    ASSERT_TRUE(import_town(m.map, o, t, r, error)) << error;
    EXPECT_EQ(t.width, 40);
    EXPECT_EQ(t.height, 30);
    const std::vector<TownProblem> problems = validate_town(t);
    EXPECT_TRUE(problems.empty()) << problems.front().message;

    // Exits: the street's two ends and the avenue's bottom, nowhere else.
    EXPECT_EQ(t.exits, (std::vector<CellPos>{{30, 0}, {0, 10}, {39, 10}}));

    // Connected: from the one-way street's start every exit is reached.
    for (CellPos e : t.exits) EXPECT_GE(road_steps(t, {29, 20}, e), 0) << e.x << ", " << e.y;
    // One way: along row 20 from x = 29 to x = 11 every move west is allowed, none east.
    for (std::int32_t x = 11; x < 29; ++x) {
        EXPECT_TRUE(may_enter(t, {x + 1, 20}, {x, 20})) << x;
        if (at(t, {x + 1, 20}) != LAYOUT_ROAD_ANY) {
            EXPECT_FALSE(may_enter(t, {x, 20}, {x + 1, 20})) << x;
        }
    }
    EXPECT_GT(r.oneWayCells, 10u);

    // Houses: (12, 11) above the street with its door below; (25, 9) below it, door above.
    ASSERT_EQ(t.houses.size(), 2u);
    EXPECT_TRUE(t.houses[0].pos == (CellPos{25, 9}) && door_cell(t.houses[0]) == (CellPos{25, 10}));
    EXPECT_TRUE(t.houses[1].pos == (CellPos{12, 11}) &&
                door_cell(t.houses[1]) == (CellPos{12, 10}));
    // 144 m² of floor three times over: four cars, a detached house the default.
    EXPECT_EQ(t.houses[0].cars, 4);
    EXPECT_EQ(t.houses[1].cars, -1);
    EXPECT_EQ(r.droppedByReason["buildings with no road within 50 m"], 1u);
    EXPECT_EQ(r.droppedByReason["highway=footway (not a drivable class)"], 1u);
    EXPECT_EQ(r.roadsByClass["residential"], 2u);
    EXPECT_EQ(r.droppedByReason["road cells that reach no exit"], 6u);
    EXPECT_FALSE(is_road(at(t, {22, 25})));
}

// Each road cell carries the class of its road, the higher one where roads
// cross whichever was drawn first; every other cell none. The classes are for
// drawing only: the report counts ways by their highway values as before.
TEST(ImportTown, RoadCellsTakeTheHighestClassOfTheRoadsOnThem) {
    MapMaker m;
    m.bounds(300, 200);
    m.way({m.node(-10, 105), m.node(310, 105)}, {{"highway", "primary"}});        // row 10
    m.way({m.node(105, -10), m.node(105, 210)}, {{"highway", "residential"}});    // column 10
    m.way({m.node(-10, 55), m.node(310, 55)}, {{"highway", "residential"}});      // row 5
    m.way({m.node(205, -10), m.node(205, 210)}, {{"highway", "secondary_link"}}); // column 20
    m.way({m.node(105, 155), m.node(205, 155)}, {{"highway", "service"}});        // row 15
    m.way({m.node(205, 185), m.node(295, 185)}, {{"highway", "track"}});          // row 18
    m.way({m.node(285, -10), m.node(285, 210)}, {{"highway", "trunk"}});          // column 28
    m.way({m.node(55, 125), m.node(55, 195)}, {{"highway", "tertiary"}});         // column 5
    m.way({m.node(5, 195), m.node(105, 195)}, {{"highway", "living_street"}});    // row 19
    m.way({m.node(235, 135), m.node(265, 135)}, {{"highway", "service"}});  // joins nothing
    m.building(150, 125, 10);
    ImportOptions o;
    o.roadClasses.push_back("track");
    Town t;
    ImportReport r;
    std::string error;
    ASSERT_TRUE(import_town(m.map, o, t, r, error)) << error;
    ASSERT_TRUE(t.width == 30 && t.height == 20);
    ASSERT_EQ(t.roadClass.size(), t.layout.size());
    const auto cls = [&](std::int32_t x, std::int32_t y) {
        return t.roadClass[static_cast<std::size_t>(y) * t.width + x];
    };
    EXPECT_EQ(cls(10, 10), ROAD_CLASS_PRIMARY) << "the primary over the residential drawn after";
    EXPECT_EQ(cls(20, 5), ROAD_CLASS_SECONDARY) << "the secondary over the residential before";
    EXPECT_EQ(cls(20, 10), ROAD_CLASS_PRIMARY);
    EXPECT_EQ(cls(28, 10), ROAD_CLASS_MOTORWAY) << "a trunk is drawn as a motorway";
    EXPECT_EQ(cls(28, 18), ROAD_CLASS_MOTORWAY);
    EXPECT_EQ(cls(10, 5), ROAD_CLASS_MINOR);
    EXPECT_EQ(cls(15, 10), ROAD_CLASS_PRIMARY);
    EXPECT_EQ(cls(10, 17), ROAD_CLASS_MINOR);
    EXPECT_EQ(cls(15, 15), ROAD_CLASS_SERVICE);
    EXPECT_EQ(cls(10, 15), ROAD_CLASS_MINOR) << "a street over the service road";
    EXPECT_EQ(cls(20, 15), ROAD_CLASS_SECONDARY);
    EXPECT_EQ(cls(24, 18), ROAD_CLASS_OTHER) << "a class asked for beyond the usual";
    EXPECT_EQ(cls(5, 15), ROAD_CLASS_TERTIARY);
    EXPECT_EQ(cls(5, 19), ROAD_CLASS_TERTIARY);
    EXPECT_EQ(cls(2, 19), ROAD_CLASS_MINOR);
    std::size_t classed = 0;
    for (std::size_t i = 0; i < t.layout.size(); ++i) {
        EXPECT_EQ(t.roadClass[i] != ROAD_CLASS_NONE, is_road(t.layout[i])) << i;
        classed += t.roadClass[i] != ROAD_CLASS_NONE;
    }
    EXPECT_EQ(classed, r.roadCells);
    EXPECT_EQ(r.droppedByReason["road cells that reach no exit"], 4u);
    ASSERT_EQ(t.houses.size(), 1u);
    EXPECT_EQ(r.roadsByClass, (std::map<std::string, std::size_t>{{"living_street", 1},
                                                                   {"primary", 1},
                                                                   {"residential", 2},
                                                                   {"secondary_link", 1},
                                                                   {"service", 2},
                                                                   {"tertiary", 1},
                                                                   {"track", 1},
                                                                   {"trunk", 1}}));
}

// What is refused: no road in the area, an area too large at the cell (with
// the cell that fits, which does), no road leaving, no home by a road.
TEST(ImportTown, RefusesWhatMakesNoTownAndSaysWhichCellFits) {
    MapMaker m;
    m.bounds(50000, 800);
    m.way({m.node(-10, 400), m.node(50010, 400)}, {{"highway", "primary"}});
    m.building(25000, 415, 10);
    Town t;
    ImportReport r;
    std::string error;
    ImportOptions o;
    ASSERT_FALSE(import_town(m.map, o, t, r, error));
    EXPECT_NE(error.find("more than 4096 cells on a side; --cell 13 would fit"), std::string::npos)
        << error;
    o.cellM = 13;
    EXPECT_TRUE(import_town(m.map, o, t, r, error)) << error;
    EXPECT_GE(t.width * 13.0, r.widthM);
    EXPECT_LE(t.width, 4096);
    o.cellM = 12;
    EXPECT_FALSE(import_town(m.map, o, t, r, error));

    o = ImportOptions{};
    o.hasBbox = true;
    o.bbox = {m.map.bounds.minLon, m.map.bounds.minLat + 0.005, m.map.bounds.minLon + 0.005,
              m.map.bounds.maxLat};
    EXPECT_FALSE(import_town(m.map, o, t, r, error));
    EXPECT_EQ(error, "no drivable road in the area");

    MapMaker closed;
    closed.bounds(200, 200);
    closed.way({closed.node(50, 50), closed.node(150, 50)}, {{"highway", "residential"}});
    closed.building(100, 65, 10);
    EXPECT_FALSE(import_town(closed.map, ImportOptions{}, t, r, error));
    EXPECT_NE(error.find("no drivable road leaves the area"), std::string::npos);
    // Named, the exit is the road cell nearest; the building then has its house.
    ImportOptions named;
    named.exitsAt.push_back(closed.map.nodes.begin()->second);
    ASSERT_TRUE(import_town(closed.map, named, t, r, error)) << error;
    EXPECT_EQ(t.exits.size(), 1u);
    EXPECT_EQ(t.houses.size(), 1u);
}

// Streets and no homes: houses along the streets, with a warning.
TEST(ImportTown, NoHomesFallsBackToHousesAlongTheStreets) {
    MapMaker m;
    m.bounds(200, 100);
    m.way({m.node(-10, 55), m.node(210, 55)}, {{"highway", "residential"}});
    m.building(100, 70, 10, "retail");
    Town t;
    ImportReport r;
    std::string error;
    ASSERT_TRUE(import_town(m.map, ImportOptions{}, t, r, error)) << error;
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("no residential buildings"), std::string::npos);
    EXPECT_EQ(r.housesAlongStreets, 20u);  // every other cell on both sides
    for (const House& h : t.houses) EXPECT_EQ(door_cell(h).y, 5);
}

struct Extract {
    OsmMap map;
    Town town;
    ImportReport report;
    std::string error;
    explicit Extract(const std::string& file) {
        if (read_osm_file(OSM + file, map, error))
            import_town(map, ImportOptions{}, town, report, error);
    }
    Point cells(std::int64_t node) const {
        const OsmNode& n = map.nodes.at(node);
        const double mPerLat = 6371008.8 * 3.14159265358979323846 / 180.0;
        const double lat0 = (report.area.minLat + report.area.maxLat) / 2.0;
        const double mPerLon = mPerLat * std::cos(lat0 * 3.14159265358979323846 / 180.0);
        return {(n.lon - report.area.minLon) * mPerLon / 10.0,
                (n.lat - report.area.minLat) * mPerLat / 10.0};
    }
    bool inside(Point p) const {
        return p.first >= 0 && p.second >= 0 && p.first < town.width && p.second < town.height;
    }
};

// On both real extracts: every drivable street's nodes inside the area are on
// road cells that reach an exit, every house's door reaches one, the one-way
// streets cannot be driven backwards, each house is by the street nearest its
// building, the main roads that leave the area have an exit where they do, and
// every cell maps back to where it lies on the earth.
TEST(ImportRealPlaces, StreetsHousesOneWaysExitsAndPlacesAsOnTheMap) {
    for (const char* file : {"west-oakland.osm.bz2", "small-german-village.osm"}) {
        SCOPED_TRACE(file);
        Extract x(file);
        ASSERT_TRUE(x.error.empty()) << x.error;
        const Town& t = x.town;
        // No problem at all: every road cell and every house's door reaches an exit.
        EXPECT_TRUE(validate_town(t).empty()) << validate_town(t).front().message;
        std::size_t oneWays = 0, nodesChecked = 0;
        for (const OsmWay& w : x.map.ways) {
            const auto hw = w.tags.find("highway");
            if (hw == w.tags.end()) continue;
            const std::vector<std::string> classes = ImportOptions::default_road_classes();
            if (std::find(classes.begin(), classes.end(), hw->second) == classes.end()) continue;
            std::vector<CellPos> cells;
            if (w.nodes.size() < 2) continue;  // a node clipped out of its street by the extract
            for (std::int64_t n : w.nodes) {
                if (!x.map.nodes.count(n) || !x.inside(x.cells(n))) continue;
                const Point p = x.cells(n);
                const CellPos c = {static_cast<std::int32_t>(p.first),
                                   static_cast<std::int32_t>(p.second)};
                ++nodesChecked;
                EXPECT_TRUE(is_road(t.layout_at(c))) << "way " << w.id << " node " << n;
                cells.push_back(c);
            }
            const auto ow = w.tags.find("oneway");
            if (ow == w.tags.end() || ow->second != "yes") continue;
            // Backwards from the way's last cell inside, no lane leads to its first.
            for (std::size_t i = 1; i < cells.size(); ++i) {
                if (cells[i] == cells[i - 1]) continue;
                const std::vector<CellPos> chain = cell_chain(cells[i - 1], cells[i]);
                bool backwardBlocked = false;
                for (std::size_t k = 1; k < chain.size(); ++k) {
                    EXPECT_TRUE(may_enter(t, chain[k - 1], chain[k])) << "way " << w.id;
                    backwardBlocked = backwardBlocked || !may_enter(t, chain[k], chain[k - 1]);
                }
                if (chain.size() > 3) {
                    EXPECT_TRUE(backwardBlocked) << "one-way way " << w.id;
                }
                ++oneWays;
            }
        }
        EXPECT_GT(nodesChecked, 20u);
        // Each home building inside: a house within the door distance whose door is
        // at most two cells farther than the road cell nearest the building.
        std::size_t homes = 0;
        for (const OsmWay& w : x.map.ways) {
            if (!is_residential_building(w.tags) || w.nodes.size() < 4 ||
                w.nodes.front() != w.nodes.back())
                continue;
            double cx = 0, cy = 0;
            for (std::size_t i = 0; i + 1 < w.nodes.size(); ++i)
                cx += x.cells(w.nodes[i]).first, cy += x.cells(w.nodes[i]).second;
            cx /= static_cast<double>(w.nodes.size() - 1),
                cy /= static_cast<double>(w.nodes.size() - 1);
            if (!x.inside({cx, cy})) continue;
            double nearestRoad = INFINITY;
            for (std::int32_t y = 0; y < t.height; ++y)
                for (std::int32_t xx = 0; xx < t.width; ++xx)
                    if (is_road(t.layout_at({xx, y})))
                        nearestRoad =
                            std::min(nearestRoad, std::hypot(xx + 0.5 - cx, y + 0.5 - cy));
            if (nearestRoad > 5.0) continue;
            ++homes;
            bool found = false;
            for (const House& h : t.houses) {
                const CellPos d = door_cell(h);
                if (std::hypot(h.pos.x + 0.5 - cx, h.pos.y + 0.5 - cy) <= 5.0 &&
                    std::hypot(d.x + 0.5 - cx, d.y + 0.5 - cy) <= nearestRoad + 2.0)
                    found = true;
            }
            EXPECT_TRUE(found) << "building " << w.id;
        }
        EXPECT_GT(homes, 10u);
        EXPECT_EQ(x.report.houses, t.houses.size());
        // Main roads: where a secondary or residential way crosses the bounds, an exit within two
        // cells.
        std::size_t crossings = 0;
        for (const OsmWay& w : x.map.ways) {
            const auto hw = w.tags.find("highway");
            if (hw == w.tags.end() || (hw->second != "secondary" && hw->second != "residential"))
                continue;
            for (std::size_t i = 0; i + 1 < w.nodes.size(); ++i) {
                if (!x.map.nodes.count(w.nodes[i]) || !x.map.nodes.count(w.nodes[i + 1])) continue;
                Point a = x.cells(w.nodes[i]), b = x.cells(w.nodes[i + 1]);
                if (x.inside(a) == x.inside(b)) continue;
                const auto ow = w.tags.find("oneway");
                if (ow != w.tags.end() && ow->second == "yes" && !x.inside(a))
                    continue;  // comes in
                if (!x.inside(a)) std::swap(a, b);
                // Walk from inside towards outside to the edge.
                Point p = a;
                for (int k = 1; k <= 1000; ++k) {
                    const Point q = {a.first + (b.first - a.first) * k / 1000.0,
                                     a.second + (b.second - a.second) * k / 1000.0};
                    if (!x.inside(q)) break;
                    p = q;
                }
                ++crossings;
                bool near = false;
                for (CellPos e : t.exits)
                    near = near || std::hypot(e.x + 0.5 - p.first, e.y + 0.5 - p.second) <= 2.0;
                EXPECT_TRUE(near) << "way " << w.id << " leaves at " << p.first << "," << p.second;
            }
        }
        // The village's streets end at its bounds; Oakland's main streets cross them.
        if (std::string(file) == "west-oakland.osm.bz2") {
            EXPECT_GE(crossings, 4u);
            EXPECT_GT(oneWays, 3u);
        }

        // The town knows where it lies, through its file too (read back, it is the
        // same town, origin and all): every street node inside lies within half a
        // cell's diagonal of the centre of the cell drawn for it, and the grid's
        // sides are as long on the earth as its cells say.
        Town back;
        TownTextError e;
        ASSERT_TRUE(parse_town(format_town(t), back, e)) << e.message;
        EXPECT_TRUE(same_town(back, t));
        ASSERT_TRUE(t.origin.has_value());
        EXPECT_NE(t.source.find("OpenStreetMap contributors"), std::string::npos);
        std::size_t checked = 0;
        for (const OsmWay& w : x.map.ways) {
            if (!w.tags.count("highway")) continue;
            for (std::int64_t n : w.nodes) {
                if (!x.map.nodes.count(n) || !x.inside(x.cells(n))) continue;
                const Point p = x.cells(n);
                const CellPos c = {static_cast<std::int32_t>(p.first),
                                   static_cast<std::int32_t>(p.second)};
                if (!is_road(t.layout_at(c))) continue;
                double lat = 0, lon = 0;
                ASSERT_TRUE(town_lat_lon(t, c.x + 0.5, c.y + 0.5, lat, lon));
                const OsmNode& node = x.map.nodes.at(n);
                EXPECT_LE(metres_between(lat, lon, node.lat, node.lon), 10.0 * std::sqrt(0.5) + 0.01)
                    << "node " << n << " in cell " << c.x << "," << c.y;
                ++checked;
            }
        }
        EXPECT_GT(checked, 20u);
        double swLat, swLon, seLat, seLon, nwLat, nwLon;
        town_lat_lon(t, 0, 0, swLat, swLon);
        town_lat_lon(t, t.width, 0, seLat, seLon);
        town_lat_lon(t, 0, t.height, nwLat, nwLon);
        EXPECT_NEAR(metres_between(swLat, swLon, seLat, seLon), t.width * 10.0, t.width * 0.01);
        EXPECT_NEAR(metres_between(swLat, swLon, nwLat, nwLon), t.height * 10.0, t.height * 0.01);
        EXPECT_NEAR(town_area_km2(t), t.width * t.height * 1e-4, 1e-12);
    }
}

}  // namespace
