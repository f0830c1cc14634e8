// The options of a road plan, shared by single runs, sweeps and estimates:
// --exit-capacity CAP, and --close, --reopen, --contraflow (each repeatable),
// taken in the order given.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "sim/roads.h"

struct Town;

struct RoadOptions {
    std::string exitCapacity;  // as typed; empty when not given
    std::vector<std::string> closes, reopens, contraflows;
    CLI::Option* capacityOption = nullptr;
    CLI::Option* closeOption = nullptr;
    CLI::Option* reopenOption = nullptr;
    CLI::Option* contraflowOption = nullptr;
};

void add_road_options(CLI::App& app, RoadOptions& options);

// Reads the options into `plan` in the order they were given and checks each
// against the town. Returns the refusal, one line naming the option, or empty text.
std::string apply_road_options(const CLI::App& app, const RoadOptions& options, const Town& town,
                               RoadPlan& plan);
