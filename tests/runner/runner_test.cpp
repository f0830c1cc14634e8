#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/runner.h"
#include "sim/fingerprint.h"
#include "support/town.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string run(const RunOptions& options) {
    std::ostringstream out;
    run_headless(options, out);
    return out.str();
}

TEST(ReportTicks, AskedTicksEveryNthAndTheLastByDefault) {
    RunOptions o;
    o.ticks = 1000;
    EXPECT_EQ(report_ticks(o), (std::vector<long long>{1000}));
    o.at = {500, 5, 5, 2000};  // beyond the run: dropped; repeats once
    EXPECT_EQ(report_ticks(o), (std::vector<long long>{5, 500}));
    o.every = 300;
    EXPECT_EQ(report_ticks(o), (std::vector<long long>{0, 5, 300, 500, 600, 900}));
}

TEST(HeadlessRun, CsvRowsAreTheTallyAtThoseTicks) {
    RunOptions o;
    o.scenario = {2001, ERROR_MODERATE, false};
    o.ticks = 400;
    o.every = 100;
    o.format = TallyFormat::Csv;
    const auto lines = lines_of(run(o));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas,total");

    auto sim = reset_town(2001, ERROR_MODERATE);
    for (int row = 0; row <= 4; ++row) {
        const VehicleTally t = tally_vehicles(sim->vehicles);
        const std::string expected = std::to_string(row * 100) + "," + std::to_string(t.notEvacuated) + "," +
                                     std::to_string(t.evacuated) + "," + std::to_string(t.gaveUp) + "," +
                                     std::to_string(t.enRoute) + "," + std::to_string(t.towed) + "," +
                                     std::to_string(t.outOfGas) + ",720";
        EXPECT_EQ(lines[row + 1], expected);
        for (int i = 0; i < 100; ++i) sim_tick(*sim);
    }
}

TEST(HeadlessRun, TableHasAHeaderAndOneAlignedRowPerTick) {
    RunOptions o;
    o.ticks = 20;
    o.at = {0, 20};
    const auto lines = lines_of(run(o));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("not evacuated"), std::string::npos);
    EXPECT_NE(lines[0].find("out of gas"), std::string::npos);
    EXPECT_EQ(lines[1].size(), lines[0].size());
    EXPECT_NE(lines[1].find(" 720 "), std::string::npos);
}

TEST(HeadlessRun, FingerprintsTickZeroAndEveryTickAfter) {
    RunOptions o;
    o.scenario = {1, ERROR_HIGH, true};
    o.ticks = 30;
    o.fingerprint = true;
    const auto lines = lines_of(run(o));
    ASSERT_EQ(lines.size(), 31u);
    auto sim = new_simulation();
    init_app(*sim);
    sim->errorSpread = ERROR_HIGH;
    for (int tick = 0; tick <= 30; ++tick) {
        EXPECT_EQ(lines[tick], fingerprint_line(*sim, tick).text);
        sim_tick(*sim);
    }
}

TEST(ScenarioBuilder, StepsAndStartUpMatchTheWindowsSequences) {
    EXPECT_EQ(seed_of_step(0), 1);
    EXPECT_EQ(seed_of_step(3), 3001);
    EXPECT_EQ(seed_of_step(-2), -1999);
    EXPECT_EQ(seed_of_step(2147484), -2147483295);  // wraps around like the window's seed
    EXPECT_EQ(seed_of_step((1LL << 29) + 3), 3001);

    // The window at launch, then Next twice: scenario 2 as Reset builds it.
    auto window = new_simulation();
    init_app(*window);
    next_scenario(*window);
    next_scenario(*window);
    auto built = new_simulation();
    build_scenario(*built, {seed_of_step(2), ERROR_LOW, false});
    EXPECT_EQ(std::string(fingerprint_line(*built, 0).text), fingerprint_line(*window, 0).text);

    // Building the start-up town on a used object gives the launch town.
    auto launch = new_simulation();
    init_app(*launch);
    build_scenario(*built, {1, ERROR_LOW, true});
    EXPECT_EQ(std::string(fingerprint_line(*built, 0).text), fingerprint_line(*launch, 0).text);

    EXPECT_EQ(*error_level_named("moderate"), ERROR_MODERATE);
    EXPECT_FALSE(error_level_named("extreme").has_value());
    EXPECT_STREQ(error_level_name(ERROR_HIGH), "high");
}

}  // namespace
