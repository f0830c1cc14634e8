// What the window program is started with: the scenario, the error level and
// other model parameters, where its pictures are, and whether there is a
// display to open the window on. Nothing here needs a display.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

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

// The folders the pictures are looked for in, in order: --data, then
// $MAROVEL_DATA, then "data" below the working folder, then "data" beside the
// executable (a build tree) and "../share/marovel" from it (an install moved
// elsewhere), then the folder the program was installed with. Empty entries
// are left out, and each folder comes once.
std::vector<std::string> picture_folders(const std::string& dataFolder, const char* environment,
                                         const std::string& executableFolder,
                                         const std::string& installedFolder);

// The folder of the running executable, or empty text.
std::string executable_folder();

// Why the window cannot be opened ("no display: DISPLAY is not set"), or
// empty text when a display answers (or a platform other than X11 was chosen).
std::string display_problem();
