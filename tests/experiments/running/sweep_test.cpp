// Sweeps through their library functions: what the rows say about each run,
// and the statistics of the table and the plot.
#include "experiments/running/sweep.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <regex>
#include <sstream>

#include "cli/runner.h"
#include "experiments/records/rows.h"
#include "experiments/records/summary.h"

namespace {

// The curve rows must be the headless runner's tally at the same ticks. The
// summary row must agree with the curves (a threshold never reached is an
// empty field) and not depend on the sampling: the thresholds are watched at
// every tick, not only at the sampled ones.
TEST(Sweep, RowsAreTheHeadlessRunnersTallyAndTheSummaryAgreesWithThem) {
    auto sim = std::make_unique<Simulation>();
    int reachedMost = 0;
    // Scenarios K = -1..3 (seed 1 + 1000 K), then a seed that is no scenario's;
    // the moderate runs in the town of the window's launch.
    for (const auto& [seed, step] :
         {std::pair{-999, "-1"}, {1, "0"}, {1001, "1"}, {2001, "2"}, {3001, "3"}, {77, ""}}) {
        for (float level : {ERROR_LOW, ERROR_MODERATE, ERROR_HIGH}) {
            const std::string names = std::to_string(seed) + "," + step + "," +
                                      error_level_name(level) + "," + spread_text(level) + ",";
            const SweepRun run = {{seed, step_of_seed(seed)}, level};
            SweepPlan plan;
            plan.ticks = 2000;
            plan.every = 1;  // every tick sampled
            plan.startup = level == ERROR_MODERATE;
            const RunResult r = simulate_run(*sim, run, plan, sample_ticks(plan));
            std::string rows, expected;
            append_curve_rows(rows, run, sample_ticks(plan), r.samples);
            std::stringstream headless;  // every tick, as CSV
            RunOptions everyTick;
            everyTick.scenario = {seed, error_level(level), plan.startup};
            everyTick.every = 1;
            everyTick.format = TallyFormat::Csv;
            run_headless(everyTick, headless);
            // The runner's rows less its column line ("tick,...") and last column (the total).
            // Its last line: what the run showed, from settling to the households that never left.
            std::string shown;
            for (std::string l; std::getline(headless, l);) {
                if (l[0] != 't' && l[0] != '#') expected += names + l.erase(l.rfind(',')) + '\n';
                if (l[0] == '#') shown = l;
            }
            ASSERT_EQ(rows, expected);

            std::string half, most;  // first ticks with 50 % and 90 % of the 720 cars evacuated
            std::pair<std::int32_t, std::size_t> top = {-1, 0};  // most en route, first tick
            std::string settled, lastArrival;  // nothing waiting or under way; an arrival
            for (std::size_t t = 0; t < r.samples.size(); ++t) {
                const VehicleTally& s = r.samples[t];
                if (settled.empty() && s.notEvacuated + s.enRoute + s.outOfGas == 0)
                    settled = std::to_string(t);
                if (t > 0 && s.evacuated > r.samples[t - 1].evacuated)
                    lastArrival = std::to_string(t);
                if (half.empty() && 2 * s.evacuated >= 720) half = std::to_string(t);
                if (most.empty() && 10 * s.evacuated >= 9 * 720) most = std::to_string(t);
                if (s.enRoute > top.first) top = {s.enRoute, t};
            }
            reachedMost += most.empty() ? 0 : 1;
            // The final counts: the last curve row's, after its tick.
            const std::size_t last = rows.rfind(",2000,") + 6;
            // The trip times and the households that never left as the single run showed them.
            const std::string trips = shown.substr(shown.find(',', shown.find(',') + 1));
            expected = names + rows.substr(last, rows.size() - last - 1) + "," + half + "," + most +
                       "," + std::to_string(top.first) + "," + std::to_string(top.second) + "," +
                       settled + "," + lastArrival + trips.substr(trips.find(',', 1)) + "\n";
            // Sampled every tick, then every 75 ticks.
            std::string summaries;
            append_summary_row(summaries, run, r.figures);
            plan.every = 75;
            append_summary_row(summaries, run,
                               simulate_run(*sim, run, plan, sample_ticks(plan)).figures);
            EXPECT_EQ(summaries, expected + expected);
        }
    }
    // Both kinds of run occur among these eighteen, so both were checked.
    EXPECT_TRUE(reachedMost > 0 && reachedMost < 18) << reachedMost;
}

// The table across runs: each level apart, a threshold never reached counted
// as censored (not left out of a mean over the others), the mean of a count
// with Student's interval. The plot's bands: the mean and the 10th and 90th
// percentiles by linear interpolation between closest ranks (Hyndman and
// Fan's definition 7), tick by tick.
TEST(Sweep, SummaryTableAndBandsKeepLevelsApart) {
    SweepSummary summary({ERROR_HIGH, ERROR_LOW}, {0, 10}, true);
    summary.set_horizon(1000);
    // Five runs, low and high in turn, with 100, 200, ..., 500 cars evacuated at
    // tick 10 (the last); only the last one reached 50 %, at tick 400.
    for (int i = 1; i <= 5; ++i) {
        const VehicleTally last = {720 - 100 * i, 100 * i, 0, 0, 0, 0};
        const auto half = i == 5 ? std::optional<long long>(400) : std::nullopt;
        summary.add({{i, 0}, i % 2 ? ERROR_LOW : ERROR_HIGH},
                    {{last, half, {}, 0, 0, {}}, {{720, 0, 0, 0, 0, 0}, last}});
    }
    std::ostringstream table;
    summary.write_table(table);
    const std::string text = std::regex_replace(table.str(), std::regex(" +"), " ");
    // High: 200 and 400, mean 300, t(0.975, 1) sqrt(20000 / 2) = 1270.6;
    // low: 100, 300 and 500, t(0.975, 2) sqrt(40000 / 3) = 496.8. Low's tick of
    // 50 %: one run of three reached it at 400; the Kaplan-Meier curve falls
    // to 2/3 there and never to 0.5: no median; the area is 400 + 2/3 * 600.
    EXPECT_TRUE(std::regex_search(
        text,
        std::regex(
            "\nhigh \\(1e\\+30\\) [\\s\\S]*\n evacuated mean 300.0 -970.6 .. 1570.6 2 0\n"
            "[\\s\\S]*\nlow \\(0.001\\) [\\s\\S]*\n evacuated mean 300.0 -196.8 .. 796.8 3 0\n"
            "[\\s\\S]*\n tick_50 KM median never - 1 2\n"
            " tick_50 restricted mean to 1000 800.0 [^\n]* 1 2\n"
            " tick_90 KM median never - 0 3\n")))
        << text;
    using Q = SweepSummary::Quantity;
    EXPECT_EQ(summary.curve_band(1, Q::Evacuated).p10, (std::vector<double>{0, 140}));
    EXPECT_EQ(summary.curve_band(0, Q::NotEvacuated).mean[1], 420.0);
}

}  // namespace
