// Moves along a town's lanes, honouring their directions, found here from the
// cells alone: an account to hold the model's own step tables against.
#pragma once

#include <cstddef>
#include <vector>

#include "sim/town.h"

// Whether a car may move from `a` into the neighbouring cell `b`.
inline bool may_enter(const Town& t, CellPos a, CellPos b) {
    const std::uint8_t move = b.x > a.x   ? DIR_X_INC
                              : b.x < a.x ? DIR_X_DEC
                              : b.y > a.y ? DIR_Y_INC
                                          : DIR_Y_DEC;
    return t.contains(b) && is_road(t.layout_at(b)) && (t.layout_at(b) & move) != 0;
}

// The fewest moves along lanes that take a car on `from` to `to`; -1 when none do.
inline int road_steps(const Town& t, CellPos from, CellPos to) {
    const auto at = [&](CellPos p) { return static_cast<std::size_t>(p.y) * t.width + p.x; };
    std::vector<int> steps(t.layout.size(), -1);
    std::vector<CellPos> queue = {from};
    steps[at(from)] = 0;
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const CellPos p = queue[head];
        if (p == to) return steps[at(p)];
        for (std::uint8_t bit : MOVE_ORDER) {
            const CellPos q = {p.x + move_step(bit).x, p.y + move_step(bit).y};
            if (!may_enter(t, p, q) || steps[at(q)] >= 0) continue;
            steps[at(q)] = steps[at(p)] + 1;
            queue.push_back(q);
        }
    }
    return -1;
}
