// marovel-sim ete: an evacuation time estimate over replicate scenarios.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "cli/parameter_options.h"
#include "cli/plan_options.h"
#include "cli/road_options.h"
#include "cli/zone_options.h"

struct EteCommand {
    CLI::App* app = nullptr;
    std::string town;  // a town file; empty for the built-in town
    long long replicates = 50;
    long long ticks = 2000;
    std::string minutesPerTick;  // as typed; empty when not given
    std::string csv;
    std::string plot;
    int threads = 0;
    ParameterOptions parameters;  // --set, --params, --error
    RoadOptions roads;            // --exit-capacity, --close, --reopen, --contraflow
    ZoneOptions zones;            // --zones, --order
    PlanOptions plan;             // --plan
};

// Adds the "ete" subcommand, with its options unless `withOptions` is false.
void add_ete_command(CLI::App& app, EteCommand& command, bool withOptions = true);

// Runs it: 0; 2 for bad input (nothing written); 1 when an output could not be made.
int run_ete_command(const EteCommand& command, int argc, char** argv);
