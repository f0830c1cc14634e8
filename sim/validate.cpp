#include "sim/validate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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
    const int slots = static_cast<int>(table.underWay.words.size() * 64);
    if (table.waiting.words.size() != table.underWay.words.size() || slots < table.vehicleCount ||
        static_cast<int>(table.vehicles.size()) < table.vehicleCount)
        return fail("table sizes", table.vehicleCount, 0, slots,
                    static_cast<int>(table.vehicles.size()));
    static const Vehicle unused{};
    for (int i = 0; i < slots; ++i) {
        const bool used = i < table.vehicleCount;
        const Vehicle& v = used ? table.vehicles[static_cast<std::size_t>(i)] : unused;
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
    const HomeFields& home = table.home;
    if (home.active) {
        // Every car that holds a field has given up and is on its way, and holds
        // its own house's; each house's count of holders is a recount of them;
        // every slot is either free or serves the house that names it.
        thread_local std::vector<std::int32_t> holders;
        holders.assign(home.holders.size(), 0);
        for (int i = 0; i < table.vehicleCount; ++i) {
            const std::int32_t s = home.carSlot[static_cast<std::size_t>(i)];
            if (s < 0) continue;
            const Vehicle& v = table.vehicles[static_cast<std::size_t>(i)];
            const std::int32_t house = house_of_car(home, i);
            if (v.state != VS_GAVE_UP || v.pos == v.home)
                return fail("home field held by a car not driving home", v.pos.x, v.pos.y, s, -1);
            if (home.houseSlot[static_cast<std::size_t>(house)] != s ||
                home.fields[static_cast<std::size_t>(s)].house != house)
                return fail("home field of another house", v.pos.x, v.pos.y, s,
                            home.houseSlot[static_cast<std::size_t>(house)]);
            ++holders[static_cast<std::size_t>(house)];
        }
        for (std::size_t h = 0; h < holders.size(); ++h) {
            if (home.holders[h] != holders[h])
                return fail("kept home field holders", static_cast<int>(h), 0, home.holders[h],
                            holders[h]);
            const std::int32_t s = home.houseSlot[h];
            if ((s >= 0) != (holders[h] > 0))
                return fail("home field without holders", static_cast<int>(h), 0, s, holders[h]);
        }
        std::size_t freeSlots = 0, used = 0;
        for (const HomeFieldSize& size : home.sizes)
            freeSlots += static_cast<std::size_t>(size.freeCount);
        for (const HomeFieldSlot& slot : home.fields) used += slot.house >= 0 ? 1 : 0;
        if (freeSlots + used != home.fields.size())
            return fail("home field slots", static_cast<int>(freeSlots), static_cast<int>(used),
                        static_cast<int>(home.fields.size()), 0);
    }
    if (static_cast<int>(sim.storm.threatFlags.size()) < table.vehicleCount)
        return fail("threat flags", 0, 0, static_cast<int>(sim.storm.threatFlags.size()),
                    table.vehicleCount);
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
    const RoadGrid& grid = sim.grid;
    const Town& town = *sim.town;
    if (grid.width != town.width || grid.height != town.height ||
        grid.cells.size() != town.layout.size())
        return fail("grid size", grid.width, grid.height, static_cast<int>(grid.cells.size()),
                    static_cast<int>(town.layout.size()));
    // What the cars say each cell should hold; the scratch arrays are kept per
    // thread, so checking every tick allocates only when the town grows.
    const std::size_t cells = grid.cells.size();
    thread_local std::vector<unsigned char> lanes;
    thread_local std::vector<int> parked;
    lanes.assign(cells, 0);
    parked.assign(cells, 0);
    const VehicleTable& table = sim.vehicles;
    for (int i = 0; i < table.vehicleCount; ++i) {
        const Vehicle& v = table.vehicles[static_cast<std::size_t>(i)];
        if (!in_grid(grid, v.pos.x, v.pos.y) || !in_grid(grid, v.home.x, v.home.y))
            return fail("car off the grid", v.pos.x, v.pos.y, i, -1);
        const bool onExit = is_exit(grid, v.pos);
        if ((v.onExit != 0) != onExit) return fail("exit mark", v.pos.x, v.pos.y, v.onExit, onExit);
        const std::size_t k = static_cast<std::size_t>(cell_index(grid, v.pos));
        if (v.pos == v.home) {
            ++parked[k];
            continue;
        }
        unsigned char& lane = lanes[k];
        // Only an exit lets two cars share a lane.
        if ((lane & v.heading) != 0 && !onExit)
            return fail("two cars in one lane", v.pos.x, v.pos.y, lane, v.heading);
        lane |= v.heading;
    }
    for (std::int32_t y = 0; y < grid.height; ++y) {
        for (std::int32_t x = 0; x < grid.width; ++x) {
            const std::size_t k = static_cast<std::size_t>(cell_index(grid, {x, y}));
            const GridCell& c = grid.cells[k];
            if (c.layout != town.layout[k])
                return fail("layout changed", x, y, c.layout, town.layout[k]);
            if (c.layout == LAYOUT_HOUSE) {
                if (c.traffic != parked[k]) return fail("house count", x, y, c.traffic, parked[k]);
            } else if (is_exit(grid, {x, y})) {
                // Arrivals share the exit's lanes, and one car leaving clears its
                // lane for all: the exit may hold fewer bits than its cars, never more.
                if ((c.traffic & ~lanes[k]) != 0)
                    return fail("exit lanes", x, y, c.traffic, lanes[k]);
            } else if (c.traffic != lanes[k]) {
                return fail("lanes", x, y, c.traffic, lanes[k]);
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
