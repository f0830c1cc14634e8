#include "cli/merge_command.h"

#include <iostream>
#include <map>
#include <memory>
#include <optional>

#include "cli/sweep_command.h"
#include "experiments/pictures/picture_program.h"
#include "experiments/records/output_file.h"
#include "experiments/records/provenance.h"
#include "experiments/records/summary.h"
#include "experiments/records/text_output.h"
#include "experiments/running/merge.h"
#if MAROVEL_WITH_PICTURES
#include "experiments/pictures/design_pictures.h"
#endif

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
    merge->add_option("--sensitivity", c.sensitivity,
                      "Write a Saltelli or Morris design's sensitivity indices (CSV) here");
    merge->add_option("--table", c.table, "Write the whole sweep's table (CSV) here");
    merge->add_option("--paired", c.paired,
                      "Write the whole sweep's paired differences against its first level (CSV) "
                      "here");
    merge->add_option("--sensitivity-figures", c.sensitivityFigures,
                      "The figures of the summary the indices are computed for, e.g. tick_90 "
                      "(default tick_50,settled_tick,evacuated_share,gave_up,towed)");
    merge->add_option("--metadata", c.metadata,
                      "Write provenance and the SHA-256 of every output as JSON");
    merge->footer(
        "Each file's header says what it holds (curves, summary, households) and which\n"
        "shard of which sweep it is; the shards of one kind must be the N shards of one\n"
        "sweep, each once and whole. The merged files are byte for byte those one process\n"
        "would have written; the table and the paired differences come from the summaries\n"
        "(--table and --paired need them), the plot from the curves.\n"
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
    if (const std::string why = check_sweep_rows(byKind); !why.empty())
        return refuse("merge: " + why);

    const std::map<std::string, const std::string*> wanted = {{"evacuation curves", &c.curves},
                                                              {"run summary", &c.summary},
                                                              {"households", &c.households}};
    std::vector<std::string> names;
    for (const auto& [kind, path] : wanted) {
        if (path->empty()) continue;
        if (merged.count(kind) == 0)
            return refuse("merge: no " + kind + " files given for " + *path);
        names.push_back(*path);
    }
    for (const std::string& p : c.plots) {
        if (plot_format_flag(p).empty())
            return refuse("--plot: " + p + " does not end in .png or .svg");
        if (merged.count("evacuation curves") == 0)
            return refuse("--plot: no evacuation curves files given to draw");
        names.push_back(p);
    }
    for (const std::string* p : {&c.sensitivity, &c.metadata, &c.table, &c.paired})
        if (!p->empty()) names.push_back(*p);
    if (merged.count("run summary") == 0)
        for (const auto& [option, path] : {std::pair{"--table", &c.table}, {"--paired", &c.paired}})
            if (!path->empty())
                return refuse(std::string(option) + ": no run summary files given to make it from");
    if (const std::string twice = find_repeated_output(names, c.inputs); !twice.empty())
        return refuse("output file " + twice);

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

    // The table over every run, from the summaries, read before anything is
    // written: rows that cannot be read refuse the merge. A design's table
    // groups its points as the sweep does, and its plot is drawn from it.
    const auto columns_of = [&](const char* kind) {
        SweepFileText file;
        if (merged.count(kind) > 0) split_sweep_file(merged[kind], file);
        return file;
    };
    const SweepFileText summaryFile = columns_of("run summary");
    const SweepFileText curvesFile = columns_of("evacuation curves");
    const bool design =
        summaryFile.columns.starts_with("point,") || curvesFile.columns.starts_with("point,");
    if (design && !c.plots.empty() && merged.count("run summary") == 0)
        return refuse(
            "--plot: a design's plot is drawn from its table: give its summary files too");
#if !MAROVEL_WITH_PICTURES
    if (design && !c.plots.empty()) {
        std::string why;
        return run_picture_build(argc, argv, why) == 0 ? 0 : refuse(why);
    }
#endif
    // A plain sweep's plot is drawn by levels from the curves; one that compared
    // plans is drawn from its table, which only the sweep holds.
    if ((summaryFile.columns.starts_with("plan,") || curvesFile.columns.starts_with("plan,")) &&
        !c.plots.empty())
        return refuse("--plot: the curves of plans compared are drawn by the sweep's own --plot");
    DesignResults results;
    std::optional<SweepSummary>& table = results.table;
    if (merged.count("run summary") > 0) {
        const bool plotted = design && !c.plots.empty();
        DesignFiles files{&summaryFile.comments, summaryFile.columns, summaryFile.rows,
                          plotted ? curvesFile.columns : std::string_view(),
                          plotted ? curvesFile.rows : std::string_view()};
        if (c.app->count("--sensitivity-figures") > 0)
            if (const std::string why = parse_output_figures(c.sensitivityFigures, files.figures);
                !why.empty())
                return refuse("--sensitivity-figures: " + why);
        if (const std::string why = summary_results(files, MAX_TABLE_GROUPS, 0, results);
            !why.empty())
            return refuse("merge: " + why);
        if (!results.noIndices.empty())
            std::fprintf(stderr, "marovel-sim: merge: no sensitivity indices: %s\n",
                         results.noIndices.c_str());
    }
    const std::vector<PairedDifference> paired =
        table ? table->paired_differences() : std::vector<PairedDifference>{};
    if ((!c.sensitivity.empty() || c.app->count("--sensitivity-figures") > 0) && !results.sampled) {
        if (!results.noIndices.empty()) return refuse("--sensitivity: " + results.noIndices);
        return refuse(
            "--sensitivity: needs the run summary files of a design from --sample "
            "saltelli:N or morris:R");
    }

    // Every output made now, written in full, then all put in place together,
    // the metadata, which hashes them, last.
    remove_partial_files_on_signal();
    std::string error;
    std::vector<std::unique_ptr<TextOutput>> outputs;
    for (const auto& [kind, path] : wanted) {
        if (path->empty()) continue;
        outputs.push_back(std::make_unique<TextOutput>());
        if (!outputs.back()->create(*path, error)) return refuse("merge: " + error);
        outputs.back()->write(merged[kind]);
    }
    // The table's files as the sweep in one process writes them: the
    // summary's header lines, naming what the file holds, then a line on how
    // it was made and the rows.
    const auto header_of = [&](const std::string& what) {
        std::string text;
        for (const std::string& line : summaryFile.comments) {
            const std::string kind = "run summary";
            text += line.ends_with(kind) && text.empty()
                        ? line.substr(0, line.size() - kind.size()) + what + '\n'
                        : line + '\n';
        }
        return text;
    };
    for (const auto& [option, path] : {std::pair{"--table", &c.table}, {"--paired", &c.paired}}) {
        if (path->empty()) continue;
        const bool estimates = path == &c.table;
        outputs.push_back(std::make_unique<TextOutput>());
        if (!outputs.back()->create(*path, error)) return refuse(option + (": " + error));
        outputs.back()->write(estimates
                                  ? header_of("sweep table") + "# " + table->estimator_note() +
                                        "\n" + table->table_csv()
                                  : header_of("paired differences") + "# " + table->paired_note() +
                                        "\n" + table->paired_csv(paired));
    }
    // The indices' file as the sweep in one process writes it: the summary's
    // header lines down to the design's, then the estimators and the indices.
    if (!c.sensitivity.empty()) {
        std::string text;
        for (const std::string& line : summaryFile.comments) {
            const std::string kind = "run summary";
            text += line.ends_with(kind) && text.empty()
                        ? line.substr(0, line.size() - kind.size()) + "sensitivity indices\n"
                        : line + '\n';
            if (line.starts_with("# design: ")) break;
        }
        text += "# " + estimator_note(*results.sampled) + "\n" +
                sensitivity_csv(*results.sampled, results.analysis);
        outputs.push_back(std::make_unique<TextOutput>());
        if (!outputs.back()->create(c.sensitivity, error)) return refuse("--sensitivity: " + error);
        outputs.back()->write(text);
    }
    std::vector<std::unique_ptr<OutputFile>> plots;
    std::vector<std::string> plotTemps;
    for (const std::string& p : c.plots) {
        plots.push_back(std::make_unique<OutputFile>());
        if (!plots.back()->create(p, error)) return refuse("--plot: " + error);
        plotTemps.push_back(plots.back()->temp_path());
    }
    OutputFile metadata;
    if (!c.metadata.empty() && !metadata.create(c.metadata, error))
        return refuse("--metadata: " + error);

#if MAROVEL_WITH_PICTURES
    if (design && !plots.empty()) {
        std::vector<std::string> pictures(plots.size());
        std::vector<PlotTarget> targets;
        for (std::size_t i = 0; i < plots.size(); ++i)
            targets.push_back({plots[i]->path(), *plot_format_of(c.plots[i]), &pictures[i]});
        if (!write_design_plots(*table, heading, targets, error)) return fail("--plot: " + error);
        for (std::size_t i = 0; i < plots.size(); ++i) plots[i]->write(pictures[i]);
    }
#endif
    if (!design && !plots.empty()) {
        const std::string curves = curvesFile.columns + "\n" + std::string(curvesFile.rows);
        if (const int status = draw_plot(heading, errors, curves, plotTemps, c.plots, error);
            status != 0)
            return error.empty() ? status : fail("--plot: " + error);
    }

    std::vector<OutputFile*> files;
    for (auto& p : plots) files.push_back(p.get());
    for (auto& out : outputs) {
        if (!out->finish_text(error)) return fail(error);
        files.push_back(out->file());
    }
    if (!c.metadata.empty()) {
        record.recordedCommand = command;
        record.extra = {{"sweep", description},
                        {"merged_from", std::to_string(c.inputs.size()) + " files"}};
        // In the order the names were given: the merged files, the plots, the indices.
        for (std::size_t i = 0; i + (c.sensitivity.empty() ? 0 : 1) < outputs.size(); ++i)
            record.outputs.push_back(outputs[i]->file());
        for (auto& p : plots) record.outputs.push_back(p.get());
        if (!c.sensitivity.empty()) record.outputs.push_back(outputs.back()->file());
        write_metadata(record, metadata);
        files.push_back(&metadata);
    }
    if (!commit_together(files, error)) return fail(error);

    if (table) {
        std::cout << heading << '\n';
        table->write_table(std::cout);
        table->write_paired_table(std::cout, paired);
        // The files do not keep the town's tick length: the clearance in ticks.
        if (table->group_title() == "plan") table->write_paired_sentences(std::cout, paired, 0.0);
    }
    if (!results.analysis.empty()) {
        std::cout << "\nSensitivity (" << estimator_note(*results.sampled) << ")\n";
        write_sensitivity_table(std::cout, *results.sampled, results.analysis);
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
