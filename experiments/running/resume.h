// Resuming an interrupted sweep. A sweep writes each file under a temporary
// name and renames it when complete; a sweep that was killed leaves that
// partial file behind (OutputFile's stale temporary files). `--resume` looks for the final file
// and the partial ones, keeps the runs that are complete in them (their header
// must be the one this sweep writes and their rows its runs in its order),
// and runs only the rest.
#pragma once

#include <string>
#include <vector>

#include "experiments/running/sweep.h"

// What an earlier attempt left of one output file.
struct EarlierOutput {
    std::string source;                  // the file it was read from; empty when none
    std::string text;                    // its text
    std::size_t headerBytes = 0;         // where the rows start
    std::vector<std::size_t> runEnds;    // byte offsets where each complete run ends
    std::vector<std::string> leftovers;  // partial files of this output, removed once done
};

// Looks for `path` and its partial files (call it before the new output is
// created, or create that with keepStale). `header` is what this sweep writes
// first, `keys` the runs' keys (the first three fields of their rows) in order,
// `rowsOfRun` how many rows each run has. Of the candidates whose header matches, the one with the
// most complete runs is taken. Error text (naming the file) when a candidate with this header holds
// rows that are not this sweep's runs in order.
std::string find_earlier_output(const std::string& path, const std::string& header,
                                const std::vector<std::string>& keys,
                                const std::vector<std::size_t>& rowsOfRun, EarlierOutput& earlier);

// The rows of the first `runs` runs of an earlier output (without its header).
std::string kept_text(const EarlierOutput& earlier, std::size_t runs);
