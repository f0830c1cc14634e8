// The survival statistics on cases whose answers are known: no censoring (the
// sample's own median and mean), everything censored, and examples with
// censoring worked by hand.
#include "experiments/records/survival.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

std::vector<TimeObservation> reached(const std::vector<double>& times) {
    std::vector<TimeObservation> runs;
    for (double t : times) runs.push_back({t, true});
    return runs;
}

TEST(Survival, WithoutCensoringTheEstimatesAreTheSamplesOwn) {
    // Odd count: the middle value. Even count: the curve is 0.5 from 2 to 3,
    // so the median is their midpoint, as the sample median.
    EXPECT_EQ(km_median(reached({5, 1, 3})).value, 3.0);
    EXPECT_EQ(km_median(reached({4, 1, 3, 2})).value, 2.5);
    EXPECT_EQ(km_median(reached({7, 7, 7})).value, 7.0);

    // The restricted mean up to a horizon past every time is the sample mean,
    // with variance sum (x - mean)^2 / n^2 = (9 + 4 + 1 + 0 + 36) / 25 = 2.
    const Estimate m = restricted_mean(reached({1, 2, 3, 4, 10}), 100);
    ASSERT_TRUE(m.value && m.low && m.high);
    EXPECT_NEAR(*m.value, 4.0, 1e-12);
    EXPECT_NEAR(*m.high - *m.value, 1.959963984540054 * std::sqrt(2.0), 1e-9);
    EXPECT_NEAR(*m.value - *m.low, *m.high - *m.value, 1e-12);

    // Every run at the same time: no spread, no width.
    const Estimate same = restricted_mean(reached({6, 6, 6}), 10);
    EXPECT_EQ(same.value, 6.0);
    EXPECT_EQ(same.low, 6.0);
    EXPECT_EQ(same.high, 6.0);

    // The median's interval holds the median and lies within the sample.
    const Estimate med = km_median(reached({10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    ASSERT_TRUE(med.value && med.low && med.high);
    EXPECT_EQ(*med.value, 15.0);
    EXPECT_LT(*med.low, 15.0);
    EXPECT_GT(*med.high, 15.0);
    EXPECT_GE(*med.low, 10.0);
    EXPECT_LE(*med.high, 20.0);
}

TEST(Survival, WhenNoRunReachesThereIsNoMedianAndTheRestrictedMeanIsTheHorizon) {
    const std::vector<TimeObservation> none = {{50, false}, {50, false}, {50, false}};
    EXPECT_TRUE(kaplan_meier(none).empty());
    const Estimate med = km_median(none);
    EXPECT_FALSE(med.value);
    EXPECT_FALSE(med.low);
    EXPECT_FALSE(med.high);
    const Estimate m = restricted_mean(none, 50);
    EXPECT_EQ(m.value, 50.0);
    EXPECT_EQ(m.low, 50.0);
    EXPECT_EQ(m.high, 50.0);
    EXPECT_FALSE(km_median({}).value);
    EXPECT_FALSE(restricted_mean({}, 50).value);
}

TEST(Survival, CensoredRunsLeaveTheRiskSetWithoutAStep) {
    // 1, 2+, 3, 4, 5+ (+: censored):
    //   t = 1: 5 at risk, 1 event: S = 4/5 = 0.8
    //   t = 2: censored, no step; 3 left at risk
    //   t = 3: 3 at risk, 1 event: S = 0.8 * 2/3 = 0.5333
    //   t = 4: 2 at risk, 1 event: S = 0.5333 * 1/2 = 0.2667 -> the median is 4
    // Area up to 5: 1 * 1 + 0.8 * 2 + 0.5333 * 1 + 0.2667 * 1 = 3.4.
    const std::vector<TimeObservation> runs = {
        {4, true}, {2, false}, {1, true}, {5, false}, {3, true}};
    const std::vector<SurvivalStep> s = kaplan_meier(runs);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].time, 1.0);
    EXPECT_EQ(s[1].time, 3.0);
    EXPECT_EQ(s[2].time, 4.0);
    EXPECT_EQ(s[1].atRisk, 3u);
    EXPECT_NEAR(s[0].survival, 0.8, 1e-12);
    EXPECT_NEAR(s[1].survival, 0.8 * 2 / 3, 1e-12);
    EXPECT_NEAR(s[2].survival, 0.8 * 2 / 3 / 2, 1e-12);
    EXPECT_EQ(km_median(runs).value, 4.0);
    EXPECT_NEAR(*restricted_mean(runs, 5).value, 3.4, 1e-12);
    // A horizon inside the curve cuts the area: 1 + 0.8 * 1.5 = 2.2.
    EXPECT_NEAR(*restricted_mean(runs, 2.5).value, 2.2, 1e-12);
    // A run censored at the time another reaches was still at risk then.
    const std::vector<SurvivalStep> tie = kaplan_meier({{2, false}, {2, true}, {3, true}});
    ASSERT_EQ(tie.size(), 2u);
    EXPECT_EQ(tie[0].atRisk, 3u);
    EXPECT_NEAR(tie[0].survival, 2.0 / 3.0, 1e-12);
}

TEST(Survival, TheSixMercaptopurineGroupOfTheLeukaemiaTrial) {
    // The treated group of Freireich's trial (remission in weeks), the usual
    // textbook example: 21 patients, 9 relapses, 12 censored.
    //   t   at risk  relapses  S        Greenwood SE   log-log 95 % interval
    //   6   21       3         0.8571   0.0764         0.6197 .. 0.9516
    //   7   17       1         0.8067   0.0869         0.5631 .. 0.9228
    //   10  15       1         0.7529   0.0963         0.5032 .. 0.8894
    //   13  12       1         0.6902   0.1068         0.4316 .. 0.8491
    //   16  11       1         0.6275   0.1141         0.3675 .. 0.8049
    //   22  7        1         0.5378   0.1282         0.2678 .. 0.7468
    //   23  6        1         0.4482   0.1346         0.1881 .. 0.6801
    // S first falls below 0.5 at 23: the median. Its interval starts where
    // the lower bound first falls to 0.5 (13); the upper bound never does.
    std::vector<TimeObservation> runs;
    for (double t : {6, 6, 6, 7, 10, 13, 16, 22, 23}) runs.push_back({t, true});
    for (double t : {6, 9, 10, 11, 17, 19, 20, 25, 32, 32, 34, 35}) runs.push_back({t, false});
    const std::vector<SurvivalStep> s = kaplan_meier(runs);
    ASSERT_EQ(s.size(), 7u);
    const double survival[] = {0.8571, 0.8067, 0.7529, 0.6902, 0.6275, 0.5378, 0.4482};
    const double se[] = {0.0764, 0.0869, 0.0963, 0.1068, 0.1141, 0.1282, 0.1346};
    for (std::size_t i = 0; i < s.size(); ++i) {
        EXPECT_NEAR(s[i].survival, survival[i], 5e-5) << s[i].time;
        EXPECT_NEAR(s[i].survival * std::sqrt(s[i].greenwood), se[i], 5e-5) << s[i].time;
    }
    const Estimate med = km_median(runs);
    EXPECT_EQ(med.value, 23.0);
    EXPECT_EQ(med.low, 13.0);
    EXPECT_FALSE(med.high);
}

TEST(Survival, TheMeanOfAFigureEveryRunHasHasStudentsInterval) {
    // s = sqrt(2.5), t(0.975, 4) = 2.776445: half-width 2.776445 sqrt(2.5 / 5) = 1.963243.
    const Estimate m = mean_interval({1, 2, 3, 4, 5});
    ASSERT_TRUE(m.value && m.low && m.high);
    EXPECT_NEAR(*m.value, 3.0, 1e-12);
    EXPECT_NEAR(*m.high - 3.0, 1.963243, 1e-6);
    EXPECT_NEAR(3.0 - *m.low, 1.963243, 1e-6);
    const Estimate one = mean_interval({0.25});
    EXPECT_EQ(one.value, 0.25);
    EXPECT_FALSE(one.low);
    EXPECT_FALSE(mean_interval({}).value);
}

}  // namespace
