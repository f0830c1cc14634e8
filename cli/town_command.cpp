#include "cli/town_command.h"

#include <charconv>
#include <cstdio>
#include <iostream>

#include "cli/decimal_option.h"
#include "cli/sweep_command.h"
#include "experiments/pictures/picture_program.h"
#include "experiments/planning/town_file.h"
#include "experiments/records/output_file.h"
#include "experiments/running/merge.h"
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
        "the file says), %zu exit%s, %zu road cells\n",
        file.c_str(), town.name.empty() ? "unnamed" : town.name.c_str(),
        static_cast<int>(town.width), static_cast<int>(town.height), town.cellSizeM,
        town.houses.size(),
        static_cast<long long>(town_cars(&town, ModelParameters{}.carsPerHouse)),
        ModelParameters{}.carsPerHouse, town.exits.size(), town.exits.size() == 1 ? "" : "s",
        road_cells(town));
}

int check_town(const std::string& file) {
    Town town;
    std::string error;
    if (!read_town_file(file, town, error, true)) return refuse(error);
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

}  // namespace

void add_town_command(CLI::App& app, TownCommand& c, bool withOptions) {
    c.app = app.add_subcommand(
        "town",
        "Towns of your own: check a town file, print one, draw it, or generate a larger town "
        "from the built-in one. Run on one with --town FILE (single runs and sweeps).");
    if (!withOptions) return;
    c.app->require_subcommand(1);
    c.check = c.app->add_subcommand(
        "check",
        "Reads a town file and reports its size, houses, cars, exits and roads, then every "
        "problem with its cell: errors (it cannot run; status 2) and warnings (cars that can "
        "never get out)");
    c.check->add_option("FILE", c.file, "The town file")->required();
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
    c.app->footer(
        "The format is described in docs/town-format.md. Examples:\n"
        "  marovel-sim town show builtin > my.town\n"
        "  marovel-sim town check my.town\n"
        "  marovel-sim town generate --repeat 5x2 --exits 3 --out city.town\n"
        "  marovel-sim town picture city.town city.png\n"
        "  marovel-sim sweep --town city.town --scenarios 0..9 --summary s.csv");
}

int run_town_command(const TownCommand& c, int argc, char** argv) {
    if (c.check->parsed()) return check_town(c.file);
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
