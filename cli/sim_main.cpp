// marovel-sim: runs a scenario without the window and prints where the cars are;
// with "sweep", runs many scenarios side by side (see cli/sweep_command.h).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/calibrate_command.h"
#include "cli/decimal_option.h"
#include "cli/ete_command.h"
#include "cli/merge_command.h"
#include "cli/parameter_options.h"
#include "cli/plan_options.h"
#include "cli/road_options.h"
#include "cli/runner.h"
#include "cli/zone_options.h"
#include "cli/sweep_command.h"
#include "cli/town_command.h"
#include "experiments/pictures/picture_program.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/town_file.h"
#include "experiments/records/output_file.h"
#if MAROVEL_WITH_PICTURES
#include "experiments/pictures/movie.h"
#include "experiments/pictures/snapshot.h"
#endif

#ifndef MAROVEL_VERSION
#define MAROVEL_VERSION "unknown"
#endif

// The picture program's build of this command calls it under another name.
#ifndef MAROVEL_SIM_MAIN
#define MAROVEL_SIM_MAIN main
#endif

int MAROVEL_SIM_MAIN(int argc, char** argv) {
    CLI::App app{
        "Runs one storm-evacuation scenario without the window and reports where the cars are.\n"
        "The same seed, error level and sequence give the same run as the window, tick for tick.",
        "marovel-sim"};
    app.get_formatter()->column_width(26);

    RunOptions options;
    std::int32_t seed = 1;
    long long steps = 0;
    bool csv = false;
    app.set_version_flag("--version", "marovel-sim " MAROVEL_VERSION);

    auto* seedOpt = app.add_option("--seed", seed,
                                   "Scenario seed (default 1, the scenario the window starts with)")
                        ->transform(decimal_in(INT32_MIN, INT32_MAX));
    auto* stepOpt =
        app.add_option("--scenario", steps,
                       "The scenario reached from launch by K presses of Next (negative K: "
                       "Previous), i.e. seed 1 + 1000 K")
            ->transform(decimal_in(INT64_MIN, INT64_MAX));
    seedOpt->excludes(stepOpt);
    app.add_flag("--startup", options.scenario.startup,
                 "Build the town the window shows at launch instead of the one Reset builds");
    ParameterOptions parameters;
    add_parameter_options(app, parameters, true);
    RoadOptions roads;
    add_road_options(app, roads);
    ZoneOptions zones;
    add_zone_options(app, zones);
    PlanOptions plan;
    add_plan_options(app, plan, false);
    std::string townFile;
    app.add_option("--town", townFile,
                   "Run on the town in FILE (see marovel-sim town --help) instead of the built-in "
                   "one")
        ->type_name("FILE");
    app.add_option("--ticks", options.ticks, "Ticks to run (default 2000)")
        ->transform(decimal_in(1, MAX_TICKS));
    auto* atOpt =
        app.add_option("--at", options.at, "Report the tally at these ticks (comma-separated)")
            ->delimiter(',')
            ->transform(decimal_in(0, MAX_TICKS));
    auto* everyOpt =
        app.add_option("--every", options.every, "Report the tally every N ticks, from tick 0")
            ->transform(decimal_in(1, MAX_TICKS));
    auto* csvOpt =
        app.add_flag("--csv", csv, "Write the tally as CSV with a header instead of a table");
    auto* fpOpt = app.add_flag("--fingerprint", options.fingerprint,
                               "Print the run fingerprint of tick 0 and after every tick");
    app.add_flag("--until-settled", options.untilSettled,
                 "Stop at the first tick at which no car waits or is under way (--ticks is then "
                 "the most to run)");
    fpOpt->excludes(atOpt)->excludes(everyOpt)->excludes(csvOpt);
    std::vector<std::string> snapshots;
    app.add_option("--snapshot", snapshots,
                   "Also draw the town at TICK into FILE.png as the window shows it (1024 x 768, "
                   "initial view; repeatable; no display needed)")
        ->type_name("TICK:FILE.png");
    // A movie is drawn by the picture program's own build of this command.
    std::string movieFile;
    long long movieEvery = 1;
    auto* movieOpt = app.add_option("--movie", movieFile,
                                    "Also draw every frame of the run, as the window shows it, "
                                    "into FILE.mp4 (through ffmpeg; numbered PNGs without it) "
                                    "or FILE_000001.png, ... for FILE.png")
                         ->type_name("FILE");
    app.add_option("--movie-every", movieEvery, "A movie frame every N ticks (default 1)")
        ->transform(decimal_in(1, MAX_TICKS))
        ->needs(movieOpt);
    // A subcommand's options are defined only when its name is on the command
    // line (without it, it cannot be chosen): they are most of the start-up's work.
    const auto named = [&](std::string_view name) {
        return std::find(argv + 1, argv + argc, name) != argv + argc;
    };
    SweepCommand sweep;
    add_sweep_command(app, sweep, named("sweep"));
    TownCommand town;
    add_town_command(app, town, named("town"));
    MergeCommand merge;
    add_merge_command(app, merge, named("merge"));
    EteCommand ete;
    add_ete_command(app, ete, named("ete"));
    CalibrateCommand calibrate;
    add_calibrate_command(app, calibrate, named("calibrate"));
    bool paramsCsv = false, paramsMarkdown = false;
    CLI::App* params = app.add_subcommand(
        "params", "Prints the model's parameters: name, default, unit, range and meaning.");
    params->add_flag("--csv", paramsCsv, "As CSV: name,default,unit,min,max,kind,meaning");
    params->add_flag("--markdown", paramsMarkdown, "As a Markdown table");
    app.footer(
        "Without --at or --every the tally of the last tick is printed.\n"
        "Fingerprint lines: <tick> <time> <six counts> <vehicles> <grid> <storm> <decisions> "
        "<generator>.\n"
        "Examples:\n"
        "  marovel-sim --scenario 3 --error moderate --every 100\n"
        "  marovel-sim --error 100 --set patience_min=480 --set patience_max=720 "
        "--until-settled\n"
        "  marovel-sim --seed 42 --ticks 500 --fingerprint > run.txt\n"
        "  marovel-sim --scenario 3 --ticks 400 --snapshot 0:start.png --snapshot 400:end.png\n"
        "  marovel-sim --town riverside.town --error moderate --every 250\n"
        "  marovel-sim --set route_guide=road --exit-capacity 1 --close 18,27:18,28@300 "
        "--contraflow 21,27:21,28@300:up\n"
        "For many scenarios at once see: marovel-sim sweep --help\n"
        "An evacuation time estimate: marovel-sim ete --help\n"
        "Fitting parameters to an observed evacuation: marovel-sim calibrate --help\n"
        "Towns of your own: marovel-sim town --help\n"
        "The model's parameters: marovel-sim params");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << '\n';
        return 0;
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        return refuse(e.what());
    }

    if (params->parsed()) {
        std::cout << (paramsCsv        ? parameter_table_csv()
                      : paramsMarkdown ? parameter_table_markdown()
                                       : parameter_table_text());
        std::string why;
        if (flush_standard_output(why)) return 0;
        std::fprintf(stderr, "marovel-sim: %s\n", why.c_str());
        return 1;
    }

    if (sweep.app->parsed() || merge.app->parsed() || town.app->parsed() || ete.app->parsed() ||
        calibrate.app->parsed()) {
        // The single run's options would be silently ignored by a sweep.
        const std::string name = sweep.app->parsed()   ? "sweep"
                                 : merge.app->parsed() ? "merge"
                                 : ete.app->parsed()   ? "ete"
                                 : calibrate.app->parsed() ? "calibrate"
                                                       : "town";
        for (const CLI::Option* o : app.get_options())
            if (o->count() > 0 && o->get_name() != "--help")
                return refuse(o->get_name() + " is an option of single runs; put " + name +
                              " options after \"" + name + "\"");
        if (town.app->parsed()) return run_town_command(town, argc, argv);
        if (ete.app->parsed()) return run_ete_command(ete, argc, argv);
        if (calibrate.app->parsed()) return run_calibrate_command(calibrate, argc, argv);
        return sweep.app->parsed() ? run_sweep_command(sweep, argc, argv)
                                   : run_merge_command(merge, argc, argv);
    }

    // A tally asked for after the run has ended would otherwise be left out without a word.
    for (const long long t : options.at)
        if (t > options.ticks)
            return refuse("--at: tick " + std::to_string(t) + " lies beyond the run's " +
                          std::to_string(options.ticks) + " ticks");

    options.scenario.seed = stepOpt->count() > 0 ? seed_of_step(steps) : seed;
    if (const std::string why =
            apply_parameter_options(app, parameters, options.scenario.parameters);
        !why.empty())
        return refuse(why);
    options.format = csv ? TallyFormat::Csv : TallyFormat::Table;
    if (!townFile.empty()) {
        std::string why;
        options.town = load_town(townFile, why);
        if (!options.town) return refuse("--town: " + why);
    }
    std::vector<Plan> plans;
    if (const std::string why =
            apply_plan_or_options(app, plan, roads, zones, options.ticks, options.town,
                                  options.scenario.roads, options.scenario.orders, plans);
        !why.empty())
        return refuse(why);
    if (!plans.empty()) options.planLine = plan_header_line(plans[0]);
    // The picture program draws the run it is given the options of, and orders are not among them.
    if (!options.scenario.orders.empty() && (!snapshots.empty() || !movieFile.empty()))
        return refuse("--order: snapshots and movies are drawn without orders; leave out "
                      "--snapshot and --movie, or the orders");
