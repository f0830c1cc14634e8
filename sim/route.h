// Route choice: a driving car prices its four neighbour cells every tick and
// moves to the cheapest, one cell at a time, lane by lane.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/grid.h"
#include "sim/home_route.h"
#include "sim/vehicles.h"

// A move that cannot be made. Every real price is far below it.
constexpr float NO_WAY_COST = 1e25f;
// Added for a move back onto the cell just left. Prices are below 50 in the
// built-in town (below 2e7 in the largest), so the sum rounds to the penalty
// itself: turning back is dearer than any forward move and is taken only when
// every other move is impossible.
constexpr float BACKTRACK_PENALTY = 2.5e24f;
// The road guide's price of a cell from which no exit can be reached: dearer
// than any real number of steps (at most 2^24 in the largest town), so a car
// enters such a cell only when nothing else is open.
constexpr float UNREACHABLE_COST = 1e12f;

// The price of a move into an exit that has taken its quota of cars this
// tick: below every real price, so the car takes it, and a move at this price
// is not made: the car stands in its lane, first in the queue for the exit.
constexpr float EXIT_QUEUE_COST = -1.0f;

// The price, on the way home by the road guide, of a cell from which no road
// leads to the door: dearer than turning back, so a car that gives up where
// its road home lies behind it turns round, and cheaper than no move at all.
constexpr float NO_ROAD_HOME_COST = 5e24f;

// Prices of the moves to (x, y-1), (x-1, y), (x+1, y), (x, y+1) towards target
// under the straight rule: the straight-line distance from the entered cell to
// the target, one more for a car ahead in the same lane, and the backtrack
// penalty. The target may always be entered by a move its layout allows,
// whatever stands there; a house target only from its door. A car at home
// leaves only by its door.
float cost_y_dec(const RoadGrid& grid, const Vehicle& v, CellPos target);
float cost_x_dec(const RoadGrid& grid, const Vehicle& v, CellPos target);
float cost_x_inc(const RoadGrid& grid, const Vehicle& v, CellPos target);
float cost_y_inc(const RoadGrid& grid, const Vehicle& v, CellPos target);

// Prices all four moves and makes the cheapest (the earliest in move order on a
// tie), updating the lanes of the cell left and the cell entered. A car whose
// every move costs NO_WAY_COST stays where it is; so does one whose cheapest
// move is into an exit that has taken its cars for this tick (EXIT_QUEUE_COST).
// An evacuating car that enters an exit with a quota takes one of its places.
void choose_and_move(RoadGrid& grid, Vehicle& v, CellPos target);

// The same towards the nearest of several exits (the grid's exit cells): the
// straight-line distance to the nearest exit is the price.
void choose_and_move_to_exits(RoadGrid& grid, Vehicle& v);

// The road guide towards the exits: the price of a cell is its number of steps
// along lanes to the nearest exit (steps: one per cell of the grid, -1 where no
// exit can be reached, as Town::exit_steps gives them).
void choose_and_move_by_steps(RoadGrid& grid, Vehicle& v, const std::int32_t* steps);

// The road guide home: the price of a cell is one more than its number of
// steps along lanes to the car's door, as the car's route gives them for the
// cell it stands on (NO_ROAD_HOME_COST where a move leads more than one step
// farther from home, or to no road home). `route` is the car's, at its cell.
void choose_and_move_home_by_route(RoadGrid& grid, Vehicle& v, const HomeRoute& route);
