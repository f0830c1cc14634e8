// Road plans: exit capacities, closures and reopenings, contraflow; each run
// with the whole state checked after every tick.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/fingerprint.h"
#include "sim/roads.h"
#include "sim/validate.h"
#include "support/town.h"
#include "support/towns.h"

namespace {

using A = RoadAction;
using Op = RoadOperation;

std::shared_ptr<const Town> town_of(const std::string& text) {
    return std::make_shared<const Town>(parsed_town(text));
}

std::unique_ptr<Simulation> planned_run(std::shared_ptr<const Town> town, const ModelParameters& p,
                                        RoadPlan plan) {
    return town_run(std::move(town), p, 1, std::move(plan));
}

// Evacuating cars next to the exit that a move into it would take in.
int waiting_at(const Simulation& sim, CellPos exit) {
    int n = 0;
    const std::uint8_t into = cell_at(sim.grid, exit).layout;
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i) {
        const Vehicle& v = sim.vehicles.vehicles[i];
        if (v.state != VS_EVACUATING || v.onExit != 0 || v.pos == v.home) continue;
        for (std::uint8_t bit : MOVE_ORDER) {
            const CellPos s = move_step(bit);
            if (v.pos.x + s.x == exit.x && v.pos.y + s.y == exit.y && (into & bit) != 0) ++n;
        }
    }
    return n;
}

// Per tick from tick 1 on: the cars evacuated in it, and those that stood
// waiting next to `exit` as it began.
struct Arrivals {
    std::vector<int> in, waiting;
};
Arrivals arrivals_per_tick(Simulation& sim, CellPos exit, int ticks) {
    Arrivals out;
    int before = current_tally(sim.vehicles).evacuated;
    for (int t = 0; t < ticks; ++t) {
        out.waiting.push_back(waiting_at(sim, exit));
        EXPECT_TRUE(checked_tick(sim));
        const int now = current_tally(sim.vehicles).evacuated;
        out.in.push_back(now - before);
        before = now;
    }
    return out;
}

// A street with the exit in its middle, reached from both sides: a burst of
// departures brings two cars to it in one tick.
const char* const MIDDLE_EXIT =
    "exit = 6,1\n"
    "grid\n"
    "SSSSSS.SSSSSS\n"
    "+++++++++++++\n"
    "NNNNNN.NNNNNN\n";

// An exit that takes one car a tick lets exactly one in every tick that starts
// with a car waiting next to it (and none in any other), under either guide,
// whether the town or the plan says so, until every car is out; without the
// limit, the same burst brings in two or more at once.
TEST(Roads, AnExitOfCapacityOneTakesExactlyOneCarInEveryTickThatACarWaitsAtIt) {
    const auto town = town_of(MIDDLE_EXIT);
    Town limitedTown = *town;
    limitedTown.exitCapacities = {1};
    const auto limited = std::make_shared<const Town>(std::move(limitedTown));
    for (const double guide : {ROUTE_GUIDE_STRAIGHT, ROUTE_GUIDE_ROAD}) {
        SCOPED_TRACE(guide);
        ModelParameters p = everyone_leaves(guide);
        p.carsPerHouse = 4;  // a queue at the exit from the first arrival to the last
        auto free = planned_run(town, p, {});
        const Arrivals unlimited = arrivals_per_tick(*free, {6, 1}, 300);
        EXPECT_GE(*std::max_element(unlimited.in.begin(), unlimited.in.end()), 2)
            << "the town no longer brings two cars at once: the test shows nothing";

        RoadPlan plan;
        plan.exitCapacity = 1;
        for (const bool byTown : {false, true}) {
            auto sim = byTown ? planned_run(limited, p, {}) : planned_run(town, p, plan);
            const int cars = sim->vehicles.vehicleCount;
            const Arrivals a = arrivals_per_tick(*sim, {6, 1}, 300);
            int queued = 0;
            for (std::size_t t = 0; t < a.in.size(); ++t) {
                EXPECT_EQ(a.in[t], a.waiting[t] > 0 ? 1 : 0) << "tick " << t + 1;
                queued += a.waiting[t] > 1;
            }
            EXPECT_GT(queued, cars / 2) << "the exit hardly ever had a queue";
            EXPECT_EQ(current_tally(sim->vehicles).evacuated, cars);
        }
    }
}

