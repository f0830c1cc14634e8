// The sweep subcommand's checks: what was typed, read into the sweep's plan
// and outputs, refused in one line before any file is made; the work is the
// library's (experiments/running/sweep_job.h).
#include "cli/sweep_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "experiments/pictures/picture_program.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/town_file.h"
#include "experiments/records/households.h"
#include "experiments/records/output_file.h"
#include "experiments/records/provenance.h"
#include "experiments/records/sweep_files.h"
#include "experiments/running/shard_env.h"
#include "experiments/running/shards.h"
#include "experiments/running/sweep_job.h"

#if MAROVEL_WITH_PICTURES
#include "experiments/pictures/design_pictures.h"
#include "experiments/pictures/plot.h"
#endif

int refuse(const std::string& message) {
    // One line, whatever the message holds (a library's message may echo an
    // argument with a newline, a NUL or any byte in it).
    std::fprintf(stderr, "marovel-sim: %s (see --help)\n", one_line(message).c_str());
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "marovel-sim: %s\n", one_line(message).c_str());
    return 1;
}

int run_sweep_command(const SweepCommand& c, int argc, char** argv) {
    RunRecord record = start_record(argc, argv);
    SweepJob job;
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
        for (const char* option : {"--design-out", "--sensitivity", "--sensitivity-plot",
                                   "--sensitivity-figures", "--sample-seed"})
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
    if ((designed || !c.plans.plans.empty()) && (!c.plots.empty() || !c.sensitivityPlots.empty())) {
        std::string error;
        return run_picture_build(argc, argv, error) == 0 ? 0 : refuse(error);
    }
#endif

    SweepPlan plan;
    if (!c.town.empty()) {
        std::string why;
        plan.town = load_town(c.town, why);
        if (!plan.town) return refuse("--town: " + why);
    }
    // A design's points would each need a run under every plan: run the
    // design under one plan at a time instead.
    if (designed && !c.plans.plans.empty())
        return refuse("--plans: not with a design (--vary, --design, --sample); run the "
                      "design under each plan with --plan");
    std::vector<Plan> plans;
    if (const std::string why = apply_plan_or_options(*c.app, c.plans, c.roads, c.zones, c.ticks,
                                                      plan.town, plan.roads, plan.orders, plans);
        !why.empty())
        return refuse(why);
    if (plans.size() > 1)
        for (const Plan& p : plans) plan.variants.push_back({p.name, p.roads, p.orders});
    for (const Plan& p : plans) job.planLines += plan_header_line(p);
    job.planRecords = plan_records(plans);
    plan.ticks = c.ticks;
    plan.every = c.every;
    plan.startup = c.startup;
    plan.parameters = parameters;
    if (!c.households.empty()) {
        const bool placed = plan.town && plan.town->origin;
        const bool zoned = plan.town && !plan.town->zoneNames.empty();
        plan.householdColumns = all_household_columns(placed, zoned);
        if (c.app->count("--columns") > 0)
            if (const std::string why = parse_household_columns(c.columns, plan.householdColumns);
                !why.empty())
                return refuse("--columns: " + why);
        for (HouseholdColumn column : plan.householdColumns) {
            if (needs_origin(column) && !placed)
                return refuse("--columns: home_lat and home_lon need a town with an origin "
                              "(an imported one)");
            if (column == HouseholdColumn::Zone && !zoned)
                return refuse("--columns: zone needs a town with zones (a zones layer or "
                              "--zones)");
        }
    } else if (c.app->count("--columns") > 0) {
        return refuse("--columns: chooses the columns of --households, which is not given");
    }
    Design design;
    if (designed) {
        // As many points as the memory allows under these replicates, so that
        // a design too large is refused before it is built.
        const std::size_t samples = c.plots.empty() ? 0 : sample_ticks(plan).size();
        const std::size_t fit = design_points_within(MAX_DESIGN_BYTES, scenarios.size(), samples);
        if (std::string why =
                make_design(c.design, plan.parameters, std::min(MAX_DESIGN_POINTS, fit), design);
            !why.empty())
            return refuse(fit < MAX_DESIGN_POINTS && why.find(" points") != std::string::npos
                              ? why + ": at most " + std::to_string(fit) + " points x " +
                                    std::to_string(scenarios.size()) + " replicates" +
                                    (samples > 0 ? " with the plot's samples" : "") + " fit in " +
                                    std::to_string(static_cast<long long>(MAX_DESIGN_BYTES) >> 20) +
                                    " MiB"
                              : why);
        if (!design.scenarios.empty() && (listed || c.app->count("--replicates") > 0))
            return refuse(
                "--design: the file names each point's scenario; give no "
                "--replicates, --scenarios or --seeds");
        const bool indices = !c.sensitivity.empty() || !c.sensitivityPlots.empty() ||
                             c.app->count("--sensitivity-figures") > 0;
        if (std::string why = check_design_sweep(design, scenarios.size(),
                                                 c.plots.empty() ? 0 : sample_ticks(plan).size(),
                                                 MAX_DESIGN_BYTES, indices, shardCount > 1);
            !why.empty())
            return refuse(why);
    }
    if (c.app->count("--sensitivity-figures") > 0)
        if (const std::string why = parse_output_figures(c.sensitivityFigures, job.figures);
            !why.empty())
            return refuse("--sensitivity-figures: " + why);
    std::vector<SweepRun> all =
        designed ? design_runs(design, scenarios) : interleave_runs(scenarios, levels);
    if (!plan.variants.empty()) all = under_each_plan(all, plan.variants.size());
    const ShardRange shard = shard_range(all.size(), shardIndex, shardCount);
    plan.runs.assign(all.begin() + static_cast<std::ptrdiff_t>(shard.first),
                     all.begin() + static_cast<std::ptrdiff_t>(shard.end));
    if (designed) attach_design(plan, design);

    // Output files: each a different file, each one writable (its temporary
    // file made now). "-" is standard output; the table then goes to standard error.
    std::vector<std::string> names;
    for (const std::string* p : {&c.curves, &c.summary, &c.designOut, &c.sensitivity, &c.households,
                                 &c.metadata, &c.table, &c.paired})
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
    for (const std::string& p : c.sensitivityPlots) {
        if (!plot_format_of(p))
            return refuse("--sensitivity-plot: " + p + " does not end in .png or .svg");
        names.push_back(p);
    }
#endif
    if (const std::string twice = find_repeated_output(names); !twice.empty())
        return refuse("output file " + twice);

    job.plan = std::move(plan);
    job.sweepRuns = all.size();
    job.scenarioCount = scenarios.size();
    job.levels = levels;
    job.errors = errors;
    job.design = designed ? &design : nullptr;
    job.shardIndex = shardIndex;
    job.shardCount = shardCount;
    job.outputs = {c.curves,      c.summary,  c.households, c.designOut,
                   c.sensitivity, c.metadata, c.plots,      c.sensitivityPlots,
                   c.noHeader,    c.resume,   c.table,      c.paired};
    job.threads = c.threads;
    job.command = recorded_command(argc, argv);
    job.parameters = parameters;
#if MAROVEL_WITH_PICTURES
    DrawnDesignPictures pictures;
#else
    NoDesignPictures pictures;
#endif
    const JobStatus done = run_sweep_job(job, record, pictures);
    if (done.status == 2) return refuse(done.message);
    if (done.status != 0 && !done.message.empty()) return fail(done.message);
    return done.status;
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
int SingleRunSnapshots::write(const ScenarioSetup& scenario, const std::string& townFile) {
    if (state_->requests.empty()) return 0;
    std::vector<std::string> args = {"snapshot", "--ticks", std::to_string(state_->ticks)};
    for (std::string& a : scenario_arguments(scenario)) args.push_back(std::move(a));
    if (!townFile.empty()) {
        args.emplace_back("--town");
        args.push_back(townFile);
    }
    args.emplace_back("--");
    args.insert(args.end(), state_->requests.begin(), state_->requests.end());
    std::string error;
    const int status = run_picture_program(args, {}, error);
    if (!error.empty()) return refuse("--snapshot: " + error);
    return status;
}
