// Sweeps through their library functions: what a sweep runs, in which order,
// and what its rows say about each run.
#include "app/sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/runner.h"

namespace {

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep)) parts.push_back(part);
    if (!text.empty() && text.back() == sep && sep == ',') parts.push_back("");
    return parts;
}

SweepRun run_of(std::int32_t seed, float level) {
    return {{seed, step_of_seed(seed)}, level};
}

TEST(SweepInput, ListsAndRangesAreReadInOrder) {
    std::vector<std::int64_t> v;
    EXPECT_EQ(parse_int_list("7, 1..3,10..10", -100, 100, 50, v), "");
    EXPECT_EQ(v, (std::vector<std::int64_t>{7, 1, 2, 3, 10}));
    EXPECT_EQ(parse_int_list("-2..1,+5", -100, 100, 50, v), "");
    EXPECT_EQ(v, (std::vector<std::int64_t>{-2, -1, 0, 1, 5}));
    EXPECT_EQ(parse_int_list("1..5", 1, 5, 5, v), "");  // exactly at the limits
    EXPECT_EQ(v.size(), 5u);
}

TEST(SweepInput, BadListsAreRefusedNamingTheFault) {
    struct Case {
        const char* text;
        const char* named;  // what the error text must show
    };
    for (const Case& c :
         {Case{"", "empty"}, Case{" ", "empty"}, Case{"1,,2", "empty item"},
          Case{"3,", "empty item"}, Case{"5..3", "reversed range \"5..3\""}, Case{"x", "\"x\""},
          Case{"1.5", "\"1.5\""}, Case{"1..", "\"1..\""}, Case{"..4", "\"..4\""},
          Case{"1..2..3", "\"1..2..3\""}, Case{"-101", "outside"}, Case{"99..101", "outside"},
          Case{"1..6", "more than 5"}, Case{"1,2,3,4,5,6", "more than 5"},
          Case{"0..99999999999", "outside"}}) {
        SCOPED_TRACE(c.text);
        std::vector<std::int64_t> v;
        const std::string why = parse_int_list(c.text, -100, 100, 5, v);
        EXPECT_NE(why.find(c.named), std::string::npos) << why;
    }
}

TEST(SweepInput, ErrorLevelsAndShards) {
    std::vector<float> levels;
    EXPECT_EQ(parse_error_levels("high,low", levels), "");
    EXPECT_EQ(levels, (std::vector<float>{ERROR_HIGH, ERROR_LOW}));
    for (const char* bad : {"", "extreme", "low,,high", "low,low", "Low"}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(parse_error_levels(bad, levels), "");
    }

    long long i = 0;
    long long n = 0;
    EXPECT_EQ(parse_shard("3/4", i, n), "");
    EXPECT_EQ(i, 3);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(parse_shard("1/1", i, n), "");
    for (const char* bad : {"0/4", "5/4", "4", "a/b", "1/0", "-1/3", "2/", "/2", "1/2/3"}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(parse_shard(bad, i, n), "");
    }
}

TEST(SweepInput, StepsAreKnownOnlyForSeedsOnTheNextChain) {
    for (std::int64_t k : {0LL, 1LL, 7LL, -1LL, -2LL, 2000000LL, -2000000LL}) {
        SCOPED_TRACE(k);
        EXPECT_EQ(step_of_seed(seed_of_step(k)), k);
    }
    for (std::int32_t seed : {0, 2, 1000, 999, -1000, 42})
        EXPECT_FALSE(step_of_seed(seed).has_value()) << seed;
}

TEST(SweepOrder, EveryLeadingPartCoversTheLevelsEvenly) {
    std::vector<SweepScenario> scenarios;
    for (int k = 0; k < 5; ++k) scenarios.push_back({seed_of_step(k), k});
    const std::vector<float> levels = {ERROR_MODERATE, ERROR_LOW, ERROR_HIGH};
    const std::vector<SweepRun> runs = interleave_runs(scenarios, levels);
    ASSERT_EQ(runs.size(), 15u);
    for (std::size_t cut = 0; cut <= runs.size(); ++cut) {
        for (float level : levels) {
            const auto n = std::count_if(runs.begin(), runs.begin() + static_cast<long>(cut),
                                         [&](const SweepRun& r) { return r.errorSpread == level; });
            EXPECT_LE(static_cast<std::size_t>(n) * 3, cut + 2) << cut;
            EXPECT_GE(static_cast<std::size_t>(n) * 3 + 2, cut) << cut;
        }
    }
    // Each scenario appears under every level, in the order given.
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].scenario.seed, scenarios[i / 3].seed);
        EXPECT_EQ(runs[i].errorSpread, levels[i % 3]);
    }
}

