// The options of zones and evacuation orders, shared by single runs, sweeps,
// designs and estimates: --zones FILE (the houses' zones from a grid of their
// own) and --order ZONE@TICK (repeatable), taken in the order given.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "sim/orders.h"

struct Town;

struct ZoneOptions {
    std::string zonesFile;            // empty when not given
    std::vector<std::string> orders;  // as typed
};

void add_zone_options(CLI::App& app, ZoneOptions& options);

// Lays the zones file over the town (a copy of it, or of the built-in town
// when `town` is null, which `town` then holds), then reads the orders against
// the town's zones and the run's `ticks`. Returns the refusal, one line naming
// the option and, for a file, the line and column; or empty text.
std::string apply_zone_options(const ZoneOptions& options, long long ticks,
                               std::shared_ptr<const Town>& town,
                               std::vector<EvacuationOrder>& orders);
