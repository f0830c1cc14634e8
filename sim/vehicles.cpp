#include "sim/vehicles.h"

#include "sim/route.h"

namespace {

int cars_of(const House& h, int perHouse) {
    return h.cars >= 0 ? h.cars : perHouse;
}

// sqrt of the least squared distance from the cell to an exit: the distance to
// the nearest exit, to the bit what cell_distance gives for it.
double nearest_exit_distance(const Town& town, CellPos c) {
    double best = cell_distance(c, town.exits[0]);
    for (std::size_t k = 1; k < town.exits.size(); ++k) {
        const double d = cell_distance(c, town.exits[k]);
        if (d < best) best = d;
    }
    return best;
}

}  // namespace

std::int64_t town_car_count(const Town& town, const ModelParameters& p) {
    const int perHouse = static_cast<int>(p.carsPerHouse);
    std::int64_t n = 0;
    for (const House& h : town.houses) n += cars_of(h, perHouse);
    return n;
}

void build_grid(const Town& town, RoadGrid& grid) {
    grid.width = town.width;
    grid.height = town.height;
    grid.cells.resize(town.layout.size());
    for (std::size_t i = 0; i < town.layout.size(); ++i) grid.cells[i] = {town.layout[i], 0};
    grid.firstExit = town.exits.empty() ? CellPos{-1, -1} : town.exits[0];
    grid.singleExit = town.exits.size() <= 1;
    grid.exits = town.exits;
    grid.quotas.clear();
    for (std::size_t k = 0; k < town.exits.size(); ++k)
        if (exit_capacity(town, k) > 0)
            grid.quotas.push_back({town.exits[k], exit_capacity(town, k), 0});
    grid.exitSteps = nullptr;
    grid.ownSteps = false;
    grid.exitSquares = nullptr;
    grid.exitBits.assign(grid.singleExit ? 0 : (town.layout.size() + 63) / 64, 0);
    if (!grid.singleExit)
        for (CellPos e : town.exits) {
            const std::size_t i = static_cast<std::size_t>(cell_index(grid, e));
            grid.exitBits[i >> 6] |= std::uint64_t{1} << (i & 63);
        }
}

bool populate_town(const Town& town, RoadGrid& grid, VehicleTable& table, RandomState& rng,
                   const ModelParameters& p) {
    // A record that passed check_parameters gives a whole count of 1..100.
    const int perHouse = static_cast<int>(p.carsPerHouse);
    build_grid(town, grid);
    table.vehicleCount = 0;
    table.towFuelLimit = -static_cast<std::int32_t>(p.towWait);
    const std::int64_t total = town_car_count(town, p);
    const bool fits = total <= MAX_TOWN_CARS;
    const std::size_t n = fits ? static_cast<std::size_t>(total) : 0;
    table.vehicles.resize(n);
    table.exitDistance.resize(n);
    table.underWay.words.resize((n + 63) / 64);
    table.waiting.words.resize((n + 63) / 64);
    if (fits) {
        for (const House& h : town.houses) {
            const int cars = cars_of(h, perHouse);
            GridCell& cell = cell_at(grid, h.pos);
            const double toExit = nearest_exit_distance(town, h.pos);
            for (int k = 0; k < cars; ++k) {
                Vehicle& v = table.vehicles[static_cast<std::size_t>(table.vehicleCount)];
                v.state = VS_WAITING;
                v.home = v.pos = v.prevPos = h.pos;
                v.heading = h.door;
                v.door = h.door;
                v.onExit = 0;
                // prevHeading is left as it was: every move writes it before reading it.
                v.patience =
                    static_cast<std::int32_t>(uniform_random(rng, p.patienceMin, p.patienceMax));
                v.fuel = static_cast<std::int32_t>(uniform_random(rng, p.fuelMin, p.fuelMax));
                table.exitDistance[static_cast<std::size_t>(table.vehicleCount)] = toExit;
                ++table.vehicleCount;
                ++cell.traffic;
            }
        }
    }
    prepare_home_routes(table.home, town, table.vehicleCount,
                        p.routeGuide == ROUTE_GUIDE_ROAD && fits);
    index_vehicles(table);
    return fits;
}

bool populate_town(RoadGrid& grid, VehicleTable& table, RandomState& rng,
                   const ModelParameters& p) {
    return populate_town(builtin_town(), grid, table, rng, p);
}