TEST(SweepOrder, ShardsAreContiguousEvenAndCoverEveryRunOnce) {
    for (std::size_t runs : {0u, 1u, 7u, 600u, 601u}) {
        for (long long n : {1LL, 2LL, 3LL, 7LL, 16LL}) {
            SCOPED_TRACE(std::to_string(runs) + " runs in " + std::to_string(n));
            std::size_t next = 0;
            std::size_t smallest = runs;
            std::size_t largest = 0;
            for (long long i = 1; i <= n; ++i) {
                const ShardRange r = shard_range(runs, i, n);
                EXPECT_EQ(r.first, next);
                EXPECT_LE(r.first, r.end);
                smallest = std::min(smallest, r.end - r.first);
                largest = std::max(largest, r.end - r.first);
                next = r.end;
            }
            EXPECT_EQ(next, runs);
            EXPECT_LE(largest - smallest, 1u);
        }
    }
}

// The curves must be the headless runner's figures: same scenario, same ticks,
// same counts, whatever the sweep does around them.
TEST(SweepRun, CurveRowsAreTheHeadlessRunnersTallyAtTheSameTicks) {
    SweepPlan plan;
    plan.ticks = 260;
    plan.every = 40;
    const std::vector<long long> ticks = sample_ticks(plan);
    auto sim = std::make_unique<Simulation>();
    for (bool startup : {false, true}) {
        plan.startup = startup;
        for (const SweepRun& run : {run_of(1, ERROR_LOW), run_of(2001, ERROR_MODERATE),
                                    run_of(-998999, ERROR_HIGH), run_of(77, ERROR_MODERATE)}) {
            SCOPED_TRACE(std::to_string(run.scenario.seed) + (startup ? " start-up" : " reset"));
            const RunResult result = simulate_run(*sim, run, plan, ticks);
            std::string rows;
            append_curve_rows(rows, run, ticks, result.samples);

            RunOptions o;
            o.scenario = {run.scenario.seed, run.errorSpread, startup};
            o.ticks = plan.ticks;
            o.every = plan.every;
            o.at = {plan.ticks};
            o.format = TallyFormat::Csv;
            std::ostringstream headless;
            run_headless(o, headless);

            std::vector<std::string> ours = split(rows, '\n');
            std::vector<std::string> theirs = split(headless.str(), '\n');
            ASSERT_EQ(ours.size() + 1, theirs.size());  // theirs has a column line
            for (std::size_t i = 0; i < ours.size(); ++i) {
                const std::vector<std::string> a = split(ours[i], ',');
                const std::vector<std::string> b = split(theirs[i + 1], ',');
                ASSERT_EQ(a.size(), 10u);
                ASSERT_EQ(b.size(), 8u);
                EXPECT_EQ(a[0], std::to_string(run.scenario.seed));
                EXPECT_EQ(a[2], error_level_name(run.errorSpread));
                // tick and the six counts; the runner's last column is the total.
                for (std::size_t c = 0; c < 7; ++c) EXPECT_EQ(a[3 + c], b[c]) << ours[i];
            }
        }
    }
}

