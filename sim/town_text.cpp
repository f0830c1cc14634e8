#include "sim/town_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// The line of `text` that starts at `at`, without its line end ("\n" or
// "\r\n"); `at` moves past it.
std::string_view next_line(std::string_view text, std::size_t& at) {
    const std::size_t end = text.find('\n', at);
    std::string_view raw = text.substr(at, end == std::string_view::npos ? text.size() - at : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    return raw;
}

bool fail(TownTextError& e, int line, int column, std::string message) {
    e = {line, column, std::move(message)};
    return false;
}

// Whole numbers separated by commas, spaces allowed around them.
bool parse_ints(std::string_view s, std::int64_t* out, int count) {
    for (int k = 0; k < count; ++k) {
        s = trim(s);
        std::int64_t v = 0;
        const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (r.ec != std::errc() || v < -(1LL << 40) || v > (1LL << 40)) return false;
        out[k] = v;
        s.remove_prefix(static_cast<std::size_t>(r.ptr - s.data()));
        s = trim(s);
        if (k + 1 < count) {
            if (s.empty() || s.front() != ',') return false;
            s.remove_prefix(1);
        }
    }
    return s.empty();
}

// A decimal number filling the whole text.
bool parse_number(std::string_view s, double& v) {
    s = trim(s);
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

// The shortest text that reads back as the same double.
std::string shortest(double v) {
    char number[64];
    const auto written = std::to_chars(number, number + sizeof number, v);
    return std::string(number, written.ptr);
}

constexpr double MAX_ORIGIN_LAT = 85.0;  // degrees: beyond, a degree east shrinks too fast to map

struct Placed {
    CellPos cell;
    int line;
};

}  // namespace

bool town_char_cell(char c, std::uint8_t& layout, std::uint8_t& door) {
    door = 0;
    switch (c) {
        case '.': layout = LAYOUT_BLOCKED; return true;
        case '~': layout = LAYOUT_WATER; return true;
        case '|': layout = LAYOUT_ROAD_Y; return true;
        case '-': layout = LAYOUT_ROAD_X; return true;
        case '+': layout = LAYOUT_ROAD_ANY; return true;
        case '^': layout = LAYOUT_ONE_WAY_Y_INC; return true;
        case 'v': layout = LAYOUT_ONE_WAY_Y_DEC; return true;
        case '>': layout = LAYOUT_ONE_WAY_X_INC; return true;
        case '<': layout = LAYOUT_ONE_WAY_X_DEC; return true;
        case 'S': layout = LAYOUT_HOUSE; door = DIR_Y_DEC; return true;
        case 'N': layout = LAYOUT_HOUSE; door = DIR_Y_INC; return true;
        case 'E': layout = LAYOUT_HOUSE; door = DIR_X_INC; return true;
        case 'W': layout = LAYOUT_HOUSE; door = DIR_X_DEC; return true;
        default: return false;
    }
}

namespace {

// The road classes' characters, in ROAD_CLASS_* order.
constexpr char ROAD_CLASS_CHARS[ROAD_CLASS_COUNT + 1] = ".MPSTRAX";

}  // namespace

char town_road_class_char(std::uint8_t roadClass) {
    return roadClass < ROAD_CLASS_COUNT ? ROAD_CLASS_CHARS[roadClass] : '?';
}

bool town_char_road_class(char c, std::uint8_t& roadClass) {
    for (std::uint8_t k = 0; k < ROAD_CLASS_COUNT; ++k)
        if (ROAD_CLASS_CHARS[k] == c) {
            roadClass = k;
            return true;
        }
    return false;
}

bool parse_town(std::string_view text, Town& town, TownTextError& error) {
    if (text.size() > TOWN_TEXT_MAX_BYTES)
        return fail(error, 0, 0, "the text is larger than the largest town's (" +
                                     std::to_string(TOWN_TEXT_MAX_BYTES) + " bytes)");
    Town t;
    std::vector<Placed> exits;
    std::vector<std::int32_t> capacities;  // per exit; 0: any number
    std::vector<std::pair<Placed, std::int64_t>> counts;
    int line = 0;
    std::size_t at = 0;
    bool inGrid = false;
    int gridLine = 0;  // the line of the top row
    std::vector<std::string_view> rows;
    bool ended = false;  // a blank line after the rows: only blank lines or the roads may follow
    bool inRoads = false, roadsEnded = false;
    int roadsLine = 0;  // the `roads` line
    std::vector<std::string_view> roadRows;
    int parallelLine = 0;
    std::optional<double> parallel;
    std::size_t zonesAt = std::string_view::npos;  // where the zones layer's text begins
    int zonesLine = 0;                             // the `zones` line
    while (at < text.size()) {
        const std::string_view raw = next_line(text, at);
        ++line;
        for (std::size_t k = 0; k < raw.size(); ++k) {
            const unsigned char c = static_cast<unsigned char>(raw[k]);
            if ((c < 0x20 && c != '\t') || c >= 0x7F)
                return fail(error, line, static_cast<int>(k) + 1,
                            "binary or non-ASCII byte: a town is plain text");
        }
        if ((inGrid || inRoads) && !rows.empty() && trim(raw) == "zones") {
            zonesAt = at;
            zonesLine = line;
            break;
        }
        if (inRoads) {
            if (raw.empty()) {
                roadsEnded = true;
                continue;
            }
            if (roadsEnded)
                return fail(error, line, 1, "a row after the blank line that ended the roads");
            if (roadRows.size() >= rows.size())
                return fail(error, line, 1,
                            "more road rows than the grid's " + std::to_string(rows.size()));
            if (raw.size() != rows.front().size())
                return fail(error, line,
                            static_cast<int>(std::min(raw.size(), rows.front().size())) + 1,
                            "road row of " + std::to_string(raw.size()) +
                                " cells; the grid's rows have " +
                                std::to_string(rows.front().size()));
            const std::string_view gridRow = rows[roadRows.size()];
            for (std::size_t k = 0; k < raw.size(); ++k) {
                std::uint8_t cls = 0;
                if (!town_char_road_class(raw[k], cls))
                    return fail(error, line, static_cast<int>(k) + 1,
                                std::string("unknown road class '") + raw[k] + "'");
                std::uint8_t layout, door;
                town_char_cell(gridRow[k], layout, door);
                if (cls != ROAD_CLASS_NONE && !is_road(layout))
                    return fail(error, line, static_cast<int>(k) + 1,
                                std::string("road class '") + raw[k] + "' on a cell that is no road ('" +
                                    gridRow[k] + "' in the grid)");
            }
            roadRows.push_back(raw);
            continue;
        }
        if (inGrid) {
            if (trim(raw) == "roads" && !rows.empty()) {
                inRoads = true;
                roadsLine = line;
                continue;
            }
            if (raw.empty()) {
                ended = true;
                continue;
            }
            if (ended) return fail(error, line, 1, "a row after the blank line that ended the grid");
            if (rows.size() >= static_cast<std::size_t>(TOWN_MAX_SIDE))
                return fail(error, line, 1,
                            "more than " + std::to_string(TOWN_MAX_SIDE) + " rows");
            if (raw.size() > static_cast<std::size_t>(TOWN_MAX_SIDE))
                return fail(error, line, TOWN_MAX_SIDE + 1,
                            "a row longer than " + std::to_string(TOWN_MAX_SIDE) + " cells");
            if (!rows.empty() && raw.size() != rows.front().size())
                return fail(error, line,
                            static_cast<int>(std::min(raw.size(), rows.front().size())) + 1,
                            "row of " + std::to_string(raw.size()) + " cells; the first row has " +
                                std::to_string(rows.front().size()));
            for (std::size_t k = 0; k < raw.size(); ++k) {
                std::uint8_t layout, door;
                if (!town_char_cell(raw[k], layout, door))
                    return fail(error, line, static_cast<int>(k) + 1,
                                std::string("unknown cell character '") + raw[k] + "'");
            }
            rows.push_back(raw);
            continue;
        }
        const std::string_view s = trim(raw);
        if (s.empty() || s.front() == '#') continue;
        if (s == "grid") {
            inGrid = true;
            gridLine = line + 1;
            continue;
        }
        const std::size_t eq = s.find('=');
        if (eq == std::string_view::npos)
            return fail(error, line, 1, "expected `key = value` or `grid`");
        const std::string_view key = trim(s.substr(0, eq));
        const std::string_view value = trim(s.substr(eq + 1));
        const int valueColumn = static_cast<int>(value.data() - raw.data()) + 1;
        if (key == "name") {
            t.name = std::string(value);
        } else if (key == "cell_size_m") {
            double v = 0;
            const auto r = std::from_chars(value.data(), value.data() + value.size(), v);
            if (r.ec != std::errc() || r.ptr != value.data() + value.size() || !(v > 0.0) || v > 1e6)
                return fail(error, line, valueColumn, "cell_size_m must be a number above 0, at most 1e6");
            t.cellSizeM = v;
        } else if (key == "minutes_per_tick") {
            double v = 0;
            if (!parse_number(value, v) || !(v > 0.0) || v > MAX_MINUTES_PER_TICK)
                return fail(error, line, valueColumn,
                            "minutes_per_tick must be a number above 0, at most 1440 (a day)");
            t.minutesPerTick = v;
        } else if (key == "origin") {
            const std::size_t comma = value.find(',');
            double lat = 0, lon = 0;
            if (comma == std::string_view::npos || !parse_number(value.substr(0, comma), lat) ||
                !parse_number(value.substr(comma + 1), lon) || std::abs(lat) > MAX_ORIGIN_LAT ||
                std::abs(lon) > 180.0)
                return fail(error, line, valueColumn,
                            "origin must be LAT,LON: degrees, latitude within 85, longitude "
                            "within 180");
            t.origin = TownOrigin{lat, lon, 0.0};
        } else if (key == "standard_parallel") {
            double lat = 0;
            if (!parse_number(value, lat) || std::abs(lat) > MAX_ORIGIN_LAT)
                return fail(error, line, valueColumn,
                            "standard_parallel must be a latitude within 85 degrees");
            parallel = lat;
            parallelLine = line;
        } else if (key == "source") {
            t.source = std::string(value);
        } else if (key == "exit") {
            std::int64_t xy[3] = {0, 0, 0};
            const bool withCapacity = parse_ints(value, xy, 3);
            if (!withCapacity && !parse_ints(value, xy, 2))
                return fail(error, line, valueColumn,
                            "exit must be X,Y or X,Y,CAP: two or three whole numbers");
            exits.push_back({{static_cast<std::int32_t>(xy[0]), static_cast<std::int32_t>(xy[1])}, line});
            if (xy[0] < 0 || xy[1] < 0 || xy[0] >= TOWN_MAX_SIDE || xy[1] >= TOWN_MAX_SIDE)
                return fail(error, line, valueColumn, "exit outside the town");
            if (withCapacity && (xy[2] < 1 || xy[2] > MAX_EXIT_CAPACITY)) {
                std::size_t third = value.rfind(',') + 1;  // the capacity's first character
                while (third < value.size() && (value[third] == ' ' || value[third] == '\t')) ++third;
                return fail(error, line, valueColumn + static_cast<int>(third),
                            "exit capacity must be 1.." + std::to_string(MAX_EXIT_CAPACITY) +
                                " cars a tick");
            }
            capacities.push_back(static_cast<std::int32_t>(xy[2]));
        } else if (key == "cars") {
            std::int64_t v[3];
            if (!parse_ints(value, v, 3) || v[2] < 0 || v[2] > 100)
                return fail(error, line, valueColumn, "cars must be X,Y,N with N in 0..100");
            if (v[0] < 0 || v[1] < 0 || v[0] >= TOWN_MAX_SIDE || v[1] >= TOWN_MAX_SIDE)
                return fail(error, line, valueColumn, "cars names a cell outside the town");
            counts.push_back({{{static_cast<std::int32_t>(v[0]), static_cast<std::int32_t>(v[1])}, line}, v[2]});
        } else {
            return fail(error, line, 1, "unknown key `" + std::string(key) + "`");
        }
    }
    if (!inGrid) return fail(error, line, 0, "no `grid` line");
    if (parallel && !t.origin)
        return fail(error, parallelLine, 1, "standard_parallel without an origin");

    if (rows.empty()) return fail(error, gridLine, 0, "the grid has no rows");
    if (rows.front().empty()) return fail(error, gridLine, 1, "the grid's rows are empty");

    if (inRoads && roadRows.size() != rows.size())
        return fail(error, roadsLine, 0,
                    "the roads have " + std::to_string(roadRows.size()) + " rows; the grid has " +
                        std::to_string(rows.size()));

    t.width = static_cast<std::int32_t>(rows.front().size());
    t.height = static_cast<std::int32_t>(rows.size());
    if (t.origin) {
        // Without its own, the projection is true to scale across the town's middle.
        double middleLat = 0, lon = 0;
        town_lat_lon(t, 0.0, t.height / 2.0, middleLat, lon);
        t.origin->standardParallel = parallel ? *parallel : middleLat;
    }
    t.layout.resize(static_cast<std::size_t>(t.width) * static_cast<std::size_t>(t.height));
    std::vector<std::uint8_t> doors(t.layout.size(), 0);
    for (std::int32_t r = 0; r < t.height; ++r) {
        const std::int32_t y = t.height - 1 - r;
        for (std::int32_t x = 0; x < t.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) +
                                  static_cast<std::size_t>(x);
            town_char_cell(rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(x)],
                           t.layout[i], doors[i]);
        }
    }
    if (inRoads) {
        t.roadClass.resize(t.layout.size());
        for (std::int32_t r = 0; r < t.height; ++r)
            for (std::int32_t x = 0; x < t.width; ++x)
                town_char_road_class(
                    roadRows[static_cast<std::size_t>(r)][static_cast<std::size_t>(x)],
                    t.roadClass[static_cast<std::size_t>(t.height - 1 - r) *
                                    static_cast<std::size_t>(t.width) +
                                static_cast<std::size_t>(x)]);
    }
    list_houses(t, [&](CellPos p) {
        return doors[static_cast<std::size_t>(p.y) * static_cast<std::size_t>(t.width) +
                     static_cast<std::size_t>(p.x)];
    });
    auto rowLine = [&](CellPos p) { return gridLine + (t.height - 1 - p.y); };
    for (const Placed& e : exits) {
        if (!t.contains(e.cell)) return fail(error, e.line, 0, "exit outside the town");
        if (!is_road(t.layout_at(e.cell)))
            return fail(error, e.line, 0,
                        "exit at (" + std::to_string(e.cell.x) + ", " + std::to_string(e.cell.y) +
                            ") is not a road cell (line " + std::to_string(rowLine(e.cell)) +
                            ", column " + std::to_string(e.cell.x + 1) + ")");
        t.exits.push_back(e.cell);
    }
    for (std::int32_t c : capacities)
        if (c > 0) t.exitCapacities = capacities;
    for (const auto& [c, n] : counts) {
        if (!t.contains(c.cell) || t.layout_at(c.cell) != LAYOUT_HOUSE)
            return fail(error, c.line, 0, "cars names a cell that is not a house");
        for (House& h : t.houses)
            if (h.pos == c.cell) h.cars = static_cast<std::int32_t>(n);
    }
    if (t.exits.empty()) return fail(error, line, 0, "the town has no exit (`exit = X,Y`)");
    if (t.houses.empty()) return fail(error, gridLine, 0, "the town has no house");
    if (zonesAt != std::string_view::npos &&
        !parse_zone_layer(text.substr(zonesAt), zonesLine + 1, t, error))
        return false;
    for (const House& h : t.houses) {
        const CellPos d = door_cell(h);
        if (!t.contains(d) || !is_road(t.layout_at(d)))
            return fail(error, rowLine(h.pos), h.pos.x + 1,
                        "the door of the house at (" + std::to_string(h.pos.x) + ", " +
                            std::to_string(h.pos.y) + ") is not a road cell");
    }
    const std::vector<TownProblem> problems = validate_town(t);
    for (const TownProblem& p : problems)
        if (p.level == TownProblem::Level::Error)
            return fail(error, t.contains(p.cell) ? rowLine(p.cell) : 0,
                        t.contains(p.cell) ? p.cell.x + 1 : 0, p.message);
    town = std::move(t);
    return true;
}

