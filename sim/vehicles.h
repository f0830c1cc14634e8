// The town's cars: population from the map, the per-tick life cycle, and the
// six-way tally the user reads.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/grid.h"
#include "sim/home_route.h"
#include "sim/parameters.h"
#include "sim/random.h"
#include "sim/town.h"

constexpr int TOW_FUEL_LIMIT =
    -60;  // by default a stranded car stands 60 ticks, then is towed home

enum VehicleState : std::uint8_t {
    VS_WAITING = 0,     // at home; the household has not decided to leave
    VS_EVACUATING = 1,  // driving to an exit; evacuated once it stands on one
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
    std::uint8_t door;    // the move from its house onto its door; DIR_Y_DEC in the built-in town
    std::uint8_t onExit;  // 1 while it stands on an exit cell (kept by every move)
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

// A set of table entries, bit i of word i / 64 for entry i; bits past the cars
// in use are clear. Sized with the table when the town is populated.
struct VehicleSet {
    std::vector<std::uint64_t> words;
};

struct VehicleTable {
    std::vector<Vehicle> vehicles;               // sized from the town when it is populated
    std::int32_t vehicleCount = 0;               // entries 0..vehicleCount-1 are in use
    std::int32_t towFuelLimit = TOW_FUEL_LIMIT;  // fuel at which a stranded car is towed: -tow_wait
    // Kept up to date as cars change state, so that a tick visits only the cars
    // it can change and nobody has to count: once the town has left, a tick
    // steps nobody. Whoever edits cars directly calls index_vehicles afterwards.
    VehicleSet underWay = {};  // the cars is_under_way holds for
    VehicleSet waiting = {};   // the cars in VS_WAITING
    VehicleTally tally = {};   // what tally_vehicles counts
    // Straight-line distance from each car's house to the nearest exit, in
    // double: the fixed part of its household's trip effort.
    std::vector<double> exitDistance;
    // Under the road guide, the routes by which cars that gave up drive home;
    // inactive (and empty) under the straight rule.
    HomeRoutes home;
};

// Rebuilds the grid from the town (its size, layout and exits) and parks new
// waiting cars in every house, `cars_per_house` or the house's own count,
// drawing each car's patience and then its fuel (1440 draws in all on the
// built-in town with the default two cars). The grid and table keep their
// storage when the town's size and car count are unchanged, so a rebuild of
// the same town allocates nothing. Fails (returns false, with an empty table)
// only when the town holds more than MAX_TOWN_CARS cars.
bool populate_town(const Town& town, RoadGrid& grid, VehicleTable& table, RandomState& rng,
                   const ModelParameters& p = ModelParameters{});
// The same on the built-in town.
bool populate_town(RoadGrid& grid, VehicleTable& table, RandomState& rng,
                   const ModelParameters& p = ModelParameters{});

// The number of cars the town gets under these parameters.
std::int64_t town_car_count(const Town& town, const ModelParameters& p);

// Sizes the grid to the town and copies its layout and exits; clears the traffic.
void build_grid(const Town& town, RoadGrid& grid);

// Steps every car under way once, in table order, each seeing the moves of
// those before it, and keeps the sets and the tally up to date. Under the road
// guide a car that gave up drives home by its house's field (step_vehicle,
// which knows no table, drives every car home by the straight rule).
void step_all_vehicles(RoadGrid& grid, VehicleTable& table);
void step_vehicle(RoadGrid& grid, Vehicle& v, std::int32_t towFuelLimit = TOW_FUEL_LIMIT);

// True for a car that has left home (or been told to) and has not arrived where
// its state sends it: the cars that are stepped, and that count as on the road.
inline bool is_under_way(const Vehicle& v) {
    switch (v.state) {
        case VS_EVACUATING:
            return v.onExit == 0;
        case VS_GAVE_UP:
        case VS_OUT_OF_GAS:
            return !(v.pos == v.home);
        default:
            return false;
    }
}

// Where the tally counts a car: the index of its count in VehicleTally's order
// (0 not evacuated .. 5 out of gas), or -1 for an unknown state, counted nowhere.
constexpr int TALLY_SLOTS = 6;
int tally_slot(const Vehicle& v);

// The Info box's counts by looking at every car; and the kept copy, which costs nothing.
VehicleTally tally_vehicles(const VehicleTable& table);
inline const VehicleTally& current_tally(const VehicleTable& table) {
    return table.tally;
}

// Rebuilds the sets and the tally from the cars: after populating the town, or
// after a caller changed cars' states directly. A caller that moved cars
// directly gives the grid, so that each car's exit mark is set afresh first.
void index_vehicles(VehicleTable& table);
void index_vehicles(const RoadGrid& grid, VehicleTable& table);

// A waiting household's car sets off: evacuating, under way, counted en route.
void start_evacuating(VehicleTable& table, int index);

inline bool in_set(const VehicleSet& set, int index) {
    return (set.words[index >> 6] >> (index & 63) & 1u) != 0;
}
// Calls f(index) for every member, in table order. f may remove the member it
// is given, never others.
template <class F>
inline void for_each_member(const VehicleSet& set, F&& f) {
    const std::size_t n = set.words.size();
    for (std::size_t w = 0; w < n; ++w) {
        for (std::uint64_t bits = set.words[w]; bits != 0; bits &= bits - 1)
            f(static_cast<int>(w * 64) + __builtin_ctzll(bits));
    }
}
inline std::int32_t tally_total(const VehicleTally& t) {
    return t.notEvacuated + t.evacuated + t.gaveUp + t.enRoute + t.towed + t.outOfGas;
}
