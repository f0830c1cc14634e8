#include "cli/town_command.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "cli/decimal_option.h"
#include "cli/sweep_command.h"
#include "experiments/pictures/picture_program.h"
#include "experiments/planning/town_file.h"
#include "experiments/records/output_file.h"
#include "experiments/running/merge.h"
#include "places/osm_import.h"
#include "sim/parameters.h"
#include "sim/town_text.h"

#if MAROVEL_WITH_PICTURES
#include "experiments/pictures/town_picture.h"
#endif

namespace {

constexpr std::size_t MAX_PROBLEMS_SHOWN = 100;  // a city's warnings would fill the screen

// "COLSxROWS", each at least 1 and within the largest town.
bool parse_repeat(const std::string& text, std::int32_t& cols, std::int32_t& rows) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos) return false;
    const char* end = text.data() + text.size();
    auto [p1, e1] = std::from_chars(text.data(), text.data() + x, cols);
    auto [p2, e2] = std::from_chars(text.data() + x + 1, end, rows);
    return e1 == std::errc() && e2 == std::errc() && p1 == text.data() + x && p2 == end && x > 0 &&
           cols >= 1 && rows >= 1;
}

std::size_t road_cells(const Town& town) {
    std::size_t n = 0;
    for (std::uint8_t v : town.layout) n += is_road(v) ? 1 : 0;
    return n;
}

// What `town check` prints first: the town in one line.
void print_facts(const std::string& file, const Town& town) {
    std::printf(
        "%s: %s, %d x %d cells of %g m, %zu houses, %lld cars (%g per house unless "
        "the file says), %zu exit%s, %zu road cells, %.4g km²\n",
        file.c_str(), town.name.empty() ? "unnamed" : town.name.c_str(),
        static_cast<int>(town.width), static_cast<int>(town.height), town.cellSizeM,
        town.houses.size(),
        static_cast<long long>(town_cars(&town, ModelParameters{}.carsPerHouse)),
        ModelParameters{}.carsPerHouse, town.exits.size(), town.exits.size() == 1 ? "" : "s",
        road_cells(town), town_area_km2(town));
    double north = 0, east = 0;
    if (town_lat_lon(town, town.width, town.height, north, east))
        std::printf("%s: from %.7f,%.7f to %.7f,%.7f (lat,lon of the south-west and north-east "
                    "corners)%s%s\n",
                    file.c_str(), town.origin->lat, town.origin->lon, north, east,
                    town.source.empty() ? "" : "; ", town.source.c_str());
    if (town.zoneNames.empty()) return;
    std::vector<std::size_t> houses(zone_count(town), 0);
    for (std::size_t k = 0; k < town.houses.size(); ++k) ++houses[house_zone(town, k)];
    std::string line;
    for (std::size_t z = 0; z < houses.size(); ++z)
        line += (z == 0 ? "" : ", ") + zone_name(town, z) + " (" + town.zoneChars[z] + ") " +
                std::to_string(houses[z]) + (houses[z] == 1 ? " house" : " houses");
    std::printf("%s: %zu zones: %s\n", file.c_str(), houses.size(), line.c_str());
}

int check_town(const std::string& file, const std::string& zones) {
    Town town;
    std::string error;
    if (!read_town_file(file, town, error, true)) return refuse(error);
    if (!zones.empty() && !read_zones_file(zones, town, error)) return refuse("--zones: " + error);
    print_facts(file, town);
    const std::vector<TownProblem> problems = validate_town(town);
    std::size_t errors = 0, warnings = 0;
    for (const TownProblem& p : problems) {
        const bool isError = p.level == TownProblem::Level::Error;
        (isError ? errors : warnings) += 1;
        if (errors + warnings <= MAX_PROBLEMS_SHOWN)
            std::printf("%s: %s: %s\n", file.c_str(), isError ? "error" : "warning",
                        p.message.c_str());
    }
    if (errors + warnings > MAX_PROBLEMS_SHOWN)
        std::printf("%s: ... and %zu more\n", file.c_str(), errors + warnings - MAX_PROBLEMS_SHOWN);
    std::printf("%s: %zu error%s, %zu warning%s%s\n", file.c_str(), errors, errors == 1 ? "" : "s",
                warnings, warnings == 1 ? "" : "s", errors > 0 ? ": the town cannot run" : "");
    std::string why;
    if (!flush_standard_output(why)) return fail(why);
    return errors > 0 ? 2 : 0;
}

// Writes `bytes` to `path` through a temporary file beside it.
int write_output(const std::string& option, const std::string& path, const std::string& bytes) {
    OutputFile out;
    std::string error;
    if (!out.create(path, error)) return refuse(option + ": " + error);
    out.write(bytes);
    if (!out.commit(error)) return fail(option + ": " + error);
    return 0;
}

