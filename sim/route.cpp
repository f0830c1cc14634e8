#include "sim/route.h"

#include <cmath>

namespace {

// sqrt(n) in double for every n = dx*dx + dy*dy of two cells inside the grid.
// The squares are exact in single precision, so this is cell_distance to the bit.
constexpr int MAX_SQUARED = (GRID_W - 1) * (GRID_W - 1) + (GRID_H - 1) * (GRID_H - 1);

struct RootTable {
    double root[MAX_SQUARED + 1];
    RootTable() {
        for (int n = 0; n <= MAX_SQUARED; ++n) root[n] = std::sqrt(static_cast<double>(n));
    }
};
const RootTable ROOTS;

inline double grid_distance(CellPos a, CellPos b) {
    const int dx = b.x - a.x;
    const int dy = b.y - a.y;
    return ROOTS.root[dx * dx + dy * dy];
}

// The rules common to all four moves, for a car that is neither on its target
// nor (for the moves other than y-1) on its home. The moves differ in their
// step (sx, sy), their bit, and which kind of target they may enter directly.
enum class TargetRule { Never, NotHouse, House };

inline float price_entry(const RoadGrid& grid, const Vehicle& v, CellPos target, int sx, int sy,
                         std::uint8_t bit, TargetRule targetRule) {
    const CellPos c = {v.pos.x + sx, v.pos.y + sy};
    if (!in_grid(c.x, c.y)) return NO_WAY_COST;
    const GridCell& cell = cell_at(grid, c);
    if (c == target) {
        const bool house = cell.layout == LAYOUT_HOUSE;
        switch (targetRule) {
            case TargetRule::Never:
                return NO_WAY_COST;
            case TargetRule::NotHouse:
                return house ? NO_WAY_COST : 0.0f;
            case TargetRule::House:
                return house ? 0.0f : NO_WAY_COST;
        }
    }
    if (cell.layout == LAYOUT_HOUSE || (cell.layout & bit) == 0 || (cell.traffic & bit) != 0)
        return NO_WAY_COST;
    // One cell further on: a car ahead in the same lane makes the move a little dearer.
    const CellPos n = {c.x + sx, c.y + sy};
    int k = 0;
    if (in_grid(n.x, n.y)) {
        const GridCell& ahead = cell_at(grid, n);
        k = ahead.layout != LAYOUT_HOUSE && (ahead.layout & ahead.traffic & bit) != 0 ? 1 : 0;
    }
    float price = static_cast<float>(grid_distance(c, target) + k);
    if (c == v.prevPos) price = price + BACKTRACK_PENALTY;
    return price;
}

inline float price_y_dec(const RoadGrid& g, const Vehicle& v, CellPos t) {
    return price_entry(g, v, t, 0, -1, DIR_Y_DEC, TargetRule::Never);
}
inline float price_x_dec(const RoadGrid& g, const Vehicle& v, CellPos t) {
    return price_entry(g, v, t, -1, 0, DIR_X_DEC, TargetRule::NotHouse);
}
inline float price_x_inc(const RoadGrid& g, const Vehicle& v, CellPos t) {
    return price_entry(g, v, t, 1, 0, DIR_X_INC, TargetRule::NotHouse);
}
// A returning car enters its house only from the road cell in front of it,
// which is a move in +y.
inline float price_y_inc(const RoadGrid& g, const Vehicle& v, CellPos t) {
    return price_entry(g, v, t, 0, 1, DIR_Y_INC, TargetRule::House);
}

}  // namespace

// A car on its target has nowhere to go. A car on its home leaves only
// northwards, onto the road cell in front of the house.
float cost_y_dec(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target ? NO_WAY_COST : price_y_dec(grid, v, target);
}
float cost_x_dec(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || v.pos == v.home ? NO_WAY_COST : price_x_dec(grid, v, target);
}
float cost_x_inc(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || v.pos == v.home ? NO_WAY_COST : price_x_inc(grid, v, target);
}
float cost_y_inc(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return v.pos == target || v.pos == v.home ? NO_WAY_COST : price_y_inc(grid, v, target);
}

void choose_and_move(RoadGrid& grid, Vehicle& v, CellPos target) {
    // The same prices as the four cost functions, with the tests on the car made once.
    if (v.pos == target) return;
    float costs[4] = {price_y_dec(grid, v, target), NO_WAY_COST, NO_WAY_COST, NO_WAY_COST};
    if (!(v.pos == v.home)) {
        costs[1] = price_x_dec(grid, v, target);
        costs[2] = price_x_inc(grid, v, target);
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
    if (v.pos == v.home)
        ++cell_at(grid, v.home).traffic;
    else
        set_traffic(grid, v.pos, v.heading);
}