// A closure stops every entry into its cells from its tick on while the cars
// standing there drive off; its reopening lets cars in again. The road guide
// takes the cars round by the next bridge meanwhile, and every car is counted
// throughout.
TEST(Roads, AClosedStretchTakesNoCarFromItsTickOnAndAReopeningTakesThemAgain) {
    const CellPos lo = {18, 27}, hi = {18, 28};  // the left bank's road to the exit's bridge
    const std::int64_t closeTick = 60, reopenTick = 150;
    RoadPlan plan;
    plan.operations = {Op{A::Close, lo, hi, closeTick}, Op{A::Reopen, lo, hi, reopenTick}};
    auto sim = planned_run(shared_builtin_town(), everyone_leaves(ROUTE_GUIDE_ROAD), plan);
    const int cars = sim->vehicles.vehicleCount;
    const auto inside = [&](CellPos c) {
        return c.x >= lo.x && c.x <= hi.x && c.y >= lo.y && c.y <= hi.y;
    };
    std::vector<CellPos> before(static_cast<std::size_t>(cars));
    int standingAtClosure = 0, enteredWhileClosed = 0, enteredAfter = 0;
    for (std::int64_t tick = 1; tick <= 400; ++tick) {
        for (int i = 0; i < cars; ++i) before[static_cast<std::size_t>(i)] = sim->vehicles.vehicles[i].pos;
        ASSERT_TRUE(checked_tick(*sim));
        for (int i = 0; i < cars; ++i) {
            const CellPos now = sim->vehicles.vehicles[i].pos;
            const bool entered = inside(now) && !(now == before[static_cast<std::size_t>(i)]);
            if (tick == closeTick && inside(now)) ++standingAtClosure;
            if (tick > closeTick && tick <= reopenTick && entered) ++enteredWhileClosed;
            if (tick > reopenTick && entered) ++enteredAfter;
        }
        if (tick == reopenTick) {
            int stillThere = 0;
            for (int i = 0; i < cars; ++i) stillThere += inside(sim->vehicles.vehicles[i].pos);
            EXPECT_EQ(stillThere, 0) << "the cars on the closed cells did not drive off";
        }
    }
    EXPECT_GT(standingAtClosure, 0) << "no car stood on the cells when they closed";
    EXPECT_EQ(enteredWhileClosed, 0);
    EXPECT_GT(enteredAfter, 0) << "the reopened cells took no car";
    // Meanwhile cars of the left bank crossed the river by another bridge and
    // came to the exit from the right.
    int roundBy = 0;
    for (int i = 0; i < cars; ++i) {
        const Vehicle& v = sim->vehicles.vehicles[i];
        roundBy += v.onExit != 0 && v.home.x < 19 && v.heading == DIR_X_DEC;
    }
    EXPECT_GT(roundBy, 0);
}

// A town built for contraflow: the one road out is two one-way lanes, the
// right one inbound, from the middle of a street of houses to the exit at the
// top. Each half of the street feeds the lane on its side.
std::string two_lane_town() {
    std::string text = "exit = 9,12\ngrid\n.........++.........\n";
    for (int y = 11; y >= 2; --y) text += ".........^v.........\n";
    text += "++++++++++++++++++++\nNNNNNNNNNNNNNNNNNNNN\n";
    return text;
}

int tick_of_share(Simulation& sim, int percent, int ticks) {
    const int cars = sim.vehicles.vehicleCount;
    for (int t = 1; t <= ticks; ++t) {
        EXPECT_TRUE(checked_tick(sim));
        if (current_tally(sim.vehicles).evacuated * 100 >= cars * percent) return t;
    }
    return ticks + 1;
}

// Reversing the inbound lane doubles the road out, so 90 % of the cars are out
// sooner; the rectangle's direction, unless given, points away from the town's
// centre (up here). A car on the inbound lane when it turns is turned with it.
TEST(Roads, ContraflowOnTheInboundLaneClearsTheTownSoonerAndTurnsTheCarsOnIt) {
    const auto town = town_of(two_lane_town());
    const RoadOperation reverse = Op{A::Contraflow, {10, 2}, {10, 11}, 0};
    EXPECT_EQ(road_operation_direction(*town, reverse), DIR_Y_INC);
    for (const double guide : {ROUTE_GUIDE_STRAIGHT, ROUTE_GUIDE_ROAD}) {
        SCOPED_TRACE(guide);
        // All at once, in numbers: the road out is what holds them up.
        ModelParameters p = everyone_leaves(guide);
        p.departureNoise = 0.0;
        p.carsPerHouse = 4;
        auto plain = planned_run(town, p, {});
        RoadPlan plan;
        plan.operations = {reverse};
        auto reversed = planned_run(town, p, plan);
        const int without = tick_of_share(*plain, 90, 1000);
        const int with = tick_of_share(*reversed, 90, 1000);
        EXPECT_LE(without, 1000);
        EXPECT_LT(with * 10, without * 7) << with << " against " << without;
    }

    RoadPlan later;
    later.operations = {Op{A::Contraflow, {10, 2}, {10, 11}, 5}};
    auto sim = planned_run(town, everyone_leaves(), later);
    // A car driving in on the inbound lane, as if it had come from the top.
    const Vehicle& car = place_car(*sim, 0, VS_EVACUATING, {10, 10}, DIR_Y_DEC, {10, 11});
    for (int t = 1; t <= 5; ++t) ASSERT_TRUE(checked_tick(*sim));
    EXPECT_EQ(car.pos, (CellPos{10, 5})) << "it drove down the inbound lane until it turned";
    EXPECT_EQ(car.heading, DIR_Y_INC);
    EXPECT_EQ(traffic_at(*sim, car.pos) & DIR_Y_DEC, 0);
    for (int t = 6; t <= 300; ++t) ASSERT_TRUE(checked_tick(*sim));
    EXPECT_TRUE(car.state == VS_EVACUATING && car.onExit == 1);
}

