// A town's map drawn from its cells, for every town but the built-in one (whose
// map is the painted picture map.bmp): land, water, roads with the one-way ones
// darker, houses with a stripe on the side of their door, exits in red. A town
// with road classes has its roads drawn as on a map instead, each class in its
// colour, the major roads the boldest, one-way lanes marked along their middle.
// The town pictures of the picture program are drawn by the same code.
#pragma once

#include <cstdint>

#include "render/bmp.h"
#include "sim/town.h"

struct TownColour {
    std::uint8_t r, g, b;
};
inline constexpr TownColour TOWN_LAND = {214, 222, 196};
inline constexpr TownColour TOWN_WATER = {120, 170, 220};
inline constexpr TownColour TOWN_ROAD = {150, 150, 150};
inline constexpr TownColour TOWN_ONE_WAY = {105, 105, 115};
inline constexpr TownColour TOWN_HOUSE = {176, 112, 72};
inline constexpr TownColour TOWN_DOOR = {70, 40, 25};
inline constexpr TownColour TOWN_EXIT = {220, 30, 30};

// Road classes (ROAD_CLASS_*), and a road of none in a town that has them: the
// main roads red, orange and yellow, the streets white, the rest in greys.
inline constexpr TownColour TOWN_ROAD_CLASS[ROAD_CLASS_COUNT] = {
    TOWN_ROAD,        // none
    {214, 48, 60},    // motorway, trunk
    {240, 138, 36},   // primary
    {246, 206, 60},   // secondary
    {252, 244, 168},  // tertiary
    {255, 255, 255},  // residential and other streets
    {196, 196, 204},  // service
    {164, 150, 112},  // any other class asked for: tracks, paths
};
// Words for a road class in a legend: "motorway, trunk", "primary", ...
const char* town_road_class_label(std::uint8_t roadClass);

// The colour that fills a cell of this layout (before doors and exits).
TownColour town_cell_colour(std::uint8_t layout);
// The colour of the mark along the middle of a one-way lane of a class: the
// class's colour darkened.
TownColour town_one_way_mark(std::uint8_t roadClass);

// The town at `cellPixels` pixels a cell side into the lower-left corner of a
// picture of `width` x `height` pixels (at least the town's), R G B, its first
// row the town's row 0 as a texture wants it; the rest is land. Neighbouring
// houses are kept apart by a line of land when a cell has 6 pixels or more,
// and doors are drawn when it has 3 or more. False when the picture cannot be
// allocated.
bool draw_town_map(const Town& town, int cellPixels, int width, int height, Image& image);
