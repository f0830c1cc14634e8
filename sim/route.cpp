#include "sim/route.h"

#include <cmath>

namespace {

// sqrt(n) in double for every n = dx*dx + dy*dy of two cells inside the
// built-in town; larger n (bigger towns) take std::sqrt of the same exact
// integer, correctly rounded, so both give the same bits. The squares are
// exact in single precision up to 2^24, so this is cell_distance to the bit
// for every town up to 2896 cells across.
constexpr int MAX_SQUARED = (GRID_W - 1) * (GRID_W - 1) + (GRID_H - 1) * (GRID_H - 1);

struct RootTable {
    double root[MAX_SQUARED + 1];
    RootTable() {
        for (int n = 0; n <= MAX_SQUARED; ++n) root[n] = std::sqrt(static_cast<double>(n));
    }
};
const RootTable ROOTS;

inline double root_of(std::int64_t n) {
    return n <= MAX_SQUARED ? ROOTS.root[n] : std::sqrt(static_cast<double>(n));
}

inline std::int64_t squared(CellPos a, CellPos b) {
    const std::int64_t dx = b.x - a.x;
    const std::int64_t dy = b.y - a.y;
    return dx * dx + dy * dy;
}

// What a car drives to: whether a cell is its target, and a cell's distance from it.
struct CellTarget {
    CellPos target;
    bool is_target(const RoadGrid&, CellPos c) const { return c == target; }
    double distance(CellPos c) const {
        const int dx = target.x - c.x;
        const int dy = target.y - c.y;
        return root_of(dx * dx + dy * dy);
    }
};

struct NearestExit {
    const std::vector<CellPos>* exits;
    const std::uint32_t* squares;  // per cell, when the grid has them
    std::int32_t width;
    bool is_target(const RoadGrid& g, CellPos c) const { return is_exit(g, c); }
    double distance(CellPos c) const {
        // The root taken here rather than looked up: half the bytes a cell to
        // read, and a large town's table no longer falls out of the cache.
        if (squares != nullptr)
            return std::sqrt(static_cast<double>(squares[static_cast<std::size_t>(c.y * width + c.x)]));
        std::int64_t best = squared(c, (*exits)[0]);
        for (std::size_t k = 1; k < exits->size(); ++k) {
            const std::int64_t n = squared(c, (*exits)[k]);
            if (n < best) best = n;
        }
        return root_of(best);
    }
};

struct ExitSteps {
    const std::int32_t* steps;
    std::int32_t width;
    bool is_target(const RoadGrid& g, CellPos c) const { return is_exit(g, c); }
    double distance(CellPos c) const {
        const std::int32_t s = steps[static_cast<std::size_t>(c.y * width + c.x)];
        return s >= 0 ? static_cast<double>(s) : static_cast<double>(UNREACHABLE_COST);
    }
};

struct HomeSteps {
    const HomeRoute* route;
    CellPos home;
    bool is_target(const RoadGrid&, CellPos c) const { return c == home; }
    double distance(CellPos c) const {
        const CellPos at = route->at;
        const std::uint8_t bit = c.y < at.y   ? DIR_Y_DEC
                                 : c.x < at.x ? DIR_X_DEC
                                 : c.x > at.x ? DIR_X_INC
                                              : DIR_Y_INC;
        const std::int32_t s = home_route_steps(*route, bit);
        return s >= 0 ? static_cast<double>(s) + 1.0 : static_cast<double>(NO_ROAD_HOME_COST);
    }
};

// The rules common to all four moves, for a car that is not on its target
// (and, for the moves other than its door, not at home). The moves differ in
// their step (sx, sy) and bit. `here` is the car's own cell; only the
// coordinate a move changes can leave the grid.
template <int SX, int SY, class Target>
inline float price_entry(const RoadGrid& grid, const Vehicle& v, const Target& target,
                         std::uint8_t bit, const GridCell* here) {
    const CellPos c = {v.pos.x + SX, v.pos.y + SY};
    const std::uint32_t limit = static_cast<std::uint32_t>(SX != 0 ? grid.width : grid.height);
    const std::int32_t along = SX != 0 ? c.x : c.y;
    if (static_cast<std::uint32_t>(along) >= limit) return NO_WAY_COST;
    const std::ptrdiff_t step = SX + static_cast<std::ptrdiff_t>(SY) * grid.width;
    const GridCell& cell = here[step];
    if (target.is_target(grid, c)) {
        // A house target is entered only from its door; an exit by any move
        // its layout allows, however many cars already stand there.
        if (cell.layout == LAYOUT_HOUSE) return bit == reverse_move(v.door) ? 0.0f : NO_WAY_COST;
        if ((cell.layout & bit) == 0) return NO_WAY_COST;
        return grid.quotas.empty() || !exit_full(grid, c) ? 0.0f : EXIT_QUEUE_COST;
    }
    if (cell.layout == LAYOUT_HOUSE || (cell.layout & bit) == 0 || (cell.traffic & bit) != 0)
        return NO_WAY_COST;
    // One cell further on: a car ahead in the same lane makes the move a little dearer.
    int k = 0;
    if (static_cast<std::uint32_t>(along + (SX != 0 ? SX : SY)) < limit) {
        const GridCell& ahead = here[2 * step];
        k = ahead.layout != LAYOUT_HOUSE && (ahead.layout & ahead.traffic & bit) != 0 ? 1 : 0;
    }
    float price = static_cast<float>(target.distance(c) + k);
    if (c == v.prevPos) price = price + BACKTRACK_PENALTY;
    return price;
}

inline const GridCell* cell_of(const RoadGrid& g, CellPos p) {
    return &cell_at(g, p);
}

template <class Target>
inline float price_y_dec(const RoadGrid& g, const Vehicle& v, const Target& t,
                         const GridCell* here) {
    return price_entry<0, -1>(g, v, t, DIR_Y_DEC, here);
}
template <class Target>
inline float price_x_dec(const RoadGrid& g, const Vehicle& v, const Target& t,
                         const GridCell* here) {
    return price_entry<-1, 0>(g, v, t, DIR_X_DEC, here);
}
template <class Target>
inline float price_x_inc(const RoadGrid& g, const Vehicle& v, const Target& t,
                         const GridCell* here) {
    return price_entry<1, 0>(g, v, t, DIR_X_INC, here);
}
template <class Target>
inline float price_y_inc(const RoadGrid& g, const Vehicle& v, const Target& t,
                         const GridCell* here) {
    return price_entry<0, 1>(g, v, t, DIR_Y_INC, here);
}

// A car at home leaves only by its door.
inline bool leaves_by(const Vehicle& v, std::uint8_t bit) {
    return !(v.pos == v.home) || v.door == bit;
}

template <class Target>
void choose_and_move_towards(RoadGrid& grid, Vehicle& v, const Target& target) {
    // The same prices as the four cost functions, with the tests on the car made once.
    GridCell* const here = &cell_at(grid, v.pos);
    float costs[4] = {NO_WAY_COST, NO_WAY_COST, NO_WAY_COST, NO_WAY_COST};
    const bool atHome = v.pos == v.home;
    if (!atHome || v.door == DIR_Y_DEC) costs[0] = price_y_dec(grid, v, target, here);
    if (!atHome) {
        costs[1] = price_x_dec(grid, v, target, here);
        costs[2] = price_x_inc(grid, v, target, here);
        costs[3] = price_y_inc(grid, v, target, here);
    } else if (v.door == DIR_X_DEC) {
        costs[1] = price_x_dec(grid, v, target, here);
    } else if (v.door == DIR_X_INC) {
        costs[2] = price_x_inc(grid, v, target, here);
    } else if (v.door == DIR_Y_INC) {
        costs[3] = price_y_inc(grid, v, target, here);
    }
    float best = costs[0];
    for (int i = 1; i < 4; ++i)
        if (costs[i] < best) best = costs[i];
    if (best == NO_WAY_COST || best == EXIT_QUEUE_COST) return;

    v.prevPos = v.pos;
    v.prevHeading = v.heading;
    int m = 0;
    while (costs[m] != best) ++m;
    static constexpr int STEP_X[4] = {0, -1, 1, 0};
    static constexpr int STEP_Y[4] = {-1, 0, 0, 1};
    v.heading = MOVE_ORDER[m];
    v.pos = {v.pos.x + STEP_X[m], v.pos.y + STEP_Y[m]};
    GridCell* const there =
        here + (STEP_X[m] + static_cast<std::ptrdiff_t>(STEP_Y[m]) * grid.width);

    // The cell left is updated before the cell entered.
    if (atHome)
        --here->traffic;
    else
        here->traffic &= static_cast<std::uint8_t>(~v.prevHeading);
    if (v.pos == v.home) {
        ++there->traffic;
        v.onExit = 0;
    } else {
        there->traffic |= v.heading;
        v.onExit = is_exit(grid, v.pos) ? 1 : 0;
        if (v.onExit != 0 && !grid.quotas.empty() && v.state == VS_EVACUATING)
            if (ExitQuota* q = exit_quota(grid, v.pos)) ++q->taken;
    }
}

}  // namespace

