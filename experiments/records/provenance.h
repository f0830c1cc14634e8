// Where a result came from: the build that made it and the run that made it.
//
// What is the same for every run of a sweep's command on a build (the version,
// the source's commit, the compiler, the build type, every parameter) goes
// into each file's header, so that shards, merged files and resumed files are
// byte for byte the files of one uninterrupted run. What differs from run to
// run (the start time, the host, the command line with its output options)
// goes only into the --metadata JSON, with the SHA-256 of every output file.
#pragma once

#include <string>
#include <vector>

#include "experiments/records/output_file.h"
#include "sim/parameters.h"
#include "sim/town.h"

struct BuildInfo {
    std::string version;    // "1.0.0"
    std::string commit;     // the source's git commit ("-dirty" when changed), or empty
    std::string compiler;   // "GCC 12.2.0"
    std::string buildType;  // "Release"
};
BuildInfo build_info();

// "# build: Marovel 1.0.0, commit <hash>, GCC 12.2.0, Release\n".
std::string build_line();
// "# town: NAME, W x H cells, sha256 HEX" for a town other than the built-in
// one; the digest is of the town as format_town writes it, so the same town
// has the same line however its file was laid out.
std::string town_line(const Town& town);

// "# parameters: name=value ..." with every parameter but the error spread,
// which each run sets from its error level.
std::string parameters_line(const ModelParameters& p);

// The SHA-256 of a file's bytes in lower-case hex; empty when it cannot be read.
std::string sha256_of_file(const std::string& path);
std::string sha256_of_text(const std::string& text);

// The --metadata record of one command.
struct RunRecord {
    std::vector<std::string> arguments;  // the whole command line, as given
    std::string startTime;               // UTC, ISO 8601 to the second
    std::string host;
    std::string recordedCommand;  // as the headers record it
    ModelParameters parameters;
    std::vector<std::pair<std::string, std::string>> extra;  // more name, value pairs
    std::vector<OutputFile*> outputs;  // files written, hashed before they are put in place
};
// Fills the arguments, the start time and the host.
RunRecord start_record(int argc, char** argv);
std::string utc_now();

// Writes the record as JSON into `metadata`, made with the other outputs
// before any work, and committed together with them, after them. Each output's
// size and SHA-256 are those of its complete temporary file, the bytes the
// commit puts in place; every output is flushed first.
void write_metadata(const RunRecord& record, OutputFile& metadata);
