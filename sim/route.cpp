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
    bool is_target(const RoadGrid& g, CellPos c) const { return is_exit(g, c); }
    double distance(CellPos c) const {
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

// The rules common to all four moves, for a car that is not on its target
// (and, for the moves other than its door, not at home). The moves differ in
// their step (sx, sy) and bit.
template <class Target>
inline float price_entry(const RoadGrid& grid, const Vehicle& v, const Target& target, int sx,
                         int sy, std::uint8_t bit) {
    const CellPos c = {v.pos.x + sx, v.pos.y + sy};
    if (!in_grid(grid, c.x, c.y)) return NO_WAY_COST;
    const GridCell& cell = cell_at(grid, c);
    if (target.is_target(grid, c)) {
        // A house target is entered only from its door; an exit by any move
        // its layout allows, however many cars already stand there.
        if (cell.layout == LAYOUT_HOUSE) return bit == reverse_move(v.door) ? 0.0f : NO_WAY_COST;
        return (cell.layout & bit) != 0 ? 0.0f : NO_WAY_COST;
    }
    if (cell.layout == LAYOUT_HOUSE || (cell.layout & bit) == 0 || (cell.traffic & bit) != 0)
        return NO_WAY_COST;
    // One cell further on: a car ahead in the same lane makes the move a little dearer.
    const CellPos n = {c.x + sx, c.y + sy};
    int k = 0;
    if (in_grid(grid, n.x, n.y)) {
        const GridCell& ahead = cell_at(grid, n);
        k = ahead.layout != LAYOUT_HOUSE && (ahead.layout & ahead.traffic & bit) != 0 ? 1 : 0;
    }
    float price = static_cast<float>(target.distance(c) + k);
    if (c == v.prevPos) price = price + BACKTRACK_PENALTY;
    return price;
}

template <class Target>
inline float price_y_dec(const RoadGrid& g, const Vehicle& v, const Target& t) {
    return price_entry(g, v, t, 0, -1, DIR_Y_DEC);
}
template <class Target>
inline float price_x_dec(const RoadGrid& g, const Vehicle& v, const Target& t) {
    return price_entry(g, v, t, -1, 0, DIR_X_DEC);
}
template <class Target>
inline float price_x_inc(const RoadGrid& g, const Vehicle& v, const Target& t) {
    return price_entry(g, v, t, 1, 0, DIR_X_INC);
}
template <class Target>
inline float price_y_inc(const RoadGrid& g, const Vehicle& v, const Target& t) {
    return price_entry(g, v, t, 0, 1, DIR_Y_INC);
}

// A car at home leaves only by its door.
inline bool leaves_by(const Vehicle& v, std::uint8_t bit) {
    return !(v.pos == v.home) || v.door == bit;
}

template <class Target>
void choose_and_move_towards(RoadGrid& grid, Vehicle& v, const Target& target) {
    // The same prices as the four cost functions, with the tests on the car made once.
    float costs[4] = {NO_WAY_COST, NO_WAY_COST, NO_WAY_COST, NO_WAY_COST};
    if (!(v.pos == v.home)) {
        costs[0] = price_y_dec(grid, v, target);
        costs[1] = price_x_dec(grid, v, target);
        costs[2] = price_x_inc(grid, v, target);
        costs[3] = price_y_inc(grid, v, target);
    } else if (v.door == DIR_Y_DEC) {
        costs[0] = price_y_dec(grid, v, target);
    } else if (v.door == DIR_X_DEC) {
        costs[1] = price_x_dec(grid, v, target);
    } else if (v.door == DIR_X_INC) {
        costs[2] = price_x_inc(grid, v, target);
    } else {
        costs[3] = price_y_inc(grid, v, target);
    }
    float best = costs[0];
    for (int i = 1; i < 4; ++i)
        if (costs[i] < best) best = costs[i];
    if (best == NO_WAY_COST) return;

    v.prevPos = v.pos;
    v.prevHeading = v.heading;
    int m = 0;
    while (costs[m] != best) ++m;
    static constexpr int STEP_X[4] = {0, -1, 1, 0};
    static constexpr int STEP_Y[4] = {-1, 0, 0, 1};
    v.heading = MOVE_ORDER[m];
    v.pos = {v.pos.x + STEP_X[m], v.pos.y + STEP_Y[m]};

    // The cell left is updated before the cell entered.
    if (v.prevPos == v.home)
        --cell_at(grid, v.home).traffic;
    else
        clear_traffic(grid, v.prevPos, v.prevHeading);
    if (v.pos == v.home) {
        ++cell_at(grid, v.home).traffic;
        v.onExit = 0;
    } else {
        set_traffic(grid, v.pos, v.heading);
        v.onExit = is_exit(grid, v.pos) ? 1 : 0;
    }
}

}  // namespace

float cost_y_dec(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || !leaves_by(v, DIR_Y_DEC) ? NO_WAY_COST
                                                       : price_y_dec(grid, v, CellTarget{target});
}
float cost_x_dec(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || !leaves_by(v, DIR_X_DEC) ? NO_WAY_COST
                                                       : price_x_dec(grid, v, CellTarget{target});
}
float cost_x_inc(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || !leaves_by(v, DIR_X_INC) ? NO_WAY_COST
                                                       : price_x_inc(grid, v, CellTarget{target});
}
float cost_y_inc(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || !leaves_by(v, DIR_Y_INC) ? NO_WAY_COST
                                                       : price_y_inc(grid, v, CellTarget{target});
}

void choose_and_move(RoadGrid& grid, Vehicle& v, CellPos target) {
    if (v.pos == target) return;
    choose_and_move_towards(grid, v, CellTarget{target});
}

void choose_and_move_to_exits(RoadGrid& grid, Vehicle& v) {
    if (is_exit(grid, v.pos)) return;
    choose_and_move_towards(grid, v, NearestExit{&grid.exits});
}

void choose_and_move_by_steps(RoadGrid& grid, Vehicle& v, const std::int32_t* steps) {
    if (is_exit(grid, v.pos)) return;
    choose_and_move_towards(grid, v, ExitSteps{steps, grid.width});
}