#if MAROVEL_WITH_PICTURES
    MovieRun movie{movieFile, options.ticks, movieEvery};
    if (!movie.file.empty())
        if (const std::string why = movie_name_problem(movie.file); !why.empty())
            return refuse("--movie: " + why);
#else
    // The movie's frames need the renderer: the picture program's build of
    // this command takes over with the same arguments (snapshots included).
    if (!movieFile.empty()) {
        if (!movieFile.ends_with(".mp4") && !movieFile.ends_with(".png"))
            return refuse("--movie: " + movieFile + ": a movie's name must end in .mp4 or .png");
        std::string why;
        run_picture_build(argc, argv, why);
        std::fprintf(stderr, "marovel-sim: --movie: %s\n", why.c_str());
        return 1;
    }
#endif
    SingleRunSnapshots pictures;
    if (const int status = pictures.prepare(snapshots, options.ticks); status != 0) return status;
    if (const int status = pictures.write(options.scenario, townFile); status != 0) return status;
#if MAROVEL_WITH_PICTURES
    if (!movie.file.empty()) {
        std::string why;
        if (!write_movie(options.scenario, movie, snapshot_picture_folders(), why, options.town)) {
            std::fprintf(stderr, "marovel-sim: --movie: %s\n", why.c_str());
            return 1;
        }
    }
#endif
    run_headless(options, std::cout);
    // Standard output that cannot be written is a failure while running, not bad input.
    std::string why;
    if (!flush_standard_output(why)) {
        std::fprintf(stderr, "marovel-sim: %s\n", why.c_str());
        return 1;
    }
    return 0;
}
