// marovel-sim town: checking, printing, drawing, generating and importing towns.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

struct TownCommand {
    CLI::App* app = nullptr;
    CLI::App* check = nullptr;
    CLI::App* show = nullptr;
    CLI::App* picture = nullptr;
    CLI::App* generate = nullptr;
    CLI::App* import = nullptr;
    std::string file;     // check, show, picture
    std::string zones;    // check, show: a zones file laid over the town
    std::string output;   // picture's PNG, generate's town
    std::string repeat;   // generate: COLSxROWS
    long long exits = 0;  // generate: 0 for one per column of copies
    // import: an OpenStreetMap file into a town
    double cellM = 10.0;
    std::string bbox;                  // MINLON,MINLAT,MAXLON,MAXLAT
    std::string exitMode = "auto";     // --exits
    std::vector<std::string> exitAt;   // --exit LAT,LON, repeatable
    std::string houses = "buildings";  // buildings | along-streets | both
    std::string roadClasses;           // comma-separated highway values; empty: the defaults
    double maxDoorM = 50.0;
    std::string name;
};

// Adds the "town" subcommand and its own five, with their options unless
// `withOptions` is false (the command line does not name it).
void add_town_command(CLI::App& app, TownCommand& command, bool withOptions = true);

// Runs it: 0; 2 for bad input or a town with errors (nothing written); 1 when
// an output could not be written.
int run_town_command(const TownCommand& command, int argc, char** argv);