struct NamedRun {
    const char* name;
    Simulation* sim;
};

// Ticks `want` and every run alongside it (each checked) until one's state
// leaves `want`'s: then says which, and at what tick; empty when none did.
std::string first_departure(Simulation& want, const std::vector<NamedRun>& runs, int ticks) {
    for (int t = 1; t <= ticks; ++t) {
        sim_tick(want);
        const auto tick = static_cast<long long>(want.storm.simTime);
        const std::string line = fingerprint_line(want, tick).text;
        for (const NamedRun& r : runs) {
            const ::testing::AssertionResult ok = checked_tick(*r.sim);
            if (!ok) return std::string(r.name) + ": " + ok.message();
            if (fingerprint_line(*r.sim, tick).text != line)
                return std::string(r.name) + ", tick " + std::to_string(tick);
        }
    }
    return {};
}

// A copy of a run whose plan has changed the lanes drives by its own steps to
// the exits: tick for tick it stays the run built afresh with the same plan,
// whatever becomes of the run it was copied from (here driven on past its next
// operation, which changes the lanes again, and then destroyed), by copy and
// by assignment. Rebuilt, a copy drives by the town's steps again until its
// plan changes the lanes.
TEST(Roads, ACopyOfARunAfterItsLanesChangedDrivesByItsOwnStepsToTheExits) {
    const auto twoLanes = town_of(two_lane_town());
    struct Case {
        const char* name;
        std::shared_ptr<const Town> town;
        std::vector<RoadOperation> operations;
        int copyTick;
    };
    const Case cases[] = {
        {"closure",
         shared_builtin_town(),
         {Op{A::Close, {18, 27}, {18, 28}, 60}, Op{A::Reopen, {18, 27}, {18, 28}, 150}},
         100},
        {"contraflow",
         twoLanes,
         {Op{A::Contraflow, {10, 2}, {10, 11}, 5},
          Op{A::Contraflow, {10, 2}, {10, 11}, 40, DIR_Y_DEC}},
         20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelParameters p = everyone_leaves(ROUTE_GUIDE_ROAD);
        p.carsPerHouse = 3;
        RoadPlan plan;
        plan.operations = c.operations;
        auto original = planned_run(c.town, p, plan);
        auto fresh = planned_run(c.town, p, plan);
        EXPECT_EQ(first_departure(*fresh, {{"the original", original.get()}}, c.copyTick), "");
        auto copied = std::make_unique<Simulation>(*original);
        auto assigned = planned_run(c.town, p, {});
        *assigned = *original;
        auto rebuilt = std::make_unique<Simulation>(*original);
        reset_scenario(*rebuilt);
        // The original goes on past the operation that changes the lanes back.
        for (int t = 1; t <= 100; ++t) ASSERT_TRUE(checked_tick(*original));
        original.reset();
        const std::vector<NamedRun> copies = {{"the copy", copied.get()},
                                              {"the assigned run", assigned.get()}};
        EXPECT_EQ(first_departure(*fresh, copies, 300), "");
        EXPECT_GT(current_tally(fresh->vehicles).evacuated, 0);
        auto again = planned_run(c.town, p, plan);
        EXPECT_EQ(first_departure(*again, {{"the rebuilt copy", rebuilt.get()}}, 300), "");
    }
}

// Operations that change no cell's lanes (reopenings of open cells, a
// contraflow the way a one-way street already runs) leave a run what it is
// without them, tick for tick, down to the searches of the cars driving home:
// nothing is searched again.
TEST(Roads, OperationsThatChangeNoLaneLeaveTheRunAsItWasWithoutThem) {
    const auto twoLanes = town_of(two_lane_town());
    ModelParameters p = everyone_leaves(ROUTE_GUIDE_ROAD);
    p.patienceMin = 5;  // many give up and drive home by routes
    p.patienceMax = 80;
    for (const auto& town : {shared_builtin_town(), twoLanes}) {
        RoadPlan plan;
        for (int tick = 10; tick <= 200; tick += 10)
            plan.operations.push_back(
                Op{A::Reopen, {0, 0}, {town->width - 1, town->height - 1}, tick});
        if (town == twoLanes)
            plan.operations.push_back(Op{A::Contraflow, {9, 2}, {9, 11}, 15, DIR_Y_INC});
        auto without = planned_run(town, p, {});
        auto with = planned_run(town, p, plan);
        EXPECT_EQ(first_departure(*without, {{"the run with the plan", with.get()}}, 300), "");
        EXPECT_EQ(with->roadState.applied, plan.operations.size());
        EXPECT_GT(without->vehicles.home.searches, 0);
        EXPECT_EQ(with->vehicles.home.searches, without->vehicles.home.searches);
    }
}

// Operations come into force at the end of their tick, by tick whatever the
// order they are given in, and those of one tick in the order given: on a
// cell that several cover, the last one wins.
TEST(Roads, OperationsComeIntoForceByTickAndThoseOfOneTickInTheOrderGiven) {
    const CellPos c = {18, 27};
    const std::uint8_t open = builtin_town().layout_at(c);
    ASSERT_TRUE(is_road(open));
    const RoadOperation close5 = Op{A::Close, c, c, 5};
    const RoadOperation reopen5 = Op{A::Reopen, c, c, 5};
    const RoadOperation reopen9 = Op{A::Reopen, c, c, 9};
    const RoadOperation up5 = Op{A::Contraflow, c, c, 5, DIR_Y_INC};
    const RoadOperation down5 = Op{A::Contraflow, c, c, 5, DIR_Y_DEC};
    struct Case {
        std::vector<RoadOperation> operations;
        std::uint8_t from5, from9;  // the cell's layout after ticks 5..8, and from 9 on
    };
    const std::uint8_t up = LAYOUT_ONE_WAY_Y_INC, down = LAYOUT_ONE_WAY_Y_DEC;
    const Case cases[] = {
        {{close5, reopen5}, open, open},
        {{reopen5, close5}, LAYOUT_BLOCKED, LAYOUT_BLOCKED},
        {{reopen9, close5}, LAYOUT_BLOCKED, open},
        {{up5, down5}, down, down},
        {{down5, up5}, up, up},
        {{reopen9, close5, up5}, LAYOUT_BLOCKED, up},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(&k - cases);
        RoadPlan plan;
        plan.operations = k.operations;
        auto sim = planned_run(shared_builtin_town(), everyone_leaves(ROUTE_GUIDE_ROAD), plan);
        for (int t = 1; t <= 10; ++t) {
            ASSERT_TRUE(checked_tick(*sim));
            const std::uint8_t want = t < 5 ? open : t < 9 ? k.from5 : k.from9;
            EXPECT_EQ(int{cell_at(sim->grid, c).layout}, int{want})
                << "tick " << t;
        }
    }
}

// A plan that cannot run on its town is refused in one line saying why.
TEST(Roads, APlanOffTheRoadsOrOutsideTheTownIsRefusedSayingWhy) {
    const Town& town = builtin_town();
    struct Case {
        RoadOperation op;
        const char* says;
    };
    const Case cases[] = {
        {Op{A::Close, {40, 3}, {40, 3}, 5}, "close: (40, 3) lies outside the town (40 x 30 cells)"},
        {Op{A::Reopen, {0, 0}, {3, -1}, 5}, "reopen: (3, -1) lies outside"},
        {Op{A::Close, {1, 1}, {1, 1}, 5}, "close: (1, 1) is not a road cell"},
        {Op{A::Close, {1, 8}, {5, 9}, 5}, "close: (1, 8):(5, 9) holds no road cell"},
        {Op{A::Contraflow, {0, 14}, {39, 14}, 5}, "lies across the town's centre"},
    };
    for (const Case& c : cases) {
        RoadPlan plan;
        plan.operations = {Op{A::Close, {0, 0}, {0, 0}, 1}, c.op};
        EXPECT_NE(check_road_plan(town, plan).find(c.says), std::string::npos)
            << check_road_plan(town, plan);
        plan.operations = {Op{A::Close, {0, 0}, {0, 0}, 1}};
        EXPECT_EQ(check_road_plan(town, plan), "");
    }
    RoadPlan plan;
    plan.exitCapacity = -1;
    EXPECT_NE(check_road_plan(town, plan).find("at least 1 car a tick"), std::string::npos);
    // Along the centre row, but with its direction given: it runs.
    plan = {};
    plan.operations = {Op{A::Contraflow, {0, 14}, {39, 14}, 5, DIR_X_INC}};
    EXPECT_EQ(check_road_plan(town, plan), "");
}

}  // namespace
