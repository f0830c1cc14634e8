// From an OsmMap to a town: the projection, the roads, water, houses and exits.
#include "places/osm_import.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double FLOOR_M2_PER_CAR = 100.0;  // apartments: one car a 100 m² of floor
constexpr double DEFAULT_LEVELS = 3.0;      // apartments without building:levels

using Point = std::pair<double, double>;  // in cells, x east, y north

struct Projection {
    OsmBounds area;
    double mPerLon = 0.0, mPerLat = 0.0, cellM = 10.0;
    Point cells(const OsmNode& n) const {
        return {(n.lon - area.minLon) * mPerLon / cellM, (n.lat - area.minLat) * mPerLat / cellM};
    }
};

const std::string* tag(const std::map<std::string, std::string>& tags, const char* key) {
    const auto it = tags.find(key);
    return it == tags.end() ? nullptr : &it->second;
}

bool is_water(const std::map<std::string, std::string>& tags) {
    const std::string* natural = tag(tags, "natural");
    const std::string* waterway = tag(tags, "waterway");
    const std::string* landuse = tag(tags, "landuse");
    return (natural && *natural == "water") ||
           (waterway && (*waterway == "riverbank" || *waterway == "dock")) ||
           (landuse && (*landuse == "reservoir" || *landuse == "basin"));
}

// +1 forward, -1 backward, 0 two-way.
int one_way_sense(const std::map<std::string, std::string>& tags, const std::string& highway) {
    const std::string* oneway = tag(tags, "oneway");
    if (oneway) {
        if (*oneway == "yes" || *oneway == "true" || *oneway == "1") return 1;
        if (*oneway == "-1" || *oneway == "reverse") return -1;
        if (*oneway == "no" || *oneway == "false" || *oneway == "0") return 0;
    }
    const std::string* junction = tag(tags, "junction");
    if (junction && (*junction == "roundabout" || *junction == "circular")) return 1;
    if (highway == "motorway") return 1;
    return 0;
}

// The drawing class of a highway=* value.
std::uint8_t road_class(const std::string& highway) {
    static const std::map<std::string, std::uint8_t> classes = {
        {"motorway", ROAD_CLASS_MOTORWAY},       {"motorway_link", ROAD_CLASS_MOTORWAY},
        {"trunk", ROAD_CLASS_MOTORWAY},          {"trunk_link", ROAD_CLASS_MOTORWAY},
        {"primary", ROAD_CLASS_PRIMARY},         {"primary_link", ROAD_CLASS_PRIMARY},
        {"secondary", ROAD_CLASS_SECONDARY},     {"secondary_link", ROAD_CLASS_SECONDARY},
        {"tertiary", ROAD_CLASS_TERTIARY},       {"tertiary_link", ROAD_CLASS_TERTIARY},
        {"residential", ROAD_CLASS_MINOR},       {"unclassified", ROAD_CLASS_MINOR},
        {"living_street", ROAD_CLASS_MINOR},     {"road", ROAD_CLASS_MINOR},
        {"service", ROAD_CLASS_SERVICE}};
    const auto it = classes.find(highway);
    return it == classes.end() ? ROAD_CLASS_OTHER : it->second;
}

std::uint8_t move_between(CellPos from, CellPos to) {
    if (to.x == from.x + 1) return DIR_X_INC;
    if (to.x == from.x - 1) return DIR_X_DEC;
    if (to.y == from.y + 1) return DIR_Y_INC;
    return DIR_Y_DEC;
}

int bit_count(std::uint8_t v) {
    int n = 0;
    for (; v; v &= static_cast<std::uint8_t>(v - 1)) ++n;
    return n;
}

