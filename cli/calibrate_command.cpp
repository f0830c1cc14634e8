// The calibrate subcommand's options and checks; the fit and its files are the
// library's (experiments/calibration/).
#include "cli/calibrate_command.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <algorithm>
#include <limits>
#include <set>

#include "cli/decimal_option.h"
#include "cli/sweep_command.h"
#include "experiments/pictures/picture_program.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/town_file.h"

#if MAROVEL_WITH_PICTURES
#include "experiments/calibration/fit.h"
#include "experiments/calibration/report.h"
#include "experiments/pictures/fit_plot.h"
#include "experiments/records/output_file.h"
#include "experiments/records/provenance.h"
#include "sim/town_text.h"
#endif

namespace {

constexpr long long MAX_BUDGET = 1000000;           // evaluations
constexpr long long MAX_REPLICATES = 100000;        // a candidate's runs

}  // namespace

void add_calibrate_command(CLI::App& app, CalibrateCommand& c, bool withOptions) {
    c.app = app.add_subcommand(
        "calibrate",
        "Fits parameters to an observed evacuation: the cumulative share of cars that left home "
        "(and optionally reached an exit) against time. Every candidate runs the same replicate "
        "scenarios on all cores; NLopt minimises the weighted squared distance to their mean; "
        "profiles give each fitted value a 95 % interval.");
    if (!withOptions) return;
    c.app->add_option("--observed", c.observed,
                      "The observed CSV: tick (or hour), departed, optional arrived and weight; "
                      "then optionally targets: target, value, zone, tick (or hour), weight")
        ->type_name("FILE")
        ->required();
    c.app->add_option("--vary", c.vary, "A parameter to fit and its bounds (repeatable)")
        ->type_name("NAME=LO..HI")
        ->required();
    c.app->add_option("--out", c.out, "The folder for fit.params, report.txt, trace.csv, fit.png "
                                      "and metadata.json (made when missing)")
        ->type_name("DIR")
        ->required();
    c.app
        ->add_option("--replicates", c.replicates,
                     "Replicate scenarios every candidate runs (default 20)")
        ->transform(decimal_in(1, MAX_REPLICATES));
    c.app->add_option("--method", c.method,
                      "crs2 (global, the default: the objective has steps and cliffs), or bobyqa "
                      "or neldermead (local, derivative-free, from the parameters' values)");
    c.app->add_option("--budget", c.budget, "Evaluations of the fit, at most (default 100)")
        ->transform(decimal_in(1, MAX_BUDGET));
    c.app->add_option("--bootstrap", c.bootstrap,
                      "Parametric bootstrap samples, each refitted, for the intervals (default 20; "
                      "0: none)")
        ->transform(decimal_in(0, 10000));
    c.app->add_option("--refit-budget", c.refitBudget,
                      "Evaluations of each bootstrap refit (default 10 + 5 per parameter)")
        ->transform(decimal_in(1, MAX_BUDGET));
    c.app->add_option("--slice-points", c.slicePoints,
                      "Points of each parameter's slice through the best fit, which tells a "
                      "parameter the data do not identify (default 6)")
        ->transform(decimal_in(2, 1000));
    c.app->add_option("--ticks", c.ticks, "Ticks per run (default: the last observed tick)")
        ->transform(decimal_in(1, MAX_TICKS));
    c.app->add_option("--seed-base", c.seedBase,
                      "The replicates are scenarios K..K+R-1 (default 0)")
        ->transform(decimal_in(-1000000000, 1000000000));
    c.app->add_option("--minutes-per-tick", c.minutesPerTick,
                      "Minutes a tick stands for: needed for an hour column (default: the town's "
                      "minutes_per_tick, if it has one)");
    c.app->add_option("--town", c.town, "Run on the town in FILE instead of the built-in one")
        ->type_name("FILE");
    add_parameter_options(*c.app, c.parameters, true);
    add_road_options(*c.app, c.roads);
    add_zone_options(*c.app, c.zones);
    c.app->add_flag("--resume", c.resume,
                    "Continue a calibration that was stopped: evaluations in DIR's trace are "
                    "not run again");
    add_threads_option(*c.app, c.threads);
    c.app->footer(
        "The departed share is 1 - not evacuated / all cars, the arrived share evacuated / all\n"
        "cars, as the curves file counts them. See docs/calibration.md. Example:\n"
        "  marovel-sim calibrate --observed irene.csv --vary intercept_param=2..5 \\\n"
        "    --vary departure_noise=10..60 --replicates 20 --budget 100 --out fit");
}

#if !MAROVEL_WITH_PICTURES

int run_calibrate_command(const CalibrateCommand&, int argc, char** argv) {
    std::string error;
    run_picture_build(argc, argv, error);
    return fail("calibrate: " + error);
}

