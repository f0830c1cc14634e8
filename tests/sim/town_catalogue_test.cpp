// The catalogue of small towns in tests/sim/towns, each run for what it must show.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "sim/validate.h"
#include "support/lanes.h"
#include "support/towns.h"

namespace {

// Runs until every car has settled (at an exit or at home) or `ticks` have passed,
// checking the whole state after every tick.
void run(Simulation& sim, int ticks) {
    for (int t = 0; t < ticks; ++t) ASSERT_TRUE(checked_tick(sim));
}

TEST(TownCatalogue, ALoopBelowTheExitTrapsTheStraightRuleAndTheRoadGuideGetsEveryoneOut) {
    const auto town = catalogue_town("dead_end_bay");
    ASSERT_TRUE(town);
    auto straight = town_run(town, everyone_leaves(ROUTE_GUIDE_STRAIGHT));
    auto road = town_run(town, everyone_leaves(ROUTE_GUIDE_ROAD));
    const int cars = road->vehicles.vehicleCount;
    ASSERT_EQ(cars, 16);
    run(*straight, 150);
    run(*road, 150);
    EXPECT_EQ(current_tally(road->vehicles).evacuated, cars);
    // Cars that queue past the loop are turned back along the street and find
    // the way round; those that reach the loop circle it until their patience ends.
    EXPECT_LE(current_tally(straight->vehicles).evacuated, cars - 4);
    EXPECT_GE(current_tally(straight->vehicles).enRoute, 4);  // still circling
}

TEST(TownCatalogue, ARiverWithoutABridgeIsReportedHouseByHouse) {
    const auto town = catalogue_town("river_no_bridge");
    ASSERT_TRUE(town);
    const std::vector<TownProblem> ps = validate_town(*town);
    std::vector<std::pair<int, int>> houses, roads;
    for (const TownProblem& p : ps) {
        ASSERT_EQ(p.level, TownProblem::Level::Warning) << p.message;
        (p.message.find("house") != std::string::npos ? houses : roads)
            .push_back({p.cell.x, p.cell.y});
    }
    EXPECT_EQ(houses, (std::vector<std::pair<int, int>>{{4, 0}, {5, 0}, {6, 0}}));
    EXPECT_EQ(roads, (std::vector<std::pair<int, int>>{{4, 1}, {5, 1}, {6, 1}}));
    // (That the cars of such houses never arrive, and end at home, is held on
    // random towns by TownProperty.OnRandomTowns...)
}

// The state checks after every tick refuse a car in a lane its cell does not let in.
TEST(TownCatalogue, OneWayRoadsAreOnlyEverDrivenTheWayTheirArrowsPoint) {
    const auto town = catalogue_town("one_way_loop");
    ASSERT_TRUE(town);
    EXPECT_TRUE(validate_town(*town).empty());
    for (double guide : {ROUTE_GUIDE_STRAIGHT, ROUTE_GUIDE_ROAD}) {
        auto sim = town_run(town, everyone_leaves(guide));
        bool lowerCarWentRight = false;
        for (int t = 0; t < 100; ++t) {
            ASSERT_TRUE(checked_tick(*sim));
            for (const Vehicle& v : sim->vehicles.vehicles)
                lowerCarWentRight |= v.home.y == 1 && v.pos == (CellPos{4, 2});
        }
        EXPECT_EQ(current_tally(sim->vehicles).evacuated, sim->vehicles.vehicleCount) << guide;
        EXPECT_TRUE(lowerCarWentRight) << guide;
    }
}

TEST(TownCatalogue, WithTwoExitsEveryCarSetsOffTowardsTheNearerOne) {
    const auto town = catalogue_town("two_exits");
    ASSERT_TRUE(town);
    for (double guide : {ROUTE_GUIDE_STRAIGHT, ROUTE_GUIDE_ROAD}) {
        auto sim = town_run(town, everyone_leaves(guide));
        const int n = sim->vehicles.vehicleCount;
        // The first move along the street, from the door: -1 left, +1 right.
        std::vector<int> firstTurn(static_cast<std::size_t>(n), 0);
        for (int t = 0; t < 60; ++t) {
            sim_tick(*sim);
            for (int i = 0; i < n; ++i) {
                const Vehicle& v = sim->vehicles.vehicles[static_cast<std::size_t>(i)];
                int& turn = firstTurn[static_cast<std::size_t>(i)];
                if (turn == 0 && v.pos.y == 1 && v.prevPos.y == 1) turn = v.pos.x - v.prevPos.x;
            }
        }
        int left = 0, right = 0;
        for (int i = 0; i < n; ++i) {
            const Vehicle& v = sim->vehicles.vehicles[static_cast<std::size_t>(i)];
            ASSERT_TRUE(v.state == VS_EVACUATING && v.onExit) << i;
            if (v.home.x != 0 && v.home.x != 8) {  // the end houses' doors are the exits
                EXPECT_EQ(firstTurn[static_cast<std::size_t>(i)], v.home.x < 4 ? -1 : 1) << i;
            }
            // A queue can box a car in and turn it round (the backtrack rule),
            // so a few may end at the farther exit.
            (v.pos.x == 0 ? left : right) += 1;
        }
        EXPECT_TRUE(left >= 6 && right >= 6) << guide << ": " << left << " / " << right;
    }
}

TEST(TownCatalogue, CarsLeaveOntoTheirOwnDoorAndComeHomeThroughIt) {
    const auto town = catalogue_town("four_doors");
    ASSERT_TRUE(town);
    for (double guide : {ROUTE_GUIDE_STRAIGHT, ROUTE_GUIDE_ROAD}) {
        // Patience for one move: out onto the door, and then back home.
        ModelParameters p = everyone_leaves(guide);
        p.patienceMin = p.patienceMax = 1;
        p.carsPerHouse = 1;
        auto sim = town_run(town, p);
        const std::vector<Vehicle>& cars = sim->vehicles.vehicles;
        const std::size_t n = static_cast<std::size_t>(sim->vehicles.vehicleCount);
        std::vector<int> outs(n, 0), ins(n, 0);
        for (int t = 0; t < 80; ++t) {
            const std::vector<Vehicle> before = cars;
            sim_tick(*sim);
            for (std::size_t i = 0; i < n; ++i) {
                const Vehicle& v = cars[i];
                const CellPos was = before[i].pos;
                const House& h = *std::find_if(town->houses.begin(), town->houses.end(),
                                               [&](const House& x) { return x.pos == v.home; });
                if (was == v.home && !(v.pos == v.home)) {
                    EXPECT_EQ(v.pos, door_cell(h)) << i;
                    ++outs[i];
                }
                if (!(was == v.home) && v.pos == v.home && v.fuel >= sim->vehicles.towFuelLimit) {
                    EXPECT_EQ(was, door_cell(h)) << i;  // driven home, not towed
                    ++ins[i];
                }
            }
        }
        for (std::size_t i = 0; i < n; ++i)
            EXPECT_TRUE(outs[i] > 0 && ins[i] > 0) << "car " << i << " out and back by its door";
    }
}

TEST(TownCatalogue, AOneRowTownRunsItsStormAndCarsOnThatRow) {
    const auto town = catalogue_town("one_row");
    ASSERT_TRUE(town);
    auto sim = town_run(town, everyone_leaves());
    EXPECT_TRUE(sim->storm.stormTrack[0].y == 0.0f && sim->storm.stormTrack[1].y == 0.0f &&
                sim->storm.stormTrack[2].y == 0.0f);
    for (const StormPoint& point : sim->storm.stormTrack) EXPECT_TRUE(point.x >= 0 && point.x <= 9);
    run(*sim, 40);
    for (int i = 0; i < sim->vehicles.vehicleCount; ++i) {
        const Vehicle& v = sim->vehicles.vehicles[static_cast<std::size_t>(i)];
        EXPECT_EQ(v.pos, (v.home.x == 3 ? CellPos{0, 0} : CellPos{8, 0})) << i;
    }
    EXPECT_EQ(current_tally(sim->vehicles).evacuated, 4);
}

// A random town: roads on most cells of every other row and column, some of
// them one-way, houses beside them with a door onto a road, exits on roads.
Town random_town(std::mt19937& rng) {
    std::uniform_int_distribution<int> side(3, 14);
    for (;;) {
        Town t;
        t.width = side(rng);
        t.height = side(rng);
        t.layout.assign(static_cast<std::size_t>(t.width * t.height), LAYOUT_BLOCKED);
        const std::uint8_t roads[] = {
            LAYOUT_ROAD_ANY,      LAYOUT_ROAD_ANY,      LAYOUT_ROAD_ANY,
            LAYOUT_ROAD_X,        LAYOUT_ROAD_Y,        LAYOUT_ONE_WAY_Y_DEC,
            LAYOUT_ONE_WAY_X_DEC, LAYOUT_ONE_WAY_Y_INC, LAYOUT_ONE_WAY_X_INC};
        std::uniform_int_distribution<int> pick(0, 8), coin(0, 3);
        for (std::int32_t y = 0; y < t.height; ++y)
            for (std::int32_t x = 0; x < t.width; ++x) {
                std::uint8_t& c = t.layout[static_cast<std::size_t>(y * t.width + x)];
                if ((y % 2 == 0 || x % 3 == 0) && coin(rng) != 0)
                    c = roads[pick(rng)];
                else if (coin(rng) == 0)
                    c = LAYOUT_WATER;
            }
        std::vector<std::uint8_t> doors(t.layout.size(), 0);
        for (std::int32_t y = 0; y < t.height; ++y)
            for (std::int32_t x = 0; x < t.width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y * t.width + x);
                if (t.layout[i] != LAYOUT_BLOCKED || coin(rng) == 0) continue;
                for (std::uint8_t bit : MOVE_ORDER) {
                    const CellPos s = move_step(bit);
                    const CellPos d = {x + s.x, y + s.y};
                    if (t.contains(d) && is_road(t.layout_at(d))) {
                        t.layout[i] = LAYOUT_HOUSE;
                        doors[i] = bit;
                        break;
                    }
                }
            }
        list_houses(
            t, [&](CellPos p) { return doors[static_cast<std::size_t>(p.y * t.width + p.x)]; });
        std::vector<CellPos> roadCells;
        for (std::int32_t y = 0; y < t.height; ++y)
            for (std::int32_t x = 0; x < t.width; ++x)
                if (is_road(t.layout_at({x, y}))) roadCells.push_back({x, y});
        if (roadCells.empty() || t.houses.empty()) continue;
        std::uniform_int_distribution<std::size_t> anyRoad(0, roadCells.size() - 1);
        const int exits = 1 + coin(rng) / 2;
        for (int k = 0; k < exits; ++k) t.exits.push_back(roadCells[anyRoad(rng)]);
        if (exits == 2 && t.exits[0] == t.exits[1]) t.exits.pop_back();
        if (!has_errors(validate_town(t))) return t;
    }
}

