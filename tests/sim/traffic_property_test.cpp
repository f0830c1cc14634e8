// Long runs with cars sent off at random: after every tick the grid must agree
// with the cars standing on it and the tally must account for every car.
#include <gtest/gtest.h>

#include <random>

#include "support/town.h"

namespace {

void expect_consistent(const Simulation& sim, int tick) {
    const ValidationResult r = validate_simulation(sim);
    ASSERT_TRUE(r.ok) << "tick " << tick << ": " << r.message;
    ASSERT_EQ(tally_total(tally_vehicles(sim.vehicles)), 720) << "tick " << tick;
}

TEST(TrafficProperty, LanesHousesAndTallyStayConsistentWhileCarsLeaveAtRandom) {
    for (std::uint32_t trial = 0; trial < 6; ++trial) {
        SCOPED_TRACE(trial);
        std::mt19937 pick(1234 + trial);
        auto sim = reset_town(static_cast<std::int32_t>(1 + 1000 * trial));
        // Departures come in waves of different sizes, so that some runs jam the
        // roads and others stay sparse.
        const int perTick = 1 + static_cast<int>(trial) * 3;
        for (int tick = 1; tick <= 2500; ++tick) {
            if (tick < 1200) {
                for (int k = 0; k < perTick; ++k) {
                    Vehicle& v = sim->vehicles.vehicles[pick() % 720];
                    if (v.state == VS_WAITING && pick() % 4 == 0) v.state = VS_EVACUATING;
                }
            }
            step_all_vehicles(sim->grid, sim->vehicles);
            expect_consistent(*sim, tick);
            if (HasFatalFailure()) return;
        }
        // Long after the last departure, every car that left has ended somewhere.
        for (int i = 0; i < 720; ++i) EXPECT_FALSE(is_under_way(sim->vehicles.vehicles[i])) << i;
    }
}

TEST(TrafficProperty, WholeScenariosStayConsistentUnderEveryErrorLevel) {
    for (float level : {ERROR_LOW, ERROR_MODERATE, ERROR_HIGH}) {
        SCOPED_TRACE(level);
        auto sim = reset_town(1, level);
        for (int tick = 1; tick <= 2000; ++tick) {
            sim_tick(*sim);
            expect_consistent(*sim, tick);
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
