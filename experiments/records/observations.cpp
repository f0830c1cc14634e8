#include "experiments/records/observations.h"

#include <algorithm>
#include <vector>

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
    return o;
}
