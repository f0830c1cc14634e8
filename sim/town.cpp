#include "sim/town.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>

#include "sim/exit_steps.h"

namespace {

std::string at(const char* what, CellPos c) {
    char text[160];
    std::snprintf(text, sizeof text, "%s at (%d, %d)", what, static_cast<int>(c.x),
                  static_cast<int>(c.y));
    return text;
}

// Steps along lanes from every cell to the nearest exit, or -1.
std::vector<std::int32_t> steps_to_exits(const Town& town) {
    std::vector<std::int32_t> steps(town.layout.size(), -1);
    std::vector<std::uint32_t> queue;
    queue.reserve(town.exits.size());
    search_exit_steps(
        town.width, town.height, town.exits, [&](CellPos p) { return town.layout_at(p); },
        steps.data(), queue);
    return steps;
}

// The exact squared distance to the nearest exit of every cell, in two
// separable passes: down each column the distance in rows to the column's
// nearest exit, then along each row the lower envelope of the parabolas
// (x - i)^2 + g(i)^2, whose crossings are found in integers (floor division),
// so the minimum is exact. The column distances are kept in the result and
// each row's copied out before the row is overwritten: 4 bytes a cell in all.
std::vector<std::uint32_t> squares_to_exits(const Town& town) {
    const std::int64_t w = town.width, h = town.height;
    // Farther than any cell: a column without an exit.
    const std::uint32_t far = static_cast<std::uint32_t>(w + h + 1);
    std::vector<std::uint32_t> out(static_cast<std::size_t>(w * h), far);
    const auto at = [&](std::int64_t x, std::int64_t y) -> std::uint32_t& {
        return out[static_cast<std::size_t>(y * w + x)];
    };
    for (CellPos e : town.exits)
        if (town.contains(e)) at(e.x, e.y) = 0;
    for (std::int64_t x = 0; x < w; ++x) {
        for (std::int64_t y = 1; y < h; ++y) at(x, y) = std::min(at(x, y), at(x, y - 1) + 1);
        for (std::int64_t y = h - 2; y >= 0; --y) at(x, y) = std::min(at(x, y), at(x, y + 1) + 1);
    }
    std::vector<std::int64_t> row(static_cast<std::size_t>(w));
    std::vector<std::int64_t> s(static_cast<std::size_t>(w)), t(static_cast<std::size_t>(w));
    const auto floor_div = [](std::int64_t a, std::int64_t b) {  // b > 0
        return a >= 0 ? a / b : -((-a + b - 1) / b);
    };
    const auto g = [&](std::int64_t i) { return row[static_cast<std::size_t>(i)]; };
    const auto f = [&](std::int64_t x, std::int64_t i) { return (x - i) * (x - i) + g(i) * g(i); };
    // The first x at which parabola u is no dearer than parabola i (i < u).
    const auto sep = [&](std::int64_t i, std::int64_t u) {
        return floor_div(u * u - i * i + g(u) * g(u) - g(i) * g(i), 2 * (u - i));
    };
    for (std::int64_t y = 0; y < h; ++y) {
        for (std::int64_t x = 0; x < w; ++x) row[static_cast<std::size_t>(x)] = at(x, y);
        std::size_t q = 0;  // the envelope's last parabola; s: their columns, t: where each starts
        s[0] = 0;
        t[0] = 0;
        for (std::int64_t u = 1; u < w; ++u) {
            bool emptied = false;
            while (f(t[q], s[q]) > f(t[q], u)) {
                if (q == 0) {
                    emptied = true;
                    break;
                }
                --q;
            }
            if (emptied) {
                s[0] = u;
            } else {
                const std::int64_t wx = 1 + sep(s[q], u);
                if (wx < w) {
                    ++q;
                    s[q] = u;
                    t[q] = wx;
                }
            }
        }
        for (std::int64_t x = w - 1; x >= 0; --x) {
            at(x, y) = static_cast<std::uint32_t>(f(x, s[q]));
            if (x == t[q] && q > 0) --q;
        }
    }
    return out;
}

}  // namespace

const std::vector<std::uint32_t>& Town::exit_squares() const {
    std::call_once(cache_->squaresOnce, [this] { cache_->squares = squares_to_exits(*this); });
    return cache_->squares;
}

const std::vector<std::int32_t>& Town::exit_steps() const {
    std::call_once(cache_->once, [this] { cache_->steps = steps_to_exits(*this); });
    return cache_->steps;
}

bool same_town(const Town& a, const Town& b) {
    if (a.name != b.name || a.cellSizeM != b.cellSizeM || a.minutesPerTick != b.minutesPerTick ||
        a.width != b.width ||
        a.height != b.height || a.layout != b.layout || a.houses.size() != b.houses.size() ||
        a.zoneNames != b.zoneNames || a.zoneChars != b.zoneChars || a.houseZone != b.houseZone ||
        a.exits.size() != b.exits.size() || a.source != b.source || a.roadClass != b.roadClass ||
        a.origin.has_value() != b.origin.has_value())
        return false;
    if (a.origin && (a.origin->lat != b.origin->lat || a.origin->lon != b.origin->lon ||
                     a.origin->standardParallel != b.origin->standardParallel))
        return false;
    for (std::size_t i = 0; i < a.houses.size(); ++i)
        if (!(a.houses[i].pos == b.houses[i].pos) || a.houses[i].door != b.houses[i].door ||
            a.houses[i].cars != b.houses[i].cars)
            return false;
    for (std::size_t i = 0; i < a.exits.size(); ++i)
        if (!(a.exits[i] == b.exits[i]) || exit_capacity(a, i) != exit_capacity(b, i))
            return false;
    return true;
}

