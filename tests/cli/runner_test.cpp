#include "cli/runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "sim/fingerprint.h"
#include "support/town.h"

namespace {

// The report's lines less its comment lines (parameters, and what a CSV run showed).
std::vector<std::string> run(const RunOptions& options) {
    std::ostringstream out;
    run_headless(options, out);
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
        if (!line.starts_with("# ")) lines.push_back(line);
    return lines;
}

TEST(HeadlessRun, ReportsTheAskedTicksEveryNthAndTheLastByDefault) {
    RunOptions o;
    o.ticks = 1000;
    EXPECT_EQ(report_ticks(o), (std::vector<long long>{1000}));
    o.at = {500, 5, 5, 2000};  // beyond the run: dropped; repeats once
    o.every = 300;
    EXPECT_EQ(report_ticks(o), (std::vector<long long>{0, 5, 300, 500, 600, 900}));
    o = {};
    o.ticks = 20;
    const auto table = run(o);
    ASSERT_EQ(table.size(), 5u);  // the columns, a row, then what the run showed
    EXPECT_NE(table[0].find("not evacuated"), std::string::npos);
    EXPECT_EQ(table[1].size(), table[0].size());
    EXPECT_EQ(table[2], "not settled after 20 ticks");
}

TEST(HeadlessRun, CsvRowsAreTheTallyAtThoseTicksAndFingerprintsEveryTick) {
    RunOptions o;
    o.scenario = {2001, error_level(ERROR_MODERATE), false};
    o.ticks = 400;
    o.every = 100;
    o.format = TallyFormat::Csv;
    const auto lines = run(o);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "tick,not_evacuated,evacuated,gave_up,en_route,towed,out_of_gas,total");
    auto sim = reset_town(2001, ERROR_MODERATE);
    for (int row = 0; row <= 4; ++row) {
        std::string counts = tally_of(*sim);
        std::replace(counts.begin(), counts.end(), ' ', ',');
        EXPECT_EQ(lines[row + 1], std::to_string(row * 100) + "," + counts + ",720");
        for (int i = 0; i < 100; ++i) sim_tick(*sim);
    }
    o = {};
    o.scenario = {1, error_level(ERROR_HIGH), true};
    o.ticks = 30;
    o.fingerprint = true;
    const auto prints = run(o);
    ASSERT_EQ(prints.size(), 31u);
    auto launch = new_simulation();
    init_app(*launch);
    launch->parameters.errorSpread = ERROR_HIGH;
    for (int tick = 0; tick <= 30; ++tick) {
        EXPECT_EQ(prints[tick], fingerprint_line(*launch, tick).text);
        sim_tick(*launch);
    }
}

TEST(ScenarioBuilder, StepsAndStartUpMatchTheWindowsSequences) {
    EXPECT_EQ(seed_of_step(3), 3001);
    EXPECT_EQ(seed_of_step(-2), -1999);
    EXPECT_EQ(seed_of_step(2147484), -2147483295);  // wraps around like the window's seed
    auto window = new_simulation();                 // the window at launch, then Next twice
    init_app(*window);
    next_scenario(*window);
    next_scenario(*window);
    auto built = new_simulation();
    build_scenario(*built, {seed_of_step(2), error_level(ERROR_LOW), false});
    EXPECT_STREQ(fingerprint_line(*built, 0).text, fingerprint_line(*window, 0).text);
    build_scenario(*built, {1, error_level(ERROR_LOW), true});  // the launch town, even on a used object
    auto launch = new_simulation();
    init_app(*launch);
    EXPECT_STREQ(fingerprint_line(*built, 0).text, fingerprint_line(*launch, 0).text);
    EXPECT_EQ(*error_level_named("moderate"), ERROR_MODERATE);
    EXPECT_FALSE(error_level_named("extreme").has_value());
}

}  // namespace
