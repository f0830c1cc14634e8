// The ete subcommand's options and checks; the runs and the statistics are the
// library's (experiments/running/ete.h, experiments/records/ete.h).
#include "cli/ete_command.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "cli/decimal_option.h"
#include "cli/sweep_command.h"
#include "experiments/pictures/picture_program.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/town_file.h"
#include "experiments/records/output_file.h"
#include "experiments/running/ete.h"

#if MAROVEL_WITH_PICTURES
#include "experiments/pictures/ete_plot.h"
#endif

void add_ete_command(CLI::App& app, EteCommand& c, bool withOptions) {
    c.app = app.add_subcommand(
        "ete",
        "An evacuation time estimate: runs replicate scenarios 0..N-1 on all cores and reports "
        "when 50, 90 and 100 % of the cars that leave have reached an exit (Kaplan-Meier median "
        "and restricted mean, runs that never get there censored), the share of households that "
        "left and the share still on the road, each with a 95 % interval.");
    if (!withOptions) return;
    c.app
        ->add_option("--town", c.town,
                     "Run on the town in FILE (see marovel-sim town --help) instead of the "
                     "built-in one")
        ->type_name("FILE");
    c.app
        ->add_option("--replicates", c.replicates,
                     "Replicate scenarios 0..N-1, as a sweep's --scenarios 0..N-1 (default 50)")
        ->transform(decimal_in(1, static_cast<std::int64_t>(MAX_SCENARIOS)));
    add_parameter_options(*c.app, c.parameters, true);
    add_road_options(*c.app, c.roads);
    add_zone_options(*c.app, c.zones);
    add_plan_options(*c.app, c.plan, false);
    c.app->add_option("--ticks", c.ticks, "Ticks per run (default 2000)")
        ->transform(decimal_in(1, MAX_TICKS));
    c.app->add_option("--minutes-per-tick", c.minutesPerTick,
                      "Minutes a tick stands for: times are then also shown as hours:minutes "
                      "(default: the town's minutes_per_tick, if it has one)");
    c.app->add_option("--csv", c.csv,
                      "Write the estimates here: figure,estimator,value,low,high,reached,"
                      "censored");
    c.app->add_option("--plot", c.plot,
                      "Draw the cumulative arrivals (share of leaving cars at an exit, mean and "
                      "band of the middle 95 % of runs) into this .png file");
    add_threads_option(*c.app, c.threads);
    c.app->footer(
        "Times are ticks. The cars that leave are those that ever left home. A run that never\n"
        "brings a share of them to an exit is censored at its last tick. Each time has two\n"
        "estimates: the Kaplan-Meier median with Brookmeyer and Crowley's 95 % interval (log-log)\n"
        "and the restricted mean up to the last tick with its normal interval. Shares are means\n"
        "over the runs with Student's 95 % interval. The numbers are the same whatever the\n"
        "number of threads; the files are written under temporary names and renamed together.\n"
        "Example:\n"
        "  marovel-sim ete --town place.town --replicates 50 --set route_guide=road "
        "--minutes-per-tick 1 --csv ete.csv --plot ete.png");
}

int run_ete_command(const EteCommand& c, int argc, char** argv) {
    ModelParameters parameters;
    if (const std::string why = apply_parameter_options(*c.app, c.parameters, parameters);
        !why.empty())
        return refuse(why);
    std::optional<double> minutesPerTick;
    if (c.app->count("--minutes-per-tick") > 0)
        if (const std::string why = parse_minutes_per_tick(c.minutesPerTick, minutesPerTick);
            !why.empty())
            return refuse(why);
    if (!c.plot.empty() && plot_format_flag(c.plot) != "--png")
        return refuse("--plot: " + c.plot + " does not end in .png");
    std::vector<std::string> names, inputs = c.parameters.files;
    for (const std::string* p : {&c.csv, &c.plot})
        if (!p->empty()) names.push_back(*p);
    if (!c.town.empty()) inputs.push_back(c.town);
    if (const std::string twice = find_repeated_output(names, inputs); !twice.empty())
        return refuse("output file " + twice);

    SweepPlan plan;
    if (!c.town.empty()) {
        std::string why;
        plan.town = load_town(c.town, why);
        if (!plan.town) return refuse("--town: " + why);
        // A town that says what its tick stands for gives the times their hours.
        if (!minutesPerTick && plan.town->minutesPerTick > 0)
            minutesPerTick = plan.town->minutesPerTick;
    }
    std::vector<Plan> plans;
    if (const std::string why = apply_plan_or_options(*c.app, c.plan, c.roads, c.zones, c.ticks,
                                                      plan.town, plan.roads, plan.orders, plans);
        !why.empty())
        return refuse(why);
#if !MAROVEL_WITH_PICTURES
    // The plot is drawn by the picture program's own build of this command.
    if (!c.plot.empty()) {
        std::string error;
        run_picture_build(argc, argv, error);
        return fail("--plot: " + error);
    }
#else
    (void)argc;
    (void)argv;
#endif
    plan.ticks = c.ticks;
    plan.parameters = parameters;
    for (long long k = 0; k < c.replicates; ++k) {
        SweepRun run;
        run.scenario = {seed_of_step(k), k};
        run.errorSpread = static_cast<float>(parameters.errorSpread);
        plan.runs.push_back(run);
    }

    remove_partial_files_on_signal();
    std::string error;
    OutputFile csv, plot;
    std::vector<OutputFile*> outputs;
    if (!c.csv.empty()) {
        if (!csv.create(c.csv, error)) return refuse("--csv: " + error);
        outputs.push_back(&csv);
    }
    if (!c.plot.empty()) {
        if (!plot.create(c.plot, error)) return refuse("--plot: " + error);
        outputs.push_back(&plot);
    }

    const std::vector<EteReplicate> replicates = run_ete(plan, c.threads);
    const std::vector<EteRow> rows = ete_estimates(replicates, plan.ticks, ete_zone_names(plan));
    const std::string where =
        c.town.empty() ? std::string("the built-in town") : file_name_text(c.town);
    const std::string title =
        "Evacuation time estimate: " + where + ", " + std::to_string(c.replicates) + " replicate" +
        (c.replicates == 1 ? "" : "s") + " (scenarios 0.." + std::to_string(c.replicates - 1) +
        "), error " + error_spread_text(parameters.errorSpread) + ", " + std::to_string(c.ticks) +
        (c.ticks == 1 ? " tick" : " ticks");
    // The plan's line heads the file only when there is a plan.
    if (!c.csv.empty())
        csv.write((plans.empty() ? "" : plan_header_line(plans[0])) + ete_csv(rows));
#if MAROVEL_WITH_PICTURES
    if (!c.plot.empty()) {
        std::string png;
        if (!draw_ete_plot(ete_band(replicates), title, minutesPerTick, png, error))
            return fail("--plot: " + error);
        plot.write(png);
    }
#endif
    if (!commit_together(outputs, error)) return fail(error);
    if (!plans.empty()) std::cout << plan_header_line(plans[0]);
    std::cout << ete_table(title, rows, minutesPerTick);
    if (!flush_standard_output(error)) return fail(error);
    return 0;
}
