// What a run showed, against a plain account kept car by car every tick.
#include "experiments/records/observations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "sim/scenario.h"

namespace {

struct Account {
    std::vector<long long> left, arrived;  // per car, -1 while not
    std::optional<long long> settled, lastArrival;
};

TEST(Observations, AgreeWithACarByCarAccountOfTheRun) {
    ModelParameters oneCar;
    oneCar.carsPerHouse = 1;
    oneCar.errorSpread = ERROR_MODERATE;
    ModelParameters shortTrips;
    shortTrips.fuelMin = shortTrips.fuelMax = 30;  // many run dry and are towed
    shortTrips.towWait = 10;
    for (const ModelParameters& p : {error_level(ERROR_LOW), error_level(ERROR_MODERATE),
                                     error_level(ERROR_HIGH), oneCar, shortTrips}) {
        for (std::int32_t seed : {1, 2001, 77}) {
            auto sim = std::make_unique<Simulation>();
            build_scenario(*sim, {seed, p, false});
            const int n = sim->vehicles.vehicleCount;
            Account a{std::vector<long long>(n, -1), std::vector<long long>(n, -1), {}, {}};
            auto observer = std::make_unique<RunObserver>();
            for (long long tick = 0; tick <= 2500; ++tick) {
                if (tick > 0) sim_tick(*sim);
                const VehicleTally t = tally_vehicles(sim->vehicles);
                tick == 0 ? observer->start(*sim, t) : observer->after_tick(*sim, tick, t);
                bool moving = false;
                for (int i = 0; i < n; ++i) {
                    const Vehicle& v = sim->vehicles.vehicles[i];
                    if (a.left[i] < 0 && v.state != VS_WAITING) a.left[i] = tick;
                    if (a.arrived[i] < 0 && v.state == VS_EVACUATING && v.pos == ExitCell) {
                        a.arrived[i] = tick;
                        a.lastArrival = tick;
                    }
                    moving = moving || v.state == VS_WAITING || is_under_way(v);
                }
                if (!moving && !a.settled) a.settled = tick;
            }
            const RunObservations o = observer->observations(*sim);
            EXPECT_EQ(o.settledTick, a.settled) << seed;
            EXPECT_EQ(o.lastArrivalTick, a.lastArrival) << seed;
            std::vector<double> trips;
            std::map<std::pair<int, int>, bool> houseLeft;
            for (int i = 0; i < n; ++i) {
                if (a.arrived[i] >= 0)
                    trips.push_back(static_cast<double>(a.arrived[i] - a.left[i]));
                const CellPos home = sim->vehicles.vehicles[i].home;
                houseLeft[{home.x, home.y}] |= a.left[i] >= 0;
            }
            ASSERT_EQ(o.trips, static_cast<int>(trips.size())) << seed;
            if (!trips.empty()) {
                std::sort(trips.begin(), trips.end());
                double sum = 0.0;
                for (double t : trips) sum += t;
                EXPECT_NEAR(o.tripMean, sum / static_cast<double>(trips.size()), 1e-9);
                const double h = 0.9 * static_cast<double>(trips.size() - 1);
                const auto k = static_cast<std::size_t>(h);
                const double p90 = k + 1 < trips.size()
                                       ? trips[k] + (h - std::floor(h)) * (trips[k + 1] - trips[k])
                                       : trips[k];
                EXPECT_NEAR(o.tripP90, p90, 1e-9);
            }
            const auto never = std::count_if(houseLeft.begin(), houseLeft.end(),
                                             [](const auto& h) { return !h.second; });
            EXPECT_EQ(o.householdsNeverLeft, never) << seed;
            EXPECT_EQ(static_cast<int>(houseLeft.size()), 360);
        }
    }
}

}  // namespace
