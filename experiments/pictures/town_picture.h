// A town drawn from above as a PNG: land, water, roads (one-way ones darker),
// houses with their doors marked, exits in red; a few pixels a cell; the map's
// credit in a corner when the town came from OpenStreetMap.
#pragma once

#include <string>

#include "sim/town.h"

// The picture's bytes; false with the reason in `error`.
bool draw_town_picture(const Town& town, std::string& png, std::string& error);

// Pixels along a cell's side: as many as fit a picture of about 2048 pixels, 1 to 32.
int town_picture_cell_pixels(const Town& town);
