// What a sweep runs: its scenarios, the runs made of them under error levels
// or design points, and the plan every run follows. Plain data and the pure
// functions that read command-line lists into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario.h"

// One scenario of a sweep, before the error levels are applied.
struct SweepScenario {
    std::int32_t seed = 1;
    std::optional<std::int64_t> step;  // K when the seed is scenario K of the window (1 + 1000 K)
};

struct SweepRun {
    SweepScenario scenario;
    float errorSpread = ERROR_LOW;  // unused in a design's run: its point's record says
    std::uint32_t point = 0;        // a design's point (index into SweepPlan::points)
    std::uint32_t replicate = 0;    // the position of its scenario in the replicate list
    std::uint32_t variant = 0;      // sweep --plans: its plan (index into SweepPlan::variants)
};

// One of the plans a sweep compares: what it gives its runs instead of the
// sweep's own roads and orders.
struct PlanVariant {
    std::string name;  // the plan's name, every row's plan column
    RoadPlan roads;
    std::vector<EvacuationOrder> orders;
};

enum class HouseholdColumn;  // experiments/records/households.h

struct SweepPlan {
    std::vector<SweepRun> runs;  // in output order
    long long ticks = 2000;      // ticks per run
    long long every = 10;        // sampling interval of the curves, ticks
    bool startup = false;        // build the launch town instead of the one Reset builds
    ModelParameters parameters;  // every run's, but for the error spread each run sets
    // A design: each point's whole parameter record (run.point indexes it), and
    // the varied parameters whose values every row carries. Empty otherwise.
    std::vector<ModelParameters> points;
    std::vector<const ParameterInfo*> varied;
    // The town every run is built on; null for the built-in town.
    std::shared_ptr<const Town> town;
    RoadPlan roads;  // every run's exit capacities and road operations; empty by default
    std::vector<EvacuationOrder> orders;  // every run's evacuation orders; none by default
    // Plans compared (sweep --plans): each run follows its variant's roads and
    // orders instead of the two above, and every row starts with its plan's
    // name. Empty otherwise.
    std::vector<PlanVariant> variants;
    // Per-car rows (experiments/records/households.h) with these columns; none when empty.
    std::vector<HouseholdColumn> householdColumns;
};

// The record a run is built under: its design point's, or the plan's with the run's error spread.
ModelParameters run_parameters(const SweepPlan& plan, const SweepRun& run);

// The step K of a seed 1 + 1000 K, or nothing for a seed off that chain.
std::optional<std::int64_t> step_of_seed(std::int32_t seed);

// Parses a list of integers and inclusive ranges, "1..50,70,90..99", in the
// order written. Returns an error text (empty on success) naming what is wrong:
// an empty list or item, a reversed range, a value outside [lo, hi], a list of
// more than `maxCount` values.
std::string parse_int_list(std::string_view text, std::int64_t lo, std::int64_t hi,
                           std::size_t maxCount, std::vector<std::int64_t>& values);

// The first value of the list that comes a second time, reading left to
// right; nothing when every value comes once.
std::optional<std::int64_t> first_repeated(const std::vector<std::int64_t>& values);

// Parses "low,moderate,high" or numbers (any order, each once). Error text or empty.
std::string parse_error_levels(std::string_view text, std::vector<float>& levels);

// Every scenario under every level, the levels interleaved (scenario 1 low,
// moderate, high, then scenario 2 ...), so that any leading part of the sweep,
// and any shard, covers the levels evenly.
std::vector<SweepRun> interleave_runs(const std::vector<SweepScenario>& scenarios,
                                      const std::vector<float>& levels);

// Every run under each of `plans` plans in turn (run 1 under plans 0, 1, ...,
// then run 2 ...), so that any leading part of the sweep, and any shard,
// covers the plans evenly, and each plan's run of a scenario and level is
// the same scenario (common random numbers).
std::vector<SweepRun> under_each_plan(const std::vector<SweepRun>& runs, std::size_t plans);

// A whole integer token with optional spaces around it and an optional '+'.
bool parse_integer(std::string_view text, std::int64_t& value);

// The ticks every run is sampled at: 0, every, 2 every, ... and the last tick.
std::vector<long long> sample_ticks(const SweepPlan& plan);
