// The credit a map's licence asks for, on every picture of a town drawn from it.
#pragma once

#include <QImage>
#include <string>

#include "sim/town.h"

// "© OpenStreetMap contributors" for a town whose source names OpenStreetMap;
// empty text for any other.
std::string town_attribution(const Town& town);

// Writes the town's attribution in the picture's bottom-right corner, white on
// a dark box; leaves the picture as it is when the town needs none. Makes an
// offscreen application for the fonts when the program has none (a caller
// stamping many frames keeps one of its own).
void stamp_attribution(QImage& image, const Town& town);
