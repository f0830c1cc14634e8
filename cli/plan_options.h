// The plan options: --plan FILE (single runs, sweeps, estimates) and, in
// sweeps, --plans A,B,... . A plan file holds zones, orders and road
// operations (experiments/planning/plan_file.h), so --plan and --plans exclude
// the options that give them one by one: one source for each, no mixture to
// unpick in a header.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/road_options.h"
#include "cli/zone_options.h"
#include "experiments/planning/plan_file.h"

struct PlanOptions {
    std::string plan;   // --plan FILE; empty when not given
    std::string plans;  // --plans A,B,...; empty when not given (sweeps only)
};

// Adds --plan, and --plans when `many`; both exclude the zone and road options
// already added to `app`.
void add_plan_options(CLI::App& app, PlanOptions& options, bool many);

// Reads the plan files of --plan (one) or --plans (each) over `town` (null:
// the built-in town) for runs of `ticks` ticks. Refuses, in one line naming
// the option and the file's line and column: a file that cannot be read or
// holds a bad line; with --plans, fewer than two plans, two of one name, or
// plans laying different zones over the town.
std::string read_plan_options(const PlanOptions& options, const std::shared_ptr<const Town>& town,
                              long long ticks, std::vector<Plan>& plans);

// A run's town, roads and orders: those of the plan file when one is given
// (the first plan's town when several are, the roads and orders left to
// each), else of the zone and road options, over `town` (null: the built-in
// town). The plans read in `plans`. Returns the refusal or empty text.
std::string apply_plan_or_options(const CLI::App& app, const PlanOptions& plan,
                                  const RoadOptions& roads, const ZoneOptions& zones,
                                  long long ticks, std::shared_ptr<const Town>& town,
                                  RoadPlan& roadPlan, std::vector<EvacuationOrder>& orders,
                                  std::vector<Plan>& plans);

// "# plan: NAME, FILE, sha256 HEX\n", the line every output's header records of a plan.
std::string plan_header_line(const Plan& plan);
// The metadata's pairs of the plans: plan, plan_file, plan_sha256 (with the
// plan's name after "plan_" for each of several).
std::vector<std::pair<std::string, std::string>> plan_records(const std::vector<Plan>& plans);
