#include "sim/vehicles.h"

#include "sim/route.h"

static_assert(2 * 360 <= MAX_VEHICLES, "the built-in town fits the vehicle table");

void populate_town(RoadGrid& grid, VehicleTable& table, RandomState& rng,
                   const ModelParameters& p) {
    // A record that passed check_parameters fits the table; anything else is cut to it.
    const int perHouse = static_cast<int>(p.carsPerHouse);
    table.vehicleCount = 0;
    table.towFuelLimit = -static_cast<std::int32_t>(p.towWait);
    for (int y = 0; y < GRID_H; ++y) {
        for (int x = 0; x < GRID_W; ++x) {
            GridCell& cell = grid.cells[y][x];
            cell.layout = MapLayoutTable[y * GRID_W + x];
            cell.traffic = 0;
            if (cell.layout != LAYOUT_HOUSE) continue;
            for (int k = 0; k < perHouse && table.vehicleCount < MAX_VEHICLES; ++k) {
                Vehicle& v = table.vehicles[table.vehicleCount];
                v.state = VS_WAITING;
                v.home = v.pos = v.prevPos = {x, y};
                v.heading = DIR_Y_DEC;
                // prevHeading is left as it was: every move writes it before reading it.
                v.patience =
                    static_cast<std::int32_t>(uniform_random(rng, p.patienceMin, p.patienceMax));
                v.fuel = static_cast<std::int32_t>(uniform_random(rng, p.fuelMin, p.fuelMax));
                ++table.vehicleCount;
                ++cell.traffic;
            }
        }
    }
    index_vehicles(table);
}

// One tick of one car. Patience is spent before fuel and the target is chosen
// after both, so a car whose patience ends on the step that would have reached
// the exit turns for home instead, and running dry wins over giving up.
void step_vehicle(RoadGrid& grid, Vehicle& v, std::int32_t towFuelLimit) {
    if (!is_under_way(v)) return;

    --v.patience;
    if (v.patience < 0) v.state = VS_GAVE_UP;
    --v.fuel;
    if (static_cast<float>(v.fuel) < static_cast<float>(towFuelLimit)) {
        // Towed home. The state stays what the patience test left.
        clear_traffic(grid, v.pos, v.heading);
        v.pos = v.home;
        ++cell_at(grid, v.home).traffic;
        return;
    }
    if (v.fuel < 0) {
        v.state = VS_OUT_OF_GAS;  // stands where it is and keeps its lane
        return;
    }
    choose_and_move(grid, v, v.state == VS_EVACUATING ? ExitCell : v.home);
}

namespace {

// Where tally_vehicles counts a car: the index of its count in the Info box's
// order, or -1 for an unknown state, counted nowhere.
int tally_slot(const Vehicle& v) {
    switch (v.state) {
        case VS_WAITING:
            return 0;
        case VS_EVACUATING:
            return v.pos == ExitCell ? 1 : 3;
        case VS_GAVE_UP:
            return v.pos == v.home ? 2 : 3;
        case VS_OUT_OF_GAS:
            return v.pos == v.home ? 4 : 5;
        default:
            return -1;
    }
}

std::int32_t& tally_count(VehicleTally& t, int slot) {
    switch (slot) {
        case 0:
            return t.notEvacuated;
        case 1:
            return t.evacuated;
        case 2:
            return t.gaveUp;
        case 3:
            return t.enRoute;
        case 4:
            return t.towed;
        default:
            return t.outOfGas;
    }
}

void set_bit(VehicleSet& set, int index, bool on) {
    const std::uint64_t bit = std::uint64_t{1} << (index & 63);
    std::uint64_t& word = set.words[index >> 6];
    word = on ? word | bit : word & ~bit;
}

}  // namespace

void step_all_vehicles(RoadGrid& grid, VehicleTable& table) {
    for_each_member(table.underWay, [&](int i) {
        Vehicle& v = table.vehicles[i];
        const int before = tally_slot(v);
        step_vehicle(grid, v, table.towFuelLimit);
        const int after = tally_slot(v);
        if (after == before) return;  // still under way, as most cars are
        --tally_count(table.tally, before);
        if (after >= 0) ++tally_count(table.tally, after);
        if (!is_under_way(v)) set_bit(table.underWay, i, false);
    });
}

VehicleTally tally_vehicles(const VehicleTable& table) {
    VehicleTally t{};
    for (int i = 0; i < table.vehicleCount; ++i) {
        const int slot = tally_slot(table.vehicles[i]);
        if (slot >= 0) ++tally_count(t, slot);
    }
    return t;
}

void index_vehicles(VehicleTable& table) {
    table.underWay = {};
    table.waiting = {};
    for (int i = 0; i < table.vehicleCount; ++i) {
        const Vehicle& v = table.vehicles[i];
        set_bit(table.underWay, i, is_under_way(v));
        set_bit(table.waiting, i, v.state == VS_WAITING);
    }
    table.tally = tally_vehicles(table);
}

void start_evacuating(VehicleTable& table, int index) {
    Vehicle& v = table.vehicles[index];
    --tally_count(table.tally, tally_slot(v));
    v.state = VS_EVACUATING;
    ++tally_count(table.tally, tally_slot(v));
    set_bit(table.waiting, index, false);
    set_bit(table.underWay, index, is_under_way(v));
}
