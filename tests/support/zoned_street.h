// A town for the tests of zones and orders: a street of 12 houses a side, its
// one road leading to the exit at its left end. Zone `near` is the houses by
// the exit (six on the top side, five on the bottom one, so that a layer read
// upside down is told apart), zone `far` those beyond, whose cars drive past
// the near zone's doors. Written as format_town writes it.
#pragma once

#include "sim/town.h"

constexpr const char* ZONED_STREET =
    "cell_size_m = 10\n"
    "exit = 0,1\n"
    "grid\n"
    "SSSSSSSSSSSS\n"
    "++++++++++++\n"
    "NNNNNNNNNNNN\n"
    "zones\n"
    "F = far\n"
    "N = near\n"
    "NNNNNNFFFFFF\n"
    "............\n"
    "NNNNNFFFFFFF\n";

// True when the house at `home` lies in the far zone.
inline bool in_far_zone(CellPos home) {
    return home.x >= (home.y == 0 ? 5 : 6);
}
