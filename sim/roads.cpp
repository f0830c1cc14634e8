#include "sim/roads.h"

#include <algorithm>
#include <cstdio>

#include "sim/driver.h"
#include "sim/exit_steps.h"

namespace {

CellPos low_corner(const RoadOperation& op) {
    return {std::min(op.from.x, op.to.x), std::min(op.from.y, op.to.y)};
}
CellPos high_corner(const RoadOperation& op) {
    return {std::max(op.from.x, op.to.x), std::max(op.from.y, op.to.y)};
}

bool covers(const RoadOperation& op, CellPos c) {
    const CellPos lo = low_corner(op), hi = high_corner(op);
    return c.x >= lo.x && c.x <= hi.x && c.y >= lo.y && c.y <= hi.y;
}

const char* action_name(RoadAction a) {
    return a == RoadAction::Close ? "close" : a == RoadAction::Reopen ? "reopen" : "contraflow";
}

// A car standing on a cell that has just become one-way for move `d`, in a
// lane the cell no longer lets in, turns round where it stands into the lane
// of `d` when that lane is free: as if it had just driven in from the cell
// behind it along `d`. When another car already holds that lane, it keeps its
// own (which no car can enter now) and leaves the cell by its next move.
void turn_with_the_lane(RoadGrid& grid, Vehicle& v, std::uint8_t d) {
    GridCell& cell = cell_at(grid, v.pos);
    if (cell.layout == LAYOUT_BLOCKED || (v.heading & cell.layout) != 0 || (cell.traffic & d) != 0)
        return;
    cell.traffic = static_cast<std::uint8_t>((cell.traffic & ~v.heading) | d);
    const CellPos s = move_step(d);
    v.prevHeading = v.heading;
    v.heading = d;
    v.prevPos = {v.pos.x - s.x, v.pos.y - s.y};
}

}  // namespace

std::uint8_t road_operation_direction(const Town& town, const RoadOperation& op) {
    if (op.direction != 0) return op.direction;
    const CellPos lo = low_corner(op), hi = high_corner(op);
    // Twice the offsets of the rectangle's centre from the town's, in cells.
    const std::int64_t dx = std::int64_t{lo.x} + hi.x - (town.width - 1);
    const std::int64_t dy = std::int64_t{lo.y} + hi.y - (town.height - 1);
    const std::int32_t w = hi.x - lo.x, h = hi.y - lo.y;
    const bool alongY = h > w || (h == w && (dy < 0 ? -dy : dy) > (dx < 0 ? -dx : dx));
    const std::int64_t off = alongY ? dy : dx;
    if (off == 0) return 0;
    if (alongY) return off > 0 ? DIR_Y_INC : DIR_Y_DEC;
    return off > 0 ? DIR_X_INC : DIR_X_DEC;
}

std::string check_road_plan(const Town& town, const RoadPlan& plan) {
    char text[240];
    if (plan.exitCapacity < 0) {
        std::snprintf(text, sizeof text, "an exit capacity of %d: give at least 1 car a tick",
                      static_cast<int>(plan.exitCapacity));
        return text;
    }
    for (const RoadOperation& op : plan.operations) {
        const char* name = action_name(op.action);
        for (CellPos c : {op.from, op.to})
            if (!town.contains(c)) {
                std::snprintf(text, sizeof text, "%s: (%d, %d) lies outside the town (%d x %d cells)",
                              name, static_cast<int>(c.x), static_cast<int>(c.y),
                              static_cast<int>(town.width), static_cast<int>(town.height));
                return text;
            }
        bool road = false;
        const CellPos lo = low_corner(op), hi = high_corner(op);
        for (std::int32_t y = lo.y; y <= hi.y && !road; ++y)
            for (std::int32_t x = lo.x; x <= hi.x && !road; ++x) road = is_road(town.layout_at({x, y}));
        if (!road) {
            if (op.from == op.to)
                std::snprintf(text, sizeof text, "%s: (%d, %d) is not a road cell", name,
                              static_cast<int>(op.from.x), static_cast<int>(op.from.y));
            else
                std::snprintf(text, sizeof text, "%s: (%d, %d):(%d, %d) holds no road cell", name,
                              static_cast<int>(op.from.x), static_cast<int>(op.from.y),
                              static_cast<int>(op.to.x), static_cast<int>(op.to.y));
            return text;
        }
        if (op.action == RoadAction::Contraflow && road_operation_direction(town, op) == 0) {
            std::snprintf(text, sizeof text,
                          "contraflow: (%d, %d):(%d, %d) lies across the town's centre; give its "
                          "direction (@TICK:up, down, left or right)",
                          static_cast<int>(op.from.x), static_cast<int>(op.from.y),
                          static_cast<int>(op.to.x), static_cast<int>(op.to.y));
            return text;
        }
    }
    return {};
}