float cost_y_dec(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || !leaves_by(v, DIR_Y_DEC)
               ? NO_WAY_COST
               : price_y_dec(grid, v, CellTarget{target}, cell_of(grid, v.pos));
}
float cost_x_dec(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || !leaves_by(v, DIR_X_DEC)
               ? NO_WAY_COST
               : price_x_dec(grid, v, CellTarget{target}, cell_of(grid, v.pos));
}
float cost_x_inc(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || !leaves_by(v, DIR_X_INC)
               ? NO_WAY_COST
               : price_x_inc(grid, v, CellTarget{target}, cell_of(grid, v.pos));
}
float cost_y_inc(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || !leaves_by(v, DIR_Y_INC)
               ? NO_WAY_COST
               : price_y_inc(grid, v, CellTarget{target}, cell_of(grid, v.pos));
}

void choose_and_move(RoadGrid& grid, Vehicle& v, CellPos target) {
    if (v.pos == target) return;
    choose_and_move_towards(grid, v, CellTarget{target});
}

void choose_and_move_to_exits(RoadGrid& grid, Vehicle& v) {
    if (is_exit(grid, v.pos)) return;
    choose_and_move_towards(grid, v, NearestExit{&grid.exits, grid.exitSquares, grid.width});
}

void choose_and_move_by_steps(RoadGrid& grid, Vehicle& v, const std::int32_t* steps) {
    if (is_exit(grid, v.pos)) return;
    choose_and_move_towards(grid, v, ExitSteps{steps, grid.width});
}

void choose_and_move_home_by_route(RoadGrid& grid, Vehicle& v, const HomeRoute& route) {
    if (v.pos == v.home) return;
    choose_and_move_towards(grid, v, HomeSteps{&route, v.home});
}
