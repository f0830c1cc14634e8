// The sweep subcommand's options and the command line its files record.
#include <limits>
#include <set>

#include "cli/decimal_option.h"
#include "cli/sweep_command.h"
#include "experiments/records/households.h"

namespace {

// The options whose value says where output goes or how the work is split,
// not what is computed; left out of the recorded command.
const std::set<std::string> NEUTRAL_WITH_VALUE = {
    "--curves",      "--summary",          "--plot",
    "--shard",       "--threads",          "--design-out",
    "--sensitivity", "--sensitivity-plot", "--sensitivity-figures",
    "--households",  "--columns",          "--metadata",
    "--table",       "--paired"};
const std::set<std::string> NEUTRAL_FLAGS = {"--no-header", "--resume"};

std::string shell_word(const std::string& word) {
    if (word.empty()) return "''";
    bool plain = true;
    for (char c : word) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') ||
                          std::string_view("_-+=.,:/@%").find(c) != std::string_view::npos;
        plain = plain && safe;
    }
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string recorded_command(int argc, char** argv) {
    std::string program = argc > 0 ? argv[0] : "marovel-sim";
    if (const std::size_t slash = program.rfind('/'); slash != std::string::npos)
        program = program.substr(slash + 1);
    std::string line = shell_word(program);
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const std::string name = word.substr(0, word.find('='));
        if (NEUTRAL_FLAGS.count(word) > 0) continue;
        if (NEUTRAL_WITH_VALUE.count(name) > 0) {
            if (name == word) ++i;  // the value is the next word
            continue;
        }
        line += ' ';
        line += shell_word(word);
    }
    return line;
}

