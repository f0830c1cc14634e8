// marovel-sim merge: the shard files of one sweep joined into the whole
// sweep's files, with its table and plot (experiments/running/merge.h).
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

struct MergeCommand {
    CLI::App* app = nullptr;
    std::vector<std::string> inputs;
    std::string curves;
    std::string summary;
    std::string households;
    std::vector<std::string> plots;
    std::string sensitivity;
    std::string sensitivityFigures;  // empty: the default five
    std::string metadata;
    std::string table;   // the printed table's estimates (CSV)
    std::string paired;  // its paired differences (CSV)
};

// Adds the "merge" subcommand to `app`, with its options unless `withOptions` is false.
void add_merge_command(CLI::App& app, MergeCommand& command, bool withOptions = true);

// Exit status: 0; 2 when the files are not the shards of one sweep (nothing
// written); 1 when an output could not be completed.
int run_merge_command(const MergeCommand& command, int argc, char** argv);
