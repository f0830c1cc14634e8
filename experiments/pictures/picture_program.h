// Pictures are drawn by a program of their own, marovel-pictures, so that
// marovel-sim needs neither Qt nor a GL library for runs, sweeps and files. It
// is looked for beside the running executable, then in the install's
// libexec/marovel folder under the prefix the running executable lies in,
// then in the folder it was configured to install to (install_folders.h), and
// started only when a picture is asked for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario.h"

constexpr const char* PICTURE_PROGRAM = "marovel-pictures";

// The picture program's path, or empty text with the folders searched in `searched`.
std::string picture_program_path(std::string& searched);

// Runs the picture program with `args`, writing `input` to its standard input;
// its standard error is the caller's. Returns its exit status; 1, with the
// reason in `error`, when it could not be started or did not exit normally.
int run_picture_program(const std::vector<std::string>& args, std::string_view input,
                        std::string& error);

// Replaces this process with the picture program's own build of marovel-sim
// (MAROVEL_WITH_PICTURES), given the same arguments: for the pictures only
// that build draws (a design's plots and index charts). Returns only on
// failure, with the reason in `error`.
int run_picture_build(int argc, char** argv, std::string& error);

// The arguments that rebuild `scenario` in the picture program: --seed, then
// --startup when set, then --param NAME=VALUE for every parameter, each value
// in the shortest text that reads back to the same number.
std::vector<std::string> scenario_arguments(const ScenarioSetup& scenario);

// "--png" or "--svg" by the name's ending (any case); empty for other names.
std::string plot_format_flag(const std::string& path);

// Draws the evacuation curves of `curves` (the column names line and the curve
// rows) into each file (written as they are, whatever their names end in: pass
// temporary files), the format taken from the matching name in `names`.
// `errors` lists the levels in the plot's order. Exit status as
// run_picture_program.
int draw_plot(const std::string& title, const std::string& errors, std::string_view curves,
              const std::vector<std::string>& files, const std::vector<std::string>& names,
              std::string& error);