void add_sweep_command(CLI::App& app, SweepCommand& c, bool withOptions) {
    CLI::App* sweep = app.add_subcommand(
        "sweep",
        "Runs many scenarios under several error levels on all cores and writes their evacuation "
        "curves, a summary per run and a plot; prints a table per error level.");
    c.app = sweep;
    if (!withOptions) return;
    auto* seeds = sweep->add_option(
        "--seeds", c.seeds, "Scenario seeds: integers and inclusive ranges, e.g. 1..200,5001");
    auto* scenarios = sweep->add_option(
        "--scenarios", c.scenarios,
        "Scenarios K reached from launch by K presses of Next (seed 1 + 1000 K), e.g. 0..99");
    seeds->excludes(scenarios);
    sweep
        ->add_option("--town", c.town,
                     "Run every scenario on the town in FILE (see marovel-sim town --help) "
                     "instead of the built-in one")
        ->type_name("FILE");
    sweep->add_option("--errors", c.errors,
                      "Error levels to run each scenario under, in this order: low, moderate, "
                      "high or spreads >= 0 (default low,moderate,high; or the error_spread "
                      "that --set or --params gave)");
    add_parameter_options(*sweep, c.parameters, false);
    add_road_options(*sweep, c.roads);
    add_zone_options(*sweep, c.zones);
    add_plan_options(*sweep, c.plans, true);
    sweep->add_option("--ticks", c.ticks, "Ticks per run (default 2000)")
        ->transform(decimal_in(1, MAX_TICKS));
    sweep
        ->add_option("--every", c.every,
                     "Sampling interval of the curves in ticks, from tick 0; the last tick is "
                     "always sampled (default 10)")
        ->transform(decimal_in(1, MAX_TICKS));
    sweep->add_flag("--startup", c.startup,
                    "Build the towns the window shows at launch instead of the ones Reset builds");
    sweep->add_option("--curves", c.curves, "Write the evacuation curves (CSV, long form) here");
    sweep->add_option("--summary", c.summary, "Write one summary row per run (CSV) here");
    sweep->add_option("--plot", c.plots,
                      "Draw the evacuation curves into this .png or .svg file (repeatable)");
    sweep->add_option("--households", c.households,
                      "Write one row per run and car (CSV; gzip when the name ends in .gz)");
    sweep->add_option("--columns", c.columns,
                      "Columns of --households after seed,step,error,spread (default all: car,"
                      "household,zone,home_x,home_y,home_lat,home_lon,decision_tick,first_threat_tick,"
                      "outcome,arrival_tick,trip_time; home_lat and home_lon only on a town with "
                      "an origin, zone only on a town with zones)");
    sweep->add_option("--table", c.table,
                      "Write the printed table (CSV): per level and figure its estimates with "
                      "95 % intervals, the runs that reached it and those censored");
    sweep->add_option("--paired", c.paired,
                      "Write the paired differences against the first level (CSV): per level "
                      "and figure, the mean difference on the same scenarios with its bootstrap "
                      "interval and the pairs");
    sweep->add_option("--metadata", c.metadata,
                      "Write where the results came from as JSON: build, start time, host, "
                      "command, parameters and the SHA-256 of every output");
    sweep->add_option("--shard", c.shard,
                      "Run only part I of N (1 <= I <= N) of the sweep, or \"auto\": the task "
                      "of a Slurm job array; join the parts with marovel-sim merge");
    sweep->add_flag("--resume", c.resume,
                    "Keep the complete runs an interrupted run of this same command left in the "
                    "output files and run only the rest (needs --summary)");
    sweep->add_flag("--no-header", c.noHeader,
                    "Leave out the comment lines and the column names (the rows of shards then "
                    "concatenate with cat)");
    add_threads_option(*sweep, c.threads);
    sweep->add_option("--vary", c.design.vary,
                      "Vary a parameter (repeatable): NAME=V1,V2,... or NAME=LO..HI:STEPS for a "
                      "full factorial of the values; NAME=LO..HI gives --sample its bounds");
    sweep->add_option("--design", c.design.file,
                      "Run the points of this CSV file: a point column (0, 1, 2, ...), one column "
                      "per parameter, optionally a seed or scenario column");
    sweep->add_option("--sample", c.design.sample,
                      "Sample the --vary bounds: lhs:N (Latin hypercube), sobol:N (Sobol "
                      "sequence), morris:R[:LEVELS] (R trajectories), saltelli:N (N (k + 2) "
                      "points for Sobol indices)");
    sweep
        ->add_option("--sample-seed", c.design.sampleSeed,
                     "Seed of the lhs and morris samples (default 1)")
        ->transform(decimal_in(0, INT64_MAX));
    sweep
        ->add_option("--replicates", c.replicates,
                     "Run each design point under scenarios 0..R-1 (default 1); --scenarios or "
                     "--seeds give the replicate list instead")
        ->transform(decimal_in(1, static_cast<std::int64_t>(MAX_SCENARIOS)));
    sweep->add_option("--design-out", c.designOut, "Write the design's points (CSV) here");
    sweep->add_option("--sensitivity", c.sensitivity,
                      "With saltelli or morris: write the sensitivity indices (CSV) here");
    sweep->add_option("--sensitivity-plot", c.sensitivityPlots,
                      "Draw the sensitivity indices as bars into this .png or .svg file");
    sweep->add_option("--sensitivity-figures", c.sensitivityFigures,
                      "The figures of the summary the indices are computed for, e.g. tick_90 or "
                      "tick_50,tick_90,trip_mean (default tick_50,settled_tick,evacuated_share,"
                      "gave_up,towed)");
    sweep->footer(
        "Runs are ordered scenario by scenario, each under every error level in turn, so any\n"
        "part of the sweep covers the levels evenly. The files are the same byte for byte\n"
        "whatever the number of threads. Each file is written under a temporary name and\n"
        "renamed when complete.\n"
        "Curves: seed,step,error,spread,tick and the six counts at every sampled tick; error\n"
        "is the level's name (low, moderate, high, else the number), spread its number.\n"
        "Summary: seed,step,error,spread, the six counts after the last tick, the first ticks "
        "with\n"
        "50 % and 90 % of the cars evacuated (empty when never), the most cars en route and\n"
        "the first tick with that many. step is K for a seed 1 + 1000 K, empty otherwise.\n"
        "Table: per error level and figure, its estimate with a 95 % interval, the runs that\n"
        "reached it and those censored (ended without it). Counts: the mean (Student). Ticks\n"
        "some runs never reach (tick_50, tick_90, settled_tick), the run censored at its last\n"
        "tick: the Kaplan-Meier median (Brookmeyer-Crowley) and the restricted mean to the\n"
        "last tick. last_arrival_tick and trip times: the mean of the runs that have them.\n"
        "Paired differences, printed after it when two or more levels (or a design's points\n"
        "or values) ran on the same scenarios: per level and figure, each run less the first\n"
        "level's run of its scenario, over the pairs where both have the figure; the mean\n"
        "with its 95 % percentile bootstrap interval (2000 resamples, seed 25).\n"
        "Plans: with --plans A.plan,B.plan every scenario and level runs under each plan in\n"
        "turn, on the same scenarios; rows start with a plan column, the table is per plan,\n"
        "and the paired differences compare each plan with the first on the same scenario\n"
        "and level (docs/plans.md).\n"
        "Designs: every point runs under every replicate scenario, point by point;\n"
        "replicate r of any point runs the r-th scenario of the list, so adding points or\n"
        "replicates leaves the earlier runs' rows as they were. Rows then start with\n"
        "point,replicate,seed,step,error,spread and the value of every varied parameter. The "
        "table\n"
        "is per point up to 12 points, else per value (or interval) of the first varied\n"
        "parameter. Sampled values of whole-number parameters are rounded.\n"
        "Sensitivity: each point's figure is the mean over its replicates. Saltelli designs:\n"
        "first-order indices by the Saltelli 2010 estimator, total-order by Jansen's, with\n"
        "95 % bootstrap percentile intervals (1000 resamples of the base points, fixed seed).\n"
        "Morris designs: mu, mu* (mean absolute elementary effect, per whole range) with its\n"
        "bootstrap interval, and sigma. A figure whose indices the design is too small to\n"
        "resolve (an interval half-width, or a Sobol index's distance outside [0, 1], above\n"
        "0.1, or above a tenth of the largest mu*) gets a note saying how many base points\n"
        "or trajectories would: errors shrink as 1/sqrt(N).\n"
        "Examples:\n"
        "  marovel-sim sweep --scenarios 0..99 --curves curves.csv --summary summary.csv "
        "--plot curves.png\n"
        "  marovel-sim sweep --scenarios 0..99 --shard 2/4 --curves part2.csv\n"
        "  marovel-sim merge part*.csv --curves curves.csv\n"

        "  marovel-sim sweep --vary congestion_rate=0.002,0.005,0.01 --replicates 20 "
        "--summary s.csv\n"
        "  marovel-sim sweep --vary fuel_min=100..200 --vary tow_wait=30..90 --sample saltelli:64 "
        "--sensitivity indices.csv");
}