#else

namespace {

// What a calibration left in its folder's trace, for --resume: the committed
// file or a killed run's partial one, whichever holds more evaluations. The
// trace is read whole, checked against this calibration and kept as text.
int find_earlier_trace(const std::string& path, const CalibrationSetup& setup, std::string& chosen,
                       std::string& chosenText, std::vector<std::string>& leftovers) {
    std::vector<std::string> candidates = stale_temporaries(path);
    leftovers = candidates;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) candidates.insert(candidates.begin(), path);
    std::size_t most = 0;
    for (const std::string& candidate : candidates) {
        std::string text;
        if (const std::string why = read_regular_file(candidate, std::size_t(1) << 30, text);
            !why.empty())
            return refuse("--resume: " + why);
        Evaluator probe(setup, {});
        if (const std::string why = read_trace(text, candidate, setup, probe); !why.empty()) {
            if (candidate == path) return refuse("--resume: " + why);
            continue;  // a partial file of some other calibration: it is replaced
        }
        const auto rows = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        if (chosen.empty() || rows > most) most = rows, chosen = candidate, chosenText = text;
    }
    return 0;
}

}  // namespace

int run_calibrate_command(const CalibrateCommand& c, int argc, char** argv) {
    CalibrationSetup setup;
    ModelParameters& parameters = setup.base.parameters;
    if (const std::string why = apply_parameter_options(*c.app, c.parameters, parameters);
        !why.empty())
        return refuse(why);
    std::optional<double> minutesPerTick;
    if (c.app->count("--minutes-per-tick") > 0)
        if (const std::string why = parse_minutes_per_tick(c.minutesPerTick, minutesPerTick);
            !why.empty())
            return refuse(why);
    const std::optional<FitMethod> method = parse_method(c.method);
    if (!method)
        return refuse("--method: " + quote_input(c.method) + " is not bobyqa, neldermead or crs2");
    setup.method = *method;
    std::set<const ParameterInfo*> seen;
    for (const std::string& text : c.vary) {
        VariedParameter v;
        if (const std::string why = parse_varied(text, v); !why.empty()) return refuse(why);
        if (!seen.insert(v.info).second)
            return refuse(std::string("--vary: ") + v.info->name + " is varied twice");
        setup.varied.push_back(v);
    }
    if (!c.town.empty()) {
        std::string why;
        setup.base.town = load_town(c.town, why);
        if (!setup.base.town) return refuse("--town: " + why);
        // A town that says what its tick stands for gives hours their length.
        if (!minutesPerTick && setup.base.town->minutesPerTick > 0)
            minutesPerTick = setup.base.town->minutesPerTick;
    }
    std::string text;
    if (const std::string why = read_regular_file(c.observed, MAX_OBSERVED_FILE_BYTES, text);
        !why.empty())
        return refuse("--observed: " + why);
    if (const std::string why = parse_observed(text, c.observed, minutesPerTick, setup.observed);
        !why.empty())
        return refuse(why);
    const long long last = last_observed_tick(setup.observed);
    if (last < 1 && c.ticks == 0)
        return refuse(file_name_text(c.observed) +
                      ": the last observed time is tick 0 (give --ticks for targets at the run's end)");
    setup.base.ticks = c.ticks > 0 ? c.ticks : last;
    if (setup.base.ticks < last)
        return refuse("--ticks: " + std::to_string(c.ticks) + " ends before the last observed tick " +
                      std::to_string(last));
    if (const std::string why =
            apply_zone_options(c.zones, setup.base.ticks, setup.base.town, setup.base.orders);
        !why.empty())
        return refuse(why);
    if (const std::string why = resolve_target_zones(
            setup.base.town ? *setup.base.town : builtin_town(), c.observed, setup.observed);
        !why.empty())
        return refuse(why);
    if (const std::string why = apply_road_options(*c.app, c.roads,
                                                   setup.base.town ? *setup.base.town : builtin_town(),
                                                   setup.base.roads);
        !why.empty())
        return refuse(why);
    setup.replicates = c.replicates;
    setup.seedBase = c.seedBase;
    setup.budget = c.budget;
    setup.bootstrap = c.bootstrap;
    setup.refitBudget =
        c.refitBudget > 0 ? c.refitBudget : 10 + 5 * static_cast<long long>(setup.varied.size());
    setup.slicePoints = c.slicePoints;
    setup.threads = c.threads;

    namespace fs = std::filesystem;
    const fs::path dir(c.out);
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec))
        return refuse("--out: " + file_name_text(c.out) + " is not a folder");
    const auto in = [&](const char* name) { return (dir / name).string(); };
    std::vector<std::string> inputs = c.parameters.files;
    inputs.push_back(c.observed);
    if (!c.town.empty()) inputs.push_back(c.town);
    if (!c.zones.zonesFile.empty()) inputs.push_back(c.zones.zonesFile);
    const std::vector<std::string> names = {in("fit.params"), in("report.txt"), in("trace.csv"),
                                            in("fit.png"), in("metadata.json")};
    if (fs::is_directory(dir, ec))
        if (const std::string twice = find_repeated_output(names, inputs); !twice.empty())
            return refuse("output file " + twice);

    std::string earlier, earlierText;
    std::vector<std::string> leftovers;
    if (c.resume && fs::is_directory(dir, ec))
        if (const int status =
                find_earlier_trace(in("trace.csv"), setup, earlier, earlierText, leftovers))
            return status;
    if (!fs::is_directory(dir, ec) && !fs::create_directories(dir, ec))
        return fail("--out: could not make " + file_name_text(c.out) + ": " + ec.message());

    remove_partial_files_on_signal();
    RunRecord record = start_record(argc, argv);
    std::string error;
    OutputFile params, report, trace, plot, metadata;
    OutputFile* files[] = {&params, &report, &trace, &plot, &metadata};
    for (std::size_t i = 0; i < 5; ++i)
        if (!files[i]->create(names[i], error, c.resume && files[i] == &trace))
            return fail("--out: " + error);
    trace.write(trace_header(setup));
    trace.flush();

    double best = std::numeric_limits<double>::infinity();
    Evaluator evaluator(setup, [&](const Evaluation& e) {
        trace.write(trace_row(e));
        trace.flush();
        if (e.stage == Stage::Fit) best = std::min(best, e.objective);  // the others' are other data
        std::string values;
        for (std::size_t i = 0; i < e.values.size(); ++i)
            values += std::string(" ") + setup.varied[i].info->name + "=" + format_value(e.values[i]);
        std::fprintf(stderr, "calibrate: %s %zu: objective %.6g, best fit %.6g%s;%s\n",
                     stage_name(e.stage), e.number, e.objective, best,
                     e.earlier ? " (from the trace)" : "", values.c_str());
    });
    // The earlier trace's evaluations, now in the evaluator that writes the new one.
    if (!earlier.empty()) read_trace(earlierText, earlier, setup, evaluator);

    const FitResult result = fit(evaluator);
    const SimulatedShares bestShares = simulate_candidate(setup, result.best);
    const Uncertainty uncertainty = bootstrap_uncertainty(evaluator, result, bestShares);
    const std::string reportText =
        calibration_report(setup, result, uncertainty, evaluator, bestShares, c.observed);
    params.write(fit_parameter_file(setup, result, c.observed));
    report.write(reportText);

    std::string bestText, bestShort;
    for (std::size_t i = 0; i < result.best.size(); ++i) {
        char value[32];
        std::snprintf(value, sizeof value, "%.4g", result.best[i]);
        bestText += std::string(i ? ", " : "") + setup.varied[i].info->name + "=" +
                    format_value(result.best[i]);
        bestShort += std::string(i ? ", " : "") + setup.varied[i].info->name + "=" + value;
    }
    const std::string where =
        c.town.empty() ? std::string("the built-in town") : file_name_text(c.town);
    const std::string title = "Calibration to " + file_name_text(c.observed) + " on " + where +
                              ": " + bestShort + " (" + std::to_string(setup.replicates) +
                              " replicates)";
    std::string png;
    if (!draw_fit_plot(setup.observed, bestShares, title, minutesPerTick, png, error))
        return fail("fit.png: " + error);
    plot.write(png);

    record.recordedCommand = recorded_command(argc, argv);
    record.parameters = fitted_parameters(setup, result);
    record.extra = {{"calibration", bestText},
                    {"observed", c.observed},
                    {"observed_sha256", sha256_of_file(c.observed)},
                    {"method", method_name(setup.method)},
                    {"objective", format_value(result.objective)},
                    {"evaluations", std::to_string(evaluator.evaluations())},
                    {"replicates", std::to_string(setup.replicates)},
                    {"scenarios", std::to_string(setup.seedBase) + ".." +
                                      std::to_string(setup.seedBase + setup.replicates - 1)}};
    if (setup.base.town) {
        record.extra.emplace_back("town", setup.base.town->name);
        record.extra.emplace_back("town_sha256", sha256_of_text(format_town(*setup.base.town)));
    }
    record.outputs = {&params, &report, &trace, &plot};
    write_metadata(record, metadata);
    if (!commit_together({&params, &report, &trace, &plot, &metadata}, error)) return fail(error);
    for (const std::string& leftover : leftovers) std::remove(leftover.c_str());
    std::cout << reportText;
    if (!flush_standard_output(error)) return fail(error);
    return 0;
}

#endif
