// The road guide's trip home. A car that gives up under `road` prices its
// moves by the steps along lanes, honouring their directions, from each cell
// to its own door. When it starts for home it searches, breadth first over the
// reversed lanes from the door and over the whole town, until its own cell and
// every cell one step farther from home than it are reached. It keeps a route
// of the next HOME_ROUTE_STEPS cells towards the door, each with what its four
// moves lead to: one step nearer home, as near, one step farther, or more than
// one step farther (or to no road home at all). Every car has room for its
// route from the start, so a town of any size needs no pool and nobody waits
// for one. A car that leaves its route (a lane it would take is held, say),
// or reaches the end of it, searches again from where it stands. A car from
// whose cell no road leads home knows so until the lanes change (a road plan
// closes or reopens cells, clear_home_routes): then every car searches again.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/grid.h"

struct Town;
struct Vehicle;

// The cells a route holds before the car searches again.
constexpr std::int32_t HOME_ROUTE_STEPS = 24;
// Steps no search counts to: a cell that deep is treated as having no road home.
constexpr std::uint16_t HOME_NO_ROAD = 0xFFFF;

// What a move leads to, two bits per move in move order: one step nearer the
// door, as near, one farther, or more than one farther or no road home.
enum HomeMove : std::uint8_t { HOME_NEARER = 0, HOME_LEVEL = 1, HOME_FARTHER = 2, HOME_FAR = 3 };

enum HomeRouteState : std::uint8_t { HOME_ROUTE_NONE = 0, HOME_ROUTE_KNOWN = 1, HOME_ROUTE_NO_ROAD = 2 };

struct HomeRoute {
    CellPos at = {};           // the cell of the route's current step
    std::uint16_t steps = 0;   // steps along lanes from `at` to the door
    std::uint8_t next = 0;     // the current step in `moves`
    std::uint8_t count = 0;    // steps held
    std::uint8_t state = HOME_ROUTE_NONE;
    std::uint8_t moves[HOME_ROUTE_STEPS] = {};  // per step: its four moves, 2 bits each
    // Per step: the move expected of the car, by its place in the move order, 2 bits each.
    std::uint8_t taken[HOME_ROUTE_STEPS / 4] = {};
};

struct HomeRoutes {
    bool active = false;               // the road guide: cars that give up drive home by routes
    std::vector<HomeRoute> routes;     // one per car
    std::vector<std::uint16_t> steps;  // the search's steps, one per cell; HOME_NO_ROAD between searches
    std::vector<std::uint32_t> queue;  // the search's two buckets and the cells it touched, a cell each
    // Kept counts: searches made, and those that found no road home.
    std::int64_t searches = 0;
    std::int64_t noRoad = 0;
};

// Sizes the routes and the search for the town and its `cars` cars when
// `active`, every car holding no route; allocates only when the town's size or
// car count differs from the last build.
void prepare_home_routes(HomeRoutes& home, const Town& town, std::int32_t cars, bool active);
// Every car holding no route (after callers edit cars).
void clear_home_routes(HomeRoutes& home);

// The route car `index` (which has given up and is not home) prices its moves
// by, searched when it has none, has left it or has come to its end.
const HomeRoute& home_route_for(HomeRoutes& home, const RoadGrid& grid, const Vehicle& v,
                                std::int32_t index);
// Car `index` no longer drives home (it is home, or stranded).
void release_home_route(HomeRoutes& home, std::int32_t index);

// The steps home from the cell a move of the route's current step leads to
// (`bit` one of the four moves), or -1 where it leads more than one step
// farther than the route's cell or to no road home.
std::int32_t home_route_steps(const HomeRoute& route, std::uint8_t bit);
