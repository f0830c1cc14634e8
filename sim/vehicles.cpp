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

void step_all_vehicles(RoadGrid& grid, VehicleTable& table) {
    for (int i = 0; i < table.vehicleCount; ++i)
        step_vehicle(grid, table.vehicles[i], table.towFuelLimit);
}

VehicleTally tally_vehicles(const VehicleTable& table) {
    VehicleTally t{};
    for (int i = 0; i < table.vehicleCount; ++i) {
        const Vehicle& v = table.vehicles[i];
        switch (v.state) {
            case VS_WAITING:
                ++t.notEvacuated;
                break;
            case VS_EVACUATING:
                ++(v.pos == ExitCell ? t.evacuated : t.enRoute);
                break;
            case VS_GAVE_UP:
                ++(v.pos == v.home ? t.gaveUp : t.enRoute);
                break;
            case VS_OUT_OF_GAS:
                ++(v.pos == v.home ? t.towed : t.outOfGas);
                break;
            default:
                break;  // an unknown state is counted nowhere
        }
    }
    return t;
}
