// Pins whole runs: any change to what a scenario does shows up here and has to
// be explained. The lines are the run fingerprints of tick 2000.
#include <gtest/gtest.h>

#include <string>

#include "sim/fingerprint.h"
#include "sim/scenario.h"
#include "support/town.h"

namespace {

std::string line_at(const ScenarioSpec& spec, int ticks) {
    auto sim = new_simulation();
    build_scenario(*sim, spec);
    for (int t = 0; t < ticks; ++t) sim_tick(*sim);
    return fingerprint_line(*sim, ticks).text;
}

TEST(GoldenRun, Seed1AtTick2000UnderEachErrorLevel) {
    EXPECT_EQ(line_at({1, ERROR_LOW, false}, 2000),
              "2000 2000.0 0 600 1 119 0 0 00bbd7cab87e521e 9ac125b45204a6fc 2afdcae47e9ffb39 "
              "d217df24cff09814 3309ab28");
    EXPECT_EQ(line_at({1, ERROR_MODERATE, false}, 2000),
              "2000 2000.0 0 528 153 0 39 0 8404b904322f62cc 44060ecece018ecd 2afdcae47e9ffb39 "
              "0e2a523bb990bafd 3309ab28");
    EXPECT_EQ(line_at({1, ERROR_HIGH, false}, 2000),
              "2000 2000.0 0 375 278 0 67 0 77223dad0717b14b 8d9be5504f177b50 2afdcae47e9ffb39 "
              "06b05a8aee2128cd 3309ab28");
}

TEST(GoldenRun, AFreshTownBeforeItsFirstTick) {
    EXPECT_EQ(line_at({1, ERROR_LOW, false}, 0),
              "0 0.0 720 0 0 0 0 0 477d62b962038eb0 0bf0e348a523ac85 06302e1597c83f36 "
              "c7500b6ceabd3415 6e5c8828");
}

}  // namespace
