// marovel-pictures: the pictures marovel-sim asks for, drawn in a process of
// their own so that marovel-sim itself loads neither Qt nor a GL library.
// marovel-sim starts it; it is not meant to be typed, but can be:
//
//   marovel-pictures plot --title TEXT --errors LEVELS [--png FILE] [--svg FILE] < curves.csv
//     draws the evacuation curves read from standard input (the column names
//     line, then the rows of a curves file; comment lines are skipped); after
//     a FILE, "--shown-as NAME" names it NAME in messages (marovel-sim gives
//     the temporary file to write, and the user's name for it);
//   marovel-pictures snapshot --ticks N --seed S [--startup] [--param NAME=VALUE]...
//                             [--town FILE] TICK:FILE.png...
//     builds the scenario (on the town in FILE, else the built-in one) and
//     saves the town at each TICK.
//
//   marovel-pictures sweep ... (any marovel-sim command)
//     marovel-sim itself, built with the pictures linked in: marovel-sim hands
//     over to it the sweeps whose pictures only that build draws.
//
// Messages go to standard error as marovel-sim's own; exit 0, 1 when a picture
// could not be made, 2 for bad input (nothing written).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cli/sweep_command.h"
#include "experiments/pictures/plot.h"
#include "experiments/pictures/snapshot.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/road_text.h"
#include "experiments/planning/town_file.h"
#include "experiments/records/numbers.h"
#include "experiments/records/output_file.h"
#include "experiments/records/summary.h"
#include "sim/town_text.h"
#include "experiments/records/sweep_files.h"

namespace {

// The curves of every run, grouped by run as the rows come, into a summary
// that keeps them for the plot.
// Writes `bytes` over the existing file `path` (a temporary file marovel-sim
// made, named `shown` to the user) and hands them to the disk: in place, so
// that a marovel-sim stopped meanwhile, which removes its temporary files,
// leaves none behind. Never a symbolic link, a FIFO or anything but a regular
// file. False with the system's reason.
bool write_in_place(const std::string& path, const std::string& shown, const std::string& bytes,
                    std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat st = {};
    bool ok = fd >= 0 && ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "could not write " + file_name_text(shown) + ": not a regular file";
        return false;
    }
    ok = ok && ::ftruncate(fd, 0) == 0;
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            ok = false;
            break;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    const int why = errno;
    if (fd >= 0) ::close(fd);
    if (!ok) error = "could not write " + file_name_text(shown) + ": " + std::strerror(why);
    return ok;
}

int plot(const std::vector<std::string>& args) {
    std::string title, errors;
    std::vector<PlotTarget> targets;
    std::vector<std::string> shown;  // how messages name each target
    bool handedOver = false;         // by marovel-sim, with its temporary files as the targets
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--title")
            title = args[i + 1];
        else if (args[i] == "--errors")
            errors = args[i + 1];
        else if (args[i] == "--png" || args[i] == "--svg") {
            targets.push_back(
                {args[i + 1], args[i] == "--png" ? PlotFormat::Png : PlotFormat::Svg});
            shown.push_back(args[i + 1]);
        } else if (args[i] == "--shown-as" && !targets.empty()) {
            shown.back() = args[i + 1];
            handedOver = true;
        } else
            return refuse("plot: unknown option " + args[i]);
    }
    std::vector<float> levels;
    if (const std::string why = parse_error_levels(errors, levels); !why.empty())
        return refuse("plot: --errors: " + why);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        struct stat st = {};
        if (::stat(targets[i].file.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return refuse("plot: " + file_name_text(shown[i]) + ": not a regular file");
    }
    std::string text, error;
    if (!read_sweep_stream(::dup(STDIN_FILENO), "standard input", text, error))
        return refuse("plot: " + error);
    SweepFileText file;
    if (!split_sweep_file(text, file)) return refuse("plot: no curve columns on standard input");

    struct Run {
        SweepRun run;
        RunResult result;
        std::vector<long long> ticks;
    };
    std::vector<Run> runs;
    std::string key;
    bool bad = false;
    for_each_line(file.rows, [&](std::string_view line) {
        long long tick = 0;
        VehicleTally tally{};
        if (!parse_curve_sample(file.columns, line, tick, tally)) {
            bad = true;
            return;
        }
        if (runs.empty() || row_key(line) != key) {
            key = std::string(row_key(line));
            Run r;
            const std::optional<float> level = row_error_spread(line);
            if (!level) {
                bad = true;
                return;
            }
            r.run.errorSpread = *level;
            runs.push_back(std::move(r));
        }
        runs.back().result.samples.push_back(tally);
        runs.back().ticks.push_back(tick);
    });
    if (bad) return refuse("plot: a curve row could not be read");
    if (runs.empty()) return refuse("plot: no curve rows on standard input");
    const std::vector<long long> ticks = runs.empty() ? std::vector<long long>{} : runs[0].ticks;
    SweepSummary summary(levels, ticks, true);
    for (const Run& r : runs) {
        if (r.ticks != ticks) return refuse("plot: the runs are not sampled at the same ticks");
        summary.add(r.run, r.result);
    }
    if (summary.runs() == 0 || summary.sample_ticks().empty())
        return refuse("plot: no curve rows of the levels in --errors on standard input");
    // Drawn into memory, then written with the system's reason for any
    // failure; the caller then replaces none of its outputs.
    std::vector<std::string> pictures(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) targets[i].bytes = &pictures[i];
    if (!write_plots(summary, title, targets, error)) return fail(error);
    // For marovel-sim (which names its own temporary files, and the user's names
    // for them with --shown-as): written into those files in place.
    if (handedOver) {
        for (std::size_t i = 0; i < targets.size(); ++i)
            if (!write_in_place(targets[i].file, shown[i], pictures[i], error))
                return fail(error + "; no output was replaced");
        return 0;
    }
    // Run by hand: replaced together, as marovel-sim replaces its outputs; a
    // refusal names the user's file.
    const auto named = [&](std::string e) {
        for (std::size_t i = 0; i < targets.size(); ++i)
            for (std::size_t at = e.find(targets[i].file); at != std::string::npos;
                 at = e.find(targets[i].file, at + shown[i].size()))
                e.replace(at, targets[i].file.size(), shown[i]);
        return e;
    };
    remove_partial_files_on_signal();
    std::vector<std::unique_ptr<OutputFile>> files;
    std::vector<OutputFile*> all;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        files.push_back(std::make_unique<OutputFile>());
        if (!files.back()->create(targets[i].file, error)) return refuse("plot: " + named(error));
        files.back()->write(pictures[i]);
        all.push_back(files.back().get());
    }
    if (!commit_together(all, error)) return fail(named(error) + "; no output was replaced");
    return 0;
}

