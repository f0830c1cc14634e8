// Road operations: what a plan does to a town's roads during a run. Every exit
// may take a limited number of cars a tick, and at given ticks cells close,
// reopen or become one-way (contraflow). The town stays read-only and shared:
// a run applies its plan to its own grid, and keeps its own steps to the exits
// when the plan changes the lanes under the road guide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/grid.h"

struct Simulation;
struct Town;

enum class RoadAction : std::uint8_t { Close, Reopen, Contraflow };

// One change to a rectangle of cells, in force from the state of tick `tick`
// on: the cars' moves of tick `tick` + 1 and later see it. Only the road cells
// of the rectangle change; houses and blocked cells stay as they are.
struct RoadOperation {
    RoadAction action = RoadAction::Close;
    CellPos from = {0, 0};  // one corner, inclusive
    CellPos to = {0, 0};    // the opposite corner, inclusive; from itself for one cell
    std::int64_t tick = 0;  // 0..2^24: 0 is in force from the build on
    // Contraflow: the move the cells are entered by from then on; 0: away from
    // the town's centre (road_operation_direction).
    std::uint8_t direction = 0;
};

// A run's road plan; empty by default, and an empty plan adds nothing to a tick.
struct RoadPlan {
    std::int32_t exitCapacity = 0;  // cars a tick every exit takes in; 0: as the town says
    std::vector<RoadOperation> operations;  // in the order given; applied by tick, then that order
};

inline bool is_empty(const RoadPlan& plan) {
    return plan.exitCapacity == 0 && plan.operations.empty();
}

// What a run keeps of its plan.
struct RoadState {
    bool active = false;               // operations remain to be applied
    std::vector<std::uint32_t> order;  // the operations by tick, ties in the order given
    std::size_t applied = 0;           // how many of `order` are in force
    std::vector<std::uint32_t> queue;  // the steps search's scratch: a cell each
};

// The move a contraflow makes its cells one-way for: the given one, or along
// the rectangle's longer side (for a square, the side it lies farther along
// from the centre) away from the town's centre; 0 when the rectangle's centre
// lies on the town's centre along that side.
std::uint8_t road_operation_direction(const Town& town, const RoadOperation& op);

// Why the plan cannot run on the town, in one line (empty when it can): a
// corner outside the town, a rectangle without a road cell, a contraflow
// without a direction, an exit capacity below 1.
std::string check_road_plan(const Town& town, const RoadPlan& plan);

// Sets up the run's plan after the grid and the cars are built: the exits'
// quotas (the plan's capacity over the town's) and the operations of tick 0.
// Allocates only when the town's size or the plan's length changed.
void prepare_roads(Simulation& sim);

// At the end of a tick: brings the operations of the clock's tick into force,
// then, when they changed the lanes of a cell, the run's steps to the exits
// (under the road guide) and every route home are made afresh. Costs a
// comparison on any other tick.
void advance_roads(Simulation& sim);

// The layout of a cell once the first `applied` operations of the run's order
// are in force: the town's, made one-way by the last contraflow over it, and
// blocked while the last closure or reopening over it is a closure.
std::uint8_t planned_layout(const Simulation& sim, std::size_t applied, CellPos cell);
