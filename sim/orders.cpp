#include "sim/orders.h"

#include <algorithm>
#include <cstdio>

#include "sim/driver.h"

std::string check_orders(const Town& town, const std::vector<EvacuationOrder>& orders,
                         long long ticks) {
    char text[240];
    for (const EvacuationOrder& o : orders) {
        if (o.zone < 0 || static_cast<std::size_t>(o.zone) >= zone_count(town)) {
            std::snprintf(text, sizeof text, "zone %d: the town has %zu zones",
                          static_cast<int>(o.zone), zone_count(town));
            return text;
        }
        if (o.tick < 0 || o.tick > ticks) {
            std::snprintf(text, sizeof text,
                          "%s@%lld: an order is given at a tick of the run, 0..%lld",
                          zone_name(town, static_cast<std::size_t>(o.zone)).c_str(),
                          static_cast<long long>(o.tick), ticks);
            return text;
        }
    }
    return {};
}

std::vector<std::int64_t> first_order_ticks(const Town& town,
                                            const std::vector<EvacuationOrder>& orders) {
    std::vector<std::int64_t> first(zone_count(town), -1);
    for (const EvacuationOrder& o : orders) {
        std::int64_t& t = first[static_cast<std::size_t>(o.zone)];
        if (t < 0 || o.tick < t) t = o.tick;
    }
    return first;
}

std::vector<std::uint8_t> car_zones(const Town& town, const VehicleTable& table) {
    std::vector<std::uint8_t> zones(static_cast<std::size_t>(table.vehicleCount), 0);
    if (town.houseZone.empty()) return zones;
    std::size_t h = 0;
    for (std::size_t i = 0; i < zones.size(); ++i) {
        const CellPos home = table.vehicles[i].home;
        while (h < town.houses.size() && !(town.houses[h].pos == home)) ++h;
        zones[i] = static_cast<std::uint8_t>(house_zone(town, h));
    }
    return zones;
}

namespace {

// Every order due by `now` reaches its zone: its complying households' waiting cars set off.
void issue_due(Simulation& sim, std::int64_t now) {
    OrderState& state = sim.orderState;
    while (state.issued < state.order.size() &&
           sim.orders[state.order[state.issued]].tick + state.delay <= now) {
        const std::size_t zone =
            static_cast<std::size_t>(sim.orders[state.order[state.issued]].zone);
        ++state.issued;
        for (std::uint32_t k = state.zoneStart[zone]; k < state.zoneStart[zone + 1]; ++k) {
            const int car = state.compliers[k];
            if (sim.vehicles.vehicles[static_cast<std::size_t>(car)].state == VS_WAITING)
                start_evacuating(sim.vehicles, car);
        }
    }
    state.active = state.issued < state.order.size();
}

}  // namespace

void prepare_orders(Simulation& sim) {
    OrderState& state = sim.orderState;
    state.issued = 0;
    state.active = false;
    state.order.clear();
    if (sim.orders.empty()) return;
    const Town& town = *sim.town;
    const ModelParameters& p = sim.parameters;
    state.delay = static_cast<std::int64_t>(p.orderDelay);
    state.order.resize(sim.orders.size());
    for (std::size_t k = 0; k < state.order.size(); ++k) state.order[k] = static_cast<std::uint32_t>(k);
    // By tick, ties in the order given (std::sort takes no buffer from the heap).
    std::sort(state.order.begin(), state.order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const std::int64_t ta = sim.orders[a].tick, tb = sim.orders[b].tick;
        return ta < tb || (ta == tb && a < b);
    });
    // One draw per house, in the town's order; its cars, consecutive in the
    // table as populate_town parks them, counted into their zone.
    const std::size_t zones = zone_count(town);
    const int perHouse = static_cast<int>(p.carsPerHouse);
    const bool everyone = p.orderCompliance >= 1.0;
    state.complies.resize(town.houses.size());
    state.zoneStart.assign(zones + 1, 0);
    for (std::size_t h = 0; h < town.houses.size(); ++h) {
        const double f = uniform_random(sim.rng, 0.0, 1.0);
        state.complies[h] = everyone || f < p.orderCompliance ? 1 : 0;
        if (state.complies[h] == 0) continue;
        const int cars = town.houses[h].cars >= 0 ? town.houses[h].cars : perHouse;
        state.zoneStart[house_zone(town, h) + 1] += static_cast<std::uint32_t>(cars);
    }
    for (std::size_t z = 0; z < zones; ++z) state.zoneStart[z + 1] += state.zoneStart[z];
    state.compliers.resize(state.zoneStart[zones]);
    state.cursor.assign(state.zoneStart.begin(), state.zoneStart.end() - 1);
    std::int32_t car = 0;
    for (std::size_t h = 0; h < town.houses.size(); ++h) {
        const int cars = town.houses[h].cars >= 0 ? town.houses[h].cars : perHouse;
        if (state.complies[h] != 0)
            for (int k = 0; k < cars; ++k)
                state.compliers[state.cursor[house_zone(town, h)]++] = car + k;
        car += cars;
    }
    issue_due(sim, 0);
}

void advance_orders(Simulation& sim) {
    const OrderState& state = sim.orderState;
    const std::int64_t now = static_cast<std::int64_t>(sim.storm.simTime);
    if (sim.orders[state.order[state.issued]].tick + state.delay > now) return;
    issue_due(sim, now);
}