int snapshot(const std::vector<std::string>& args) {
    ScenarioSetup scenario;
    long long ticks = 0;
    std::vector<std::string> texts;
    std::shared_ptr<const Town> town;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--startup") {
            scenario.startup = true;
        } else if (args[i] == "--seed" && hasValue) {
            std::int64_t seed = 0;
            if (const std::string why = parse_decimal(args[++i], INT32_MIN, INT32_MAX, seed);
                !why.empty())
                return refuse("--seed: " + why);
            scenario.seed = static_cast<std::int32_t>(seed);
        } else if (args[i] == "--ticks" && hasValue) {
            std::int64_t value = 0;
            if (const std::string why = parse_decimal(args[++i], 1, MAX_TICKS, value); !why.empty())
                return refuse("--ticks: " + why);
            ticks = value;
        } else if (args[i] == "--param" && hasValue) {
            if (const std::string why = apply_assignment(scenario.parameters, args[++i]);
                !why.empty())
                return refuse("--param: " + why);
        } else if (args[i] == "--town" && hasValue) {
            std::string why;
            town = load_town(args[++i], why);
            if (!town) return refuse("--town: " + why);
        } else if (args[i] == "--exit-capacity" && hasValue) {
            std::int64_t cap = 0;
            if (const std::string why = parse_decimal(args[++i], 1, MAX_EXIT_CAPACITY, cap);
                !why.empty())
                return refuse("--exit-capacity: " + why);
            scenario.roads.exitCapacity = static_cast<std::int32_t>(cap);
        } else if ((args[i] == "--close" || args[i] == "--reopen" || args[i] == "--contraflow") &&
                   hasValue) {
            const RoadAction action = args[i] == "--close"    ? RoadAction::Close
                                      : args[i] == "--reopen" ? RoadAction::Reopen
                                                              : RoadAction::Contraflow;
            RoadOperation op;
            if (const std::string why = parse_road_operation(action, args[++i], op); !why.empty())
                return refuse(args[i - 1] + ": " + why);
            scenario.roads.operations.push_back(op);
        } else if (args[i] == "--") {
            texts.insert(texts.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         args.end());
            break;
        } else if (args[i].starts_with("--")) {
            return refuse("snapshot: unknown option " + args[i]);
        } else {
            texts.push_back(args[i]);
        }
    }
    if (const ParameterCheck c = check_parameters(scenario.parameters); !c.ok())
        return refuse(c.text);
    if (const std::string why = check_road_plan(town ? *town : builtin_town(), scenario.roads);
        !why.empty())
        return refuse(why);
    std::vector<SnapshotRequest> requests;
    std::vector<std::string> names;
    for (const std::string& text : texts) {
        SnapshotRequest r;
        if (const std::string why = parse_snapshot(text, ticks, r); !why.empty())
            return refuse("--snapshot: " + why);
        names.push_back(r.file);
        requests.push_back(r);
    }
    if (const std::string twice = find_repeated_output(names); !twice.empty())
        return refuse("--snapshot: " + twice);
    remove_partial_files_on_signal();
    std::string error;
    std::vector<std::unique_ptr<OutputFile>> files;
    std::vector<std::string> temps;
    for (const SnapshotRequest& r : requests) {
        files.push_back(std::make_unique<OutputFile>());
        if (!files.back()->create(r.file, error)) return refuse("--snapshot: " + error);
        temps.push_back(files.back()->temp_path());
    }
    SnapshotRenderer renderer;
    if (!renderer.open(SNAPSHOT_W, SNAPSHOT_H, snapshot_picture_folders(), error))
        return fail("--snapshot: " + error);
    if (!write_snapshots(renderer, scenario, requests, temps, error, town)) {
        // Written to the temporary files; the message names the user's.
        for (std::size_t i = 0; i < temps.size(); ++i)
            for (std::size_t at = error.find(temps[i]); at != std::string::npos;
                 at = error.find(temps[i], at + requests[i].file.size()))
                error.replace(at, temps[i].size(), requests[i].file);
        return fail(error);
    }
    std::vector<OutputFile*> all;
    for (auto& f : files) all.push_back(f.get());
    if (!commit_together(all, error)) return fail(error);
    return 0;
}

}  // namespace

// marovel-sim as built with the pictures linked in (cli/sim_main.cpp).
int marovel_sim_main(int argc, char** argv);

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && args[0] == "plot") return plot({args.begin() + 1, args.end()});
        if (!args.empty() && args[0] == "snapshot") return snapshot({args.begin() + 1, args.end()});
    } catch (const std::exception& e) {
        return refuse(e.what());
    }
    // Anything else is a whole marovel-sim command that marovel-sim handed over.
    return marovel_sim_main(argc, argv);
}