std::uint8_t planned_layout(const Simulation& sim, std::size_t applied, CellPos cell) {
    const Town& town = *sim.town;
    std::uint8_t layout = town.layout_at(cell);
    if (!is_road(layout)) return layout;
    bool closed = false;
    for (std::size_t k = 0; k < applied && k < sim.roadState.order.size(); ++k) {
        const RoadOperation& op = sim.roads.operations[sim.roadState.order[k]];
        if (!covers(op, cell)) continue;
        if (op.action == RoadAction::Contraflow)
            layout = static_cast<std::uint8_t>(LAYOUT_ONE_WAY | road_operation_direction(town, op));
        else
            closed = op.action == RoadAction::Close;
    }
    return closed ? LAYOUT_BLOCKED : layout;
}

namespace {

// Brings the operations due by `now` into force; true when any changed the
// layout of a cell (a reopening of open cells, say, changes none).
bool apply_due(Simulation& sim, std::int64_t now) {
    RoadState& state = sim.roadState;
    const Town& town = *sim.town;
    bool changed = false;
    while (state.applied < state.order.size() &&
           sim.roads.operations[state.order[state.applied]].tick <= now) {
        const RoadOperation& op = sim.roads.operations[state.order[state.applied]];
        ++state.applied;
        const CellPos lo = low_corner(op), hi = high_corner(op);
        for (std::int32_t y = lo.y; y <= hi.y; ++y)
            for (std::int32_t x = lo.x; x <= hi.x; ++x) {
                if (!is_road(town.layout_at({x, y}))) continue;
                std::uint8_t& layout = cell_at(sim.grid, {x, y}).layout;
                const std::uint8_t planned = planned_layout(sim, state.applied, {x, y});
                changed = changed || layout != planned;
                layout = planned;
            }
        if (op.action != RoadAction::Contraflow) continue;
        const std::uint8_t d = road_operation_direction(town, op);
        VehicleTable& table = sim.vehicles;
        for_each_member(table.underWay, [&](int i) {
            Vehicle& v = table.vehicles[static_cast<std::size_t>(i)];
            if (!(v.pos == v.home) && covers(op, v.pos)) turn_with_the_lane(sim.grid, v, d);
        });
    }
    return changed;
}

// The lanes changed: the steps to the exits under the road guide, and every
// car's route home (a closure may have cut it, a reopening restored it).
void follow_the_lanes(Simulation& sim) {
    RoadState& state = sim.roadState;
    RoadGrid& grid = sim.grid;
    if (grid.exitSteps != nullptr) {
        search_exit_steps(
            grid.width, grid.height, grid.exits,
            [&](CellPos p) { return cell_at(grid, p).layout; }, grid.plannedSteps.data(),
            state.queue);
        grid.ownSteps = true;
    }
    clear_home_routes(sim.vehicles.home);
}

}  // namespace

void prepare_roads(Simulation& sim) {
    RoadState& state = sim.roadState;
    const RoadPlan& plan = sim.roads;
    RoadGrid& grid = sim.grid;
    if (plan.exitCapacity > 0) {
        grid.quotas.clear();
        for (CellPos e : grid.exits) grid.quotas.push_back({e, plan.exitCapacity, 0});
    }
    state.applied = 0;
    state.order.resize(plan.operations.size());
    for (std::size_t k = 0; k < state.order.size(); ++k) state.order[k] = static_cast<std::uint32_t>(k);
    // By tick, ties in the order given: std::sort, which unlike a stable sort
    // takes no buffer from the heap.
    std::sort(state.order.begin(), state.order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const std::int64_t ta = plan.operations[a].tick, tb = plan.operations[b].tick;
        return ta < tb || (ta == tb && a < b);
    });
    state.active = !state.order.empty();
    if (!state.active) return;
    if (grid.exitSteps != nullptr) {
        grid.plannedSteps.resize(grid.cells.size());
        state.queue.reserve(grid.cells.size());
    }
    if (apply_due(sim, 0)) follow_the_lanes(sim);
    state.active = state.applied < state.order.size();
}

void advance_roads(Simulation& sim) {
    RoadState& state = sim.roadState;
    const std::int64_t now = static_cast<std::int64_t>(sim.storm.simTime);
    if (sim.roads.operations[state.order[state.applied]].tick > now) return;
    if (apply_due(sim, now)) follow_the_lanes(sim);
    state.active = state.applied < state.order.size();
}
