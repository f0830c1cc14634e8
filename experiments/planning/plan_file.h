// A plan as a file: a run's zones, evacuation orders and road operations in
// one text a planner keeps and compares with others.
//
//   # a comment (a line starting with #); blank lines are skipped
//   name = staged              optional, once: the plan's name (default: the file's stem)
//   zones = coast.zones        optional, once: a zones layer (path relative to the plan)
//   order = A@100              repeatable: ZONE@TICK, or ZONE@6h on a town with minutes_per_tick
//   close = 3,4:3,6@200        repeatable: X,Y[:X2,Y2]@TICK
//   reopen = 3,4:3,6@400       repeatable: the same form
//   contraflow = 5,0:5,9@0:up  repeatable: X,Y:X2,Y2@TICK[:DIR]
//   exit_capacity = 2          optional, once: cars a tick every exit takes
//
// Operations may give their tick in hours too (close = 3,4@2h). Every refusal
// is one line "FILE:LINE:COLUMN: what".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/orders.h"
#include "sim/roads.h"

struct Town;

// One `key = value` line of a plan, with where its key and its value start (1-based).
struct PlanLine {
    std::string key, value;
    int line = 0;
    int keyColumn = 0;
    int valueColumn = 0;
};

// The largest plan file read: far beyond any plan's few hundred lines.
constexpr std::size_t MAX_PLAN_BYTES = 1u << 20;

// The lines of a plan's text, or "LINE:COLUMN: what" for a line that is no
// `key = value`, a key that is none of the plan's, or a once-only key given twice.
std::string split_plan_text(std::string_view text, std::vector<PlanLine>& lines);

// What the plan does.
struct Plan {
    std::string name;                  // its `name`, else the file's stem
    std::string file;                  // the file's path as given
    std::string zonesFile;             // its `zones` file as the plan names it; empty for none
    std::shared_ptr<const Town> town;  // with the plan's zones laid over; null: the built-in town
    RoadPlan roads;                    // its exit capacity and operations, in the order written
    std::vector<EvacuationOrder> orders;  // in the order written
    std::string text;                     // the file's bytes, which its SHA-256 is of
};

// Reads the orders, operations and exit capacity of `lines` against `town`
// (with the plan's zones already laid over it) for a run of `ticks` ticks,
// into `plan`. Error "LINE:COLUMN: what" or empty: an unknown zone, an order
// or operation before tick 0 or past the run, a rectangle outside the town or
// without a road cell, a capacity below 1.
std::string read_plan_lines(const std::vector<PlanLine>& lines, const Town& town, long long ticks,
                            Plan& plan);

// The plan in the file `path`, on `town` (null: the built-in town), for a run
// of `ticks` ticks; false with "PATH:LINE:COLUMN: what" (or "PATH: what") in `error`.
bool read_plan_file(const std::string& path, std::shared_ptr<const Town> town, long long ticks,
                    Plan& plan, std::string& error);

// The name a plan without a `name` line gets: its file's name without folder and extension.
std::string plan_stem(std::string_view path);
