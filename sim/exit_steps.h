// The road guide's steps to the exits: one breadth-first search backwards
// from every exit at once over the lanes, for a town's layout or a run's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/grid.h"

// Fills `steps` (width x height, row-major) with each cell's steps along lanes
// to the nearest exit, -1 where none can be reached; `layoutAt(p)` gives a
// cell's layout. A cell p is entered from q (q the cell a car at p moves to)
// when q's layout lets that move in. `queue` is cleared and grows to at most
// one entry a cell: with that much room reserved, nothing is allocated.
template <class LayoutAt>
void search_exit_steps(std::int32_t width, std::int32_t height, const std::vector<CellPos>& exits,
                       LayoutAt layoutAt, std::int32_t* steps, std::vector<std::uint32_t>& queue) {
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t cells = w * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < cells; ++i) steps[i] = -1;
    queue.clear();
    const auto inside = [&](CellPos p) {
        return p.x >= 0 && p.x < width && p.y >= 0 && p.y < height;
    };
    for (CellPos e : exits) {
        if (!inside(e) || !is_road(layoutAt(e))) continue;
        const std::size_t i = static_cast<std::size_t>(e.y) * w + static_cast<std::size_t>(e.x);
        if (steps[i] == 0) continue;
        steps[i] = 0;
        queue.push_back(static_cast<std::uint32_t>(i));
    }
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::uint32_t i = queue[head];
        const CellPos q = {static_cast<std::int32_t>(i % w), static_cast<std::int32_t>(i / w)};
        const std::uint8_t into = layoutAt(q);
        for (std::uint8_t bit : MOVE_ORDER) {
            if ((into & bit) == 0) continue;  // this move may not enter q
            // The car stood one step back from q along this move.
            const CellPos s = move_step(bit);
            const CellPos p = {q.x - s.x, q.y - s.y};
            if (!inside(p) || !is_road(layoutAt(p))) continue;
            const std::size_t j = static_cast<std::size_t>(p.y) * w + static_cast<std::size_t>(p.x);
            if (steps[j] >= 0) continue;
            steps[j] = steps[i] + 1;
            queue.push_back(static_cast<std::uint32_t>(j));
        }
    }
}
