// What a run shows beside the six counts: when the town settled, when the last
// car reached the exit, how long the evacuated cars' trips took, and how many
// households never left. Observations are read from the simulation after each
// tick and kept outside it, so they change no record of the model and no
// fingerprint.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/driver.h"

// True when no car waits at home and none is under way (driving, or stranded
// out of gas before its tow): nothing in the town can change any more.
inline bool is_settled(const VehicleTally& t) {
    return t.notEvacuated == 0 && t.enRoute == 0 && t.outOfGas == 0;
}

// What one zone's cars did: how many left home, and the first ticks at which
// 50, 90 and 100 % of them stood on an exit (none when never reached).
struct ZoneObservations {
    std::int32_t cars = 0;
    std::int32_t departures = 0;
    std::optional<long long> clear50, clear90, clear100;
    // Cars that gave up or stand out of gas at the run's end (stranded).
    std::int32_t stranded = 0;
    // The first ticks at which 50, 90 and 100 % of the cars that left stood on
    // an exit, as an evacuation time estimate counts them.
    std::optional<long long> out50, out90, out100;
};

struct RunObservations {
    std::optional<long long> settledTick;      // first tick at which the town was settled
    std::optional<long long> lastArrivalTick;  // last tick at which a car reached the exit
    std::int32_t trips = 0;                    // evacuated cars with a known trip time
    double tripMean = 0.0;                     // ticks from the decision to leave to the exit
    double tripP90 = 0.0;                      // 90th percentile of the same
    std::int32_t householdsNeverLeft = 0;      // houses none of whose cars ever left
    // Only on a town with zones or in a run with orders: each zone's figures,
    // and the cars that left home before their zone's first order, at or after
    // it, and in a zone that no order named (shadow evacuation).
    std::vector<ZoneObservations> zones;
    std::int32_t leftBeforeOrder = 0;
    std::int32_t leftAfterOrder = 0;
    std::int32_t leftWithoutOrder = 0;
};

// True when a run's reports carry the zones' figures: its town has zones or it has orders.
bool reports_zones(const Town& town, const std::vector<EvacuationOrder>& orders);

// Watches one run. Call start() on the freshly built scenario (tick 0), then
// after_tick() after every tick with that tick's tally. Allocates nothing; a
// tick with an unchanged tally costs a comparison.
class RunObserver {
  public:
    void start(const Simulation& sim, const VehicleTally& tally);
    void after_tick(const Simulation& sim, long long tick, const VehicleTally& tally);
    RunObservations observations(const Simulation& sim) const;

  private:
    void look_at_cars(const Simulation& sim, long long tick);
    VehicleTally last_ = {};
    RunObservations seen_;
    std::vector<std::int32_t> departed_;  // tick the car left home, -1 while it has not
    std::vector<std::int32_t> arrived_;   // tick it reached an exit, -1 while it has not
};
