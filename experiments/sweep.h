// Sweeps: many scenarios, each under several error levels, run side by side on
// all cores. Every run has its own simulation object and is sampled at the same
// ticks; the results come back in run order whatever the number of threads, so
// a sweep's files are the same byte for byte on one core or on sixty-four.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "experiments/observations.h"
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
};

enum class HouseholdColumn;  // experiments/households.h

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
    // Per-car rows (experiments/households.h) with these columns; none when empty.
    std::vector<HouseholdColumn> householdColumns;
};

// Reads a run's simulation at tick 0 and after every tick, without changing it.
class RunListener {
  public:
    virtual ~RunListener() = default;
    virtual void observe(const Simulation& sim, long long tick) = 0;
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

// Shard `index` (1-based) of `count`: a contiguous block of the runs, the
// blocks in order and as even as can be, so the shards' outputs concatenate
// into the whole sweep's.
struct ShardRange {
    std::size_t first = 0;
    std::size_t end = 0;  // one past the last
};
ShardRange shard_range(std::size_t runCount, long long index, long long count);

// "i/n" with 1 <= i <= n. Error text or empty.
std::string parse_shard(std::string_view text, long long& index, long long& count);

// The ticks every run is sampled at: 0, every, 2 every, ... and the last tick.
std::vector<long long> sample_ticks(const SweepPlan& plan);

constexpr int EVACUATED_HALF_PERCENT = 50;
constexpr int EVACUATED_MOST_PERCENT = 90;

// What the summary keeps of one run. The thresholds are checked after every
// tick, not only at the sampled ones.
struct RunFigures {
    VehicleTally final = {};            // the tally after the last tick
    std::optional<long long> tickHalf;  // first tick with >= 50 % of the cars evacuated
    std::optional<long long> tickMost;  // first tick with >= 90 % of the cars evacuated
    std::int32_t maxEnRoute = 0;        // the most cars on the road at one time
    long long maxEnRouteTick = 0;       // the first tick with that many
    RunObservations observed;           // settling, last arrival, trip times, never left
};

struct RunResult {
    RunFigures figures;
    std::vector<VehicleTally> samples;  // the tally at each sample tick
};

// Runs one scenario in `sim` (overwritten) and samples it at `ticks` (sorted);
// `listener`, if any, reads the simulation at tick 0 and after every tick.
RunResult simulate_run(Simulation& sim, const SweepRun& run, const SweepPlan& plan,
                       const std::vector<long long>& ticks, RunListener* listener = nullptr);

// The curve rows of one run, one per sample tick, in the long form
// seed,step,error,tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas.
void append_curve_rows(std::string& out, const SweepRun& run, const std::vector<long long>& ticks,
                       const std::vector<VehicleTally>& samples);
constexpr const char* CURVES_COLUMNS =
    "seed,step,error,tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas\n";

// The summary row of one run: seed,step,error, the six final counts, the ticks
// of 50 % and 90 % evacuated (empty when never), the most en route and its
// tick, the tick the town settled and the tick of the last arrival (empty when
// never), the evacuated cars' mean and 90th-percentile trip time (empty
// without trips) and the households that never left.
void append_summary_row(std::string& out, const SweepRun& run, const RunFigures& figures);
constexpr const char* SUMMARY_COLUMNS =
    "seed,step,error,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas,"
    "tick_50,tick_90,max_en_route,max_en_route_tick,settled_tick,last_arrival_tick,trip_mean,"
    "trip_p90,households_never_left\n";

// The same for a run of `plan`: a design's rows start with the point, the
// replicate, then seed,step,error and the value of every varied parameter.
void append_curve_rows(std::string& out, const SweepPlan& plan, const SweepRun& run,
                       const std::vector<long long>& ticks,
                       const std::vector<VehicleTally>& samples);
void append_summary_row(std::string& out, const SweepPlan& plan, const SweepRun& run,
                        const RunFigures& figures);
// The fields every row of a run of `plan` starts with, and their names, each
// with a trailing comma: "seed,step,error," or a design's point, replicate,
// seed, step, error and varied values.
std::string plan_run_key(const SweepPlan& plan, const SweepRun& run);
std::string key_columns(const SweepPlan& plan);
// The column lines of the plan's files.
std::string curve_columns(const SweepPlan& plan);
std::string summary_columns(const SweepPlan& plan);

// A finished run with its rows already formatted (by the thread that ran it).
struct FinishedRun {
    std::size_t index = 0;  // position in plan.runs
    RunResult result;
    std::string curveRows;
    std::string summaryRow;
    std::string householdRows;  // when the plan asks for them
};

// Runs every run of the plan on `threads` threads (0: OpenMP's default, all
// cores unless OMP_NUM_THREADS says otherwise). `deliver` is called once per
// run, strictly in run order and never on two threads at once; it may keep
// what it is handed. Runs finish roughly in order, so only about one run per
// thread waits for its turn at any time.
using DeliverFn = std::function<void(FinishedRun&)>;
void run_sweep(const SweepPlan& plan, int threads, const DeliverFn& deliver);
