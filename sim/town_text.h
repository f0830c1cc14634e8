// Towns as text, parsed from and formatted to in-memory strings; reading and
// writing files is the caller's business.
//
//   # a comment (a line starting with #)
//   name = Riverside            optional
//   source = OpenStreetMap ...  optional: where the map came from, its licence
//   cell_size_m = 10            metres per cell side (default 10)
//   minutes_per_tick = 2        optional: what a tick stands for, so orders may be given in hours
//   origin = 37.80,-122.30      optional: lat,lon of cell (0, 0)'s south-west corner
//   standard_parallel = 37.81   optional, with origin: the latitude true to scale
//                               (default: the grid's middle row)
//   exit = 20,29                an exit cell, x from the left, y from the bottom; repeatable
//   exit = 20,29,3              an exit that takes at most 3 cars a tick
//   cars = 3,1,4                house (3, 1) gets 4 cars instead of cars_per_house; repeatable
//   grid
//   ..................+==+..   one line per row, the top row (y = height - 1) first
//   roads                       optional, after the grid: each road cell's class
//   ..................RRPR..   one line per row as the grid's, '.' for none
//   zones                       optional, last: the zone of every house
//   A = shore                   a zone's character and name, one line each
//   ..................AABB..   one line per row as the grid's, '.' for none
//
// Cells: '.' blocked land, '~' water, '|' road entered by y moves, '-' road
// entered by x moves, '+' road entered from any side; '^' 'v' '>' '<' one-way
// roads entered only by a move up (y+1), down (y-1), right (x+1) or left (x-1);
// houses 'S' 'N' 'E' 'W' by the side of their door (S: the cell below).
// Road classes (drawing only): '.' none, 'M' motorway or trunk, 'P' primary,
// 'S' secondary, 'T' tertiary, 'R' residential and other minor streets,
// 'A' service (access) roads, 'X' any other class; only on road cells.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "sim/town.h"

// The most text parse_town reads: a 4096 x 4096 grid and its road classes with
// their line ends, and 1 MiB of keys and comments.
constexpr std::size_t TOWN_TEXT_MAX_BYTES =
    2 * static_cast<std::size_t>(TOWN_MAX_SIDE) * (TOWN_MAX_SIDE + 2) + (1u << 20);

// The longest a tick may stand for, in minutes: a day.
constexpr double MAX_MINUTES_PER_TICK = 1440.0;

// The most cars a tick an exit's capacity may say: far beyond any road's.
constexpr std::int64_t MAX_EXIT_CAPACITY = 1000000;

struct TownTextError {
    int line = 0;    // 1-based; 0 for the text as a whole
    int column = 0;  // 1-based; 0 for the line as a whole
    std::string message;
};

// Parses a town. On failure returns false and says where the first fault lies:
// binary or oversized text, a malformed or unknown key, no grid, rows of
// unequal length, an unknown cell character, a town too large, no exit, no
// house, an exit or a car count off a house, a door that is not a road, road
// classes of another size than the grid's, unknown or off the roads.
bool parse_town(std::string_view text, Town& town, TownTextError& error);

// The town as text that parse_town reads back to the same town.
std::string format_town(const Town& town);

// A zones layer over a parsed town (the block after a town's `zones` line, or
// a zones file of its own): `C = NAME` lines, then as many rows as the town
// has, each as wide, top row first, a zone's character on every house and '.'
// or any zone's character elsewhere. `firstLine` is the text's first line's
// number, for the errors. On success the town's zones are replaced.
bool parse_zone_layer(std::string_view text, int firstLine, Town& town, TownTextError& error);
// The layer as parse_zone_layer reads it: the names, then '.' off the houses.
std::string format_zone_layer(const Town& town);

// One cell's character, and the layout and door of a character (false for an unknown one).
char town_cell_char(const Town& town, CellPos p);
bool town_char_cell(char c, std::uint8_t& layout, std::uint8_t& door);
// A road class's character ('?' for an unknown one), and the class of a character.
char town_road_class_char(std::uint8_t roadClass);
bool town_char_road_class(char c, std::uint8_t& roadClass);