char town_cell_char(const Town& town, CellPos p) {
    switch (town.layout_at(p)) {
        case LAYOUT_WATER: return '~';
        case LAYOUT_ROAD_Y: return '|';
        case LAYOUT_ROAD_X: return '-';
        case LAYOUT_ROAD_ANY: return '+';
        case LAYOUT_ONE_WAY_Y_INC: return '^';
        case LAYOUT_ONE_WAY_Y_DEC: return 'v';
        case LAYOUT_ONE_WAY_X_INC: return '>';
        case LAYOUT_ONE_WAY_X_DEC: return '<';
        case LAYOUT_HOUSE: return 'H';  // the caller puts the door's letter
        default: return '.';
    }
}

std::string format_town(const Town& town) {
    std::string out;
    if (!town.name.empty()) out += "name = " + town.name + "\n";
    if (!town.source.empty()) out += "source = " + town.source + "\n";
    out += "cell_size_m = " + shortest(town.cellSizeM) + "\n";
    if (town.minutesPerTick > 0) out += "minutes_per_tick = " + shortest(town.minutesPerTick) + "\n";
    if (town.origin) {
        out += "origin = " + shortest(town.origin->lat) + "," + shortest(town.origin->lon) + "\n";
        out += "standard_parallel = " + shortest(town.origin->standardParallel) + "\n";
    }
    for (std::size_t k = 0; k < town.exits.size(); ++k) {
        const CellPos e = town.exits[k];
        out += "exit = " + std::to_string(e.x) + "," + std::to_string(e.y);
        if (exit_capacity(town, k) > 0) out += "," + std::to_string(exit_capacity(town, k));
        out += "\n";
    }
    std::vector<char> doorChar(town.layout.size(), 0);
    for (const House& h : town.houses) {
        const std::size_t i = static_cast<std::size_t>(h.pos.y) * static_cast<std::size_t>(town.width) +
                              static_cast<std::size_t>(h.pos.x);
        doorChar[i] = h.door == DIR_Y_DEC ? 'S' : h.door == DIR_Y_INC ? 'N' : h.door == DIR_X_INC ? 'E' : 'W';
        if (h.cars >= 0)
            out += "cars = " + std::to_string(h.pos.x) + "," + std::to_string(h.pos.y) + "," +
                   std::to_string(h.cars) + "\n";
    }
    out += "grid\n";
    out.reserve(out.size() + town.layout.size() + static_cast<std::size_t>(town.height));
    for (std::int32_t y = town.height - 1; y >= 0; --y) {
        for (std::int32_t x = 0; x < town.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(town.width) +
                                  static_cast<std::size_t>(x);
            out += doorChar[i] != 0 ? doorChar[i] : town_cell_char(town, {x, y});
        }
        out += '\n';
    }
    if (!town.roadClass.empty()) {
        out += "roads\n";
        for (std::int32_t y = town.height - 1; y >= 0; --y) {
            for (std::int32_t x = 0; x < town.width; ++x)
                out += town_road_class_char(
                    town.roadClass[static_cast<std::size_t>(y) * static_cast<std::size_t>(town.width) +
                                   static_cast<std::size_t>(x)]);
            out += '\n';
        }
    }
    if (!town.zoneNames.empty()) out += "zones\n" + format_zone_layer(town);
    return out;
}

