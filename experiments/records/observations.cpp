#include "experiments/records/observations.h"

#include <algorithm>
#include <vector>

#include "experiments/records/households.h"
#include "experiments/records/summary.h"

namespace {

bool same(const VehicleTally& a, const VehicleTally& b) {
    return a.notEvacuated == b.notEvacuated && a.evacuated == b.evacuated;
}

}  // namespace

void RunObserver::start(const Simulation& sim, const VehicleTally& tally) {
    seen_ = {};
    departed_.assign(static_cast<std::size_t>(sim.vehicles.vehicleCount), -1);
    arrived_.assign(static_cast<std::size_t>(sim.vehicles.vehicleCount), -1);
    last_ = tally;
    look_at_cars(sim, 0);
    if (is_settled(tally)) seen_.settledTick = 0;
}

// Cars leave home only by deciding to (the waiting count falls) and reach the
// exit only by arriving (the evacuated count rises), so the cars are looked at
// only on ticks when one of those two counts moved.
void RunObserver::after_tick(const Simulation& sim, long long tick, const VehicleTally& tally) {
    if (!same(tally, last_)) look_at_cars(sim, tick);
    if (tally.evacuated > last_.evacuated) seen_.lastArrivalTick = tick;
    last_ = tally;
    if (!seen_.settledTick && is_settled(tally)) seen_.settledTick = tick;
}

void RunObserver::look_at_cars(const Simulation& sim, long long tick) {
    const auto t = static_cast<std::int32_t>(tick);
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i) {
        const Vehicle& v = sim.vehicles.vehicles[i];
        if (departed_[i] < 0 && v.state != VS_WAITING) departed_[i] = t;
        if (arrived_[i] < 0 && v.state == VS_EVACUATING && v.onExit != 0) arrived_[i] = t;
    }
}

bool reports_zones(const Town& town, const std::vector<EvacuationOrder>& orders) {
    return !town.zoneNames.empty() || !orders.empty();
}

namespace {

// The first tick by which `need` of the ticks (sorted) had come; none when too few came.
std::optional<long long> tick_of_share(const std::vector<std::int32_t>& sorted, std::int32_t need) {
    if (need <= 0 || static_cast<std::size_t>(need) > sorted.size()) return std::nullopt;
    return sorted[static_cast<std::size_t>(need) - 1];
}

// The zones' figures from each car's departure and arrival ticks (-1: never).
void observe_zones(const Simulation& sim, const std::vector<std::int32_t>& departed,
                   const std::vector<std::int32_t>& arrived, RunObservations& o) {
    const Town& town = *sim.town;
    const std::vector<std::uint8_t> zoneOf = car_zones(town, sim.vehicles);
    const std::vector<std::int64_t> ordered = first_order_ticks(town, sim.orders);
    o.zones.assign(zone_count(town), ZoneObservations{});
    std::vector<std::vector<std::int32_t>> arrivals(zone_count(town));
    for (std::size_t i = 0; i < zoneOf.size(); ++i) {
        ZoneObservations& z = o.zones[zoneOf[i]];
        ++z.cars;
        const CarOutcome outcome = outcome_of(sim.vehicles.vehicles[i]);
        z.stranded += outcome == CarOutcome::GaveUp || outcome == CarOutcome::OutOfGas;
        if (arrived[i] >= 0) arrivals[zoneOf[i]].push_back(arrived[i]);
        if (departed[i] < 0) continue;
        ++z.departures;
        const std::int64_t order = ordered[zoneOf[i]];
        if (order < 0)
            ++o.leftWithoutOrder;
        else if (departed[i] < order)
            ++o.leftBeforeOrder;
        else
            ++o.leftAfterOrder;
    }
    for (std::size_t k = 0; k < o.zones.size(); ++k) {
        ZoneObservations& z = o.zones[k];
        std::sort(arrivals[k].begin(), arrivals[k].end());
        // As the town's tick_50: the first tick with at least that share of
        // `count` cars out.
        const auto at = [&](std::int64_t count, std::int64_t percent) {
            return tick_of_share(arrivals[k],
                                 static_cast<std::int32_t>((count * percent + 99) / 100));
        };
        z.clear50 = at(z.cars, 50);
        z.clear90 = at(z.cars, 90);
        z.clear100 = at(z.cars, 100);
        // The same of the cars that left (none when no car left: a need of 0).
        z.out50 = at(z.departures, 50);
        z.out90 = at(z.departures, 90);
        z.out100 = at(z.departures, 100);
    }
}

}  // namespace

RunObservations RunObserver::observations(const Simulation& sim) const {
    RunObservations o = seen_;
    std::vector<double> trips;
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i)
        if (arrived_[i] >= 0 && departed_[i] >= 0) trips.push_back(arrived_[i] - departed_[i]);
    if (!trips.empty()) {
        const Spread s = spread_of(trips);
        o.trips = static_cast<std::int32_t>(s.count);
        o.tripMean = s.mean;
        o.tripP90 = s.p90;
    }
    // A house has been left when any of its cars has left.
    const std::size_t cells = sim.grid.cells.size();
    std::vector<bool> hasCar(cells), left(cells);
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i) {
        const CellPos home = sim.vehicles.vehicles[i].home;
        const std::size_t cell = static_cast<std::size_t>(cell_index(sim.grid, home));
        hasCar[cell] = true;
        left[cell] = left[cell] || departed_[i] >= 0;
    }
    for (std::size_t cell = 0; cell < cells; ++cell)
        if (hasCar[cell] && !left[cell]) ++o.householdsNeverLeft;
    if (reports_zones(*sim.town, sim.orders)) observe_zones(sim, departed_, arrived_, o);
    return o;
}
