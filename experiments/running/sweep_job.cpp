#include "experiments/running/sweep_job.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

#include "experiments/pictures/picture_program.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/planning/sensitivity.h"
#include "experiments/records/households.h"
#include "experiments/records/output_file.h"
#include "experiments/records/summary.h"
#include "experiments/records/sweep_files.h"
#include "experiments/records/text_output.h"
#include "experiments/running/merge.h"
#include "experiments/running/progress.h"
#include "experiments/running/resume.h"
#include "sim/town_text.h"

#ifndef MAROVEL_VERSION
#define MAROVEL_VERSION "unknown"
#endif

namespace {

constexpr const char* PROGRAM_TITLE = "Marovel " MAROVEL_VERSION;

std::string header_lines(const char* what, const std::string& command,
                         const ModelParameters& parameters) {
    // The error spread is each run's own, in its rows.
    ModelParameters recorded = parameters;
    recorded.errorSpread = ModelParameters{}.errorSpread;
    return std::string("# ") + PROGRAM_TITLE + " " + what + "\n# command: " + command + "\n" +
           changed_parameter_lines(recorded);
}

// What the whole sweep is: "R runs of T ticks, S scenarios x L error levels",
// and " x P plans" when it compares plans.
std::string sweep_description(std::size_t runs, long long ticks, std::size_t scenarios,
                              std::size_t levels, std::size_t plans) {
    char text[200];
    std::snprintf(text, sizeof text, "%zu runs of %lld ticks, %zu scenarios x %zu error levels",
                  runs, ticks, scenarios, levels);
    return plans > 0 ? text + std::string(" x ") + std::to_string(plans) + " plans" : text;
}

}  // namespace