// The summary's figures, recomputed from curves sampled at every tick.
TEST(SweepRun, SummaryFiguresAgreeWithCurvesSampledEveryTick) {
    SweepPlan plan;
    plan.ticks = 2000;
    plan.every = 1;
    const std::vector<long long> ticks = sample_ticks(plan);
    auto sim = std::make_unique<Simulation>();
    int reachedMost = 0;
    int neverMost = 0;
    for (int k = 0; k < 10; ++k) {
        for (float level : {ERROR_LOW, ERROR_MODERATE, ERROR_HIGH}) {
            const SweepRun run = run_of(seed_of_step(k), level);
            SCOPED_TRACE(std::to_string(k) + " " + error_level_name(level));
            const RunResult result = simulate_run(*sim, run, plan, ticks);
            ASSERT_EQ(result.samples.size(), ticks.size());
            const int cars = tally_total(result.samples[0]);
            ASSERT_EQ(cars, 720);

            std::optional<long long> half;
            std::optional<long long> most;
            std::int32_t maxEnRoute = -1;
            long long maxTick = -1;
            for (std::size_t i = 0; i < ticks.size(); ++i) {
                const VehicleTally& t = result.samples[i];
                if (!half && t.evacuated >= 360) half = ticks[i];
                if (!most && t.evacuated >= 648) most = ticks[i];
                if (t.enRoute > maxEnRoute) {
                    maxEnRoute = t.enRoute;
                    maxTick = ticks[i];
                }
            }
            const RunFigures& f = result.figures;
            EXPECT_EQ(f.tickHalf, half);
            EXPECT_EQ(f.tickMost, most);
            EXPECT_EQ(f.maxEnRoute, maxEnRoute);
            EXPECT_EQ(f.maxEnRouteTick, maxTick);
            const VehicleTally& last = result.samples.back();
            EXPECT_EQ(f.final.evacuated, last.evacuated);
            EXPECT_EQ(f.final.gaveUp, last.gaveUp);
            EXPECT_EQ(f.final.towed, last.towed);
            (most ? reachedMost : neverMost) += 1;

            // The summary row carries the same figures; a threshold never reached is empty.
            std::string row;
            append_summary_row(row, run, f);
            ASSERT_EQ(row.back(), '\n');
            row.pop_back();
            const std::vector<std::string> fields = split(row, ',');
            ASSERT_EQ(fields.size(), 13u) << row;
            EXPECT_EQ(fields[1], std::to_string(k));
            EXPECT_EQ(fields[4], std::to_string(last.evacuated));
            EXPECT_EQ(fields[9], half ? std::to_string(*half) : "");
            EXPECT_EQ(fields[10], most ? std::to_string(*most) : "");
            EXPECT_EQ(fields[11], std::to_string(maxEnRoute));
            EXPECT_EQ(fields[12], std::to_string(maxTick));
        }
    }
    // Both kinds of run occur among these thirty, so both branches were checked.
    EXPECT_GT(reachedMost, 0);
    EXPECT_GT(neverMost, 0);
}

// Coarse curves bracket the thresholds: the sample at or after the threshold
// tick shows it reached, the sample before it does not.
TEST(SweepRun, ThresholdTicksLieBetweenTheSamplesThatBracketThem) {
    SweepPlan plan;
    plan.ticks = 700;
    plan.every = 25;
    const std::vector<long long> ticks = sample_ticks(plan);
    auto sim = std::make_unique<Simulation>();
    for (std::int32_t seed : {1, 1001, 4001, 9001}) {
        const RunResult r = simulate_run(*sim, run_of(seed, ERROR_HIGH), plan, ticks);
        ASSERT_TRUE(r.figures.tickHalf.has_value()) << seed;
        const long long t = *r.figures.tickHalf;
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            if (ticks[i] < t) {
                EXPECT_LT(r.samples[i].evacuated, 360) << ticks[i];
            } else {
                EXPECT_GE(r.samples[i].evacuated, 360) << ticks[i];
            }
        }
    }
}

std::string sweep_text(const SweepPlan& plan, int threads, std::vector<std::size_t>& order) {
    std::string text;
    order.clear();
    run_sweep(plan, threads, [&](FinishedRun& run) {
        order.push_back(run.index);
        text += run.curveRows;
        text += run.summaryRow;
    });
    return text;
}

TEST(SweepRun, ResultsArriveInRunOrderWhateverTheThreads) {
    std::vector<SweepScenario> scenarios;
    for (std::int32_t seed : {1, 1001, 2001, 5, 6, 3001, 7})
        scenarios.push_back({seed, step_of_seed(seed)});
    SweepPlan plan;
    plan.runs = interleave_runs(scenarios, {ERROR_LOW, ERROR_MODERATE, ERROR_HIGH});
    plan.ticks = 300;
    plan.every = 30;

    std::vector<std::size_t> order;
    const std::string one = sweep_text(plan, 1, order);
    std::vector<std::size_t> expected(plan.runs.size());
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = i;
    EXPECT_EQ(order, expected);
    for (int threads : {2, 3, 8}) {
        EXPECT_EQ(sweep_text(plan, threads, order), one) << threads;
        EXPECT_EQ(order, expected) << threads;
    }
    // Run 4 (seed 1001 under moderate) is the second scenario's second level.
    std::string rows;
    auto sim = std::make_unique<Simulation>();
    append_curve_rows(rows, plan.runs[4], sample_ticks(plan),
                      simulate_run(*sim, plan.runs[4], plan, sample_ticks(plan)).samples);
    EXPECT_NE(one.find(rows), std::string::npos);
    EXPECT_EQ(rows.rfind("1001,1,moderate,0,720,0,0,0,0,0\n", 0), 0u);
}

}  // namespace