int find_zone(const Town& town, std::string_view name) {
    for (std::size_t z = 0; z < zone_count(town); ++z)
        if (zone_name(town, z) == name) return static_cast<int>(z);
    return -1;
}

bool valid_zone_name(std::string_view name) {
    if (name.empty() || name.size() > ZONE_NAME_MAX) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-'))
            return false;
    return true;
}

bool town_lat_lon(const Town& town, double x, double y, double& lat, double& lon) {
    if (!town.origin) return false;
    constexpr double DEGREE = 3.14159265358979323846 / 180.0;
    const double mPerDegree = EARTH_RADIUS_M * DEGREE;
    lat = town.origin->lat + y * town.cellSizeM / mPerDegree;
    lon = town.origin->lon +
          x * town.cellSizeM / (mPerDegree * std::cos(town.origin->standardParallel * DEGREE));
    return true;
}

double town_area_km2(const Town& town) {
    return static_cast<double>(town.width) * town.cellSizeM * static_cast<double>(town.height) *
           town.cellSizeM / 1e6;
}

namespace {

Town make_builtin_town() {
    Town t;
    t.name = "built-in";
    t.width = GRID_W;
    t.height = GRID_H;
    t.layout.assign(MapLayoutTable.begin(), MapLayoutTable.end());
    list_houses(t, [](CellPos) { return DIR_Y_DEC; });
    t.exits = {ExitCell};
    return t;
}

}  // namespace

std::shared_ptr<const Town> shared_builtin_town() {
    static const std::shared_ptr<const Town> town = std::make_shared<const Town>(make_builtin_town());
    return town;
}

const Town& builtin_town() {
    return *shared_builtin_town();
}

bool exit_reachable_from(const Town& town, CellPos roadCell) {
    if (!town.contains(roadCell)) return false;
    const std::vector<std::int32_t>& steps = town.exit_steps();
    return steps[static_cast<std::size_t>(roadCell.y) * static_cast<std::size_t>(town.width) +
                 static_cast<std::size_t>(roadCell.x)] >= 0;
}

