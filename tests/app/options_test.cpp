// The window program's start: its command line, where it looks for its
// pictures, and what it says without a display. Nothing here needs a display.
#include "app/options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "sim/scenario.h"
#include "support/command.h"

namespace {

struct Parsed {
    int status;
    StartOptions options;
    std::string out, err;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "marovel");
    Parsed p;
    std::ostringstream out, err;
    p.status = parse_start_options(static_cast<int>(args.size()), args.data(), p.options, out, err);
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(StartOptionsTest, TheScenarioErrorAndParametersComeFromTheCommandLine) {
    const std::string file = testing::TempDir() + "marovel-start-options.txt";
    std::ofstream(file) << "# a lesson's town\ncars_per_house = 1\ntrip_effort = 90\n";
    ModelParameters moderate = error_level(ERROR_MODERATE), custom = error_level(42.5);
    ModelParameters fromFile, overridden;
    fromFile.carsPerHouse = overridden.carsPerHouse = 1;
    fromFile.tripEffort = 90;
    overridden.tripEffort = 100;
    overridden.errorSpread = ERROR_HIGH;
    const std::tuple<std::vector<const char*>, std::int32_t, ModelParameters> rows[] = {
        {{}, 1, ModelParameters{}},
        {{"--scenario", "3"}, 3001, ModelParameters{}},
        {{"--scenario", "-2"}, -1999, ModelParameters{}},
        {{"--seed", "77"}, 77, ModelParameters{}},
        {{"--error", "moderate"}, 1, moderate},
        {{"--error", "360"}, 1, moderate},
        {{"--error", "42.5"}, 1, custom},
        {{"--set", "error_spread=360"}, 1, moderate},
        {{"--params", file.c_str()}, 1, fromFile},
        {{"--params", file.c_str(), "--set", "trip_effort=100", "--error", "inf"}, 1, overridden},
    };
    for (const auto& [args, seed, parameters] : rows) {
        const Parsed p = parse(args);
        std::string shown;
        for (const char* a : args) shown.append(a).append(" ");
        EXPECT_EQ(p.status, -1) << shown << p.err;
        EXPECT_EQ(p.options.seed, seed) << shown;
        for (std::size_t i = 0; i < PARAMETER_COUNT; ++i)
            EXPECT_EQ(p.options.parameters.*PARAMETER_TABLE[i].field,
                      parameters.*PARAMETER_TABLE[i].field)
                << shown << PARAMETER_TABLE[i].name;
    }
    std::remove(file.c_str());
}

TEST(StartOptionsTest, HelpAndVersionEndAtOnceAndBadInputIsRefusedInOneLine) {
    EXPECT_EQ(parse({"--version"}).out, "marovel 1.0.0\n");
    const Parsed help = parse({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--scenario", "--seed", "--error", "--set", "--params", "--data"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    const std::pair<std::vector<const char*>, const char*> refused[] = {
        {{"--scenario", "1", "--seed", "5"}, "excludes"},
        {{"--error", "some"}, "--error"},
        {{"--error", "-1"}, "--error"},
        {{"--set", "no_such=1"}, "no_such"},
        {{"--set", "cars_per_house=2.5"}, "cars_per_house"},
        {{"--set", "fuel_min=500"}, "fuel"},
        {{"--params", "/no/such/file"}, "/no/such/file"},
        {{"--frobnicate"}, "frobnicate"},
    };
    for (const auto& [args, named] : refused) {
        const Parsed p = parse(args);
        EXPECT_EQ(p.status, 2) << args[0];
        EXPECT_NE(p.err.find(named), std::string::npos) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
        EXPECT_TRUE(p.err.starts_with("marovel: ")) << p.err;
    }
}

TEST(PictureFoldersTest, DataThenEnvironmentThenWorkingFolderThenBesideTheProgramThenInstalled) {
    EXPECT_EQ(picture_folders("/lesson", "/env", "/opt/marovel/bin", "/usr/share/marovel"),
              (std::vector<std::string>{"/lesson", "/env", "data", "/opt/marovel/bin/data",
                                        "/opt/marovel/share/marovel", "/usr/share/marovel"}));
    EXPECT_EQ(picture_folders("", nullptr, "", "/usr/share/marovel"),
              (std::vector<std::string>{"data", "/usr/share/marovel"}));
    EXPECT_EQ(picture_folders("", "", "/usr/bin", "/usr/share/marovel"),
              (std::vector<std::string>{"data", "/usr/bin/data", "/usr/share/marovel"}))
        << "each folder once";
}

// The built program itself: no display gives one line and status 1, bad input 2.
TEST(ProgramStartTest, WithoutADisplayItSaysSoInOneLineAndEndsWithOne) {
    const std::pair<std::string, std::string> rows[] = {
        {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "no display"},
        {"env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:4711",
         "cannot open the display :4711"},
    };
    for (const auto& [environment, said] : rows) {
        const CommandResult r = run_command(environment + " '" MAROVEL_PROGRAM "'");
        EXPECT_EQ(r.status, 1) << environment;
        EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // A display, but a Qt platform that gives the window nothing to draw on.
    if (run_command("command -v Xvfb").status == 0) {
        for (const char* platform : {"offscreen", "minimal"}) {
            const CommandResult r = run_command(
                std::string("XDG_RUNTIME_DIR=$(mktemp -d) timeout 60 '" MAROVEL_VIRTUAL_DISPLAY
                            "' env QT_QPA_PLATFORM=") +
                platform + " '" MAROVEL_PROGRAM "'");
            EXPECT_EQ(r.status, 1) << platform << ": " << r.err;
            EXPECT_NE(r.err.find(std::string("cannot draw the town on the \"") + platform),
                      std::string::npos)
                << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
    const CommandResult bad = run_command("env -u DISPLAY '" MAROVEL_PROGRAM "' --error sometimes");
    EXPECT_EQ(bad.status, 2) << "bad input is named before the display is looked for";
    EXPECT_EQ(run_command("'" MAROVEL_PROGRAM "' --version").out, "marovel 1.0.0\n");
    EXPECT_EQ(run_command("'" MAROVEL_SIM "' --version").out, "marovel-sim 1.0.0\n");
}

}  // namespace
