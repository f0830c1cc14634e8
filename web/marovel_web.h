// The model as the web page drives it: one simulation behind a plain C
// interface that JavaScript calls through WebAssembly. Numbers go in and out
// as numbers; tables come out as pointers into the module's memory, valid until
// the next call; texts as NUL-terminated strings, valid until the next call
// that returns one. Calls that can refuse return 1 when done and 0 when not,
// and marovel_text() then says why in one line.
#pragma once

#include <cstdint>

extern "C" {

// Builds the town the window shows at launch (scenario 0, low error).
void marovel_start();

// Rebuilds under the parameters set since the last rebuild: 0 reset, 1 next
// scenario, 2 previous scenario, 3 the launch town of the current seed. Refused,
// leaving the run as it was, when the parameters break a rule between them.
int marovel_rebuild(int how);
void marovel_set_seed(std::int32_t seed);
std::int32_t marovel_seed();

// `count` ticks; the ticks since the last rebuild.
void marovel_tick(int count);
double marovel_ticks_run();

// The six counts in the tally's order (not evacuated, evacuated, gave up,
// en route, towed, out of gas).
const std::int32_t* marovel_counts();

std::int32_t marovel_width();
std::int32_t marovel_height();
// Per cell, row-major from row 0 (the bottom row): the car sprite's frame
// (0 none, 1..15 the headings standing there, 1 for parked cars).
const std::uint8_t* marovel_car_frames();
// Per cell: 1 + the tally slot shown for the cars standing there (the state
// of highest rank), 0 for none; 0x80 added on a house whose cars are threatened.
const std::uint8_t* marovel_car_states();
// Per cell what the map shows of a town without a painted map: 0 land, 1 water,
// 2 road, 3 one-way road, 4 house, 5 exit, 6 door.
const std::uint8_t* marovel_town_cells();
// 1 when the run is on the built-in town, whose map is the painted picture.
int marovel_builtin_town();

// The storm: x, y, size, spin (degrees), phase; the zone: 1 when it lies on a
// cell, its circle's centre x, y and radius; the track's mark: x, y, 1 when on
// the track (0: the start, while the storm waits). Then MAROVEL_TRACK_POINTS
// points x, y along the track.
constexpr int MAROVEL_TRACK_POINTS = 65;
const float* marovel_storm();

// "Marovel 1.0: Scenario=%d Time=%.1f", as the window's title.
const char* marovel_status_line();
// The current state's fingerprint line.
const char* marovel_fingerprint_line();

// The parameter table: name, unit, meaning, range, kind (0 real, 1 whole
// number), default, and a choice parameter's names (null past the last).
int marovel_parameter_count();
const char* marovel_parameter_name(int i);
const char* marovel_parameter_unit(int i);
const char* marovel_parameter_meaning(int i);
double marovel_parameter_min(int i);
double marovel_parameter_max(int i);
int marovel_parameter_kind(int i);
double marovel_parameter_default(int i);
const char* marovel_parameter_choice(int i, int k);

// A parameter's value for the next rebuild (NaN for an unknown name), and
// setting it: refused out of its range or kind. Stored as the model uses it.
double marovel_get_parameter(const char* name);
int marovel_set_parameter(const char* name, double value);
// Every parameter back to its default, for the next rebuild.
void marovel_default_parameters();
// The error spread as --error takes it: low, moderate, high or a number >= 0.
int marovel_set_error(const char* text);

// Parses a town file's text and, when it is good, resets the run on it.
int marovel_load_town(const char* text, int length);
// Back to the built-in town, reset.
void marovel_builtin();

// Runs a scenario of the built-in town apart from the page's run and leaves in
// marovel_text() its fingerprint lines as `marovel-sim --seed SEED --error
// ERROR --ticks TICKS --fingerprint` prints them.
int marovel_fingerprint_run(std::int32_t seed, const char* error, int ticks);

const char* marovel_text();
}
