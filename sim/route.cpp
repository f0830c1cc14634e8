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

// The rules common to all four moves; the moves differ in their step (sx, sy),
// their bit, whether a car on its home may take them, and which kind of target
// they may enter directly.
enum class TargetRule { Never, NotHouse, House };

inline float price_move(const RoadGrid& grid, const Vehicle& v, CellPos target, int sx, int sy,
                        std::uint8_t bit, bool blockedAtHome, TargetRule targetRule) {
    if (v.pos == target) return NO_WAY_COST;
    // A car leaves its house only northwards onto the road cell in front of it.
    if (blockedAtHome && v.pos == v.home) return NO_WAY_COST;
    const CellPos c = {v.pos.x + sx, v.pos.y + sy};
    if (!in_grid(c.x, c.y)) return NO_WAY_COST;
    if (c == target) {
        const bool house = cell_at(grid, c).layout == LAYOUT_HOUSE;
        switch (targetRule) {
            case TargetRule::Never: return NO_WAY_COST;
            case TargetRule::NotHouse: return house ? NO_WAY_COST : 0.0f;
            case TargetRule::House: return house ? 0.0f : NO_WAY_COST;
        }
    }
    const GridCell& cell = cell_at(grid, c);
    if (cell.layout == LAYOUT_HOUSE) return NO_WAY_COST;
    if ((cell.layout & bit) == 0) return NO_WAY_COST;
    if ((cell.traffic & bit) != 0) return NO_WAY_COST;
    // One cell further on: a car ahead in the same lane makes the move a little dearer.
    int k = 0;
    const CellPos n = {c.x + sx, c.y + sy};
    if (in_grid(n.x, n.y)) {
        const GridCell& ahead = cell_at(grid, n);
        if (ahead.layout != LAYOUT_HOUSE && (ahead.layout & bit) != 0 && (ahead.traffic & bit) != 0)
            k = 1;
    }
    float price = static_cast<float>(grid_distance(c, target) + k);
    if (c == v.prevPos) price = price + BACKTRACK_PENALTY;
    return price;
}

}  // namespace

float cost_y_dec(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return price_move(grid, v, target, 0, -1, DIR_Y_DEC, false, TargetRule::Never);
}
float cost_x_dec(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return price_move(grid, v, target, -1, 0, DIR_X_DEC, true, TargetRule::NotHouse);
}
float cost_x_inc(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return price_move(grid, v, target, 1, 0, DIR_X_INC, true, TargetRule::NotHouse);
}
// A returning car enters its house only from the road cell in front of it,
// which is a move in +y.
float cost_y_inc(const RoadGrid& grid, const Vehicle& v, CellPos target) {
    return price_move(grid, v, target, 0, 1, DIR_Y_INC, true, TargetRule::House);
}

void choose_and_move(RoadGrid& grid, Vehicle& v, CellPos target) {
    const float costs[4] = {cost_y_dec(grid, v, target), cost_x_dec(grid, v, target),
                            cost_x_inc(grid, v, target), cost_y_inc(grid, v, target)};
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
