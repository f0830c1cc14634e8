// Evacuation orders by zone, on a street built for them (support/zoned_street.h).
// With travel_term_weight = 0 no household there leaves on its own before
// tick 100, so what happens earlier is the orders' doing.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "experiments/records/observations.h"
#include "sim/scenario.h"
#include "sim/town_text.h"
#include "support/zoned_street.h"

namespace {

constexpr int FAR = 0, NEAR = 1;

std::shared_ptr<const Town> street() {
    Town t;
    TownTextError e;
    EXPECT_TRUE(parse_town(ZONED_STREET, t, e)) << e.line << ":" << e.column << " " << e.message;
    return std::make_shared<const Town>(std::move(t));
}

ModelParameters obeying(double compliance, double delay = 0) {
    ModelParameters p;
    p.travelWeight = 0.0;
    p.orderCompliance = compliance;
    p.orderDelay = delay;
    return p;
}

struct Outcome {
    RunObservations seen;
    std::vector<long long> left;  // per car: the first tick it was not waiting; -1: never
    std::vector<bool> far;        // per car: its house lies in the far zone
};

Outcome run_street(const std::vector<EvacuationOrder>& orders, const ModelParameters& p,
                   long long ticks = 400) {
    auto sim = std::make_unique<Simulation>();
    build_scenario(*sim, {1, p, false, {}, orders}, street());
    const int n = sim->vehicles.vehicleCount;
    Outcome o{{}, std::vector<long long>(n, -1), std::vector<bool>(n)};
    for (int i = 0; i < n; ++i) o.far[i] = in_far_zone(sim->vehicles.vehicles[i].home);
    RunObserver observer;
    for (long long tick = 0; tick <= ticks; ++tick) {
        if (tick > 0) sim_tick(*sim);
        const VehicleTally t = current_tally(sim->vehicles);
        tick == 0 ? observer.start(*sim, t) : observer.after_tick(*sim, tick, t);
        for (int i = 0; i < n; ++i)
            if (o.left[i] < 0 && sim->vehicles.vehicles[i].state != VS_WAITING) o.left[i] = tick;
    }
    o.seen = observer.observations(*sim);
    return o;
}

// Ordered together, the near zone's cars take the lanes in front of the far
// zone's; ordered only once the far zone is out, they leave the street to it.
TEST(Orders, AStagedPlanClearsTheFirstZoneEarlierThanASimultaneousOne) {
    const Outcome together = run_street({{FAR, 20}, {NEAR, 20}}, obeying(1));
    const Outcome staged = run_street({{FAR, 20}, {NEAR, 100}}, obeying(1));
    ASSERT_TRUE(together.seen.zones[FAR].clear90 && staged.seen.zones[FAR].clear90);
    EXPECT_LT(*staged.seen.zones[FAR].clear90, *together.seen.zones[FAR].clear90);
    ASSERT_TRUE(together.seen.zones[FAR].clear100 && staged.seen.zones[FAR].clear100);
    EXPECT_LT(*staged.seen.zones[FAR].clear100, *together.seen.zones[FAR].clear100);
}

// Every household complies at 1: each car of the ordered zone sets off at the
// end of the order's tick plus order_delay, none earlier (no household there
// leaves on its own so soon), and the other zone's cars stay until they decide.
TEST(Orders, WithFullComplianceEveryCarOfTheZoneLeavesAtTheOrdersTickPlusTheDelay) {
    for (double delay : {0.0, 15.0}) {
        const Outcome o = run_street({{FAR, 20}}, obeying(1, delay));
        const long long due = 20 + static_cast<long long>(delay);
        for (std::size_t i = 0; i < o.left.size(); ++i) {
            if (o.far[i])
                EXPECT_EQ(o.left[i], due) << "car " << i << ", delay " << delay;
            else
                EXPECT_TRUE(o.left[i] < 0 || o.left[i] > due) << "car " << i << ", delay " << delay;
        }
    }
    // At 0 nobody obeys: the far zone waits as the near one does.
    const Outcome none = run_street({{FAR, 20}}, obeying(0));
    for (std::size_t i = 0; i < none.left.size(); ++i)
        EXPECT_TRUE(none.left[i] < 0 || none.left[i] > 20) << i;
}

// Under the default decisions households on the street leave on their own
// from the first ticks. With only the far zone ordered, at tick 50, the near
// zone's cars that leave are the shadow evacuation, and the far zone's split
// into those that went before the order and those that went at or after it.
TEST(Orders, ShadowEvacuationIsCountedApartFromTheOrderedZones) {
    ModelParameters p;
    p.orderCompliance = 1.0;
    const Outcome o = run_street({{FAR, 50}}, p);
    std::int32_t shadow = 0, before = 0, after = 0;
    for (std::size_t i = 0; i < o.left.size(); ++i) {
        if (o.left[i] < 0) continue;
        if (!o.far[i])
            ++shadow;
        else
            ++(o.left[i] < 50 ? before : after);
    }
    EXPECT_GT(shadow, 0);
    EXPECT_GT(before, 0);
    EXPECT_GT(after, 0);
    EXPECT_EQ(o.seen.leftWithoutOrder, shadow);
    EXPECT_EQ(o.seen.leftBeforeOrder, before);
    EXPECT_EQ(o.seen.leftAfterOrder, after);
    EXPECT_EQ(o.seen.zones[NEAR].departures, shadow);
    EXPECT_EQ(o.seen.zones[FAR].departures, before + after);
}

// With an order, one draw per house when the scenario is built (after the
// cars' patience and fuel), whatever the zones; without one, none at all, so
// a run whose order parameters are set but which has no order is the default run.
TEST(Orders, ARunDrawsOncePerHouseForItsOrdersAndNothingWithoutThem) {
    ModelParameters p;
    p.orderCompliance = 1.0;
    auto plain = std::make_unique<Simulation>();
    build_scenario(*plain, {1, ModelParameters{}, false});
    auto ordered = std::make_unique<Simulation>();
    build_scenario(*ordered, {1, p, false, {}, {{0, 100}}});
    RandomState expected = plain->rng;
    for (std::size_t k = 0; k < builtin_town().houses.size(); ++k) next_random(expected);
    EXPECT_EQ(ordered->rng.state, expected.state);
    auto unordered = std::make_unique<Simulation>();
    build_scenario(*unordered, {1, p, false});
    for (int tick = 1; tick <= 300; ++tick) {
        sim_tick(*plain);
        sim_tick(*unordered);
    }
    EXPECT_EQ(plain->rng.state, unordered->rng.state);
    EXPECT_EQ(plain->vehicles.tally.evacuated, unordered->vehicles.tally.evacuated);
}

}  // namespace