// Clips segment p->q to [0, w] x [0, h] (Liang-Barsky); false when it misses.
bool clip(Point& p, Point& q, double w, double h, bool& startCut, bool& endCut) {
    double t0 = 0.0, t1 = 1.0;
    const double dx = q.first - p.first, dy = q.second - p.second;
    const double pp[4] = {-dx, dx, -dy, dy};
    const double qq[4] = {p.first, w - p.first, p.second, h - p.second};
    for (int i = 0; i < 4; ++i) {
        if (pp[i] == 0.0) {
            if (qq[i] < 0.0) return false;
            continue;
        }
        const double r = qq[i] / pp[i];
        if (pp[i] < 0.0)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
    }
    if (t0 > t1) return false;
    startCut = t0 > 0.0;
    endCut = t1 < 1.0;
    const Point a = {p.first + t0 * dx, p.second + t0 * dy};
    const Point b = {p.first + t1 * dx, p.second + t1 * dy};
    p = a;
    q = b;
    return true;
}

CellPos cell_of(Point p, std::int32_t w, std::int32_t h) {
    const auto c = [](double v, std::int32_t n) {
        return static_cast<std::int32_t>(
            std::clamp(std::floor(v), 0.0, static_cast<double>(n - 1)));
    };
    return {c(p.first, w), c(p.second, h)};
}

bool on_edge(CellPos c, std::int32_t w, std::int32_t h) {
    return c.x == 0 || c.y == 0 || c.x == w - 1 || c.y == h - 1;
}

// Polygon area (m²) and centroid (cells) of a closed ring in cells.
void ring_shape(const std::vector<Point>& ring, double cellM, double& areaM2, Point& centre) {
    double a = 0.0, cx = 0.0, cy = 0.0;
    for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
        const double cross =
            ring[i].first * ring[i + 1].second - ring[i + 1].first * ring[i].second;
        a += cross;
        cx += (ring[i].first + ring[i + 1].first) * cross;
        cy += (ring[i].second + ring[i + 1].second) * cross;
    }
    areaM2 = std::abs(a) / 2.0 * cellM * cellM;
    if (std::abs(a) > 1e-12) {
        centre = {cx / (3.0 * a), cy / (3.0 * a)};
    } else {
        double sx = 0.0, sy = 0.0;
        for (const Point& p : ring) sx += p.first, sy += p.second;
        centre = {sx / static_cast<double>(ring.size()), sy / static_cast<double>(ring.size())};
    }
}

// Cells whose centres lie inside the ring become `value` where they are blocked.
void fill_ring(const std::vector<Point>& ring, Town& t, std::uint8_t value) {
    for (std::int32_t y = 0; y < t.height; ++y) {
        const double cy = y + 0.5;
        std::vector<double> xs;
        for (std::size_t i = 0; i + 1 < ring.size(); ++i) {
            const Point a = ring[i], b = ring[i + 1];
            if ((a.second <= cy) != (b.second <= cy))
                xs.push_back(a.first +
                             (cy - a.second) * (b.first - a.first) / (b.second - a.second));
        }
        std::sort(xs.begin(), xs.end());
        for (std::size_t i = 0; i + 1 < xs.size(); i += 2) {
            const auto from = static_cast<std::int32_t>(std::max(0.0, std::ceil(xs[i] - 0.5)));
            const auto to = static_cast<std::int32_t>(
                std::min(static_cast<double>(t.width - 1), std::floor(xs[i + 1] - 0.5)));
            for (std::int32_t x = from; x <= to; ++x) {
                std::uint8_t& v = t.layout[static_cast<std::size_t>(y) * t.width + x];
                if (v == LAYOUT_BLOCKED) v = value;
            }
        }
    }
}

std::string fixed(double v, int digits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

}  // namespace

std::vector<std::string> ImportOptions::default_road_classes() {
    return {"motorway",     "motorway_link", "trunk",          "trunk_link", "primary",
            "primary_link", "secondary",     "secondary_link", "tertiary",   "tertiary_link",
            "residential",  "unclassified",  "living_street",  "service",    "road"};
}

