// A town's map drawn from its cells, for every town but the built-in one (whose
// map is the painted picture map.bmp): land, water, roads with the one-way ones
// darker, houses with a stripe on the side of their door, exits in red. The
// town pictures of the picture program use the same colours.
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

// The colour that fills a cell of this layout (before doors and exits).
TownColour town_cell_colour(std::uint8_t layout);

// The town at `cellPixels` pixels a cell side into the lower-left corner of a
// picture of `width` x `height` pixels (at least the town's), R G B, its first
// row the town's row 0 as a texture wants it; the rest is land. Neighbouring
// houses are kept apart by a line of land when a cell has 6 pixels or more,
// and doors are drawn when it has 3 or more. False when the picture cannot be
// allocated.
bool draw_town_map(const Town& town, int cellPixels, int width, int height, Image& image);
