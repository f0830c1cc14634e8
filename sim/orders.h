// Evacuation orders: at given ticks a zone's households are told to leave.
// Whether a household complies is drawn once per house when the scenario is
// built, and only when the run has an order, so a run without orders draws
// what it always drew. The town stays read-only and shared: a run keeps its
// own list of the complying cars of each zone, and reaches them only at the
// ticks their orders are due.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Simulation;
struct Town;
struct ModelParameters;
struct VehicleTable;

// One order: the households of `zone` hear it at the end of tick `tick`.
struct EvacuationOrder {
    std::int32_t zone = 0;  // index into the town's zones (0 in a town without zones)
    std::int64_t tick = 0;  // 0..2^24: 0 reaches them when the scenario is built
};

// What a run keeps of its orders.
struct OrderState {
    bool active = false;                   // orders remain to reach their households
    std::vector<std::uint32_t> order;      // the orders by tick, ties in the order given
    std::size_t issued = 0;                // how many of `order` have reached their zone
    std::int64_t delay = 0;                // order_delay, in ticks
    // The cars of complying households, zone by zone, in table order: zone z's
    // are compliers[zoneStart[z] .. zoneStart[z + 1]).
    std::vector<std::uint32_t> zoneStart;
    std::vector<std::int32_t> compliers;
    std::vector<std::uint8_t> complies;  // per house: 1 when its household complies
    std::vector<std::uint32_t> cursor;   // scratch of the build: a zone's next place
};

// Why the orders cannot run on the town for `ticks` ticks, in one line (empty
// when they can): a zone the town has not, a tick before 0 or past the run.
std::string check_orders(const Town& town, const std::vector<EvacuationOrder>& orders,
                         long long ticks);

// The tick each zone's first order is given, -1 for a zone without one.
std::vector<std::int64_t> first_order_ticks(const Town& town,
                                            const std::vector<EvacuationOrder>& orders);

// The zone of every car in use: its house's (populate_town parks a house's cars
// one after the other, in the town's order of houses).
std::vector<std::uint8_t> car_zones(const Town& town, const VehicleTable& table);

// Sets up the run's orders after the cars and the decisions are built: with at
// least one order, one draw per house in the town's order (uniform_random
// 0..1) says whether its household complies (below order_compliance; every
// household at 1), then the orders due at tick 0 reach their zones. Without
// orders nothing is drawn. Allocates only when the car count or the number of
// orders grew.
void prepare_orders(Simulation& sim);

// At the end of a tick's decisions: the orders due at the clock's tick (their
// tick plus order_delay) reach their zones, and every waiting car of a
// complying household there sets off. Costs a comparison on any other tick.
void advance_orders(Simulation& sim);
