#include "app/options.h"

#include <xcb/xcb.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "experiments/planning/parameter_text.h"
#include "experiments/planning/town_file.h"
#include "experiments/records/numbers.h"
#include "sim/scenario.h"

#ifndef MAROVEL_VERSION
#define MAROVEL_VERSION "unknown"
#endif

namespace {

// "low", "moderate", "high", or a decimal spread >= 0 ("inf" is the high level).
bool error_spread(const std::string& text, double& spread) {
    if (const auto named = error_level_named(text)) {
        spread = *named;
        return true;
    }
    double value = 0.0;
    if (!parse_decimal(text, value) || !(value >= 0.0)) return false;
    spread = value;
    return true;
}

// CLI11 reads "010" as eight and "0x10" as sixteen; whole numbers are read as
// marovel-sim reads them, decimal only (experiments/records/numbers.h).
CLI::Validator decimal_in(std::int64_t lo, std::int64_t hi) {
    return CLI::Validator(
        [lo, hi](std::string& text) {
            std::int64_t value = 0;
            std::string why = parse_decimal(text, lo, hi, value);
            if (why.empty()) text = std::to_string(value);
            return why;
        },
        "INT in [" + std::to_string(lo) + " - " + std::to_string(hi) + "]", "decimal");
}

}  // namespace

int parse_start_options(int argc, const char* const* argv, StartOptions& options, std::ostream& out,
                        std::ostream& err) {
    CLI::App cli{"Shows the storm evacuation of a small town in a window.", "marovel"};
    cli.set_version_flag("--version", std::string("marovel ") + MAROVEL_VERSION);
    std::int32_t seed = 1;
    long long steps = 0;
    std::string error;
    std::vector<std::string> assignments;
    std::string parameterFile;
    auto* seedOpt = cli.add_option("--seed", seed, "Scenario seed (default 1: scenario 0)")
                        ->transform(decimal_in(INT32_MIN, INT32_MAX));
    auto* stepOpt = cli.add_option("--scenario", steps,
                                   "Scenario K, as K presses of Next from launch (negative K: "
                                   "Previous), i.e. seed 1 + 1000 K")
                        ->transform(decimal_in(INT64_MIN, INT64_MAX));
    seedOpt->excludes(stepOpt);
    cli.add_option("--error", error,
                   "Households' information error: low, moderate, high or a spread >= 0");
    cli.add_option("--set", assignments,
                   "Set a model parameter (repeatable); see marovel-sim params")
        ->type_name("NAME=VALUE");
    cli.add_option("--params", parameterFile,
                   "Read model parameters from a file (name = value lines)")
        ->type_name("FILE");
    std::string townFile;
    cli.add_option("--town", townFile,
                   "Show the town in FILE (see marovel-sim town --help) instead of the built-in "
                   "one")
        ->type_name("FILE");
    cli.add_option("--data", options.dataFolder,
                   "Read the pictures (map.bmp, car.bmp, storm.bmp) from this folder first")
        ->type_name("DIR");
    cli.footer(
        "Pictures are looked for in --data, then $MAROVEL_DATA, then data/ below the working\n"
        "folder, then beside the program, then in the installed folder.");
    try {
        cli.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << cli.help();
        return 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        err << "marovel: " << one_line(e.what()) << "\n";
        return 2;
    }

    options.seed = stepOpt->count() > 0 ? seed_of_step(steps) : seed;
    ModelParameters p;
    if (!parameterFile.empty())
        if (const std::string why = apply_parameter_file(p, parameterFile); !why.empty()) {
            err << "marovel: --params: " << why << "\n";
            return 2;
        }
    if (!error.empty()) {
        double spread = 0.0;
        if (!error_spread(error, spread)) {
            err << "marovel: --error: " << quote_input(error)
                << " is not low, moderate, high or a number >= 0\n";
            return 2;
        }
        const ParameterInfo* info = find_parameter("error_spread", 12);
        p.errorSpread = info != nullptr ? stored_value(*info, spread) : spread;
    }
    for (const std::string& a : assignments)
        if (const std::string why = apply_assignment(p, a); !why.empty()) {
            err << "marovel: --set: " << why << "\n";
            return 2;
        }
    if (const ParameterCheck check = check_parameters(p); !check.ok()) {
        err << "marovel: " << check.text << "\n";
        return 2;
    }
    options.parameters = p;
    if (!townFile.empty()) {
        std::string why;
        options.town = load_town(townFile, why);
        if (!options.town) {
            err << "marovel: --town: " << why << "\n";
            return 2;
        }
    }
    return -1;
}

// Qt ends the process when its X11 platform finds no display; the same
// connection is tried first, so that the user is told in one line instead.
std::string display_problem() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::string(platform).rfind("xcb", 0) != 0)
        return {};
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (wayland != nullptr && *wayland != '\0' && platform == nullptr) return {};
        return "no display to open the window on (DISPLAY is not set)";
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed) return std::string("cannot open the display ") + display;
    return {};
}