TEST(TownProperty, OnRandomTownsTheStateStaysWholeAndEveryCarEndsAtAnExitOrAtHome) {
    std::mt19937 rng(20240611);
    std::ptrdiff_t stranded = 0;
    for (int k = 0; k < 40; ++k) {
        const auto town = std::make_shared<const Town>(random_town(rng));
        std::vector<bool> cannotLeave(static_cast<std::size_t>(town->width * town->height), false);
        for (const TownProblem& p : validate_town(*town))
            if (p.message.find("house") != std::string::npos)
                cannotLeave[static_cast<std::size_t>(p.cell.y * town->width + p.cell.x)] = true;
        ModelParameters p = everyone_leaves(k % 2 == 0 ? ROUTE_GUIDE_STRAIGHT : ROUTE_GUIDE_ROAD);
        p.carsPerHouse = 1 + k % 3;
        auto sim = town_run(town, p, 7 + k);
        // Fuel lasts at most 400 ticks and a stranded car is towed 60 later.
        run(*sim, 480);
        ASSERT_FALSE(HasFatalFailure()) << "town " << k;
        for (int i = 0; i < sim->vehicles.vehicleCount; ++i) {
            const Vehicle& v = sim->vehicles.vehicles[static_cast<std::size_t>(i)];
            const bool evacuated = v.state == VS_EVACUATING && v.onExit;
            EXPECT_TRUE(evacuated || v.pos == v.home) << "town " << k << " car " << i;
            if (cannotLeave[static_cast<std::size_t>(v.home.y * town->width + v.home.x)]) {
                EXPECT_FALSE(evacuated) << "town " << k << " car " << i;
            }
        }
        EXPECT_EQ(current_tally(sim->vehicles).enRoute + current_tally(sim->vehicles).outOfGas, 0)
            << "town " << k;
        stranded += std::count(cannotLeave.begin(), cannotLeave.end(), true);
    }
    EXPECT_GT(stranded, 20) << "the towns hardly ever have a house that cannot leave";
}

