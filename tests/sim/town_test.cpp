#include "sim/town.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "sim/town_text.h"
#include "support/towns.h"

namespace {

bool has_problem(const std::vector<TownProblem>& ps, TownProblem::Level level, CellPos cell,
                 const std::string& says) {
    return std::any_of(ps.begin(), ps.end(), [&](const TownProblem& p) {
        return p.level == level && p.cell == cell && p.message.find(says) != std::string::npos;
    });
}

TEST(Town, TheBuiltInTownIsTheMapTableWithEveryDoorBelowAndOneExit) {
    const Town& t = builtin_town();
    EXPECT_TRUE(t.width == GRID_W && t.height == GRID_H && t.cellSizeM == DEFAULT_CELL_SIZE_M);
    EXPECT_TRUE(std::equal(t.layout.begin(), t.layout.end(), MapLayoutTable.begin()));
    ASSERT_EQ(t.houses.size(), 360u);
    for (std::size_t i = 0; i < t.houses.size(); ++i) {
        const House& h = t.houses[i];
        EXPECT_TRUE(h.door == DIR_Y_DEC && h.cars == -1) << i;
        if (i > 0) {
            const CellPos p = t.houses[i - 1].pos;  // row-major order, the cars' order
            EXPECT_TRUE(p.y < h.pos.y || (p.y == h.pos.y && p.x < h.pos.x)) << i;
        }
    }
    ASSERT_EQ(t.exits.size(), 1u);
    EXPECT_EQ(t.exits[0], ExitCell);
    EXPECT_EQ(&builtin_town(), shared_builtin_town().get());  // one object, shared
    EXPECT_FALSE(has_errors(validate_town(t)));
}

TEST(Town, ValidationNamesEachErrorWithItsCell) {
    Town t = parsed_town("exit = 0,1\ngrid\n+++\nN.N\n");
    EXPECT_TRUE(validate_town(t).empty());
    Town door = t;
    door.houses[1].door = DIR_X_DEC;  // (1, 0): blocked
    EXPECT_TRUE(has_problem(validate_town(door), TownProblem::Level::Error, {2, 0},
                            "door of the house is not a road"));
    Town exit = t;
    exit.exits = {{1, 0}};
    EXPECT_TRUE(has_problem(validate_town(exit), TownProblem::Level::Error, {1, 0},
                            "exit not on a road"));
    Town noExit = t;
    noExit.exits.clear();
    EXPECT_TRUE(has_problem(validate_town(noExit), TownProblem::Level::Error, {-1, -1}, "no exit"));
    Town noHouse = t;
    noHouse.layout[0] = noHouse.layout[2] = LAYOUT_BLOCKED;
    noHouse.houses.clear();
    EXPECT_TRUE(has_problem(validate_town(noHouse), TownProblem::Level::Error, {-1, -1}, "no house"));
    Town huge;
    huge.width = TOWN_MAX_SIDE + 1;
    huge.height = 1;
    EXPECT_TRUE(has_problem(validate_town(huge), TownProblem::Level::Error, {-1, -1}, "1..4096"));
}

TEST(Town, StepsAlongLanesHonourEveryDirectionAndUnreachableCellsAreMarked) {
    // A one-way street leftwards to the exit; an x-only cell above a corner.
    Town t = parsed_town("exit = 0,1\ngrid\n+<<<+-\nN...N+\n");
    const std::vector<std::int32_t>& steps = t.exit_steps();
    auto at = [&](CellPos p) { return steps[static_cast<std::size_t>(p.y * t.width + p.x)]; };
    EXPECT_EQ(at({0, 1}), 0);
    EXPECT_EQ(at({3, 1}), 3);
    EXPECT_EQ(at({4, 1}), 4);
    EXPECT_EQ(at({5, 1}), 5);
    EXPECT_EQ(at({5, 0}), -1);  // its only way on is a y move into an x-only cell
    EXPECT_EQ(at({0, 0}), -1);  // a house is no road
    EXPECT_EQ(&t.exit_steps(), &steps);  // made once
}

TEST(Town, SquaredDistancesToTheNearestExitAreExactInTownsOfAnyShape) {
    // Against every exit measured one by one: thin, square and lopsided
    // towns, exits in corners, on edges, clustered and alone.
    std::mt19937 gen(7);
    for (int round = 0; round < 60; ++round) {
        Town t;
        t.width = 1 + static_cast<std::int32_t>(gen() % (round < 20 ? 5 : 70));
        t.height = 1 + static_cast<std::int32_t>(gen() % (round % 3 == 0 ? 3 : 60));
        t.layout.assign(static_cast<std::size_t>(t.width) * static_cast<std::size_t>(t.height),
                        LAYOUT_ROAD_ANY);
        const int n = 1 + static_cast<int>(gen() % 9);
        for (int k = 0; k < n; ++k)
            t.exits.push_back({static_cast<std::int32_t>(gen() % static_cast<unsigned>(t.width)),
                               static_cast<std::int32_t>(gen() % static_cast<unsigned>(t.height))});
        const std::vector<std::uint32_t>& squares = t.exit_squares();
        ASSERT_EQ(squares.size(), t.layout.size());
        for (std::int32_t y = 0; y < t.height; ++y)
            for (std::int32_t x = 0; x < t.width; ++x) {
                std::int64_t best = INT64_MAX;
                for (CellPos e : t.exits)
                    best = std::min<std::int64_t>(
                        best, std::int64_t{e.x - x} * (e.x - x) + std::int64_t{e.y - y} * (e.y - y));
                ASSERT_EQ(squares[static_cast<std::size_t>(y * t.width + x)], best)
                    << t.width << "x" << t.height << " at (" << x << ", " << y << ")";
            }
        EXPECT_EQ(&t.exit_squares(), &squares);  // made once
    }
}

TEST(Town, ARepeatedTownIsTheBuiltInPatternWithItsSeamsJoinedAndExitsAlongTheTop) {
    const Town one = generate_repeated_town(1, 1, 1);
    EXPECT_TRUE(same_town(one, builtin_town()));
    const Town t = generate_repeated_town(3, 2, 3);
    EXPECT_TRUE(t.width == 120 && t.height == 60 && t.houses.size() == 6 * 360u);
    ASSERT_EQ(t.exits.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_EQ(t.exits[k], (CellPos{static_cast<std::int32_t>(40 * k + 20), 59}));
    // The river and its bridges repeat in every copy.
    for (std::int32_t y = 0; y < t.height; ++y)
        for (std::int32_t x = 0; x < t.width; ++x)
            ASSERT_EQ(t.layout_at({x, y}), MapLayoutTable[(y % 30) * 40 + x % 40]);
    // Every house of every copy reaches an exit across the seams.
    const std::vector<TownProblem> ps = validate_town(t);
    EXPECT_FALSE(has_errors(ps));
    for (const TownProblem& p : ps)
        EXPECT_EQ(p.message.find("house"), std::string::npos) << p.message;
    // More exits than copies: spread over the top row's roads.
    const Town many = generate_repeated_town(1, 1, 4);
    ASSERT_EQ(many.exits.size(), 4u);
    for (CellPos e : many.exits) EXPECT_TRUE(e.y == 29 && is_road(many.layout_at(e)));
}

}  // namespace
