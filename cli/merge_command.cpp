#include "cli/merge_command.h"

#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "cli/sweep_command.h"
#include "experiments/merge.h"
#include "experiments/output_file.h"
#include "experiments/picture_program.h"
#include "experiments/provenance.h"
#include "experiments/summary.h"
#include "experiments/text_output.h"

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "marovel-sim: %s\n", message.c_str());
    return 1;
}

}  // namespace

void add_merge_command(CLI::App& app, MergeCommand& c, bool withOptions) {
    CLI::App* merge = app.add_subcommand(
        "merge",
        "Joins the files the shards of one sweep wrote (sweep --shard I/N, with their headers) "
        "into the whole sweep's files, and prints the whole sweep's table.");
    c.app = merge;
    if (!withOptions) return;
    merge->add_option("files", c.inputs, "The shards' files, of any kinds, in any order")
        ->required();
    merge->add_option("--curves", c.curves, "Write the whole sweep's curves here");
    merge->add_option("--summary", c.summary, "Write the whole sweep's summary here");
    merge->add_option("--households", c.households, "Write the whole sweep's per-car rows here");
    merge->add_option("--plot", c.plots, "Draw the whole sweep's curves into this .png or .svg");
    merge->add_option("--metadata", c.metadata,
                      "Write provenance and the SHA-256 of every output as JSON");
    merge->footer(
        "Each file's header says what it holds (curves, summary, households) and which\n"
        "shard of which sweep it is; the shards of one kind must be the N shards of one\n"
        "sweep, each once and whole. The merged files are byte for byte those one process\n"
        "would have written; the table comes from the summaries, the plot from the curves.\n"
        "Example:\n"
        "  marovel-sim merge part-*.csv --curves curves.csv --summary summary.csv");
}

int run_merge_command(const MergeCommand& c, int argc, char** argv) {
    RunRecord record = start_record(argc, argv);
    std::map<std::string, std::vector<ShardFile>> byKind;
    for (const std::string& path : c.inputs) {
        ShardFile shard;
        if (const std::string why = read_shard_file(path, shard); !why.empty())
            return refuse("merge: " + why);
        byKind[shard.kind].push_back(std::move(shard));
    }
    std::map<std::string, std::string> merged;
    for (auto& [kind, shards] : byKind)
        if (const std::string why = merge_shards(shards, merged[kind]); !why.empty())
            return refuse("merge: " + why);

    const std::map<std::string, const std::string*> wanted = {{"evacuation curves", &c.curves},
                                                              {"run summary", &c.summary},
                                                              {"households", &c.households}};
    std::set<std::string> paths;
    for (const auto& [kind, path] : wanted) {
        if (path->empty()) continue;
        if (merged.count(kind) == 0)
            return refuse("merge: no " + kind + " files given for " + *path);
        if (!paths.insert(*path).second) return refuse("output file " + *path + " given twice");
    }
    for (const std::string& p : c.plots) {
        if (plot_format_flag(p).empty())
            return refuse("--plot: " + p + " does not end in .png or .svg");
        if (!paths.insert(p).second) return refuse("output file " + p + " given twice");
        if (merged.count("evacuation curves") == 0)
            return refuse("--plot: no evacuation curves files given to draw");
    }
    if (!c.metadata.empty() && !paths.insert(c.metadata).second)
        return refuse("output file " + c.metadata + " given twice");

    remove_partial_files_on_signal();
    std::string error;
    std::vector<std::unique_ptr<TextOutput>> outputs;
    for (const auto& [kind, path] : wanted) {
        if (path->empty()) continue;
        outputs.push_back(std::make_unique<TextOutput>());
        if (!outputs.back()->create(*path, error)) return refuse("merge: " + error);
        outputs.back()->write(merged[kind]);
    }
    std::vector<std::unique_ptr<OutputFile>> plots;
    std::vector<std::string> plotTemps;
    for (const std::string& p : c.plots) {
        plots.push_back(std::make_unique<OutputFile>());
        if (!plots.back()->create(p, error)) return refuse("--plot: " + error);
        plotTemps.push_back(plots.back()->temp_path());
    }

    // The sweep as its header describes it, and its error levels in the order
    // the runs come (the sweep's own order: each scenario under every level).
    const ShardFile& any = byKind.begin()->second.front();
    std::string description, command;
    for (const std::string& line : any.file.comments) {
        if (line.starts_with("# sweep: ")) description = line.substr(9);
        if (line.starts_with("# command: ")) command = line.substr(11);
    }
    std::string errors;
    std::vector<float> levels;
    for (const auto& [kind, shards] : byKind) {
        SweepFileText file;
        split_sweep_file(merged[kind], file);
        for_each_line(file.rows, [&](std::string_view line) {
            const std::optional<float> level = row_error_spread(line);
            if (level && std::find(levels.begin(), levels.end(), *level) == levels.end()) {
                levels.push_back(*level);
                errors += (errors.empty() ? "" : ",") + std::string(field_at(line, 2));
            }
        });
        break;
    }
    const std::string program = "Marovel " + build_info().version;
    const std::string heading = program + " sweep: " + description;

    if (!plots.empty()) {
        SweepFileText file;
        split_sweep_file(merged["evacuation curves"], file);
        const std::string curves = file.columns + "\n" + std::string(file.rows);
        if (const int status = draw_plot(heading, errors, curves, plotTemps, c.plots, error);
            status != 0)
            return error.empty() ? status : fail("--plot: " + error);
        for (auto& p : plots)
            if (!p->commit(error)) return fail(error);
    }
    for (auto& out : outputs)
        if (!out->commit(error)) return fail(error);

    if (!c.metadata.empty()) {
        record.recordedCommand = command;
        record.extra = {{"sweep", description},
                        {"merged_from", std::to_string(c.inputs.size()) + " files"}};
        for (const auto& [kind, path] : wanted)
            if (!path->empty()) record.outputs.push_back(*path);
        for (const std::string& p : c.plots) record.outputs.push_back(p);
        if (!write_metadata(record, c.metadata, error)) return fail("--metadata: " + error);
    }

    // The table over every run, from the summaries.
    if (merged.count("run summary") > 0) {
        SweepFileText file;
        split_sweep_file(merged["run summary"], file);
        if (file.columns.starts_with("point,")) {
            // A design's table groups its points as the sweep chose; merge keeps to the files.
            std::cout << heading << "\n(a design's table: run the sweep in one process)\n";
            return std::cout.flush() ? 0 : 1;
        }
        SweepSummary table(levels, {}, false);
        bool bad = false;
        for_each_line(file.rows, [&](std::string_view line) {
            SweepRun run;
            RunResult result;
            const std::optional<float> level = row_error_spread(line);
            if (!level || !parse_summary_figures(file.columns, line, result.figures)) {
                bad = true;
                return;
            }
            run.errorSpread = *level;
            table.add(run, result);
        });
        if (bad) return fail("merge: a summary row could not be read");
        std::cout << heading << '\n';
        table.write_table(std::cout);
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