TEST(TownProperty, UnderTheRoadGuideACarThatGivesUpWhereARoadLeadsHomeDrivesHome) {
    // Random towns (some of whose houses reach no exit, some of whose roads
    // lead nowhere), and the built-in town repeated with two exits, where every
    // house reaches one. One car at a time, alone on the roads, so that no
    // queue can lock it in: it gives up somewhere on its way out, and wherever
    // a road leads from there to its door, it drives home.
    std::mt19937 rng(20240917);
    int drivers = 0, trappedByStraight = 0;
    for (int k = 0; k < 41; ++k) {
        const Town base = k < 40 ? random_town(rng) : generate_repeated_town(2, 2, 2);
        const std::size_t every = k < 40 ? 1 : 37;
        for (std::size_t h = 0; h < base.houses.size(); h += every) {
            Town alone = base;
            for (House& other : alone.houses) other.cars = 0;
            alone.houses[h].cars = 1;
            const auto town = std::make_shared<const Town>(std::move(alone));
            const CellPos door = door_cell(town->houses[h]);
            for (double guide : {ROUTE_GUIDE_ROAD, ROUTE_GUIDE_STRAIGHT}) {
                ModelParameters p = everyone_leaves(guide);
                p.patienceMin = 2;
                p.patienceMax = 60;
                p.fuelMin = p.fuelMax = 5000;  // it never runs dry and is never towed
                auto sim = town_run(town, p, 3 + k * 1000 + static_cast<int>(h));
                ASSERT_EQ(sim->vehicles.vehicleCount, 1);
                start_evacuating(sim->vehicles, 0);
                const Vehicle& v = sim->vehicles.vehicles[0];
                int roadHome = -1;
                for (int t = 0; t < 800 && !(v.state == VS_GAVE_UP && v.pos == v.home); ++t) {
                    const CellPos was = v.pos;
                    const bool evacuating = v.state == VS_EVACUATING;
                    sim_tick(*sim);
                    if (evacuating && v.state == VS_GAVE_UP)
                        roadHome = was == v.home || road_steps(*town, was, door) >= 0;
                }
                if (roadHome != 1) continue;
                const bool home = v.pos == v.home;
                if (guide == ROUTE_GUIDE_ROAD) {
                    ++drivers;
                    EXPECT_TRUE(home) << "town " << k << " house " << h << ": the car is at ("
                                      << v.pos.x << ", " << v.pos.y << ")";
                } else if (!home) {
                    ++trappedByStraight;
                }
            }
        }
    }
    EXPECT_GT(drivers, 300);
    // The towns are hard enough that the straight rule leaves some cars out.
    EXPECT_GT(trappedByStraight, 0);
}