namespace {

// A car that gave up, on its way home: by its route under the road guide
// (`home` not null), else by the straight rule.
void drive_home(RoadGrid& grid, Vehicle& v, HomeRoutes* home, std::int32_t index) {
    if (home != nullptr)
        choose_and_move_home_by_route(grid, v, home_route_for(*home, grid, v, index));
    else
        choose_and_move(grid, v, v.home);
}

// One tick of one car. Patience is spent before fuel and the target is chosen
// after both, so a car whose patience ends on the step that would have reached
// the exit turns for home instead, and running dry wins over giving up.
inline void step_car(RoadGrid& grid, Vehicle& v, std::int32_t towFuelLimit, HomeRoutes* home,
                     std::int32_t index) {
    if (!is_under_way(v)) return;

    --v.patience;
    if (v.patience < 0) v.state = VS_GAVE_UP;
    --v.fuel;
    if (static_cast<float>(v.fuel) < static_cast<float>(towFuelLimit)) {
        // Towed home. The state stays what the patience test left.
        clear_traffic(grid, v.pos, v.heading);
        v.pos = v.home;
        v.onExit = 0;
        ++cell_at(grid, v.home).traffic;
        return;
    }
    if (v.fuel < 0) {
        v.state = VS_OUT_OF_GAS;  // stands where it is and keeps its lane
        return;
    }
    if (v.state != VS_EVACUATING)
        drive_home(grid, v, home, index);
    else if (grid.exitSteps != nullptr)
        choose_and_move_by_steps(grid, v, exit_steps(grid));
    else if (grid.singleExit)
        choose_and_move(grid, v, grid.firstExit);
    else
        choose_and_move_to_exits(grid, v);
}

}  // namespace

void step_vehicle(RoadGrid& grid, Vehicle& v, std::int32_t towFuelLimit) {
    step_car(grid, v, towFuelLimit, nullptr, 0);
}

int tally_slot(const Vehicle& v) {
    switch (v.state) {
        case VS_WAITING:
            return 0;
        case VS_EVACUATING:
            return v.onExit != 0 ? 1 : 3;
        case VS_GAVE_UP:
            return v.pos == v.home ? 2 : 3;
        case VS_OUT_OF_GAS:
            return v.pos == v.home ? 4 : 5;
        default:
            return -1;
    }
}

namespace {

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
    for (ExitQuota& q : grid.quotas) q.taken = 0;  // each exit's places are for one tick
    HomeRoutes* const home = table.home.active ? &table.home : nullptr;
    for_each_member(table.underWay, [&](int i) {
        Vehicle& v = table.vehicles[i];
        const int before = tally_slot(v);
        step_car(grid, v, table.towFuelLimit, home, i);
        const int after = tally_slot(v);
        if (after == before) return;  // still under way, as most cars are
        // A car driving home by a route counts en route until it is home or
        // stranded: the route is dropped on that change.
        if (home != nullptr) release_home_route(*home, i);
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
    clear_home_routes(table.home);
    const std::size_t words = (static_cast<std::size_t>(table.vehicleCount) + 63) / 64;
    table.underWay.words.assign(words, 0);
    table.waiting.words.assign(words, 0);
    for (int i = 0; i < table.vehicleCount; ++i) {
        const Vehicle& v = table.vehicles[i];
        set_bit(table.underWay, i, is_under_way(v));
        set_bit(table.waiting, i, v.state == VS_WAITING);
    }
    table.tally = tally_vehicles(table);
}

void index_vehicles(const RoadGrid& grid, VehicleTable& table) {
    for (int i = 0; i < table.vehicleCount; ++i) {
        Vehicle& v = table.vehicles[static_cast<std::size_t>(i)];
        v.onExit = !(v.pos == v.home) && in_grid(grid, v.pos.x, v.pos.y) && is_exit(grid, v.pos);
    }
    index_vehicles(table);
}

void start_evacuating(VehicleTable& table, int index) {
    Vehicle& v = table.vehicles[index];
    --tally_count(table.tally, tally_slot(v));
    v.state = VS_EVACUATING;
    ++tally_count(table.tally, tally_slot(v));
    set_bit(table.waiting, index, false);
    set_bit(table.underWay, index, is_under_way(v));
}