std::vector<CellPos> cell_chain(CellPos a, CellPos b) {
    std::vector<CellPos> out;
    const std::int64_t dx = std::abs(static_cast<std::int64_t>(b.x) - a.x);
    const std::int64_t dy = std::abs(static_cast<std::int64_t>(b.y) - a.y);
    const std::int32_t sx = b.x > a.x ? 1 : -1, sy = b.y > a.y ? 1 : -1;
    out.reserve(static_cast<std::size_t>(dx + dy + 1));
    CellPos c = a;
    out.push_back(c);
    // The classic 4-connected line: step along x while the x crossing of the
    // line comes before the y crossing, measured from the cells' centres.
    for (std::int64_t ix = 0, iy = 0; ix < dx || iy < dy;) {
        if (iy >= dy || (ix < dx && (1 + 2 * ix) * dy < (1 + 2 * iy) * dx)) {
            c.x += sx;
            ++ix;
        } else {
            c.y += sy;
            ++iy;
        }
        out.push_back(c);
    }
    return out;
}

std::vector<std::vector<CellPos>> way_cells(const std::vector<Point>& points, std::int32_t width,
                                            std::int32_t height,
                                            std::vector<EdgeCrossing>* leaves) {
    std::vector<std::vector<CellPos>> chains;
    std::vector<CellPos> chain;
    const auto finish = [&] {
        if (!chain.empty()) chains.push_back(std::move(chain));
        chain.clear();
    };
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        Point p = points[i], q = points[i + 1];
        bool startCut = false, endCut = false;
        if (!clip(p, q, width, height, startCut, endCut)) {
            finish();
            continue;
        }
        const CellPos a = cell_of(p, width, height), b = cell_of(q, width, height);
        if (startCut) {
            finish();
            if (leaves) leaves->push_back({a, false});
        }
        for (CellPos c : cell_chain(a, b))
            if (chain.empty() || !(chain.back() == c)) chain.push_back(c);
        if (endCut) {
            if (leaves) leaves->push_back({b, true});
            finish();
        }
    }
    finish();
    return chains;
}

LaneCanvas::LaneCanvas(std::int32_t width, std::int32_t height)
    : width_(width),
      height_(height),
      twoWay_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0),
      entries_(twoWay_.size(), 0),
      startEntries_(twoWay_.size(), 0) {}

void LaneCanvas::two_way(const std::vector<CellPos>& chain) {
    for (CellPos c : chain) twoWay_[static_cast<std::size_t>(c.y) * width_ + c.x] = 1;
}

void LaneCanvas::one_way(const std::vector<CellPos>& chain) {
    if (chain.size() < 2) return two_way(chain);
    const auto at = [&](CellPos c) { return static_cast<std::size_t>(c.y) * width_ + c.x; };
    startEntries_[at(chain[0])] |= move_between(chain[0], chain[1]);
    for (std::size_t i = 1; i < chain.size(); ++i)
        entries_[at(chain[i])] |= move_between(chain[i - 1], chain[i]);
}

std::vector<std::uint8_t> LaneCanvas::layout() const {
    std::vector<std::uint8_t> out(twoWay_.size(), LAYOUT_BLOCKED);
    for (std::size_t i = 0; i < out.size(); ++i) {
        // A one-way road's first cell is entered as the road heads on, unless
        // another one-way road already enters it (it carries on from that one).
        const std::uint8_t bits = entries_[i] ? entries_[i] : startEntries_[i];
        if (twoWay_[i] || bit_count(bits) > 1)
            out[i] = LAYOUT_ROAD_ANY;
        else if (bits)
            out[i] = static_cast<std::uint8_t>(LAYOUT_ONE_WAY | bits);
    }
    (void)height_;
    return out;
}

bool is_residential_building(const std::map<std::string, std::string>& tags) {
    const std::string* b = tag(tags, "building");
    if (!b) return false;
    static const std::set<std::string> homes = {"house",      "detached", "residential",
                                                "apartments", "terrace",  "semidetached_house",
                                                "bungalow",   "dormitory"};
    if (homes.count(*b)) return true;
    if (*b != "yes") return false;
    for (const char* use : {"amenity", "shop", "office", "craft", "industrial", "tourism",
                            "leisure", "man_made", "healthcare", "public_transport", "religion"})
        if (tag(tags, use)) return false;
    return true;
}

