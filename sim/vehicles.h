// The town's cars: population from the map, the per-tick life cycle, and the
// six-way tally the user reads.
#pragma once

#include <cstdint>

#include "sim/grid.h"
#include "sim/parameters.h"
#include "sim/random.h"

constexpr int TOW_FUEL_LIMIT =
    -60;  // by default a stranded car stands 60 ticks, then is towed home

enum VehicleState : std::uint8_t {
    VS_WAITING = 0,     // at home; the household has not decided to leave
    VS_EVACUATING = 1,  // driving to the exit; evacuated once it stands there
    VS_GAVE_UP = 2,     // patience ran out; driving home
    VS_OUT_OF_GAS = 3,  // fuel below zero; stands until towed home
};

struct Vehicle {
    std::uint8_t state;        // a VehicleState
    CellPos home;              // its house; never changes
    CellPos pos;               // where it stands now
    CellPos prevPos;           // the cell it left on its last move
    std::uint8_t heading;      // bit of its last move; the lane it holds on a road cell
    std::uint8_t prevHeading;  // heading before the last move
    std::int32_t patience;     // ticks of driving before it gives up, 240..360 at first
    std::int32_t fuel;         // ticks of driving left, 200..400 at first; negative when stranded
};

struct VehicleTable {
    Vehicle vehicles[MAX_VEHICLES] = {};
    std::int32_t vehicleCount = 0;               // entries 0..vehicleCount-1 are in use
    std::int32_t towFuelLimit = TOW_FUEL_LIMIT;  // fuel at which a stranded car is towed: -tow_wait
};

// The counts of the Info box, in its order.
struct VehicleTally {
    std::int32_t notEvacuated;
    std::int32_t evacuated;
    std::int32_t gaveUp;
    std::int32_t enRoute;
    std::int32_t towed;
    std::int32_t outOfGas;
};

// Rebuilds the grid from the map table and parks `cars_per_house` new waiting
// cars in every house, drawing each car's patience and then its fuel (1440
// draws in all with the default two cars).
void populate_town(RoadGrid& grid, VehicleTable& table, RandomState& rng,
                   const ModelParameters& p = ModelParameters{});

// Steps every car once, in table order, each seeing the moves of those before it.
void step_all_vehicles(RoadGrid& grid, VehicleTable& table);
void step_vehicle(RoadGrid& grid, Vehicle& v, std::int32_t towFuelLimit = TOW_FUEL_LIMIT);

// True for a car that has left home (or been told to) and has not arrived where
// its state sends it: the cars that are stepped, and that count as on the road.
inline bool is_under_way(const Vehicle& v) {
    switch (v.state) {
        case VS_EVACUATING:
            return !(v.pos == ExitCell);
        case VS_GAVE_UP:
        case VS_OUT_OF_GAS:
            return !(v.pos == v.home);
        default:
            return false;
    }
}

VehicleTally tally_vehicles(const VehicleTable& table);
inline std::int32_t tally_total(const VehicleTally& t) {
    return t.notEvacuated + t.evacuated + t.gaveUp + t.enRoute + t.towed + t.outOfGas;
}
