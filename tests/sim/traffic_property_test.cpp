// Long runs with cars sent off at random: after every tick the grid must agree
// with the cars standing on it and the tally must account for every car.
// (Whole scenarios are checked every tick under every error level by the
// decision model's bit-for-bit runs.)
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
        std::mt19937 pick(1234 + trial);
        auto sim = reset_town(static_cast<std::int32_t>(1 + 1000 * trial));
        // Waves of different sizes: some runs jam the roads, others stay sparse.
        for (int tick = 1; tick <= 2500; ++tick) {
            for (int k = 0; tick < 1200 && k <= static_cast<int>(trial) * 3; ++k) {
                Vehicle& v = sim->vehicles.vehicles[pick() % 720];
                if (v.state == VS_WAITING && pick() % 4 == 0) v.state = VS_EVACUATING;
            }
            index_vehicles(sim->vehicles);
            step_all_vehicles(sim->grid, sim->vehicles);
            expect_consistent(*sim, tick);
            if (HasFatalFailure()) return;
        }
        for (int i = 0; i < 720; ++i) EXPECT_FALSE(is_under_way(sim->vehicles.vehicles[i])) << i;
    }
}

}  // namespace