std::int32_t building_cars(const std::map<std::string, std::string>& tags, double footprintM2) {
    const std::string* b = tag(tags, "building");
    if (!b || (*b != "apartments" && *b != "residential" && *b != "dormitory")) return -1;
    double levels = DEFAULT_LEVELS;
    if (const std::string* l = tag(tags, "building:levels")) {
        char* end = nullptr;
        const double v = std::strtod(l->c_str(), &end);
        if (end != l->c_str() && std::isfinite(v) && v >= 1.0 && v <= 200.0) levels = v;
    }
    const double cars = std::round(footprintM2 * levels / FLOOR_M2_PER_CAR);
    return static_cast<std::int32_t>(std::clamp(cars, 1.0, 100.0));
}

bool import_town(const OsmMap& map, const ImportOptions& o, Town& town, ImportReport& r,
                 std::string& error, double carsPerHouse) {
    r = ImportReport{};
    r.nodes = map.nodes.size();
    r.ways = map.ways.size();
    if (!(o.cellM >= 1.0 && o.cellM <= 1000.0)) {
        error = "the cell size must be 1 to 1000 metres";
        return false;
    }
    // The area.
    OsmBounds area;
    if (o.hasBbox) {
        area = o.bbox;
    } else if (map.hasBounds) {
        area = map.bounds;
    } else {
        if (map.nodes.empty()) {
            error = "the file holds no nodes";
            return false;
        }
        area = {180.0, 90.0, -180.0, -90.0};
        for (const auto& [id, n] : map.nodes) {
            area.minLon = std::min(area.minLon, n.lon);
            area.maxLon = std::max(area.maxLon, n.lon);
            area.minLat = std::min(area.minLat, n.lat);
            area.maxLat = std::max(area.maxLat, n.lat);
        }
    }
    const auto inRange = [](double lon, double lat) {
        return std::isfinite(lon) && std::isfinite(lat) && lon >= -180.0 && lon <= 180.0 &&
               lat >= -85.0 && lat <= 85.0;
    };
    if (!inRange(area.minLon, area.minLat) || !inRange(area.maxLon, area.maxLat) ||
        !(area.minLon < area.maxLon) || !(area.minLat < area.maxLat)) {
        error = "the area " + fixed(area.minLon, 7) + "," + fixed(area.minLat, 7) + "," +
                fixed(area.maxLon, 7) + "," + fixed(area.maxLat, 7) +
                " is not MINLON,MINLAT,MAXLON,MAXLAT with minimum below maximum, latitudes "
                "within 85 degrees";
        return false;
    }
    r.area = area;
    Projection proj;
    proj.area = area;
    proj.cellM = o.cellM;
    const double centreLat = (area.minLat + area.maxLat) / 2.0;
    proj.mPerLat = EARTH_RADIUS_M * PI / 180.0;
    proj.mPerLon = proj.mPerLat * std::cos(centreLat * PI / 180.0);
    r.widthM = (area.maxLon - area.minLon) * proj.mPerLon;
    r.heightM = (area.maxLat - area.minLat) * proj.mPerLat;
    const double side = std::max(r.widthM, r.heightM);
    if (std::ceil(side / o.cellM) > TOWN_MAX_SIDE) {
        double fit = std::ceil(side / TOWN_MAX_SIDE);
        while (std::ceil(side / fit) > TOWN_MAX_SIDE) fit += 1.0;
        error = "the area is " + fixed(r.widthM / 1000.0, 1) + " x " +
                fixed(r.heightM / 1000.0, 1) + " km: at " + fixed(o.cellM, 1) +
                " m a cell it has more than " + std::to_string(TOWN_MAX_SIDE) +
                " cells on a side; --cell " + fixed(fit, 0) + " would fit";
        return false;
    }
    const auto w = static_cast<std::int32_t>(std::max(1.0, std::ceil(r.widthM / o.cellM)));
    const auto h = static_cast<std::int32_t>(std::max(1.0, std::ceil(r.heightM / o.cellM)));
    r.width = w;
    r.height = h;

    Town t;
    t.cellSizeM = o.cellM;
    t.width = w;
    t.height = h;
    t.layout.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), LAYOUT_BLOCKED);
    const auto idx = [w](CellPos c) { return static_cast<std::size_t>(c.y) * w + c.x; };

    // The ways' points, split where their nodes are missing.
    std::size_t roadsWithMissing = 0, roadsNoNodes = 0;
    const auto runs = [&](const OsmWay& way, bool& missing) {
        std::vector<std::vector<Point>> out(1);
        missing = false;
        for (std::int64_t ref : way.nodes) {
            const auto it = map.nodes.find(ref);
            if (it == map.nodes.end()) {
                missing = true;
                if (!out.back().empty()) out.emplace_back();
                continue;
            }
            out.back().push_back(proj.cells(it->second));
        }
        return out;
    };
    const std::set<std::string> classes(o.roadClasses.begin(), o.roadClasses.end());
    struct Building {
        const OsmWay* way;
        std::vector<Point> ring;
    };
    std::vector<Building> buildings;
    std::size_t otherBuildings = 0;

    // Water first; roads cross it on bridges.
    for (const OsmWay& way : map.ways) {
        if (!is_water(way.tags) || way.nodes.size() < 4 || way.nodes.front() != way.nodes.back())
            continue;
        bool missing = false;
        const auto parts = runs(way, missing);
        if (missing) {
            r.droppedByReason["water with missing nodes"] += 1;
            continue;
        }
        fill_ring(parts[0], t, LAYOUT_WATER);
    }

    LaneCanvas canvas(w, h);
    // Each road cell's class: the highest of the roads drawn on it.
    std::vector<std::uint8_t> classOf(t.layout.size(), ROAD_CLASS_NONE);
    std::vector<EdgeCrossing> crossings;
    for (const OsmWay& way : map.ways) {
        const std::string* highway = tag(way.tags, "highway");
        if (highway) {
            if (!classes.count(*highway)) {
                r.droppedByReason["highway=" + *highway + " (not a drivable class)"] += 1;
                continue;
            }
            const std::string* area_ = tag(way.tags, "area");
            if (area_ && *area_ == "yes") {
                r.droppedByReason["highway areas"] += 1;
                continue;
            }
            bool missing = false;
            std::vector<std::vector<Point>> parts = runs(way, missing);
            std::size_t drawn = 0;
            const int sense = one_way_sense(way.tags, *highway);
            const std::uint8_t cls = road_class(*highway);
            for (std::vector<Point>& pts : parts) {
                if (pts.size() < 2) continue;
                if (sense < 0) std::reverse(pts.begin(), pts.end());
                std::vector<EdgeCrossing> leaves;
                std::vector<std::vector<CellPos>> chains = way_cells(pts, w, h, &leaves);
                // A road whose first or last node falls on the area's edge goes on beyond it.
                if (!chains.empty()) {
                    const CellPos first = cell_of(pts.front(), w, h),
                                  last = cell_of(pts.back(), w, h);
                    const auto inside = [&](Point p) {
                        return p.first >= 0 && p.second >= 0 && p.first < w && p.second < h;
                    };
                    if (inside(pts.front()) && on_edge(first, w, h))
                        leaves.push_back({first, false});
                    if (inside(pts.back()) && on_edge(last, w, h)) leaves.push_back({last, true});
                }
                for (const std::vector<CellPos>& chain : chains) {
                    if (sense == 0)
                        canvas.two_way(chain);
                    else
                        canvas.one_way(chain);
                    for (CellPos c : chain) {
                        std::uint8_t& held = classOf[idx(c)];
                        if (held == ROAD_CLASS_NONE || cls < held) held = cls;
                    }
                    ++drawn;
                }
                for (const EdgeCrossing& e : leaves)
                    crossings.push_back({e.cell, sense == 0 || e.outward});
            }
            if (missing) ++roadsWithMissing;
            if (drawn > 0)
                r.roadsByClass[*highway] += 1;
            else if (missing)
                ++roadsNoNodes;
            else if (way.nodes.size() < 2)
                r.droppedByReason["roads of a single node"] += 1;
            else
                r.droppedByReason["roads outside the area"] += 1;
            continue;
        }
        if (tag(way.tags, "building")) {
            if (!is_residential_building(way.tags)) {
                ++otherBuildings;
                continue;
            }
            if (way.nodes.size() < 4 || way.nodes.front() != way.nodes.back()) {
                r.droppedByReason["buildings that are not closed outlines"] += 1;
                continue;
            }
            bool missing = false;
            std::vector<std::vector<Point>> parts = runs(way, missing);
            if (missing) {
                r.droppedByReason["buildings with missing nodes"] += 1;
                continue;
            }
            buildings.push_back({&way, std::move(parts[0])});
            continue;
        }
        if (!is_water(way.tags)) r.droppedByReason["other features (land use, barriers, ...)"] += 1;
    }
    if (roadsWithMissing > 0)
        r.droppedByReason["roads with missing nodes (drawn where their nodes are)"] =
            roadsWithMissing - roadsNoNodes;
    if (roadsNoNodes > 0)
        r.droppedByReason["roads none of whose nodes the file holds"] = roadsNoNodes;
    if (otherBuildings > 0) r.droppedByReason["buildings that are not homes"] = otherBuildings;
    if (map.relations > 0) r.droppedByReason["relations (not drawn)"] = map.relations;

    const std::vector<std::uint8_t> lanes = canvas.layout();
    for (std::size_t i = 0; i < lanes.size(); ++i)
        if (lanes[i] != LAYOUT_BLOCKED) t.layout[i] = lanes[i];
    if (std::none_of(lanes.begin(), lanes.end(), [](std::uint8_t v) { return v != 0; })) {
        error = roadsNoNodes > 0 ? "its roads name nodes the file does not hold: no road to draw"
                                 : "no drivable road in the area";
        return false;
    }

    // Exits.
    std::set<std::pair<std::int32_t, std::int32_t>> exitSet;
    if (o.exitsAt.empty()) {
        for (const EdgeCrossing& e : crossings)
            if (e.outward && is_road(t.layout[idx(e.cell)])) exitSet.insert({e.cell.y, e.cell.x});
        if (exitSet.empty()) {
            error = "no drivable road leaves the area: name exits with --exit LAT,LON";
            return false;
        }
    } else {
        for (const OsmNode& at : o.exitsAt) {
            const Point p = proj.cells(at);
            double best = INFINITY;
            CellPos bestCell{-1, -1};
            for (std::int32_t y = 0; y < h; ++y)
                for (std::int32_t x = 0; x < w; ++x) {
                    if (!is_road(t.layout[idx({x, y})])) continue;
                    const double d = std::hypot(x + 0.5 - p.first, y + 0.5 - p.second);
                    if (d < best) best = d, bestCell = {x, y};
                }
            exitSet.insert({bestCell.y, bestCell.x});
        }
    }
    for (const auto& [y, x] : exitSet) t.exits.push_back({x, y});

    // Road cells from which no exit can be reached are dropped.
    {
        Town probe;
        probe.width = w;
        probe.height = h;
        probe.layout = t.layout;
        probe.exits = t.exits;
        const std::vector<std::int32_t>& steps = probe.exit_steps();
        std::size_t dropped = 0;
        for (std::size_t i = 0; i < t.layout.size(); ++i)
            if (is_road(t.layout[i]) && steps[i] < 0) {
                t.layout[i] = LAYOUT_BLOCKED;
                ++dropped;
            }
        if (dropped > 0) r.droppedByReason["road cells that reach no exit"] = dropped;
    }

    // Houses from buildings: beside the nearest road cell whose lane the door
    // move may enter, on the free side nearest the building's centre.
    std::vector<std::int32_t> cars(t.layout.size(), -1);
    const auto doorOk = [&](CellPos house, std::uint8_t move) {
        const CellPos s = move_step(move);
        const CellPos d = {house.x + s.x, house.y + s.y};
        return t.contains(d) && (t.layout[idx(d)] & move) != 0 && is_road(t.layout[idx(d)]);
    };
    std::vector<std::uint8_t> doors(t.layout.size(), 0);
    std::size_t farBuildings = 0, crowdedBuildings = 0;
    const bool fromBuildings = o.houses != HouseSource::AlongStreets;
    if (fromBuildings) {
        const double reach = o.maxDoorDistanceM / o.cellM;
        const auto R = static_cast<std::int32_t>(std::ceil(reach)) + 1;
        for (const Building& b : buildings) {
            double areaM2 = 0.0;
            Point c;
            ring_shape(b.ring, o.cellM, areaM2, c);
            if (c.first < 0 || c.second < 0 || c.first >= w || c.second >= h) {
                r.droppedByReason["buildings outside the area"] += 1;
                continue;
            }
            const CellPos cc = cell_of(c, w, h);
            std::vector<std::pair<double, CellPos>> roads;
            for (std::int32_t y = std::max(0, cc.y - R); y <= std::min(h - 1, cc.y + R); ++y)
                for (std::int32_t x = std::max(0, cc.x - R); x <= std::min(w - 1, cc.x + R); ++x) {
                    if (!is_road(t.layout[idx({x, y})])) continue;
                    const double d = std::hypot(x + 0.5 - c.first, y + 0.5 - c.second);
                    if (d <= reach) roads.push_back({d, {x, y}});
                }
            std::sort(roads.begin(), roads.end(), [](const auto& a, const auto& b2) {
                return a.first != b2.first         ? a.first < b2.first
                       : a.second.y != b2.second.y ? a.second.y < b2.second.y
                                                   : a.second.x < b2.second.x;
            });
            if (roads.empty()) {
                ++farBuildings;
                continue;
            }
            bool placed = false;
            for (const auto& [d, road] : roads) {
                double bestD = INFINITY;
                CellPos best{-1, -1};
                std::uint8_t bestMove = 0;
                for (std::uint8_t m : MOVE_ORDER) {
                    const CellPos s = move_step(m);
                    const CellPos hc = {road.x - s.x, road.y - s.y};  // the house, door move m
                    if (!t.contains(hc) || t.layout[idx(hc)] != LAYOUT_BLOCKED || !doorOk(hc, m))
                        continue;
                    const double dd = std::hypot(hc.x + 0.5 - c.first, hc.y + 0.5 - c.second);
                    if (dd < bestD) bestD = dd, best = hc, bestMove = m;
                }
                if (bestMove) {
                    t.layout[idx(best)] = LAYOUT_HOUSE;
                    doors[idx(best)] = bestMove;
                    cars[idx(best)] = building_cars(b.way->tags, areaM2);
                    ++r.housesFromBuildings;
                    placed = true;
                    break;
                }
            }
            if (!placed) ++crowdedBuildings;
        }
        const std::string limit = fixed(o.maxDoorDistanceM, 0);
        if (farBuildings)
            r.droppedByReason["buildings with no road within " + limit + " m"] = farBuildings;
        if (crowdedBuildings)
            r.droppedByReason["buildings with no free plot beside a road within " + limit + " m"] =
                crowdedBuildings;
    }
    bool alongStreets = o.houses != HouseSource::Buildings;
    if (o.houses == HouseSource::Buildings && r.housesFromBuildings == 0) {
        r.warnings.push_back(buildings.empty()
                                 ? "the area has streets but no residential buildings: houses "
                                   "are placed along the streets"
                                 : "no residential building could be placed by a road: houses "
                                   "are placed along the streets");
        alongStreets = true;
    }
    if (alongStreets) {
        // Every other free cell beside a road, in a checkerboard: about a house
        // every two cells along each side of a street.
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x) {
                const CellPos hc = {x, y};
                if ((x + y) % 2 != 0 || t.layout[idx(hc)] != LAYOUT_BLOCKED) continue;
                for (std::uint8_t m : MOVE_ORDER)
                    if (doorOk(hc, m)) {
                        t.layout[idx(hc)] = LAYOUT_HOUSE;
                        doors[idx(hc)] = m;
                        ++r.housesAlongStreets;
                        break;
                    }
            }
    }
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            if (t.layout[idx({x, y})] == LAYOUT_HOUSE)
                t.houses.push_back({{x, y}, doors[idx({x, y})], cars[idx({x, y})]});
    if (t.houses.empty()) {
        error = "no house could be placed beside a road that reaches an exit";
        return false;
    }

    t.roadClass.assign(t.layout.size(), ROAD_CLASS_NONE);
    for (std::size_t i = 0; i < t.layout.size(); ++i)
        if (is_road(t.layout[i])) t.roadClass[i] = classOf[i];
    t.name = o.name;
    t.source = OSM_ATTRIBUTION;
    t.origin = TownOrigin{area.minLat, area.minLon, centreLat};
    for (std::uint8_t v : t.layout) {
        r.roadCells += is_road(v) ? 1 : 0;
        r.oneWayCells += is_road(v) && (v & LAYOUT_ONE_WAY) ? 1 : 0;
        r.waterCells += v == LAYOUT_WATER ? 1 : 0;
    }
    r.houses = t.houses.size();
    for (const House& hs : t.houses)
        r.cars += hs.cars >= 0 ? hs.cars : static_cast<std::int64_t>(std::llround(carsPerHouse));
    r.exits = t.exits.size();
    const std::vector<TownProblem> problems = validate_town(t);
    if (has_errors(problems)) {
        error = "the town made is not valid: " + problems.front().message;
        return false;
    }
    town = std::move(t);
    return true;
}

