#include "cli/sweep_command.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <set>

#include "cli/decimal_option.h"
#include "experiments/households.h"
#include "experiments/output_file.h"
#include "experiments/parameter_text.h"
#include "experiments/picture_program.h"
#include "experiments/progress.h"
#include "experiments/provenance.h"
#include "experiments/resume.h"
#include "experiments/sensitivity.h"
#include "experiments/shard_env.h"
#include "experiments/summary.h"
#include "experiments/sweep.h"
#include "experiments/sweep_files.h"
#include "experiments/text_output.h"

#if MAROVEL_WITH_PICTURES
#include "experiments/plot.h"
#endif

#ifndef MAROVEL_VERSION
#define MAROVEL_VERSION "unknown"
#endif

namespace {

constexpr long long MAX_TICKS = 16777216;       // the clock counts ticks exactly up to 2^24
constexpr std::size_t MAX_SCENARIOS = 1000000;  // per sweep; refuses a mistyped range
constexpr std::size_t MAX_DESIGN_POINTS = 10000000;
constexpr double MAX_DESIGN_BYTES = 4.0 * (1 << 30);  // what a design may hold in memory
constexpr const char* PROGRAM_TITLE = "Marovel " MAROVEL_VERSION;

// The options whose value says where output goes or how the work is split,
// not what is computed; left out of the recorded command.
const std::set<std::string> NEUTRAL_WITH_VALUE = {
    "--curves",      "--summary",          "--plot",       "--shard",   "--threads", "--design-out",
    "--sensitivity", "--sensitivity-plot", "--households", "--columns", "--metadata"};
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

std::string header_lines(const char* what, const std::string& command,
                         const ModelParameters& parameters) {
    // The error spread is each run's own, in its rows.
    ModelParameters recorded = parameters;
    recorded.errorSpread = ModelParameters{}.errorSpread;
    return std::string("# ") + PROGRAM_TITLE + " " + what + "\n# command: " + command + "\n" +
           changed_parameter_lines(recorded);
}

// What the whole sweep is: "R runs of T ticks, S scenarios x L error levels".
std::string sweep_description(std::size_t runs, long long ticks, std::size_t scenarios,
                              std::size_t levels) {
    char text[160];
    std::snprintf(text, sizeof text, "%zu runs of %lld ticks, %zu scenarios x %zu error levels",
                  runs, ticks, scenarios, levels);
    return text;
}

}  // namespace

