// Merging the shards of a sweep: the files that `--shard I/N` runs wrote, each
// with its header, joined into the files one process would have written.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "experiments/planning/design.h"
#include "experiments/planning/sensitivity.h"
#include "experiments/records/summary.h"
#include "experiments/records/sweep_files.h"

// One file handed to the merge, read whole.
struct ShardFile {
    std::string path;
    std::string text;
    SweepFileText file;
    ShardTag tag;
    std::string kind;  // file_kind of its header
};

// Reads and splits a file; refuses (error text naming the file) one without
// the header of a sweep's file.
std::string read_shard_file(const std::string& path, ShardFile& shard);

// The number of runs a file's header says the whole sweep has ("# sweep: R runs ...").
bool sweep_run_count(const std::vector<std::string>& comments, std::size_t& runs);

// How many runs a file's rows hold: rows grouped by their run (seed,step,error).
std::size_t runs_in_rows(std::string_view rows);

// Checks that `shards` (files of one kind, in any order) are the N shards of
// one sweep, each once and whole, and joins them: the header without its shard
// line, then every shard's rows in shard order. Error text naming the file at
// fault, or empty.
std::string merge_shards(std::vector<ShardFile>& shards, std::string& merged);

// Checks that the files of every kind (each kind's shards as merge_shards
// sorted them) are the rows of the one sweep their headers describe: the
// headers agree across the kinds but for what the file holds; every run is in
// the sweep's order (each scenario under every level, or each point under
// every replicate) and in the shard that holds it; its rows are complete (one
// summary row, a curve row at each sample tick in order, a households row per
// car) and the same runs in every kind; the six counts of every summary and
// curve row add up to the town's cars. Error text naming the file and line,
// or empty.
std::string check_sweep_rows(const std::map<std::string, std::vector<ShardFile>>& byKind);

// The first comment line that differs between two headers, for a refusal.
std::string first_difference(const std::string& a, const std::string& b);

// The cars of a run on `town` (null: the built-in town): `carsPerHouse` per
// house that has no count of its own.
std::size_t town_cars(const Town* town, double carsPerHouse);

// The table of a design's runs from their summary rows (a design's columns:
// point, replicate, seed, step, error, the varied parameters, then the
// figures), its points grouped as the sweep groups them (group_points with
// `maxGroups`). With curve rows (the same runs in the same order), the table
// keeps every run's samples for the plot. A Saltelli or Morris design is
// rebuilt from the header's "# design:" and "# parameters:" lines, checked
// against the rows' points, and its sensitivity indices computed over all runs.
struct DesignFiles {
    const std::vector<std::string>* comments = nullptr;  // the summary's header lines
    std::string_view summaryColumns, summaryRows;
    std::string_view curveColumns, curveRows;  // empty: no curves
    // The figures of the indices.
    std::vector<OutputFigure> figures = default_output_figures();
};
struct DesignResults {
    std::optional<SweepSummary> table;
    std::optional<Design> sampled;  // the rebuilt design, when it has indices
    std::vector<SensitivityReport::Row> analysis;
    std::string noIndices;  // why a sampled design's indices could not be computed
};
// Error text or empty.
std::string design_results(const DesignFiles& files, std::size_t maxGroups, DesignResults& results);

// The table of any sweep's runs from its summary rows: a design's as
// design_results makes it; a plain sweep's by error level, the levels in the
// order the rows first give them, each run paired with the other levels' runs
// of its seed. Its horizon (where runs that never reach a time are censored)
// is the ticks of the comments' "# sweep:" line, else `ticks` (0: unknown).
// Error text or empty.
std::string summary_results(const DesignFiles& files, std::size_t maxGroups, long long ticks,
                            DesignResults& results);

// The ticks of every run, from the "# sweep: R runs of T ticks" line; 0 without one.
long long sweep_ticks(const std::vector<std::string>& comments);
