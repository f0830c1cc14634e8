// Route choice: a driving car prices its four neighbour cells every tick and
// moves to the cheapest, one cell at a time, lane by lane.
#pragma once

#include "sim/grid.h"
#include "sim/vehicles.h"

// A move that cannot be made. Every real price is far below it.
constexpr float NO_WAY_COST = 1e25f;
// Added for a move back onto the cell just left. Prices are below 50, so the sum
// rounds to the penalty itself: turning back is dearer than any forward move and
// is taken only when every other move is impossible.
constexpr float BACKTRACK_PENALTY = 2.5e24f;

// Prices of the moves to (x, y-1), (x-1, y), (x+1, y), (x, y+1) towards target.
float cost_y_dec(const RoadGrid& grid, const Vehicle& v, CellPos target);
float cost_x_dec(const RoadGrid& grid, const Vehicle& v, CellPos target);
float cost_x_inc(const RoadGrid& grid, const Vehicle& v, CellPos target);
float cost_y_inc(const RoadGrid& grid, const Vehicle& v, CellPos target);

// Prices all four moves and makes the cheapest (the earliest in move order on a
// tie), updating the lanes of the cell left and the cell entered. A car whose
// every move costs NO_WAY_COST stays where it is.
void choose_and_move(RoadGrid& grid, Vehicle& v, CellPos target);
