// The options that set the model's parameters, shared by single runs and
// sweeps: --set NAME=VALUE and --params FILE (each repeatable) and --error,
// applied in the order given, later ones winning.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "sim/parameters.h"

struct ParameterOptions {
    std::vector<std::string> sets;   // NAME=VALUE, as typed
    std::vector<std::string> files;  // parameter files
    std::string error;               // --error, when the command has it
    CLI::Option* setOption = nullptr;
    CLI::Option* fileOption = nullptr;
    CLI::Option* errorOption = nullptr;
};

// Adds --set and --params to `app` (and --error when `withError`).
void add_parameter_options(CLI::App& app, ParameterOptions& options, bool withError);

// Applies the options to `p` in the order they were given, then checks the
// whole record. Returns the refusal ("--set: ...", naming the parameter, the
// value and what is allowed), or empty text.
std::string apply_parameter_options(const CLI::App& app, const ParameterOptions& options,
                                    ModelParameters& p);
