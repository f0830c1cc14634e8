// Scenario builders shared by the simulation tests.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/driver.h"
#include "sim/validate.h"

// A new simulation object; large, so it lives on the heap in tests.
inline std::unique_ptr<Simulation> new_simulation() { return std::make_unique<Simulation>(); }

// The town as Reset builds it for a seed.
inline std::unique_ptr<Simulation> reset_town(std::int32_t seed = 1, float errorSpread = ERROR_LOW) {
    auto sim = new_simulation();
    sim->scenarioSeed = seed;
    sim->errorSpread = errorSpread;
    reset_scenario(*sim);
    return sim;
}

// The index of the k-th car (0 or 1) of the house at (x, y).
inline int car_of_house(const Simulation& sim, CellPos house, int k = 0) {
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i)
        if (sim.vehicles.vehicles[i].home == house) return i + k;
    return -1;
}

// Takes a car out of wherever it stands (its house or its lane) and puts it on
// a road cell with the given heading, as if it had just driven there from prev.
inline Vehicle& place_car(Simulation& sim, int index, std::uint8_t state, CellPos pos,
                          std::uint8_t heading, CellPos prev) {
    Vehicle& v = sim.vehicles.vehicles[index];
    if (v.pos == v.home)
        --cell_at(sim.grid, v.home).traffic;
    else
        clear_traffic(sim.grid, v.pos, v.heading);
    v.state = state;
    v.pos = pos;
    v.prevPos = prev;
    v.heading = heading;
    if (pos == v.home)
        ++cell_at(sim.grid, pos).traffic;
    else
        set_traffic(sim.grid, pos, heading);
    return v;
}

inline std::uint8_t traffic_at(const Simulation& sim, CellPos p) { return cell_at(sim.grid, p).traffic; }

// The state from which `draws` further values lead to `target`: the generator's
// recurrence stepped backwards.
inline RandomState state_before(RandomState target, int draws) {
    const std::uint32_t a = 214013u, c = 2531011u;
    std::uint32_t inverse = 1;  // a is odd, so it has an inverse modulo 2^32 (Newton's iteration)
    for (int i = 0; i < 5; ++i) inverse *= 2u - a * inverse;
    for (int i = 0; i < draws; ++i) target.state = (target.state - c) * inverse;
    return target;
}

// A generator state whose next value is r (0..32767), found by stepping the
// generator's recurrence backwards from a state with r in its upper bits.
inline RandomState state_yielding(int r) {
    return state_before(RandomState{static_cast<std::uint32_t>(r) << 16}, 1);
}
