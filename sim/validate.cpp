#include "sim/validate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/driver.h"

namespace {

ValidationResult fail(const char* rule, int x, int y, int got, int want) {
    ValidationResult r{false, {}};
    std::snprintf(r.message, sizeof r.message, "%s at (%d, %d): found %d, expected %d", rule, x, y,
                  got, want);
    return r;
}

}  // namespace

ValidationResult validate_kept_state(const Simulation& sim) {
    const VehicleTable& table = sim.vehicles;
    for (int i = 0; i < MAX_VEHICLES; ++i) {
        const bool used = i < table.vehicleCount;
        const Vehicle& v = table.vehicles[i];
        if (in_set(table.underWay, i) != (used && is_under_way(v)))
            return fail("under-way set", v.pos.x, v.pos.y, in_set(table.underWay, i),
                        !in_set(table.underWay, i));
        if (in_set(table.waiting, i) != (used && v.state == VS_WAITING))
            return fail("waiting set", v.pos.x, v.pos.y, in_set(table.waiting, i),
                        !in_set(table.waiting, i));
    }
    const VehicleTally t = tally_vehicles(table);
    const VehicleTally& kept = current_tally(table);
    const std::int32_t counted[6] = {t.notEvacuated, t.evacuated, t.gaveUp,
                                     t.enRoute,      t.towed,     t.outOfGas};
    const std::int32_t held[6] = {kept.notEvacuated, kept.evacuated, kept.gaveUp,
                                  kept.enRoute,      kept.towed,     kept.outOfGas};
    for (int k = 0; k < 6; ++k)
        if (held[k] != counted[k]) return fail("kept tally", k, 0, held[k], counted[k]);
    if (sim.storm.threatFlagsClear) {
        for (int i = 0; i < table.vehicleCount; ++i)
            if (sim.storm.threatFlags[i] != 0)
                return fail("threat flags marked clear", i, 0, sim.storm.threatFlags[i], 0);
    }
    const DecisionModel& m = sim.decisions;
    if (m.arrivalVarianceKnown && table.vehicleCount > 0) {
        const float vw = field_variance(m, table, 'w');
        if (std::memcmp(&vw, &m.arrivalVariance, sizeof vw) != 0)
            return fail("kept arrival variance", 0, 0, static_cast<int>(m.arrivalVariance),
                        static_cast<int>(vw));
    }
    return {true, {}};
}

ValidationResult validate_simulation(const Simulation& sim) {
    // What the cars say each cell should hold.
    unsigned char lanes[GRID_H][GRID_W] = {};
    int parked[GRID_H][GRID_W] = {};
    const VehicleTable& table = sim.vehicles;
    for (int i = 0; i < table.vehicleCount; ++i) {
        const Vehicle& v = table.vehicles[i];
        if (!in_grid(v.pos.x, v.pos.y)) return fail("car off the grid", v.pos.x, v.pos.y, i, -1);
        if (v.pos == v.home) {
            ++parked[v.pos.y][v.pos.x];
            continue;
        }
        unsigned char& lane = lanes[v.pos.y][v.pos.x];
        // Only the exit lets two cars share a lane.
        if ((lane & v.heading) != 0 && !(v.pos == ExitCell))
            return fail("two cars in one lane", v.pos.x, v.pos.y, lane, v.heading);
        lane |= v.heading;
    }
    for (int y = 0; y < GRID_H; ++y) {
        for (int x = 0; x < GRID_W; ++x) {
            const GridCell& c = sim.grid.cells[y][x];
            if (c.layout != MapLayoutTable[y * GRID_W + x])
                return fail("layout changed", x, y, c.layout, MapLayoutTable[y * GRID_W + x]);
            if (c.layout == LAYOUT_HOUSE) {
                if (c.traffic != parked[y][x])
                    return fail("house count", x, y, c.traffic, parked[y][x]);
            } else if (CellPos{x, y} == ExitCell) {
                // Arrivals share the exit's lanes, and one car leaving clears its
                // lane for all: the exit may hold fewer bits than its cars, never more.
                if ((c.traffic & ~lanes[y][x]) != 0)
                    return fail("exit lanes", x, y, c.traffic, lanes[y][x]);
            } else if (c.traffic != lanes[y][x]) {
                return fail("lanes", x, y, c.traffic, lanes[y][x]);
            }
        }
    }
    const VehicleTally t = tally_vehicles(table);
    if (tally_total(t) != table.vehicleCount)
        return fail("tally total", 0, 0, tally_total(t), table.vehicleCount);
    return validate_kept_state(sim);
}

#ifndef NDEBUG
void check_simulation_or_abort(const Simulation& sim) {
    const ValidationResult r = validate_simulation(sim);
    if (r.ok) return;
    std::fprintf(stderr, "marovel: broken simulation state: %s\n", r.message);
    std::abort();
}
#endif
