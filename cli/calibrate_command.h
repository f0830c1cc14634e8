// marovel-sim calibrate: fits varied parameters to an observed evacuation.
// The fit links NLopt, which has no static archive: marovel-sim hands the
// whole command to the picture program's build of itself, which also draws fit.png.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/parameter_options.h"
#include "cli/road_options.h"
#include "cli/zone_options.h"

struct CalibrateCommand {
    CLI::App* app = nullptr;
    std::string observed;
    std::vector<std::string> vary;  // NAME=LO..HI, as typed
    long long replicates = 20;
    std::string method = "crs2";
    long long budget = 100;
    long long ticks = 0;  // 0: the last observed tick
    long long seedBase = 0;
    int bootstrap = 20;
    long long refitBudget = 0;  // 0: 10 + 5 per parameter
    int slicePoints = 6;
    std::string minutesPerTick;  // as typed; empty when not given
    std::string town;
    std::string out;
    bool resume = false;
    int threads = 0;
    ParameterOptions parameters;  // --set, --params, --error
    RoadOptions roads;
    ZoneOptions zones;  // --zones, --order
};

// Adds the "calibrate" subcommand, with its options unless `withOptions` is false.
void add_calibrate_command(CLI::App& app, CalibrateCommand& command, bool withOptions = true);

// Runs it: 0; 2 for bad input (nothing written); 1 when the fit or an output failed.
int run_calibrate_command(const CalibrateCommand& command, int argc, char** argv);