std::string format_import_report(const ImportReport& r) {
    std::string s;
    char line[256];
    std::snprintf(line, sizeof line,
                  "read %zu nodes and %zu ways; area %.0f x %.0f m (%.3f km²), %d x %d cells\n",
                  r.nodes, r.ways, r.widthM, r.heightM, r.widthM * r.heightM / 1e6,
                  static_cast<int>(r.width), static_cast<int>(r.height));
    s += line;
    std::size_t roads = 0;
    std::string byClass;
    for (const auto& [cls, n] : r.roadsByClass) {
        roads += n;
        byClass += (byClass.empty() ? "" : ", ") + cls + " " + std::to_string(n);
    }
    std::snprintf(line, sizeof line, "roads: %zu ways drawn (", roads);
    s += line + byClass + ")";
    std::snprintf(line, sizeof line, ", %zu road cells, %zu of them one-way; %zu water cells\n",
                  r.roadCells, r.oneWayCells, r.waterCells);
    s += line;
    std::snprintf(line, sizeof line,
                  "houses: %zu (%zu from buildings, %zu along streets), %lld cars; %zu exits\n",
                  r.houses, r.housesFromBuildings, r.housesAlongStreets,
                  static_cast<long long>(r.cars), r.exits);
    s += line;
    for (const auto& [why, n] : r.droppedByReason)
        s += "dropped: " + std::to_string(n) + " " + why + "\n";
    for (const std::string& wn : r.warnings) s += "warning: " + wn + "\n";
    return s;
}

std::string import_header(const std::string& source) {
    return "# Imported from " + source +
           " by marovel-sim town import.\n"
           "# Map data (c) OpenStreetMap contributors, available under the Open Database License "
           "(ODbL 1.0).\n"
           "# origin is the south-west corner of cell (0, 0), latitude,longitude; the grid is "
           "equirectangular,\n# true to scale along standard_parallel.\n";
}