// "A,B,..." as finite numbers; false unless exactly `n` of them.
bool parse_numbers(const std::string& text, std::size_t n, std::vector<double>& out) {
    out.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || end != item.c_str() + item.size() || !std::isfinite(v)) return false;
        out.push_back(v);
        at = comma + 1;
    }
    return out.size() == n;
}

// The file's name without its folder and its .osm, .osm.bz2, .osm.gz or .osm.pbf.
std::string place_name(const std::string& path) {
    std::string base = path.substr(path.find_last_of('/') + 1);
    const std::size_t osm = base.find(".osm");
    return osm == std::string::npos || osm == 0 ? base : base.substr(0, osm);
}

int import_place(const TownCommand& c) {
    ImportOptions o;
    o.cellM = c.cellM;
    o.maxDoorDistanceM = c.maxDoorM;
    std::vector<double> v;
    if (!c.bbox.empty()) {
        if (!parse_numbers(c.bbox, 4, v))
            return refuse("--bbox: \"" + c.bbox + "\" is not MINLON,MINLAT,MAXLON,MAXLAT");
        o.hasBbox = true;
        o.bbox = {v[0], v[1], v[2], v[3]};
    }
    if (c.exitMode != "auto") return refuse("--exits: only auto; name exits with --exit LAT,LON");
    for (const std::string& e : c.exitAt) {
        if (!parse_numbers(e, 2, v) || std::abs(v[0]) > 90.0 || std::abs(v[1]) > 180.0)
            return refuse("--exit: \"" + e + "\" is not LAT,LON");
        o.exitsAt.push_back({v[0], v[1]});
    }
    if (c.houses == "buildings")
        o.houses = HouseSource::Buildings;
    else if (c.houses == "along-streets")
        o.houses = HouseSource::AlongStreets;
    else if (c.houses == "both")
        o.houses = HouseSource::Both;
    else
        return refuse("--houses: \"" + c.houses + "\" is not buildings, along-streets or both");
    if (!c.roadClasses.empty()) {
        o.roadClasses.clear();
        std::size_t at = 0;
        while (at <= c.roadClasses.size()) {
            const std::size_t comma = std::min(c.roadClasses.find(',', at), c.roadClasses.size());
            const std::string item = c.roadClasses.substr(at, comma - at);
            if (item.empty())
                return refuse("--road-classes: an empty class in \"" + c.roadClasses + "\"");
            o.roadClasses.push_back(item);
            at = comma + 1;
        }
    }
    o.name = c.name.empty() ? place_name(c.file) : c.name;

    const auto started = std::chrono::steady_clock::now();
    OsmMap map;
    std::string error;
    if (!read_osm_file(c.file, map, error)) return refuse(error);
    Town town;
    ImportReport report;
    if (!import_town(map, o, town, report, error, ModelParameters{}.carsPerHouse))
        return refuse(c.file + ": " + error);
    const std::string text =
        import_header(place_name(c.file) + " (" + c.file.substr(c.file.find_last_of('/') + 1) + ")") +
        format_town(town);
    if (const int status = write_output("--out", c.output, text); status != 0) return status;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "%s: %s", c.file.c_str(), format_import_report(report).c_str());
    std::fprintf(stderr, "%s: wrote %s in %.2f s (map data © OpenStreetMap contributors)\n",
                 c.file.c_str(), c.output.c_str(), seconds);
    return 0;
}

}  // namespace