JobStatus run_sweep_job(SweepJob& job, RunRecord& record, SweepPictures& pictures) {
    SweepPlan& plan = job.plan;
    const SweepOutputs& o = job.outputs;
    const bool designed = job.design != nullptr;
    static const Design noDesign;
    const Design& design = designed ? *job.design : noDesign;
    const std::vector<float>& levels = job.levels;
    const ModelParameters& parameters = job.parameters;
    const long long shardIndex = job.shardIndex;
    const long long shardCount = job.shardCount;
    const std::string shardText = std::to_string(shardIndex) + "/" + std::to_string(shardCount);
    const std::size_t shardRuns = plan.runs.size();
    const bool tableToStderr = o.curves == "-" || o.summary == "-" || o.households == "-" ||
                               o.designOut == "-" || o.sensitivity == "-" || o.metadata == "-" ||
                               o.table == "-" || o.paired == "-" ||
                               std::find(o.plots.begin(), o.plots.end(), "-") != o.plots.end() ||
                               std::find(o.sensitivityPlots.begin(), o.sensitivityPlots.end(),
                                         "-") != o.sensitivityPlots.end();

    remove_partial_files_on_signal();

    TextOutput curves;
    TextOutput summary;
    TextOutput households;
    OutputFile designOut;
    OutputFile indices;
    OutputFile tableOut;
    OutputFile pairedOut;
    // and the texts, at the end
    std::vector<OutputFile*> outputs = {&designOut, &indices, &tableOut, &pairedOut};
    std::string error;
    // A resumed sweep reads the partial files an earlier attempt left, so
    // they are kept until its outputs are in place.
    if (!curves.create(o.curves, error, o.resume)) return JobStatus{2, "--curves: " + error};
    if (!summary.create(o.summary, error, o.resume)) return JobStatus{2, "--summary: " + error};
    if (!households.create(o.households, error, o.resume))
        return JobStatus{2, "--households: " + error};
    if (!o.designOut.empty() && !designOut.create(o.designOut, error))
        return JobStatus{2, "--design-out: " + error};
    if (!o.sensitivity.empty() && !indices.create(o.sensitivity, error))
        return JobStatus{2, "--sensitivity: " + error};
    if (!o.table.empty() && !tableOut.create(o.table, error))
        return JobStatus{2, "--table: " + error};
    if (!o.paired.empty() && !pairedOut.create(o.paired, error))
        return JobStatus{2, "--paired: " + error};
    std::vector<std::unique_ptr<OutputFile>> plots;
    std::vector<std::string> plotTemps;
    for (const std::string& p : o.plots) {
        plots.push_back(std::make_unique<OutputFile>());
        if (!plots.back()->create(p, error)) return JobStatus{2, "--plot: " + error};
        plotTemps.push_back(plots.back()->temp_path());
        outputs.push_back(plots.back().get());
    }
    std::vector<std::unique_ptr<OutputFile>> bars;
    for (const std::string& p : o.sensitivityPlots) {
        bars.push_back(std::make_unique<OutputFile>());
        if (!bars.back()->create(p, error)) return JobStatus{2, "--sensitivity-plot: " + error};
        outputs.push_back(bars.back().get());
    }
    // The metadata is made with the others and put in place after them.
    OutputFile metadata;
    if (!o.metadata.empty() && !metadata.create(o.metadata, error))
        return JobStatus{2, "--metadata: " + error};

    const std::string& command = job.command;
    const std::string designLine =
        designed ? design_header_line(design, design.scenarios.empty() ? job.scenarioCount : 1)
                 : std::string();
    // The header: what the file holds and which sweep it belongs to; the same
    // in every shard but for the shard line.
    const std::string description =
        designed
            ? std::to_string(job.sweepRuns) + " runs of " + std::to_string(plan.ticks) +
                  " ticks, " + std::to_string(design.point_count()) + " points x " +
                  std::to_string(design.scenarios.empty() ? job.scenarioCount : 1) + " replicate(s)"
            : sweep_description(job.sweepRuns, plan.ticks, job.scenarioCount, levels.size(),
                                plan.variants.size());
    const std::string sweepLines = designLine + "# sweep: " + description + "\n" + build_line() +
                                   (plan.town ? town_line(*plan.town) : std::string()) +
                                   parameters_line(plan.parameters) + job.planLines +
                                   (shardCount > 1 ? shard_line(shardIndex, shardCount) : "");
    const std::string curvesHeader =
        header_lines("evacuation curves", command, parameters) + sweepLines + curve_columns(plan);
    const std::string summaryHeader =
        header_lines("run summary", command, parameters) + sweepLines + summary_columns(plan);
    const std::string householdsHeader =
        header_lines("households", command, parameters) + sweepLines +
        household_column_line(key_columns(plan), plan.householdColumns);
    if (!o.noHeader) {
        curves.write(curvesHeader);
        summary.write(summaryHeader);
        households.write(householdsHeader);
    }

    const bool keepCurves = !o.plots.empty();
    std::string plotInput = keepCurves ? curve_columns(plan) : "";
    const PointGroups groups = designed ? group_points(design, MAX_TABLE_GROUPS) : PointGroups{};
    // Plans compared: a group each, their runs paired on scenario and level.
    const bool plans = !plan.variants.empty();
    std::vector<std::string> planNames;
    for (const PlanVariant& v : plan.variants) planNames.push_back(v.name);
    SweepSummary table =
        designed ? SweepSummary(groups.title, groups.names, sample_ticks(plan), keepCurves)
        : plans  ? SweepSummary("plan", planNames, sample_ticks(plan), keepCurves)
                 : SweepSummary(levels, sample_ticks(plan), keepCurves);
    table.set_horizon(plan.ticks);
    // A design's runs pair across its groups on their scenario (summary.h).
    const std::vector<std::string> pairing =
        designed ? design_pairing(design, groups) : std::vector<std::string>{};
    const auto add_run = [&](const SweepRun& r, const RunResult& result) {
        if (designed)
            table.add_to(groups.groupOfPoint[r.point], result,
                         design_pair_key(pairing, r.point, r.scenario.seed));
        else if (plans)
            table.add_to(r.variant, result,
                         std::to_string(r.scenario.seed) + "," + spread_text(r.errorSpread));
        else
            table.add(r, result);
    };
    std::optional<SensitivityReport> report;
    if (designed && can_analyse(design)) report.emplace(design, job.figures);

    // Resuming: the runs complete in every output are kept, the rest run again.
    std::vector<std::string> leftovers;
    if (o.resume) {
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
        // The six counts of its summary and curve rows add up to them.
        std::vector<std::size_t> cars;
        for (const SweepRun& run : plan.runs)
            cars.push_back(town_cars(plan.town.get(), run_parameters(plan, run).carsPerHouse));
        const std::size_t runCount = plan.runs.size();
        std::vector<Earlier> earlier = {
            {&o.summary, &summaryHeader, std::vector<std::size_t>(runCount, 1), &summary, {}},
            {&o.curves,
             &curvesHeader,
             std::vector<std::size_t>(runCount, sample_ticks(plan).size()),
             &curves,
             {}},
            {&o.households, &householdsHeader, cars, &households, {}}};
        std::size_t kept = plan.runs.size();
        for (Earlier& e : earlier) {
            if (e.path->empty()) continue;
            if (const std::string why =
                    find_earlier_output(*e.path, *e.header, keys, e.rowsOfRun, e.found);
                !why.empty())
                return JobStatus{2, "--resume: " + why};
            kept = std::min(kept, e.found.runEnds.size());
            leftovers.insert(leftovers.end(), e.found.leftovers.begin(), e.found.leftovers.end());
        }
        // The kept rows' counts: rows edited since they were written are refused.
        for (std::size_t k = 0; k < 2; ++k) {
            const Earlier& e = earlier[k];
            if (e.path->empty()) continue;
            const std::string columns = k == 0 ? summary_columns(plan) : curve_columns(plan);
            std::size_t line =
                static_cast<std::size_t>(std::count(e.header->begin(), e.header->end(), '\n'));
            std::size_t row = 0;
            std::string bad;
            for_each_line(kept_text(e.found, kept), [&](std::string_view text) {
                ++line;
                const std::size_t run = row++ / e.rowsOfRun[0];
                if (!bad.empty()) return;
                VehicleTally t{};
                long long tick = 0;
                RunFigures figures;
                const bool read = k == 0 ? parse_summary_figures(columns, text, figures)
                                         : parse_curve_sample(columns, text, tick, t);
                if (k == 0) t = figures.final;
                const long long sum = static_cast<long long>(t.notEvacuated) + t.evacuated +
                                      t.gaveUp + t.enRoute + t.towed + t.outOfGas;
                if (!read)
                    bad =
                        e.found.source + ":" + std::to_string(line) + ": the row could not be read";
                else if (sum != static_cast<long long>(cars[run]))
                    bad = e.found.source + ":" + std::to_string(line) +
                          ": the six counts add up to " + std::to_string(sum) +
                          ", not the town's " + std::to_string(cars[run]) + " cars";
            });
            if (!bad.empty()) return JobStatus{2, "--resume: " + bad};
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
        if (!read) return JobStatus{2, "--resume: a row the earlier run left could not be read"};
        for (std::size_t i = 0; i < kept; ++i) {
            const SweepRun& r = plan.runs[i];
            add_run(r, results[i]);
            if (report) report->add(r, results[i].figures);
        }
        plan.runs.erase(plan.runs.begin(), plan.runs.begin() + static_cast<std::ptrdiff_t>(kept));
        if (kept > 0)
            std::fprintf(stderr, "marovel-sim: resuming after %zu of %zu runs\n", kept, shardRuns);
    }
    {
        ProgressBar progress(plan.runs.size());
        std::size_t done = 0;
        run_sweep(plan, job.threads, [&](FinishedRun& run) {
            curves.write(run.curveRows);
            summary.write(run.summaryRow);
            households.write(run.householdRows);
            for (TextOutput* f : {&curves, &summary, &households}) f->flush();
            if (keepCurves) plotInput += run.curveRows;
            const SweepRun& r = plan.runs[run.index];
            add_run(r, run.result);
            if (report) report->add(r, run.result.figures);
            progress.update(++done);
        });
    }
    std::vector<SensitivityReport::Row> analysis;
    if (report && shardCount == 1) analysis = report->analyse();
    if (designed) designOut.write(design_csv(design));
    indices.write(header_lines("sensitivity indices", command, parameters) + designLine +
                  job.planLines + "# " +
                  estimator_note(design) + "\n" + sensitivity_csv(design, analysis));
    const std::vector<PairedDifference> paired = table.paired_differences();
    tableOut.write(header_lines("sweep table", command, parameters) + sweepLines + "# " +
                   table.estimator_note() + "\n" + table.table_csv());
    pairedOut.write(header_lines("paired differences", command, parameters) + sweepLines + "# " +
                    table.paired_note() + "\n" + table.paired_csv(paired));

    char title[256];
    if (designed)
        std::snprintf(title, sizeof title,
                      "%s sweep: %zu runs of %lld ticks, %zu points x %zu replicate(s)%s",
                      PROGRAM_TITLE, shardRuns, plan.ticks, design.point_count(),
                      design.scenarios.empty() ? job.scenarioCount : 1,
                      shardCount > 1 ? (", shard " + shardText).c_str() : "");
    else
        std::snprintf(title, sizeof title,
                      "%s sweep: %zu runs of %lld ticks, %zu scenarios x %zu error levels%s%s",
                      PROGRAM_TITLE, shardRuns, plan.ticks, job.scenarioCount, levels.size(),
                      plans ? (" x " + std::to_string(plan.variants.size()) + " plans").c_str()
                            : "",
                      shardCount > 1 ? (", shard " + shardText).c_str() : "");

    // A design's pictures are drawn into memory and written through the
    // output files, so that a full disk is found and reported like any
    // other output's; a plain sweep's curves are drawn by the picture
    // program straight into the plots' temporary files.
    std::vector<std::string> plotBytes;
    std::vector<std::string> barBytes;
    if (!plots.empty() && (designed || plans)) {
        if (!pictures.draw_design_plots(table, title, o.plots, plotBytes, error))
            return JobStatus{1, error + "; no output was replaced"};
    } else if (!plots.empty()) {
        if (const int status = draw_plot(title, job.errors, plotInput, plotTemps, o.plots, error);
            status != 0)
            return error.empty() ? JobStatus{status, ""} : JobStatus{1, "--plot: " + error};
    }
    if (!bars.empty() &&
        !pictures.draw_index_charts(design, analysis, std::string(title) + ": sensitivity",
                                    o.sensitivityPlots, barBytes, error))
        return JobStatus{1, error + "; no output was replaced"};
    for (std::size_t i = 0; i < plotBytes.size(); ++i) plots[i]->write(plotBytes[i]);
    for (std::size_t i = 0; i < barBytes.size(); ++i) bars[i]->write(barBytes[i]);
    // Every output complete on the disk first, then all renamed together, the
    // metadata, which hashes them, last.
    for (TextOutput* f : {&curves, &summary, &households}) {
        if (!f->finish_text(error)) return JobStatus{1, error};
        if (OutputFile* file = f->file()) outputs.push_back(file);
    }
    if (!o.metadata.empty()) {
        record.recordedCommand = command;
        record.parameters = plan.parameters;
        record.extra = {{"sweep", description}, {"shard", shardText}};
        if (plan.town) {
            record.extra.emplace_back("town", plan.town->name);
            record.extra.emplace_back("town_sha256", sha256_of_text(format_town(*plan.town)));
        }
        record.extra.insert(record.extra.end(), job.planRecords.begin(), job.planRecords.end());
        for (OutputFile* file : {curves.file(), summary.file(), households.file(), &designOut,
                                 &indices, &tableOut, &pairedOut})
            if (file != nullptr && !file->path().empty()) record.outputs.push_back(file);
        for (auto& p : plots) record.outputs.push_back(p.get());
        for (auto& p : bars) record.outputs.push_back(p.get());
        write_metadata(record, metadata);
        outputs.push_back(&metadata);
    }
    if (!commit_together(outputs, error)) return JobStatus{1, error};
    for (const std::string& leftover : leftovers) std::remove(leftover.c_str());

    std::ostream& out = tableToStderr ? std::cerr : std::cout;
    out << title << '\n';
    table.write_table(out);
    table.write_paired_table(out, paired);
    if (plans)
        table.write_paired_sentences(out, paired, plan.town ? plan.town->minutesPerTick : 0.0);
    if (!analysis.empty()) {
        out << "\nSensitivity (" << estimator_note(design) << ")\n";
        write_sensitivity_table(out, design, analysis);
    }
    if (!flush_standard_output(error)) return JobStatus{1, error};
    return {};
}
