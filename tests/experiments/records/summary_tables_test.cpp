// The sweep's table and its paired differences on small sets of runs made by
// hand, whose answers are worked out here: levels that reach a time in
// different runs, censored runs, pairs matched by scenario whatever the order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>

#include "experiments/records/summary.h"
#include "sim/parameters.h"

namespace {

// A run of 720 cars: `evacuated` of them out, 50 % out at `half` (or never).
RunResult run_of(int evacuated, std::optional<long long> half) {
    RunResult r;
    r.figures.final = {720 - evacuated, evacuated, 0, 0, 0, 0};
    r.figures.tickHalf = half;
    return r;
}

// The rows of a CSV without quoting, as maps from column name to field.
std::vector<std::map<std::string, std::string>> csv_rows(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> names;
    for (std::istringstream n(line); std::getline(n, line, ',');) names.push_back(line);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        std::map<std::string, std::string> row;
        std::size_t at = 0;
        for (const std::string& name : names) {
            const std::size_t comma = line.find(',', at);
            row[name] =
                line.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
            at = comma == std::string::npos ? line.size() : comma + 1;
        }
        rows.push_back(row);
    }
    return rows;
}

std::map<std::string, std::string> row_of(const std::string& csv, const std::string& level,
                                          const std::string& figure,
                                          const std::string& estimator = "") {
    for (const auto& row : csv_rows(csv))
        if (row.at("error") == level && row.at("figure") == figure &&
            (estimator.empty() || row.at("estimator") == estimator))
            return row;
    ADD_FAILURE() << level << " " << figure << " " << estimator << " not in\n" << csv;
    return {};
}

// The percentile bootstrap as summary.h describes it, written out again: the
// Mersenne twister's numbers, each redrawn below 2^64 mod n and taken mod n;
// the means sorted, the 2.5th and 97.5th percentiles interpolated between
// closest ranks.
std::pair<double, double> bootstrap_by_hand(const std::vector<double>& x, std::size_t resamples,
                                            std::uint64_t seed) {
    std::mt19937_64 engine(seed);
    const std::uint64_t n = x.size();
    std::vector<double> means;
    for (std::size_t b = 0; b < resamples; ++b) {
        double sum = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            std::uint64_t r = engine();
            while (r < (0 - n) % n) r = engine();
            sum += x[r % n];
        }
        means.push_back(sum / static_cast<double>(n));
    }
    std::sort(means.begin(), means.end());
    const auto at = [&](double p) {
        const double h = static_cast<double>(means.size() - 1) * p;
        const auto i = static_cast<std::size_t>(std::floor(h));
        return means[i] + (h - std::floor(h)) * (means[i + 1] - means[i]);
    };
    return {at(0.025), at(0.975)};
}

// Four scenarios under two levels, 1000 ticks each. 50 % out:
//   seed   low    moderate
//   1      100    150
//   2      200    never
//   3      300    280
//   4      never  500
// Each level reaches it in three runs, one censored, but not the same three.
// Low, by Kaplan-Meier: S = 3/4 after 100, 2/4 after 200 (flat to 300: the
// median is their midpoint, 250), 1/4 after 300; the area under S to 1000 is
// 100 + 0.75 * 100 + 0.5 * 100 + 0.25 * 700 = 400. Moderate: S = 0.5 from 280
// to 500, median 390; area 150 + 0.75 * 130 + 0.5 * 220 + 0.25 * 500 = 482.5.
// The means over the runs that reached (200 against 310) would say moderate
// is 110 ticks later; paired on the two scenarios where both reached (1: +50,
// 3: -20) it is 15 ticks later, with one pair where only low reached (2) and
// one where only moderate did (4).
SweepSummary four_scenarios() {
    SweepSummary summary({ERROR_LOW, ERROR_MODERATE}, {0, 1000}, false);
    summary.set_horizon(1000);
    const std::optional<long long> never;
    const std::vector<std::optional<long long>> low = {100, 200, 300, never};
    const std::vector<std::optional<long long>> moderate = {150, never, 280, 500};
    const std::vector<int> lowOut = {400, 380, 360, 300}, moderateOut = {410, 370, 380, 330};
    // The moderate runs come in the reverse order: pairs follow the seeds.
    for (int i = 0; i < 4; ++i) summary.add({{i + 1, i}, ERROR_LOW}, run_of(lowOut[i], low[i]));
    for (int i = 3; i >= 0; --i)
        summary.add({{i + 1, i}, ERROR_MODERATE}, run_of(moderateOut[i], moderate[i]));
    return summary;
}

