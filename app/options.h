// What the window program is started with: the scenario, the error level and
// other model parameters, where its pictures are, and whether there is a
// display to open the window on. Nothing here needs a display.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// The folders the pictures are looked for in: picture_folders and
// executable_folder, shared with marovel-sim's snapshots and movies.
#include "experiments/pictures/install_folders.h"
#include "sim/parameters.h"
#include "sim/town.h"

struct StartOptions {
    std::int32_t seed = 1;             // the scenario's seed; scenario K is 1 + 1000 K
    ModelParameters parameters;        // checked; the error level among them
    std::string dataFolder;            // --data; empty when not given
    std::shared_ptr<const Town> town;  // --town, read and checked; null: the built-in town
};

// Reads the command line. Returns -1 to go on with `options` filled; 0 after
// --help or --version were written to `out`; 2 after a one-line refusal
// naming what is wrong was written to `err`.
int parse_start_options(int argc, const char* const* argv, StartOptions& options, std::ostream& out,
                        std::ostream& err);

// Why the window cannot be opened ("no display: DISPLAY is not set"), or
// empty text when a display answers (or a platform other than X11 was chosen).
std::string display_problem();