namespace {

// A character a zone may be drawn with: printable, no space, and none of
// '.' (no zone), '=' (the legend's) or '#' (a comment's).
bool zone_char_allowed(char c) {
    return c > ' ' && c < 0x7F && c != '.' && c != '=' && c != '#';
}

}  // namespace

bool parse_zone_layer(std::string_view text, int firstLine, Town& town, TownTextError& error) {
    std::vector<std::string> names;
    std::string chars;
    std::vector<std::string_view> rows;
    int line = firstLine - 1, rowsLine = 0;
    bool ended = false;  // a blank line after the rows
    std::size_t at = 0;
    while (at < text.size()) {
        const std::string_view raw = next_line(text, at);
        ++line;
        const std::string_view s = trim(raw);
        if (rows.empty() && (s.empty() || s.front() == '#')) continue;
        if (rows.empty() && s.find('=') != std::string_view::npos) {
            const std::size_t eq = s.find('=');
            const std::string_view key = trim(s.substr(0, eq));
            const std::string_view name = trim(s.substr(eq + 1));
            const int keyColumn = static_cast<int>(s.data() - raw.data()) + 1;
            if (key.size() != 1 || !zone_char_allowed(key.front()))
                return fail(error, line, keyColumn,
                            "a zone is named by one character (not '.', '=', '#' or a space): "
                            "`C = NAME`");
            if (!valid_zone_name(name))
                return fail(error, line, static_cast<int>(name.data() - raw.data()) + 1,
                            "a zone's name is 1.." + std::to_string(ZONE_NAME_MAX) +
                                " letters, digits, '_' or '-'");
            if (chars.find(key.front()) != std::string::npos)
                return fail(error, line, keyColumn,
                            std::string("zone character '") + key.front() + "' named twice");
            for (const std::string& n : names)
                if (n == name)
                    return fail(error, line, static_cast<int>(name.data() - raw.data()) + 1,
                                "zone name `" + std::string(name) + "` given twice");
            if (names.size() >= TOWN_MAX_ZONES)
                return fail(error, line, 1,
                            "more than " + std::to_string(TOWN_MAX_ZONES) + " zones");
            chars += key.front();
            names.emplace_back(name);
            continue;
        }
        if (raw.empty()) {
            ended = true;
            continue;
        }
        if (ended) return fail(error, line, 1, "a row after the blank line that ended the zones");
        if (names.empty()) return fail(error, line, 1, "zone rows before any `C = NAME` line");
        if (rows.empty()) rowsLine = line;
        if (rows.size() >= static_cast<std::size_t>(town.height))
            return fail(error, line, 1,
                        "more zone rows than the town's " + std::to_string(town.height));
        if (raw.size() != static_cast<std::size_t>(town.width))
            return fail(error, line,
                        static_cast<int>(std::min<std::size_t>(raw.size(), town.width)) + 1,
                        "zone row of " + std::to_string(raw.size()) + " cells; the town's rows have " +
                            std::to_string(town.width));
        for (std::size_t k = 0; k < raw.size(); ++k)
            if (raw[k] != '.' && chars.find(raw[k]) == std::string::npos) {
                const unsigned char c = static_cast<unsigned char>(raw[k]);
                return fail(error, line, static_cast<int>(k) + 1,
                            c < 0x20 || c >= 0x7F
                                ? std::string("binary or non-ASCII byte: zones are plain text")
                                : std::string("unknown zone character '") + raw[k] +
                                      "' (no `" + raw[k] + " = NAME` line)");
            }
        rows.push_back(raw);
    }
    if (names.empty()) return fail(error, firstLine, 0, "no zones: give `C = NAME` lines and rows");
    if (rows.size() != static_cast<std::size_t>(town.height))
        return fail(error, rows.empty() ? line : rowsLine, 0,
                    "the zones have " + std::to_string(rows.size()) + " rows; the town has " +
                        std::to_string(town.height));
    std::vector<std::uint8_t> houseZone(town.houses.size());
    for (std::size_t k = 0; k < town.houses.size(); ++k) {
        const CellPos p = town.houses[k].pos;
        const std::size_t r = static_cast<std::size_t>(town.height - 1 - p.y);
        const char c = rows[r][static_cast<std::size_t>(p.x)];
        if (c == '.')
            return fail(error, rowsLine + static_cast<int>(r), p.x + 1,
                        "the house at (" + std::to_string(p.x) + ", " + std::to_string(p.y) +
                            ") lies in no zone");
        houseZone[k] = static_cast<std::uint8_t>(chars.find(c));
    }
    town.zoneNames = std::move(names);
    town.zoneChars = std::move(chars);
    town.houseZone = std::move(houseZone);
    return true;
}

std::string format_zone_layer(const Town& town) {
    std::string out;
    for (std::size_t z = 0; z < town.zoneNames.size(); ++z)
        out += std::string(1, town.zoneChars[z]) + " = " + town.zoneNames[z] + "\n";
    std::string grid(static_cast<std::size_t>(town.width) * static_cast<std::size_t>(town.height), '.');
    for (std::size_t k = 0; k < town.houses.size() && k < town.houseZone.size(); ++k) {
        const CellPos p = town.houses[k].pos;
        grid[static_cast<std::size_t>(town.height - 1 - p.y) * static_cast<std::size_t>(town.width) +
             static_cast<std::size_t>(p.x)] = town.zoneChars[town.houseZone[k]];
    }
    for (std::int32_t r = 0; r < town.height; ++r) {
        out.append(grid, static_cast<std::size_t>(r) * static_cast<std::size_t>(town.width),
                   static_cast<std::size_t>(town.width));
        out += '\n';
    }
    return out;
}