std::vector<TownProblem> validate_town(const Town& town) {
    using L = TownProblem::Level;
    std::vector<TownProblem> out;
    const CellPos none = {-1, -1};
    if (town.width < 1 || town.width > TOWN_MAX_SIDE || town.height < 1 ||
        town.height > TOWN_MAX_SIDE) {
        char text[160];
        std::snprintf(text, sizeof text, "the town is %d x %d cells; each side must be 1..%d",
                      static_cast<int>(town.width), static_cast<int>(town.height),
                      static_cast<int>(TOWN_MAX_SIDE));
        out.push_back({L::Error, none, text});
        return out;
    }
    if (town.layout.size() !=
        static_cast<std::size_t>(town.width) * static_cast<std::size_t>(town.height)) {
        out.push_back({L::Error, none, "the layout does not hold width x height cells"});
        return out;
    }
    // Road classes, when the town has them: one a cell, known, and only on roads.
    if (!town.roadClass.empty() && town.roadClass.size() != town.layout.size()) {
        out.push_back({L::Error, none, "the road classes do not hold width x height cells"});
        return out;
    }
    for (std::size_t i = 0; i < town.roadClass.size(); ++i) {
        const std::uint8_t c = town.roadClass[i];
        if (c == ROAD_CLASS_NONE) continue;
        const CellPos p = {static_cast<std::int32_t>(i % static_cast<std::size_t>(town.width)),
                           static_cast<std::int32_t>(i / static_cast<std::size_t>(town.width))};
        if (c >= ROAD_CLASS_COUNT || !is_road(town.layout[i])) {
            out.push_back({L::Error, p,
                           at(c >= ROAD_CLASS_COUNT ? "unknown road class"
                                                    : "road class on a cell that is no road",
                              p)});
            break;
        }
    }
    if (!(town.cellSizeM > 0.0) || town.cellSizeM > 1e6)
        out.push_back({L::Error, none, "the cell size must be above 0 and at most 1e6 metres"});
    bool unknown = false;
    for (std::int32_t y = 0; y < town.height && !unknown; ++y)
        for (std::int32_t x = 0; x < town.width; ++x)
            if (!is_known_layout(town.layout_at({x, y}))) {
                out.push_back({L::Error, {x, y}, at("unknown layout value", {x, y})});
                unknown = true;
                break;
            }
    std::size_t houseCells = 0;
    for (std::uint8_t v : town.layout) houseCells += v == LAYOUT_HOUSE ? 1 : 0;
    if (houseCells == 0) out.push_back({L::Error, none, "the town has no house"});
    if (houseCells != town.houses.size())
        out.push_back({L::Error, none, "the house list does not match the house cells"});
    if (town.exits.empty()) out.push_back({L::Error, none, "the town has no exit"});
    if (!town.exitCapacities.empty() && town.exitCapacities.size() != town.exits.size())
        out.push_back({L::Error, none, "the exit capacities do not match the exits"});
    for (std::int32_t c : town.exitCapacities)
        if (c < 0) out.push_back({L::Error, none, "an exit capacity is below 0"});
    bool exitsOk = true;
    for (CellPos e : town.exits)
        if (!town.contains(e) || !is_road(town.layout_at(e))) {
            out.push_back({L::Error, e, at("exit not on a road", e)});
            exitsOk = false;
        }
    bool doorsOk = true;
    for (const House& h : town.houses) {
        const CellPos d = door_cell(h);
        const bool oneMove =
            h.door == DIR_Y_DEC || h.door == DIR_X_DEC || h.door == DIR_Y_INC || h.door == DIR_X_INC;
        if (!town.contains(h.pos) || town.layout_at(h.pos) != LAYOUT_HOUSE) {
            out.push_back({L::Error, h.pos, at("listed house not on a house cell", h.pos)});
            doorsOk = false;
        } else if (!oneMove || !town.contains(d) || !is_road(town.layout_at(d))) {
            out.push_back({L::Error, h.pos, at("door of the house is not a road", h.pos)});
            doorsOk = false;
        }
        if (h.cars < -1 || h.cars > 100)
            out.push_back({L::Error, h.pos, at("car count of the house outside 0..100", h.pos)});
    }
    if (has_errors(out) || !exitsOk || !doorsOk) return out;

    // Warnings: the cars of these houses, and cars on these roads, can never get out.
    const std::vector<std::int32_t>& steps = town.exit_steps();
    const std::size_t w = static_cast<std::size_t>(town.width);
    for (const House& h : town.houses) {
        const CellPos d = door_cell(h);
        // The door is entered by the leaving move only if its layout allows it.
        const bool enters = (town.layout_at(d) & h.door) != 0;
        if (!enters || steps[static_cast<std::size_t>(d.y) * w + static_cast<std::size_t>(d.x)] < 0)
            out.push_back({L::Warning, h.pos, at("no exit can be reached from the house", h.pos)});
    }
    for (std::int32_t y = 0; y < town.height; ++y)
        for (std::int32_t x = 0; x < town.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x);
            if (is_road(town.layout[i]) && steps[i] < 0)
                out.push_back({L::Warning, {x, y}, at("road reaches no exit", {x, y})});
        }
    return out;
}

bool has_errors(const std::vector<TownProblem>& problems) {
    for (const TownProblem& p : problems)
        if (p.level == TownProblem::Level::Error) return true;
    return false;
}

Town generate_repeated_town(std::int32_t cols, std::int32_t rows, std::int32_t exits) {
    Town t;
    if (cols < 1 || rows < 1 || cols > TOWN_MAX_SIDE / GRID_W || rows > TOWN_MAX_SIDE / GRID_H)
        return t;  // width 0: validate_town refuses it
    t.width = cols * GRID_W;
    t.height = rows * GRID_H;
    t.layout.resize(static_cast<std::size_t>(t.width) * static_cast<std::size_t>(t.height));
    for (std::int32_t y = 0; y < t.height; ++y)
        for (std::int32_t x = 0; x < t.width; ++x)
            t.layout[static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) +
                     static_cast<std::size_t>(x)] =
                MapLayoutTable[static_cast<std::size_t>((y % GRID_H) * GRID_W + x % GRID_W)];
    list_houses(t, [](CellPos) { return DIR_Y_DEC; });
    char name[64];
    std::snprintf(name, sizeof name, "built-in x %d x %d", static_cast<int>(cols),
                  static_cast<int>(rows));
    t.name = (cols == 1 && rows == 1) ? "built-in" : name;
    const std::int32_t top = t.height - 1;
    if (exits <= cols) {
        // At the built-in exit's place in copies spread across the top.
        for (std::int32_t i = 0; i < exits; ++i) {
            const std::int32_t copy = static_cast<std::int32_t>(
                (2 * static_cast<std::int64_t>(i) + 1) * cols / (2 * static_cast<std::int64_t>(exits)));
            t.exits.push_back({copy * GRID_W + ExitCell.x, top});
        }
    } else {
        std::vector<CellPos> roads;
        for (std::int32_t x = 0; x < t.width; ++x)
            if (is_road(t.layout_at({x, top}))) roads.push_back({x, top});
        const std::int64_t m = static_cast<std::int64_t>(roads.size());
        const std::int64_t n = exits < m ? exits : m;
        for (std::int64_t i = 0; i < n; ++i) t.exits.push_back(roads[(2 * i + 1) * m / (2 * n)]);
    }
    return t;
}