TEST(SweepTable, EveryFigureSaysTheRunsThatReachedItAndThoseCensored) {
    const SweepSummary summary = four_scenarios();
    const std::string csv = summary.table_csv();
    const auto km = row_of(csv, "low", "tick_50", "km_median");
    EXPECT_EQ(km.at("spread"), "0.001");
    EXPECT_EQ(km.at("reached"), "3");
    EXPECT_EQ(km.at("censored"), "1");
    EXPECT_DOUBLE_EQ(std::stod(km.at("value")), 250.0);
    EXPECT_DOUBLE_EQ(std::stod(row_of(csv, "low", "tick_50", "restricted_mean").at("value")),
                     400.0);
    const auto moderate = row_of(csv, "moderate", "tick_50", "km_median");
    EXPECT_EQ(moderate.at("spread"), "360");
    EXPECT_DOUBLE_EQ(std::stod(moderate.at("value")), 390.0);
    EXPECT_EQ(moderate.at("reached"), "3");
    EXPECT_EQ(moderate.at("censored"), "1");
    EXPECT_DOUBLE_EQ(std::stod(row_of(csv, "moderate", "tick_50", "restricted_mean").at("value")),
                     482.5);
    // No run reached 90 %: no median, every run censored, the restricted mean the horizon.
    const auto most = row_of(csv, "low", "tick_90", "km_median");
    EXPECT_EQ(most.at("value"), "");
    EXPECT_EQ(most.at("reached"), "0");
    EXPECT_EQ(most.at("censored"), "4");
    EXPECT_DOUBLE_EQ(std::stod(row_of(csv, "low", "tick_90", "restricted_mean").at("value")),
                     1000.0);

    // A count every run has: its mean with Student's interval, nothing censored.
    // Low evacuated 400, 380, 360, 300: mean 360, s^2 = (1600 + 400 + 0 + 3600) / 3,
    // half-width t(0.975, 3) s / 2 with t = 3.182446305.
    const auto evacuated = row_of(csv, "low", "evacuated", "mean");
    EXPECT_DOUBLE_EQ(std::stod(evacuated.at("value")), 360.0);
    const double half = 3.182446305284263 * std::sqrt(5600.0 / 3.0) / 2.0;
    EXPECT_NEAR(std::stod(evacuated.at("high")) - 360.0, half, 1e-9);
    EXPECT_NEAR(360.0 - std::stod(evacuated.at("low")), half, 1e-9);
    EXPECT_EQ(evacuated.at("reached"), "4");
    EXPECT_EQ(evacuated.at("censored"), "0");
    // Trip times no run had: a mean of the runs that reached it, of none.
    const auto trips = row_of(csv, "low", "trip_mean");
    EXPECT_EQ(trips.at("estimator"), "mean_of_reached");
    EXPECT_EQ(trips.at("reached"), "0");
    EXPECT_EQ(trips.at("censored"), "4");

    // The printed table says the same, with the figures' column names.
    std::ostringstream printed;
    summary.write_table(printed);
    const std::string text = printed.str();
    EXPECT_NE(text.find("reached censored"), std::string::npos) << text;
    EXPECT_NE(text.find("low (0.001)"), std::string::npos) << text;
    EXPECT_NE(text.find("moderate (360)"), std::string::npos) << text;
    const std::size_t line = text.find("tick_50                KM median");
    ASSERT_NE(line, std::string::npos) << text;
    EXPECT_NE(text.substr(line, text.find('\n', line) - line).find("250.0"), std::string::npos)
        << text;
}

TEST(SweepTable, PairedDifferencesAreOnTheScenariosBothLevelsReached) {
    const SweepSummary summary = four_scenarios();
    const std::vector<PairedDifference> rows = summary.paired_differences();
    const auto find = [&](Figure f) {
        for (const PairedDifference& d : rows)
            if (d.figure == f) return d;
        ADD_FAILURE() << figure_column(f);
        return PairedDifference{};
    };
    const PairedDifference half = find(Figure::TickHalf);
    EXPECT_EQ(half.group, 1u);
    EXPECT_EQ(half.matched, 4u);
    EXPECT_EQ(half.pairs, 2u);
    EXPECT_EQ(half.onlyReference, 1u);
    EXPECT_EQ(half.onlyThis, 1u);
    ASSERT_TRUE(half.difference.value);
    EXPECT_DOUBLE_EQ(*half.difference.value, 15.0);
    // The interval of the two differences by the bootstrap worked again here, in
    // the moderate runs' order (seed 4 first), as the pairs come in the sweep's rows.
    const auto [low, high] = bootstrap_by_hand({-20, 50}, PAIRED_RESAMPLES, PAIRED_SEED);
    EXPECT_DOUBLE_EQ(*half.difference.low, low);
    EXPECT_DOUBLE_EQ(*half.difference.high, high);
    EXPECT_LE(-20.0, low);
    EXPECT_GE(50.0, high);
    EXPECT_LT(low, high);

    // Evacuated, in every pair: 410 - 400, 370 - 380, 380 - 360, 330 - 300.
    const PairedDifference out = find(Figure::Evacuated);
    EXPECT_EQ(out.pairs, 4u);
    EXPECT_DOUBLE_EQ(*out.difference.value, (10.0 - 10.0 + 20.0 + 30.0) / 4.0);
    const auto [outLow, outHigh] =
        bootstrap_by_hand({30, 20, -10, 10}, PAIRED_RESAMPLES, PAIRED_SEED);
    EXPECT_DOUBLE_EQ(*out.difference.low, outLow);
    EXPECT_DOUBLE_EQ(*out.difference.high, outHigh);

    const auto csv = summary.paired_csv(rows);
    bool seen = false;
    for (const auto& row : csv_rows(csv)) {
        if (row.at("figure") != "tick_50") continue;
        seen = true;
        EXPECT_EQ(row.at("error"), "moderate");
        EXPECT_EQ(row.at("spread"), "360");
        EXPECT_EQ(row.at("reference"), "low");
        EXPECT_EQ(row.at("reference_spread"), "0.001");
        EXPECT_EQ(row.at("pairs"), "2");
        EXPECT_EQ(row.at("matched"), "4");
        EXPECT_DOUBLE_EQ(std::stod(row.at("difference")), 15.0);
        EXPECT_DOUBLE_EQ(std::stod(row.at("low")), low);
    }
    EXPECT_TRUE(seen) << csv;
    std::ostringstream printed;
    summary.write_paired_table(printed, rows);
    EXPECT_NE(printed.str().find("moderate (360)"), std::string::npos) << printed.str();
    EXPECT_NE(printed.str().find("tick_50"), std::string::npos) << printed.str();
}

