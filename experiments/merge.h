// Merging the shards of a sweep: the files that `--shard I/N` runs wrote, each
// with its header, joined into the files one process would have written.
#pragma once

#include <string>
#include <vector>

#include "experiments/sweep_files.h"

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
