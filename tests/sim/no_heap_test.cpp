// The simulation allocates nothing once its tables are sized: rebuilding
// scenarios of the same town and running ticks must not touch the heap. Every
// allocation of the process is counted.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "sim/scenario.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(NoHeap, ScenariosAndTicksAllocateNothing) {
    static Simulation sim;  // static storage: not an allocation of its own
    // The first build sizes the tables from the town; then a tick, which
    // sizes nothing.
    build_scenario(sim, {1, ERROR_LOW, false});
    sim_tick(sim);
    const long before = allocations.load();
    for (float level : {ERROR_LOW, ERROR_MODERATE, ERROR_HIGH}) {
        build_scenario(sim, {1, level, false});
        for (int t = 0; t < 600; ++t) sim_tick(sim);
        next_scenario(sim);
        previous_scenario(sim);
        (void)status_line(sim);
    }
    EXPECT_EQ(allocations.load() - before, 0);
    // The counter does count: this allocation shows.
    int* volatile p = new int(5);
    delete p;
    EXPECT_EQ(allocations.load() - before, 1);
}

// Under the road guide, with most cars giving up and searching their routes
// home, and a road plan: exit quotas, closures, reopenings and contraflow, each
// changing the lanes and so searching the steps to the exits and the routes
// home again, inside the ticks.
TEST(NoHeap, RoutesHomeAndARoadPlansOperationsAllocateNothing) {
    static Simulation sim;
    ModelParameters p;
    p.errorSpread = ERROR_HIGH;
    p.routeGuide = ROUTE_GUIDE_ROAD;
    p.patienceMin = 5;
    p.patienceMax = 60;
    static ScenarioSetup setup{1, p, false};
    setup.roads.exitCapacity = 1;
    using A = RoadAction;
    setup.roads.operations = {{A::Close, {18, 27}, {18, 28}, 50},
                              {A::Contraflow, {21, 27}, {21, 28}, 80, DIR_Y_INC},
                              {A::Reopen, {18, 27}, {18, 28}, 120},
                              {A::Close, {0, 20}, {17, 20}, 150},
                              {A::Reopen, {0, 20}, {17, 20}, 300}};
    build_scenario(sim, setup);
    sim_tick(sim);
    const long before = allocations.load();
    std::int64_t searches = 0;
    for (int k = 0; k < 3; ++k) {
        setup.seed = 1 + k;
        build_scenario(sim, setup);
        for (int t = 0; t < 600; ++t) sim_tick(sim);
        searches += sim.vehicles.home.searches;
    }
    EXPECT_EQ(allocations.load() - before, 0);
    EXPECT_EQ(sim.roadState.applied, setup.roads.operations.size());
    EXPECT_TRUE(sim.grid.ownSteps);
    EXPECT_GT(searches, 0);
}

}  // namespace
