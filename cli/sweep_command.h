// The command-line side of the experiments: the "sweep" subcommand of
// marovel-sim and the single run's --snapshot option.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "cli/parameter_options.h"
#include "cli/plan_options.h"
#include "cli/road_options.h"
#include "cli/zone_options.h"
#include "experiments/planning/design.h"
#include "experiments/running/sweep_job.h"
#include "sim/scenario.h"

// What the sweep subcommand was given, as typed; checked by run_sweep_command.
struct SweepCommand {
    CLI::App* app = nullptr;
    std::string seeds;
    std::string scenarios;
    std::string errors = "low,moderate,high";
    long long ticks = 2000;
    long long every = 10;
    bool startup = false;
    std::string curves;
    std::string summary;
    std::vector<std::string> plots;
    std::string shard;
    bool noHeader = false;
    int threads = 0;
    std::string households;  // per-car rows (experiments/records/households.h)
    std::string columns;     // of the households file
    std::string metadata;    // JSON provenance and hashes (experiments/records/provenance.h)
    bool resume =
        false;  // keep the complete runs of an interrupted sweep (experiments/running/resume.h)
    ParameterOptions parameters;  // --set and --params
    RoadOptions roads;            // --exit-capacity, --close, --reopen, --contraflow
    ZoneOptions zones;            // --zones, --order
    PlanOptions plans;            // --plan, --plans
    std::string town;             // a town file; empty for the built-in town
    // Designs: the points to run, each under the replicate list.
    DesignRequest design;
    long long replicates = 0;
    std::string designOut;
    std::string sensitivity;
    std::vector<std::string> sensitivityPlots;
    std::string table;   // the table's estimates (CSV)
    std::string paired;  // its paired differences (CSV)
    std::string sensitivityFigures;  // the figures of the indices; empty: the default five
};

constexpr long long MAX_TICKS = 16777216;       // the clock counts ticks exactly up to 2^24
constexpr std::size_t MAX_SCENARIOS = 1000000;  // per sweep; refuses a mistyped range
// A design's size: the points it may have, and what its sweep may hold in
// memory (design_memory). A sweep of MAX_DESIGN_POINTS points, one replicate
// each, fits in MAX_DESIGN_BYTES; with more replicates or a plot's samples,
// fewer points do, and a design is refused as too large before it is built.
constexpr std::size_t MAX_DESIGN_POINTS = 4000000;
constexpr double MAX_DESIGN_BYTES = 4.0 * (1 << 30);

// Adds the "sweep" subcommand to `app`, with its options unless `withOptions` is
// false (for a command line that does not name it: they are most of the work
// of starting the program).
void add_sweep_command(CLI::App& app, SweepCommand& command, bool withOptions = true);

// Runs a parsed sweep. `argv` is the program's command line, recorded in the
// files' headers. Returns the exit status: 0, 2 for bad input (refused before
// any run, leaving no file), 1 when an output could not be completed.
int run_sweep_command(const SweepCommand& command, int argc, char** argv);

// The command line as the files' header records it: the program's name
// without its folder, and without the options that only say where the output
// goes or how it is computed (--curves, --summary, --plot, --shard, --threads,
// --no-header, --households, --columns, --metadata, --resume, --table, --paired), so that the
// shards of a sweep and
// the whole sweep carry the same header. Words with characters the shell treats specially are
// quoted.
std::string recorded_command(int argc, char** argv);

// One line "marovel-sim: <message> (see --help)" on standard error; returns 2.
int refuse(const std::string& message);
// One line "marovel-sim: <message>" on standard error; returns 1.
int fail(const std::string& message);

// The single run's snapshots, before the run: parses every "TICK:FILE.png",
// checks the files can be written and opens the drawing context. Then writes
// them after the run, on the town in `townFile` when given (the picture program
// reads it again). Refusals return 2, other failures 1, success 0.
class SingleRunSnapshots {
  public:
    SingleRunSnapshots();
    ~SingleRunSnapshots();
    int prepare(const std::vector<std::string>& requests, long long ticks);
    int write(const ScenarioSetup& scenario, const std::string& townFile = {});

  private:
    struct State;
    std::unique_ptr<State> state_;
};
