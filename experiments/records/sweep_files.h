// The files a sweep writes, read back: their header lines, the runs their rows
// belong to and the figures of a summary row. Merging shards, resuming an
// interrupted sweep and drawing the curves in another process all read them.
//
// A file's header is the comment lines ("# ...") and then the column names.
// The comment lines say what the file holds and which sweep it belongs to;
// a shard's file has one more, "# shard I/N", that the whole sweep's lacks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "experiments/planning/run_plan.h"
#include "experiments/records/rows.h"
#include "experiments/records/run_figures.h"

// A file's text split into its header and its rows.
struct SweepFileText {
    std::vector<std::string> comments;  // the "# ..." lines, without their newline
    std::string columns;                // the column names line, without its newline
    std::string_view rows;              // every complete line after the header
    std::size_t headerBytes = 0;        // where the rows start
};

// Splits `text`; a last line without its newline is left out of the rows. False
// when there is no column names line after the comments.
bool split_sweep_file(std::string_view text, SweepFileText& file);

// What a file holds, from its first comment line: "evacuation curves", "run
// summary", "households"; empty when the line is not one of ours.
std::string file_kind(const std::vector<std::string>& comments);

// The "# shard I/N" line's numbers, if the header has one.
struct ShardTag {
    long long index = 1;
    long long count = 1;
};
std::optional<ShardTag> shard_tag(const std::vector<std::string>& comments);
std::string shard_line(long long index, long long count);  // "# shard I/N\n"

// The header without the shard line, as the whole sweep's file starts.
std::string header_without_shard(const SweepFileText& file);

// The text of field `index` (0-based) of a CSV row without quoting.
std::string_view field_at(std::string_view line, int index);

// The run a row belongs to: its first three fields, "seed,step,error".
std::string_view row_key(std::string_view line);
// The same key as the sweep writes it for a run.
std::string run_key(const SweepRun& run);

// The error spread of a row's run, from its third field as the sweep writes it
// ("low", "moderate", "high" or a number); nothing when it is neither.
std::optional<float> row_error_spread(std::string_view line);

// Columns found by name in a column names line; -1 when absent.
int column_index(std::string_view columns, std::string_view name);

// The figures of one summary row, read through the columns' names.
bool parse_summary_figures(std::string_view columns, std::string_view line, RunFigures& figures);

// The six counts of a curve row and its tick.
bool parse_curve_sample(std::string_view columns, std::string_view line, long long& tick,
                        VehicleTally& tally);

// Calls `f(line)` for every line of `rows` (each without its newline).
template <class F>
void for_each_line(std::string_view rows, F f) {
    while (!rows.empty()) {
        const std::size_t nl = rows.find('\n');
        const std::string_view line = rows.substr(0, nl);
        f(line);
        if (nl == std::string_view::npos) break;
        rows.remove_prefix(nl + 1);
    }
}

// The longest sweep file, and line of one, that is read: a row is a few
// hundred bytes, the header's command line at most what the system passes to
// a program (2 MiB), and a file at most what a sweep may hold in memory.
constexpr std::size_t MAX_SWEEP_LINE_BYTES = std::size_t(4) << 20;
constexpr std::size_t MAX_SWEEP_FILE_BYTES = std::size_t(4) << 30;

// Reads a whole regular file (gzip-compressed or not), of at most
// MAX_SWEEP_FILE_BYTES with no line longer than MAX_SWEEP_LINE_BYTES; false
// with the reason, naming the file, in `error`. A FIFO, a device or a folder
// is refused without waiting for it.
bool read_whole_file(const std::string& path, std::string& text, std::string& error);
// The same from an open descriptor (standard input), which it closes; `name`
// is how messages call it.
bool read_sweep_stream(int fd, const std::string& name, std::string& text, std::string& error);
