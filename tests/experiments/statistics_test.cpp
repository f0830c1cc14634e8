// The statistics of the table and the plot: textbook values, and how runs of
// several levels are kept apart.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/summary.h"

namespace {

// Linear interpolation between closest ranks (the common default, e.g.
// Hyndman and Fan's definition 7): for 1..10 the 10th percentile is 1.9 and
// the 90th is 9.1.
TEST(Statistics, PercentilesInterpolateBetweenClosestRanks) {
    const std::vector<double> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_DOUBLE_EQ(percentile_of_sorted(ten, 0.10), 1.9);
    EXPECT_DOUBLE_EQ(percentile_of_sorted(ten, 0.90), 9.1);
    EXPECT_DOUBLE_EQ(percentile_of_sorted(ten, 0.50), 5.5);
    EXPECT_DOUBLE_EQ(percentile_of_sorted(ten, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(percentile_of_sorted(ten, 1.0), 10.0);
    EXPECT_DOUBLE_EQ(percentile_of_sorted({0, 10}, 0.10), 1.0);
    EXPECT_DOUBLE_EQ(percentile_of_sorted({42}, 0.90), 42.0);
}

TEST(Statistics, SpreadIsMeanSampleDeviationAndPercentilesOfUnsortedValues) {
    // Mean 5, squared deviations sum to 32, so the sample deviation is sqrt(32 / 7).
    const Spread s = spread_of({9, 4, 2, 5, 4, 7, 4, 5});
    EXPECT_EQ(s.count, 8u);
    EXPECT_DOUBLE_EQ(s.mean, 5.0);
    EXPECT_NEAR(s.sd, 2.13808993529939, 1e-12);
    EXPECT_DOUBLE_EQ(s.p10, 3.4);  // h = 0.7 between 2 and 4
    EXPECT_DOUBLE_EQ(s.p90, 7.6);  // h = 6.3 between 7 and 9

    const Spread one = spread_of({3});
    EXPECT_EQ(one.count, 1u);
    EXPECT_DOUBLE_EQ(one.sd, 0.0);
    EXPECT_DOUBLE_EQ(one.p90, 3.0);
    EXPECT_EQ(spread_of({}).count, 0u);
}

RunResult result_of(int evacuated, std::optional<long long> tickHalf, std::vector<int> curve) {
    RunResult r;
    r.figures.final = {720 - evacuated, evacuated, 0, 0, 0, 0};
    r.figures.tickHalf = tickHalf;
    r.figures.maxEnRoute = 100;
    for (int e : curve) r.samples.push_back({720 - e, e, 0, 0, 0, 0});
    return r;
}

TEST(Statistics, SummaryKeepsLevelsApartAndSkipsThresholdsNeverReached) {
    SweepSummary summary({ERROR_HIGH, ERROR_LOW}, {0, 10, 20}, true);
    const SweepRun high = {{1, 0}, ERROR_HIGH};
    const SweepRun low = {{1, 0}, ERROR_LOW};
    summary.add(high, result_of(400, 210, {0, 100, 400}));
    summary.add(low, result_of(100, std::nullopt, {0, 50, 100}));
    summary.add(high, result_of(500, 230, {0, 300, 500}));
    summary.add(low, result_of(300, std::nullopt, {0, 150, 300}));
    summary.add(low, result_of(200, 400, {0, 10, 200}));
    EXPECT_EQ(summary.runs(), 5u);

    const Spread highEvacuated = summary.figure_spread(0, Figure::Evacuated);
    EXPECT_EQ(highEvacuated.count, 2u);
    EXPECT_DOUBLE_EQ(highEvacuated.mean, 450.0);
    const Spread lowEvacuated = summary.figure_spread(1, Figure::Evacuated);
    EXPECT_EQ(lowEvacuated.count, 3u);
    EXPECT_DOUBLE_EQ(lowEvacuated.mean, 200.0);
    EXPECT_DOUBLE_EQ(lowEvacuated.p10, 120.0);
    // Only one low run reached half: the others have no such tick.
    const Spread lowHalf = summary.figure_spread(1, Figure::TickHalf);
    EXPECT_EQ(lowHalf.count, 1u);
    EXPECT_DOUBLE_EQ(lowHalf.mean, 400.0);
    EXPECT_EQ(summary.figure_spread(1, Figure::TickMost).count, 0u);

    const SweepSummary::Band band = summary.curve_band(1, SweepSummary::Quantity::Evacuated);
    ASSERT_EQ(band.mean.size(), 3u);
    EXPECT_DOUBLE_EQ(band.mean[1], 70.0);  // (50 + 150 + 10) / 3
    EXPECT_DOUBLE_EQ(band.p10[1], 18.0);   // h = 0.2 between 10 and 50
    EXPECT_DOUBLE_EQ(band.p90[2], 280.0);  // h = 1.8 between 200 and 300
    const SweepSummary::Band left = summary.curve_band(0, SweepSummary::Quantity::NotEvacuated);
    EXPECT_DOUBLE_EQ(left.mean[2], 270.0);  // 720 - 450

    std::ostringstream table;
    summary.write_table(table);
    std::vector<std::string> lines;
    std::istringstream in(table.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + 2u * FIGURE_COUNT);
    EXPECT_EQ(lines[1].rfind("high ", 0), 0u);
    EXPECT_EQ(lines[1 + FIGURE_COUNT].rfind("low ", 0), 0u);
    // The figure no run reached shows dashes, not a zero.
    const std::string lowMost = lines[1 + FIGURE_COUNT + static_cast<int>(Figure::TickMost)];
    EXPECT_NE(lowMost.find(figure_label(Figure::TickMost)), std::string::npos);
    EXPECT_NE(lowMost.find(" 0 "), std::string::npos);
    EXPECT_NE(lowMost.find('-'), std::string::npos);
    EXPECT_NE(lines[1 + FIGURE_COUNT + 1].find("200.0"), std::string::npos);
}

}  // namespace
