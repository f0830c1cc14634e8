// What a road plan costs a run: the default run (seed 1, every parameter at
// its default, 2000 ticks) against the same run with a plan of 20 operations
// spread over it (closures, reopenings, contraflow), under either route guide.
// "plan" changes the traffic as well as costing the bookkeeping (under the road
// guide, at every operation the steps to the exits are searched again and every
// route home is dropped); "reopen" is 20 reopenings of open cells, which come
// into force like any operation but change no lane, so the run is the default
// one plus the plan's bookkeeping. Timed in this thread's CPU seconds, the two
// runs in turn, so that other users of the machine matter less. The target: a
// run with a plan at most 5 % slower than the run without one (overhead_%).
// "orders" is 10 evacuation orders of the whole town that nobody obeys
// (order_compliance 0): a house's draw each at the build, which moves the
// generator so that the run is another one of the same kind, and the orders'
// bookkeeping; "plan_orders" is the 20 operations and the 10 orders together.
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "sim/scenario.h"

namespace {

constexpr int TICKS = 2000;

// On the built-in town: lanes and streets on both banks, the exit's two lanes.
RoadPlan mixed_plan() {
    using A = RoadAction;
    RoadPlan plan;
    plan.operations = {
        {A::Close, {6, 18}, {6, 19}, 100},
        {A::Close, {33, 18}, {33, 19}, 150},
        {A::Contraflow, {21, 27}, {21, 28}, 200, DIR_Y_INC},
        {A::Close, {0, 20}, {5, 20}, 250},
        {A::Reopen, {6, 18}, {6, 19}, 300},
        {A::Close, {12, 8}, {12, 9}, 350},
        {A::Contraflow, {18, 11}, {18, 19}, 400, DIR_Y_INC},
        {A::Reopen, {33, 18}, {33, 19}, 450},
        {A::Close, {27, 7}, {27, 9}, 500},
        {A::Reopen, {0, 20}, {5, 20}, 550},
        {A::Contraflow, {21, 11}, {21, 19}, 600, DIR_Y_INC},
        {A::Reopen, {12, 8}, {12, 9}, 700},
        {A::Close, {18, 27}, {18, 28}, 800},
        {A::Reopen, {27, 7}, {27, 9}, 900},
        {A::Close, {34, 26}, {39, 26}, 1000},
        {A::Reopen, {18, 27}, {18, 28}, 1100},
        {A::Contraflow, {21, 27}, {21, 28}, 1200, DIR_Y_DEC},
        {A::Reopen, {34, 26}, {39, 26}, 1300},
        {A::Close, {12, 18}, {12, 19}, 1500},
        {A::Reopen, {12, 18}, {12, 19}, 1700},
    };
    return plan;
}

// The same ticks and cells, every operation a reopening of open cells.
RoadPlan reopening_plan() {
    RoadPlan plan = mixed_plan();
    for (RoadOperation& op : plan.operations) {
        op.action = RoadAction::Reopen;
        op.direction = 0;
    }
    return plan;
}

enum class Plan { None, Mixed, Reopenings, Orders, MixedAndOrders };

// Ten orders, every 190 ticks from tick 100.
std::vector<EvacuationOrder> ten_orders() {
    std::vector<EvacuationOrder> orders;
    for (std::int64_t k = 0; k < 10; ++k) orders.push_back({0, 100 + 190 * k});
    return orders;
}

ScenarioSetup setup_of(double routeGuide, Plan kind) {
    ScenarioSetup setup;
    setup.parameters.routeGuide = routeGuide;
    if (kind == Plan::Mixed || kind == Plan::MixedAndOrders) setup.roads = mixed_plan();
    if (kind == Plan::Reopenings) setup.roads = reopening_plan();
    if (kind == Plan::Orders || kind == Plan::MixedAndOrders) setup.orders = ten_orders();
    return setup;
}

double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One whole run, in CPU seconds of this thread.
double timed_run(Simulation& sim, const ScenarioSetup& setup) {
    const double start = thread_seconds();
    build_scenario(sim, setup);
    for (int t = 0; t < TICKS; ++t) sim_tick(sim);
    benchmark::DoNotOptimize(sim.rng.state);
    return thread_seconds() - start;
}

// Every iteration runs the default run and the planned one, in turn first, so
// that a change in the machine's load falls on both alike; the counters give
// the mean CPU time of each and the planned run's overhead in per cent.
void BM_PlanOverhead(benchmark::State& state, double routeGuide, Plan kind) {
    const ScenarioSetup plain = setup_of(routeGuide, Plan::None);
    const ScenarioSetup planned = setup_of(routeGuide, kind);
    if (const std::string why = check_road_plan(builtin_town(), planned.roads); !why.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    if (kind != Plan::Orders && planned.roads.operations.size() != 20) {
        state.SkipWithError("the plan is not 20 operations long");
        return;
    }
    auto a = std::make_unique<Simulation>();
    auto b = std::make_unique<Simulation>();
    double plainSeconds = 0, plannedSeconds = 0;
    bool plainFirst = true;
    for (auto _ : state) {
        if (plainFirst) plainSeconds += timed_run(*a, plain);
        plannedSeconds += timed_run(*b, planned);
        if (!plainFirst) plainSeconds += timed_run(*a, plain);
        plainFirst = !plainFirst;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["default_ms"] = 1e3 * plainSeconds / n;
    state.counters["plan_ms"] = 1e3 * plannedSeconds / n;
    state.counters["overhead_%"] = 100.0 * (plannedSeconds / plainSeconds - 1.0);
    state.counters["applied"] = static_cast<double>(b->roadState.applied);
    state.counters["evacuated"] = current_tally(b->vehicles).evacuated;
    state.counters["evacuated_default"] = current_tally(a->vehicles).evacuated;
}

BENCHMARK_CAPTURE(BM_PlanOverhead, straight_plan, ROUTE_GUIDE_STRAIGHT, Plan::Mixed)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlanOverhead, straight_reopen, ROUTE_GUIDE_STRAIGHT, Plan::Reopenings)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlanOverhead, road_plan, ROUTE_GUIDE_ROAD, Plan::Mixed)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlanOverhead, road_reopen, ROUTE_GUIDE_ROAD, Plan::Reopenings)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlanOverhead, straight_orders, ROUTE_GUIDE_STRAIGHT, Plan::Orders)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlanOverhead, straight_plan_orders, ROUTE_GUIDE_STRAIGHT, Plan::MixedAndOrders)
    ->Unit(benchmark::kMillisecond);

}  // namespace