int refuse(const std::string& message) {
    std::fprintf(stderr, "marovel-sim: %s (see --help)\n", message.c_str());
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "marovel-sim: %s\n", message.c_str());
    return 1;
}

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
    sweep->add_option("--errors", c.errors,
                      "Error levels to run each scenario under, in this order: low, moderate, "
                      "high or spreads >= 0 (default low,moderate,high; or the error_spread "
                      "that --set or --params gave)");
    add_parameter_options(*sweep, c.parameters, false);
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
                      "Columns of --households after seed,step,error (default all: car,household,"
                      "home_x,home_y,decision_tick,first_threat_tick,outcome,arrival_tick,"
                      "trip_time)");
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
    sweep
        ->add_option("--threads", c.threads,
                     "Threads to run on (default: all cores, or OMP_NUM_THREADS)")
        ->transform(decimal_in(1, 4096));
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
    sweep->footer(
        "Runs are ordered scenario by scenario, each under every error level in turn, so any\n"
        "part of the sweep covers the levels evenly. The files are the same byte for byte\n"
        "whatever the number of threads. Each file is written under a temporary name and\n"
        "renamed when complete.\n"
        "Curves: seed,step,error,tick and the six counts at every sampled tick.\n"
        "Summary: seed,step,error, the six counts after the last tick, the first ticks with\n"
        "50 % and 90 % of the cars evacuated (empty when never), the most cars en route and\n"
        "the first tick with that many. step is K for a seed 1 + 1000 K, empty otherwise.\n"
        "Table: per error level and figure, the runs that have the figure, the mean, the sample\n"
        "standard deviation (n - 1) and the 10th and 90th percentiles, by linear interpolation\n"
        "between closest ranks: h = (n - 1) p, x[floor h] + (h - floor h) (x[floor h + 1] - "
        "x[floor h]).\n"
        "Designs: every point runs under every replicate scenario, point by point;\n"
        "replicate r of any point runs the r-th scenario of the list, so adding points or\n"
        "replicates leaves the earlier runs' rows as they were. Rows then start with\n"
        "point,replicate,seed,step,error and the value of every varied parameter. The table\n"
        "is per point up to 12 points, else per value (or interval) of the first varied\n"
        "parameter. Sampled values of whole-number parameters are rounded.\n"
        "Sensitivity: each point's figure is the mean over its replicates. Saltelli designs:\n"
        "first-order indices by the Saltelli 2010 estimator, total-order by Jansen's, with\n"
        "95 % bootstrap percentile intervals (1000 resamples of the base points, fixed seed).\n"
        "Morris designs: mu, mu* (mean absolute elementary effect, per whole range) with its\n"
        "bootstrap interval, and sigma.\n"
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

int run_sweep_command(const SweepCommand& c, int argc, char** argv) {
    RunRecord record = start_record(argc, argv);
    // Everything is checked before any file is made or any run starts.
    std::vector<SweepScenario> scenarios;
    std::vector<std::int64_t> values;
    const bool designed = wants_design(c.design);
    const bool listed = c.app->count("--scenarios") > 0 || c.app->count("--seeds") > 0;
    if (c.app->count("--replicates") > 0) {
        if (!designed)
            return refuse("--replicates: only with a design (--vary, --design, --sample)");
        if (listed) return refuse("--replicates: give either R or a --scenarios or --seeds list");
        for (long long k = 0; k < c.replicates; ++k) scenarios.push_back({seed_of_step(k), k});
    } else if (!c.scenarios.empty() || c.app->count("--scenarios") > 0) {
        const std::string why =
            parse_int_list(c.scenarios, std::numeric_limits<std::int32_t>::min(),
                           std::numeric_limits<std::int32_t>::max(), MAX_SCENARIOS, values);
        if (!why.empty()) return refuse("--scenarios: " + why);
        if (const std::optional<std::int64_t> twice = first_repeated(values))
            return refuse("--scenarios: " + std::to_string(*twice) +
                          " comes twice; each scenario runs once");
        for (std::int64_t k : values) scenarios.push_back({seed_of_step(k), k});
    } else if (c.app->count("--seeds") > 0) {
        const std::string why =
            parse_int_list(c.seeds, std::numeric_limits<std::int32_t>::min(),
                           std::numeric_limits<std::int32_t>::max(), MAX_SCENARIOS, values);
        if (!why.empty()) return refuse("--seeds: " + why);
        // A scenario run twice would also count twice in every statistic.
        if (const std::optional<std::int64_t> twice = first_repeated(values))
            return refuse("--seeds: " + std::to_string(*twice) +
                          " comes twice; each scenario runs once");
        for (std::int64_t s : values) {
            const auto seed = static_cast<std::int32_t>(s);
            scenarios.push_back({seed, step_of_seed(seed)});
        }
    } else if (designed) {
        scenarios.push_back({seed_of_step(0), 0});  // one replicate: scenario 0
    } else {
        return refuse("sweep: say which scenarios to run with --seeds or --scenarios");
    }
    if (!designed)
        for (const char* option :
             {"--design-out", "--sensitivity", "--sensitivity-plot", "--sample-seed"})
            if (c.app->count(option) > 0)
                return refuse(std::string(option) +
                              ": only with a design (--vary, --design, --sample)");
    if (designed && c.app->count("--errors") > 0)
        return refuse("--errors: a design runs its points' error_spread; vary or set it instead");

    ModelParameters parameters;
    if (const std::string why = apply_parameter_options(*c.app, c.parameters, parameters);
        !why.empty())
        return refuse(why);
    // A spread set as a parameter is the sweep's one level unless --errors says otherwise.
    const bool spreadSet = !is_default(parameters, *find_parameter("error_spread", 12));
    const std::string errors = c.app->count("--errors") == 0 && spreadSet
                                   ? error_spread_text(parameters.errorSpread)
                                   : c.errors;
    std::vector<float> levels;
    if (const std::string why = parse_error_levels(errors, levels); !why.empty())
        return refuse("--errors: " + why);

    long long shardIndex = 1;
    long long shardCount = 1;
    if (c.shard == "auto") {
        const std::string why = shard_from_environment(
            [](const char* name) { return static_cast<const char*>(std::getenv(name)); },
            shardIndex, shardCount);
        if (!why.empty()) return refuse("--shard auto: " + why);
    } else if (c.app->count("--shard") > 0) {
        if (const std::string why = parse_shard(c.shard, shardIndex, shardCount); !why.empty())
            return refuse("--shard: " + why);
    }
    const std::string shardText = std::to_string(shardIndex) + "/" + std::to_string(shardCount);
#if !MAROVEL_WITH_PICTURES
    // A design's plots are drawn by the picture program's own build of this
    // command: it takes over with the same arguments.
    if (designed && (!c.plots.empty() || !c.sensitivityPlots.empty())) {
        std::string error;
        return run_picture_build(argc, argv, error) == 0 ? 0 : refuse(error);
    }
#endif

    SweepPlan plan;
    plan.ticks = c.ticks;
    plan.every = c.every;
    plan.startup = c.startup;
    plan.parameters = parameters;
    if (!c.households.empty()) {
        plan.householdColumns = all_household_columns();
        if (c.app->count("--columns") > 0)
            if (const std::string why = parse_household_columns(c.columns, plan.householdColumns);
                !why.empty())
                return refuse("--columns: " + why);
    } else if (c.app->count("--columns") > 0) {
        return refuse("--columns: chooses the columns of --households, which is not given");
    }
    Design design;
    if (designed) {
        if (std::string why = make_design(c.design, plan.parameters, MAX_DESIGN_POINTS, design);
            !why.empty())
            return refuse(why);
        if (!design.scenarios.empty() && (listed || c.app->count("--replicates") > 0))
            return refuse(
                "--design: the file names each point's scenario; give no "
                "--replicates, --scenarios or --seeds");
        const bool indices = !c.sensitivity.empty() || !c.sensitivityPlots.empty();
        if (std::string why = check_design_sweep(design, scenarios.size(),
                                                 c.plots.empty() ? 0 : sample_ticks(plan).size(),
                                                 MAX_DESIGN_BYTES, indices, shardCount > 1);
            !why.empty())
            return refuse(why);
    }
    const std::vector<SweepRun> all =
        designed ? design_runs(design, scenarios) : interleave_runs(scenarios, levels);
    const ShardRange shard = shard_range(all.size(), shardIndex, shardCount);
    plan.runs.assign(all.begin() + static_cast<std::ptrdiff_t>(shard.first),
                     all.begin() + static_cast<std::ptrdiff_t>(shard.end));
    if (designed) attach_design(plan, design);
    const std::size_t shardRuns = plan.runs.size();

    // Output files: each a different file, each one writable (its temporary
    // file made now). "-" is standard output; the table then goes to standard error.
    std::vector<std::string> names;
    for (const std::string* p :
         {&c.curves, &c.summary, &c.designOut, &c.sensitivity, &c.households, &c.metadata})
        if (!p->empty()) names.push_back(*p);
    for (const std::string& p : c.plots) {
        if (plot_format_flag(p).empty())
            return refuse("--plot: " + p + " does not end in .png or .svg");
        names.push_back(p);
    }
    if (!c.plots.empty() && plan.runs.empty())
        return refuse("--plot: shard " + shardText + " holds no runs to plot");
    if (c.resume && c.summary.empty())
        return refuse("--resume: needs --summary, the record of the runs already done");
    if (c.resume && c.noHeader)
        return refuse("--resume: needs the files' header to check them; leave out --no-header");
    if (c.resume && !c.plots.empty() && c.curves.empty())
        return refuse("--resume: --plot needs --curves to read the runs already done");
#if MAROVEL_WITH_PICTURES
    std::vector<PlotFormat> plotFormats;
    for (const std::string& p : c.plots) plotFormats.push_back(*plot_format_of(p));
    std::vector<PlotFormat> barFormats;
    for (const std::string& p : c.sensitivityPlots) {
        const std::optional<PlotFormat> format = plot_format_of(p);
        if (!format) return refuse("--sensitivity-plot: " + p + " does not end in .png or .svg");
        names.push_back(p);
        barFormats.push_back(*format);
    }
#endif
    if (const std::string twice = find_repeated_output(names); !twice.empty())
        return refuse("output file " + twice);
    const bool tableToStderr = std::find(names.begin(), names.end(), "-") != names.end();

    remove_partial_files_on_signal();

    TextOutput curves;
    TextOutput summary;
    TextOutput households;
    OutputFile designOut;
    OutputFile indices;
    std::vector<OutputFile*> outputs = {&designOut, &indices};  // and the texts, at the end
    std::string error;
    // A resumed sweep reads the partial files an earlier attempt left, so
    // they are kept until its outputs are in place.
    if (!curves.create(c.curves, error, c.resume)) return refuse("--curves: " + error);
    if (!summary.create(c.summary, error, c.resume)) return refuse("--summary: " + error);
    if (!households.create(c.households, error, c.resume)) return refuse("--households: " + error);
    if (!c.designOut.empty() && !designOut.create(c.designOut, error))
        return refuse("--design-out: " + error);
    if (!c.sensitivity.empty() && !indices.create(c.sensitivity, error))
        return refuse("--sensitivity: " + error);
    std::vector<std::unique_ptr<OutputFile>> plots;
    std::vector<std::string> plotTemps;
    for (const std::string& p : c.plots) {
        plots.push_back(std::make_unique<OutputFile>());
        if (!plots.back()->create(p, error)) return refuse("--plot: " + error);
        plotTemps.push_back(plots.back()->temp_path());
        outputs.push_back(plots.back().get());
    }
#if MAROVEL_WITH_PICTURES
    std::vector<std::unique_ptr<OutputFile>> bars;
    for (const std::string& p : c.sensitivityPlots) {
        bars.push_back(std::make_unique<OutputFile>());
        if (!bars.back()->create(p, error)) return refuse("--sensitivity-plot: " + error);
        outputs.push_back(bars.back().get());
    }
#endif

    const std::string command = recorded_command(argc, argv);
    const std::string designLine =
        designed ? design_header_line(design, design.scenarios.empty() ? scenarios.size() : 1)
                 : std::string();
    // The header: what the file holds and which sweep it belongs to; the same
    // in every shard but for the shard line.
    const std::string description =
        designed
            ? std::to_string(all.size()) + " runs of " + std::to_string(plan.ticks) + " ticks, " +
                  std::to_string(design.point_count()) + " points x " +
                  std::to_string(design.scenarios.empty() ? scenarios.size() : 1) + " replicate(s)"
            : sweep_description(all.size(), plan.ticks, scenarios.size(), levels.size());
    const std::string sweepLines = designLine + "# sweep: " + description + "\n" + build_line() +
                                   parameters_line(plan.parameters) +
                                   (shardCount > 1 ? shard_line(shardIndex, shardCount) : "");
    const std::string curvesHeader =
        header_lines("evacuation curves", command, parameters) + sweepLines + curve_columns(plan);
    const std::string summaryHeader =
        header_lines("run summary", command, parameters) + sweepLines + summary_columns(plan);
    const std::string householdsHeader =
        header_lines("households", command, parameters) + sweepLines +
        household_column_line(key_columns(plan), plan.householdColumns);
    if (!c.noHeader) {
        curves.write(curvesHeader);
        summary.write(summaryHeader);
        households.write(householdsHeader);
    }

    const bool keepCurves = !c.plots.empty();
    std::string plotInput = keepCurves ? curve_columns(plan) : "";
    const PointGroups groups = designed ? group_points(design, MAX_TABLE_GROUPS) : PointGroups{};
    SweepSummary table =
        designed ? SweepSummary(groups.title, groups.names, sample_ticks(plan), keepCurves)
                 : SweepSummary(levels, sample_ticks(plan), keepCurves);
    std::optional<SensitivityReport> report;
    if (designed && can_analyse(design)) report.emplace(design);

    // Resuming: the runs complete in every output are kept, the rest run again.
    std::vector<std::string> leftovers;
    if (c.resume) {
        std::vector<std::string> keys;
        for (const SweepRun& run : plan.runs) keys.emplace_back(row_key(plan_run_key(plan, run)));
        struct Earlier {
            const std::string* path;
            const std::string* header;
            std::vector<std::size_t> rowsOfRun;
            TextOutput* out;
            EarlierOutput found;
        };
        // A run has a households row per car: as many as its town has (a
        // design may vary the cars per house).
        std::vector<std::size_t> cars;
        if (!c.households.empty()) {
            std::map<double, std::size_t> carsOfTown;
            auto sim = std::make_unique<Simulation>();
            for (const SweepRun& run : plan.runs) {
                const ModelParameters runParameters = run_parameters(plan, run);
                auto [at, added] = carsOfTown.try_emplace(runParameters.carsPerHouse, 0);
                if (added) {
                    build_scenario(*sim, {run.scenario.seed, runParameters, plan.startup});
                    at->second = static_cast<std::size_t>(sim->vehicles.vehicleCount);
                }
                cars.push_back(at->second);
            }
        }
        const std::size_t runCount = plan.runs.size();
        std::vector<Earlier> earlier = {
            {&c.summary, &summaryHeader, std::vector<std::size_t>(runCount, 1), &summary, {}},
            {&c.curves,
             &curvesHeader,
             std::vector<std::size_t>(runCount, sample_ticks(plan).size()),
             &curves,
             {}},
            {&c.households, &householdsHeader, cars, &households, {}}};
        std::size_t kept = plan.runs.size();
        for (Earlier& e : earlier) {
            if (e.path->empty()) continue;
            if (const std::string why =
                    find_earlier_output(*e.path, *e.header, keys, e.rowsOfRun, e.found);
                !why.empty())
                return refuse("--resume: " + why);
            kept = std::min(kept, e.found.runEnds.size());
            leftovers.insert(leftovers.end(), e.found.leftovers.begin(), e.found.leftovers.end());
        }
        const std::string keptSummary = kept_text(earlier[0].found, kept);
        for (Earlier& e : earlier)
            if (!e.path->empty()) e.out->write(kept_text(e.found, kept));
        // The kept runs count in the table, the plot and the sensitivity
        // indices as if they had just run.
        std::vector<RunResult> results(kept);
        std::size_t at = 0;
        bool read = true;
        const std::string summaryColumns = summary_columns(plan);
        for_each_line(keptSummary, [&](std::string_view line) {
            if (at < kept)
                read = parse_summary_figures(summaryColumns, line, results[at++].figures) && read;
        });
        if (keepCurves) {
            const std::string keptCurves = kept_text(earlier[1].found, kept);
            plotInput += keptCurves;
            // A design's plot is drawn from the table, which keeps every run's samples.
            const std::size_t samples = sample_ticks(plan).size();
            const std::string curveColumns = curve_columns(plan);
            std::size_t row = 0;
            for_each_line(keptCurves, [&](std::string_view line) {
                long long tick = 0;
                VehicleTally tally{};
                if (row / samples < kept) {
                    read = parse_curve_sample(curveColumns, line, tick, tally) && read;
                    results[row / samples].samples.push_back(tally);
                }
                ++row;
            });
        }
        if (!read) return refuse("--resume: a row the earlier run left could not be read");
        for (std::size_t i = 0; i < kept; ++i) {
            const SweepRun& r = plan.runs[i];
            if (designed)
                table.add_to(groups.groupOfPoint[r.point], results[i]);
            else
                table.add(r, results[i]);
            if (report) report->add(r, results[i].figures);
        }
        plan.runs.erase(plan.runs.begin(), plan.runs.begin() + static_cast<std::ptrdiff_t>(kept));
        if (kept > 0)
            std::fprintf(stderr, "marovel-sim: resuming after %zu of %zu runs\n", kept, shardRuns);
    }
    {
        ProgressBar progress(plan.runs.size());
        std::size_t done = 0;
        run_sweep(plan, c.threads, [&](FinishedRun& run) {
            curves.write(run.curveRows);
            summary.write(run.summaryRow);
            households.write(run.householdRows);
            for (TextOutput* f : {&curves, &summary, &households}) f->flush();
            if (keepCurves) plotInput += run.curveRows;
            const SweepRun& r = plan.runs[run.index];
            if (designed)
                table.add_to(groups.groupOfPoint[r.point], run.result);
            else
                table.add(r, run.result);
            if (report) report->add(r, run.result.figures);
            progress.update(++done);
        });
    }
    std::vector<SensitivityReport::Row> analysis;
    if (report && shardCount == 1) analysis = report->analyse();
    if (designed) designOut.write(design_csv(design));
    indices.write(header_lines("sensitivity indices", command, parameters) + designLine + "# " +
                  estimator_note(design) + "\n" + sensitivity_csv(design, analysis));

    char title[256];
    if (designed)
        std::snprintf(title, sizeof title,
                      "%s sweep: %zu runs of %lld ticks, %zu points x %zu replicate(s)%s",
                      PROGRAM_TITLE, shardRuns, plan.ticks, design.point_count(),
                      design.scenarios.empty() ? scenarios.size() : 1,
                      shardCount > 1 ? (", shard " + shardText).c_str() : "");
    else
        std::snprintf(title, sizeof title,
                      "%s sweep: %zu runs of %lld ticks, %zu scenarios x %zu error levels%s",
                      PROGRAM_TITLE, shardRuns, plan.ticks, scenarios.size(), levels.size(),
                      shardCount > 1 ? (", shard " + shardText).c_str() : "");

#if !MAROVEL_WITH_PICTURES
    if (!plots.empty()) {
        if (const int status = draw_plot(title, errors, plotInput, plotTemps, c.plots, error);
            status != 0)
            return error.empty() ? status : fail("--plot: " + error);
    }
#else
    auto report_drawing = [&] {
        std::fprintf(stderr, "marovel-sim: %s; no output was replaced\n", error.c_str());
        return 1;
    };
    // Drawn into memory and written through the output files, so that a
    // full disk is found and reported like any other output's.
    std::vector<std::string> pictures(plots.size() + bars.size());
    if (!plots.empty() && designed) {
        std::vector<PlotTarget> targets;
        for (std::size_t i = 0; i < plots.size(); ++i)
            targets.push_back({plots[i]->path(), plotFormats[i], &pictures[i]});
        if (!write_plots(table, title, targets, error)) return report_drawing();
    } else if (!plots.empty()) {
        if (const int status = draw_plot(title, errors, plotInput, plotTemps, c.plots, error);
            status != 0)
            return error.empty() ? status : fail("--plot: " + error);
    }
    if (!bars.empty()) {
        std::vector<PlotTarget> targets;
        for (std::size_t i = 0; i < bars.size(); ++i)
            targets.push_back({bars[i]->path(), barFormats[i], &pictures[plots.size() + i]});
        if (!write_index_chart(design, analysis, std::string(title) + ": sensitivity", targets,
                               error))
            return report_drawing();
    }
    for (std::size_t i = 0; i < plots.size(); ++i) plots[i]->write(pictures[i]);
    for (std::size_t i = 0; i < bars.size(); ++i) bars[i]->write(pictures[plots.size() + i]);
#endif
    // Every output complete on the disk first, then all renamed together.
    for (TextOutput* f : {&curves, &summary, &households}) {
        if (!f->finish_text(error)) return fail(error);
        if (OutputFile* file = f->file()) outputs.push_back(file);
    }
    if (!commit_together(outputs, error)) return fail(error);
    for (const std::string& leftover : leftovers) std::remove(leftover.c_str());

    if (!c.metadata.empty()) {
        record.recordedCommand = command;
        record.parameters = plan.parameters;
        record.extra = {{"sweep", description}, {"shard", shardText}};
        for (const std::string* p :
             {&c.curves, &c.summary, &c.households, &c.designOut, &c.sensitivity})
            if (!p->empty()) record.outputs.push_back(*p);
        for (const std::string& p : c.plots) record.outputs.push_back(p);
        for (const std::string& p : c.sensitivityPlots) record.outputs.push_back(p);
        if (!write_metadata(record, c.metadata, error)) return fail("--metadata: " + error);
    }

    std::ostream& out = tableToStderr ? std::cerr : std::cout;
    out << title << '\n';
    table.write_table(out);
    if (!analysis.empty()) {
        out << "\nSensitivity (" << estimator_note(design) << ")\n";
        write_sensitivity_table(out, design, analysis);
    }
    if (!flush_standard_output(error)) {
        std::fprintf(stderr, "marovel-sim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Snapshots of a single run.

struct SingleRunSnapshots::State {
    std::vector<std::string> requests;
    long long ticks = 0;
};

SingleRunSnapshots::SingleRunSnapshots() : state_(std::make_unique<State>()) {}
SingleRunSnapshots::~SingleRunSnapshots() = default;

int SingleRunSnapshots::prepare(const std::vector<std::string>& requests, long long ticks) {
    state_->requests = requests;
    state_->ticks = ticks;
    return 0;
}

// The picture program checks the requests, makes the files and draws them;
// its refusals and failures are this program's.
int SingleRunSnapshots::write(const ScenarioSetup& scenario) {
    if (state_->requests.empty()) return 0;
    std::vector<std::string> args = {"snapshot", "--ticks", std::to_string(state_->ticks)};
    for (std::string& a : scenario_arguments(scenario)) args.push_back(std::move(a));
    args.emplace_back("--");
    args.insert(args.end(), state_->requests.begin(), state_->requests.end());
    std::string error;
    const int status = run_picture_program(args, {}, error);
    if (!error.empty()) return refuse("--snapshot: " + error);
    return status;
}