// Checks every route held in `sim` against searches from the cells
// themselves: the route's steps are its cell's, and each move it allows is
// priced by the steps of the cell it enters when that is at most one step
// farther, and as no road otherwise. Returns the moves checked.
int check_routes(const Simulation& sim, const Town& town, int tick) {
    int checked = 0;
    for (int i = 0; i < sim.vehicles.vehicleCount; ++i) {
        const HomeRoute& route = sim.vehicles.home.routes[static_cast<std::size_t>(i)];
        if (route.state != HOME_ROUTE_KNOWN || route.next >= route.count) continue;
        const Vehicle& v = sim.vehicles.vehicles[static_cast<std::size_t>(i)];
        const CellPos door = {v.home.x + move_step(v.door).x, v.home.y + move_step(v.door).y};
        const int here = road_steps(town, route.at, door);
        EXPECT_EQ(static_cast<int>(route.steps), here) << "car " << i << " tick " << tick;
        for (std::uint8_t bit : MOVE_ORDER) {
            const CellPos q = {route.at.x + move_step(bit).x, route.at.y + move_step(bit).y};
            if (!may_enter(town, route.at, q)) continue;
            const int there = road_steps(town, q, door);
            const int want = there >= 0 && there - here <= 1 ? there : -1;
            EXPECT_EQ(home_route_steps(route, bit), want)
                << "car " << i << " tick " << tick << " at (" << route.at.x << ", "
                << route.at.y << ") move " << int(bit);
            ++checked;
        }
    }
    return checked;
}