TEST(SweepTable, NoPairsWithoutASecondLevelOrACommonScenario) {
    SweepSummary one({ERROR_LOW}, {0, 10}, false);
    one.add({{1, 0}, ERROR_LOW}, run_of(100, 5));
    EXPECT_TRUE(one.paired_differences().empty());
    std::ostringstream printed;
    one.write_paired_table(printed, one.paired_differences());
    EXPECT_EQ(printed.str(), "");
    SweepSummary apart({ERROR_LOW, ERROR_HIGH}, {0, 10}, false);
    apart.add({{1, 0}, ERROR_LOW}, run_of(100, 5));
    apart.add({{2, 1}, ERROR_HIGH}, run_of(100, 5));
    EXPECT_TRUE(apart.paired_differences().empty());
}

TEST(SweepTable, TheBootstrapOfAConstantOrASingleValue) {
    const Estimate same = bootstrap_mean({3, 3, 3});
    EXPECT_EQ(same.value, 3.0);
    EXPECT_EQ(same.low, 3.0);
    EXPECT_EQ(same.high, 3.0);
    const Estimate one = bootstrap_mean({7});
    EXPECT_EQ(one.value, 7.0);
    EXPECT_FALSE(one.low);
    EXPECT_FALSE(bootstrap_mean({}).value);
    // The same draws every time: the interval is reproducible.
    const std::vector<double> x = {1, 5, 2, 8, 3};
    EXPECT_EQ(bootstrap_mean(x).low, bootstrap_mean(x).low);
    const auto [low, high] = bootstrap_by_hand(x, 500, 9);
    EXPECT_DOUBLE_EQ(*bootstrap_mean(x, 500, 9).low, low);
    EXPECT_DOUBLE_EQ(*bootstrap_mean(x, 500, 9).high, high);
}

// A design's runs pair on their scenario when each group is one point, on
// their scenario and the other parameters when each group is one value of
// the first, and not at all when a group spans several values.
TEST(SweepTable, DesignRunsPairOnTheirScenarioAndTheOtherParameters) {
    Design d;
    d.parameters = {find_parameter("feedback", 8), find_parameter("tow_wait", 8)};
    d.values = {0.3, 20, 0.3, 90, 0.6, 20, 0.6, 90};
    PointGroups perPoint;
    perPoint.names = {"p0", "p1", "p2", "p3"};
    perPoint.groupOfPoint = {0, 1, 2, 3};
    const std::vector<std::string> a = design_pairing(d, perPoint);
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(design_pair_key(a, 0, 5), design_pair_key(a, 3, 5));
    EXPECT_NE(design_pair_key(a, 0, 5), design_pair_key(a, 0, 6));

    PointGroups byValue;
    byValue.names = {"feedback=0.3", "feedback=0.6"};
    byValue.groupOfPoint = {0, 0, 1, 1};
    const std::vector<std::string> b = design_pairing(d, byValue);
    EXPECT_EQ(design_pair_key(b, 0, 5), design_pair_key(b, 2, 5));  // tow_wait 20 both
    EXPECT_NE(design_pair_key(b, 0, 5), design_pair_key(b, 3, 5));  // 20 against 90

    // Two groups of a factorial: feedback 0.6 less 0.3 on the same tow_wait and scenario.
    SweepSummary table("feedback", byValue.names, {0, 10}, false);
    for (std::size_t p = 0; p < 4; ++p)
        for (std::int32_t seed : {1, 2})
            table.add_to(byValue.groupOfPoint[p],
                         run_of(static_cast<int>(100 * p + seed), std::nullopt),
                         design_pair_key(b, p, seed));
    for (const PairedDifference& diff : table.paired_differences())
        if (diff.figure == Figure::Evacuated) {
            EXPECT_EQ(diff.matched, 4u);
            EXPECT_DOUBLE_EQ(*diff.difference.value, 200.0);  // points 2, 3 less points 0, 1
        }

    PointGroups spans;
    spans.names = {"feedback 0.3..0.6"};
    spans.groupOfPoint = {0, 0, 0, 0};
    EXPECT_TRUE(design_pairing(d, spans).empty());
}

}  // namespace
