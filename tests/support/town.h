// Scenario builders shared by the simulation tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/scenario.h"
#include "sim/validate.h"

// A new simulation object (large, so on the heap), optionally built as Reset builds it.
inline std::unique_ptr<Simulation> new_simulation() {
    return std::make_unique<Simulation>();
}
inline std::unique_ptr<Simulation> reset_town(std::int32_t seed = 1,
                                              float errorSpread = ERROR_LOW) {
    auto sim = new_simulation();
    build_scenario(*sim, {seed, error_level(errorSpread), false});
    return sim;
}

// The index of the k-th car (0 or 1) of the house at (x, y).
inline int car_of_house(const Simulation& sim, CellPos house, int k = 0) {
    int i = 0;
    while (!(sim.vehicles.vehicles[i].home == house)) ++i;
    return i + k;
}

// The six counts of the tally, in the Info box's order, as "a b c d e f".
inline std::string tally_of(const Simulation& sim) {
    const VehicleTally t = tally_vehicles(sim.vehicles);
    std::string s;
    for (int n : {t.notEvacuated, t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas})
        s += std::to_string(n) + " ";
    return s.substr(0, s.size() - 1);
}

inline std::uint8_t traffic_at(const Simulation& sim, CellPos p) {
    return cell_at(sim.grid, p).traffic;
}

// Moves a car from where it stands (its house or its lane) onto `pos` with the
// given heading, as if it had just driven there from `prev`, keeping the grid
// and the table's kept sets right.
inline Vehicle& place_car(Simulation& sim, int index, std::uint8_t state, CellPos pos,
                          std::uint8_t heading, CellPos prev) {
    Vehicle& v = sim.vehicles.vehicles[index];
    if (v.pos == v.home)
        --cell_at(sim.grid, v.home).traffic;
    else
        clear_traffic(sim.grid, v.pos, v.heading);
    v = {state, v.home, pos, prev, heading, v.prevHeading, v.patience, v.fuel, v.door, 0};
    if (pos == v.home)
        ++cell_at(sim.grid, pos).traffic;
    else
        set_traffic(sim.grid, pos, heading);
    index_vehicles(sim.grid, sim.vehicles);
    return v;
}

// The generator state from which `draws` further values lead to `target`; and
// one whose next value is r (0..32767). The multiplier is odd, so it has an
// inverse modulo 2^32 (five Newton steps find it).
inline RandomState state_before(RandomState target, int draws) {
    std::uint32_t inverse = 1;
    for (int i = 0; i < 5; ++i) inverse *= 2u - RANDOM_MUL * inverse;
    for (int i = 0; i < draws; ++i) target.state = (target.state - RANDOM_ADD) * inverse;
    return target;
}
inline RandomState state_yielding(int r) {
    return state_before(RandomState{static_cast<std::uint32_t>(r) << 16}, 1);
}