TEST(TownProperty, UnderTheRoadGuideCarsDrivingHomeAtOnceKeepTheTallyAndPriceByTheRoadsSteps) {
    // Many cars give up at once in a town of four copies of the built-in one.
    const auto town = std::make_shared<const Town>(generate_repeated_town(2, 2, 2));
    ModelParameters p = everyone_leaves(ROUTE_GUIDE_ROAD);
    p.patienceMin = 5;
    p.patienceMax = 80;
    auto sim = town_run(town, p);
    int mostDriving = 0, checked = 0;
    for (int t = 1; t <= 600; ++t) {
        ASSERT_TRUE(checked_tick(*sim));  // the kept tally and the routes' rules among them
        int driving = 0;
        for (const HomeRoute& route : sim->vehicles.home.routes)
            driving += route.state != HOME_ROUTE_NONE;
        mostDriving = std::max(mostDriving, driving);
        if (t % 25 == 0) checked += check_routes(*sim, *town, t);
        ASSERT_FALSE(HasFailure());
    }
    EXPECT_GT(current_tally(sim->vehicles).gaveUp, 100);
    EXPECT_GT(mostDriving, 50);
    EXPECT_GT(checked, 200);
    EXPECT_EQ(sim->vehicles.home.noRoad, 0) << "every road of this town leads to every door";

    // Random towns, with one-way lanes and roads that lead nowhere, every tick.
    std::mt19937 rng(20261208);
    checked = 0;
    std::int64_t noRoad = 0;
    for (int k = 0; k < 30; ++k) {
        const auto small = std::make_shared<const Town>(random_town(rng));
        ModelParameters q = everyone_leaves(ROUTE_GUIDE_ROAD);
        q.patienceMin = 2;
        q.patienceMax = 40;
        auto run = town_run(small, q, 11 + k);
        for (int t = 1; t <= 200; ++t) {
            sim_tick(*run);
            checked += check_routes(*run, *small, t);
            ASSERT_FALSE(HasFailure()) << "town " << k;
        }
        noRoad += run->vehicles.home.noRoad;
    }
    EXPECT_GT(checked, 2000);
    EXPECT_GT(noRoad, 0) << "some cars gave up where no road leads home";
}

}  // namespace
