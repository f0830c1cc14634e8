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
    const HomeRoutes& home = table.home;
    if (home.active) {
        // Every car that holds a route has given up and is on its way; the
        // route starts where the car stands or one move behind it, and holds
        // the step it is on unless the car is at its door.
        for (int i = 0; i < table.vehicleCount; ++i) {
            const HomeRoute& r = home.routes[static_cast<std::size_t>(i)];
            if (r.state == HOME_ROUTE_NONE) continue;
            const Vehicle& v = table.vehicles[static_cast<std::size_t>(i)];
            if (v.state != VS_GAVE_UP || v.pos == v.home)
                return fail("home route held by a car not driving home", v.pos.x, v.pos.y, i, -1);
            const std::int32_t apart = std::abs(r.at.x - v.pos.x) + std::abs(r.at.y - v.pos.y);
            if (apart > 1) return fail("home route away from its car", v.pos.x, v.pos.y, r.at.x, r.at.y);
            if (r.state == HOME_ROUTE_KNOWN && r.steps > 0 && r.next >= r.count)
                return fail("home route past its steps", v.pos.x, v.pos.y, r.next, r.count);
        }
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
        // A car holds a lane its cell lets in, unless the road plan changed the
        // cell under it (closed it, or turned it one-way against the car).
        const std::uint8_t layout = grid.cells[k].layout;
        if ((layout & v.heading) == 0 && layout == town.layout[k])
            return fail("car against its lane", v.pos.x, v.pos.y, v.heading, layout);
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
            const std::uint8_t planned = sim.roadState.order.empty()
                                             ? town.layout[k]
                                             : planned_layout(sim, sim.roadState.applied, {x, y});
            if (c.layout != planned) return fail("layout changed", x, y, c.layout, planned);
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
    for (const ExitQuota& q : grid.quotas)
        if (!in_grid(grid, q.cell.x, q.cell.y) || !is_exit(grid, q.cell) || q.capacity < 1 ||
            q.taken < 0 || q.taken > q.capacity)
            return fail("exit quota", q.cell.x, q.cell.y, q.taken, q.capacity);
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