void add_town_command(CLI::App& app, TownCommand& c, bool withOptions) {
    c.app = app.add_subcommand(
        "town",
        "Towns of your own: check a town file, print one, draw it, generate a larger town "
        "from the built-in one, or import one from OpenStreetMap. Run on one with --town FILE "
        "(single runs and sweeps).");
    if (!withOptions) return;
    c.app->require_subcommand(1);
    c.check = c.app->add_subcommand(
        "check",
        "Reads a town file and reports its size, houses, cars, exits and roads, then every "
        "problem with its cell: errors (it cannot run; status 2) and warnings (cars that can "
        "never get out)");
    c.check->add_option("FILE", c.file, "The town file")->required();
    c.check->add_option("--zones", c.zones, "Lay the zones in FILE over the town")->type_name("FILE");
    c.show = c.app->add_subcommand(
        "show", "Prints a town in the town file format: the built-in one (builtin) or a file's");
    c.show->add_option("TOWN", c.file, "builtin, or a town file")->required();
    c.picture = c.app->add_subcommand(
        "picture",
        "Draws a town from above into a PNG: land, water, roads, houses with their "
        "doors, exits in red");
    c.picture->add_option("FILE", c.file, "The town file (or builtin)")->required();
    c.picture->add_option("OUT", c.output, "The picture, ending in .png")->required();
    c.generate = c.app->add_subcommand(
        "generate",
        "Writes the built-in town's pattern repeated COLS x ROWS times as one town (10x10 is "
        "100 times the built-in town), with N exits spread along its top edge");
    c.generate->add_option("--repeat", c.repeat, "COLSxROWS, e.g. 5x2")->required();
    c.generate->add_option("--exits", c.exits, "Exits along the top edge (default one per column)")
        ->transform(decimal_in(1, TOWN_MAX_SIDE));
    c.generate->add_option("--out", c.output, "The town file to write")->required();
    c.import = c.app->add_subcommand(
        "import",
        "Makes a town from an OpenStreetMap file (.osm, .osm.bz2, .osm.gz, .osm.pbf): drivable "
        "roads as lanes (one-way streets one way), homes beside the street they face, exits where "
        "roads leave the area. Prints what it made and dropped on the standard error");
    c.import->add_option("FILE", c.file, "The OpenStreetMap file")->required();
    c.import->add_option("--out", c.output, "The town file to write")->required();
    c.import->add_option("--cell", c.cellM, "Metres along a cell's side (default 10)")
        ->check(CLI::Range(1.0, 1000.0));
    c.import->add_option("--bbox", c.bbox,
                         "MINLON,MINLAT,MAXLON,MAXLAT (default: the file's bounds, or its data's "
                         "extent)");
    c.import->add_option("--exits", c.exitMode,
                         "auto (default): an exit wherever a drivable road leaves the area");
    c.import->add_option("--exit", c.exitAt,
                         "LAT,LON: an exit on the road cell nearest; repeatable, replaces auto");
    c.import->add_option("--houses", c.houses,
                         "buildings (default; along-streets with a warning when none is a home), "
                         "along-streets, or both");
    c.import->add_option("--road-classes", c.roadClasses,
                         "highway values drawn, comma-separated (default motorway down to "
                         "residential, unclassified, living_street, service)");
    c.import
        ->add_option("--max-door-distance", c.maxDoorM,
                     "Metres from a building to its door's road at most (default 50)")
        ->check(CLI::Range(1.0, 1000.0));
    c.import->add_option("--name", c.name, "The town's name (default: the file's)");
    c.app->footer(
        "The format is described in docs/town-format.md. Examples:\n"
        "  marovel-sim town show builtin > my.town\n"
        "  marovel-sim town check my.town\n"
        "  marovel-sim town generate --repeat 5x2 --exits 3 --out city.town\n"
        "  marovel-sim town picture city.town city.png\n"
        "  marovel-sim town import west-oakland.osm.bz2 --out oakland.town\n"
        "  marovel-sim sweep --town city.town --scenarios 0..9 --summary s.csv");
}

int run_town_command(const TownCommand& c, int argc, char** argv) {
    if (c.check->parsed()) return check_town(c.file, c.zones);
    if (c.import->parsed()) return import_place(c);
    if (c.show->parsed() || c.picture->parsed()) {
        Town town;
        std::string error;
        if (c.file == "builtin")
            town = builtin_town();
        else if (!read_town_file(c.file, town, error))
            return refuse(error);
        if (c.show->parsed()) {
            std::cout << format_town(town);
            if (!flush_standard_output(error)) return fail(error);
            return 0;
        }
        if (plot_format_flag(c.output) != "--png")
            return refuse("town picture: " + c.output + " does not end in .png");
#if MAROVEL_WITH_PICTURES
        (void)argc;
        (void)argv;
        std::string png;
        if (!draw_town_picture(town, png, error)) return fail("town picture: " + error);
        return write_output("town picture", c.output, png);
#else
        // Drawn by the picture program's build of this command.
        run_picture_build(argc, argv, error);
        return fail("town picture: " + error);
#endif
    }
    std::int32_t cols = 0, rows = 0;
    if (!parse_repeat(c.repeat, cols, rows))
        return refuse("--repeat: \"" + c.repeat + "\" is not COLSxROWS with both at least 1");
    if (static_cast<std::int64_t>(cols) * GRID_W > TOWN_MAX_SIDE ||
        static_cast<std::int64_t>(rows) * GRID_H > TOWN_MAX_SIDE)
        return refuse("--repeat: " + c.repeat + " makes a town of more than " +
                      std::to_string(TOWN_MAX_SIDE) + " cells on a side (at most " +
                      std::to_string(TOWN_MAX_SIDE / GRID_W) + "x" +
                      std::to_string(TOWN_MAX_SIDE / GRID_H) + ")");
    const Town town =
        generate_repeated_town(cols, rows, c.exits > 0 ? static_cast<std::int32_t>(c.exits) : cols);
    return write_output("--out", c.output, format_town(town));
}
