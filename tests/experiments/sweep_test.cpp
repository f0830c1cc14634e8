// Sweeps through their library functions: what the rows say about each run,
// and the statistics of the table and the plot.
#include "app/sweep.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>

#include "app/runner.h"
#include "app/summary.h"

namespace {

// The curve rows must be the headless runner's tally at the same ticks. The
// summary row must agree with the curves (a threshold never reached is an
// empty field) and not depend on the sampling: the thresholds are watched at
// every tick, not only at the sampled ones.
TEST(Sweep, RowsAreTheHeadlessRunnersTallyAndTheSummaryAgreesWithThem) {
    auto sim = std::make_unique<Simulation>();
    int reachedMost = 0;
    for (int k = -1; k < 5; ++k) {
        const std::int32_t seed = k < 4 ? 1 + 1000 * k : 77;  // scenario K, then no scenario's
        for (float level : {ERROR_LOW, ERROR_MODERATE, ERROR_HIGH}) {
            const std::string names = std::to_string(seed) + "," +
                                      (k < 4 ? std::to_string(k) : "") + "," +
                                      error_level_name(level) + ",";
            SCOPED_TRACE(names);
            const SweepRun run = {{seed, step_of_seed(seed)}, level};
            const SweepPlan plan{.runs = {}, .ticks = 2000, .every = 1, .startup = k % 2 == 0};
            const RunResult r = simulate_run(*sim, run, plan, sample_ticks(plan));
            std::string rows;
            append_curve_rows(rows, run, sample_ticks(plan), r.samples);
            std::ostringstream headless;  // every tick, as CSV
            run_headless({{seed, level, plan.startup}, 2000, {}, 1, TallyFormat::Csv}, headless);
            // The runner's rows less its column line ("tick,...") and last column (the total).
            std::istringstream in(headless.str());
            std::string expected;
            for (std::string l; std::getline(in, l);)
                if (l[0] != 't') expected += names + l.erase(l.rfind(',')) + '\n';
            ASSERT_EQ(rows, expected);

            std::string half, most;  // first ticks with 50 % and 90 % of the 720 cars evacuated
            std::pair<std::int32_t, std::size_t> top = {-1, 0};  // most en route, first tick
            for (std::size_t t = 0; t < r.samples.size(); ++t) {
                const VehicleTally& s = r.samples[t];
                if (half.empty() && 2 * s.evacuated >= 720) half = std::to_string(t);
                if (most.empty() && 10 * s.evacuated >= 9 * 720) most = std::to_string(t);
                if (s.enRoute > top.first) top = {s.enRoute, t};
            }
            // The final counts: the last curve row's, after its tick.
            const std::size_t last = rows.rfind(",2000,") + 6;
            expected = names + rows.substr(last, rows.size() - last - 1) + "," + half + "," + most +
                       "," + std::to_string(top.first) + "," + std::to_string(top.second) + "\n";
            const SweepPlan coarse{.runs = {}, .ticks = 2000, .every = 75, .startup = plan.startup};
            for (const RunResult& sampled :
                 {r, simulate_run(*sim, run, coarse, sample_ticks(coarse))}) {
                std::string row;
                append_summary_row(row, run, sampled.figures);
                EXPECT_EQ(row, expected);
            }
            reachedMost += most.empty() ? 0 : 1;
        }
    }
    // Both kinds of run occur among these eighteen, so both were checked.
    EXPECT_GT(reachedMost, 0);
    EXPECT_LT(reachedMost, 18);
}

// The table across runs: each level apart, a threshold never reached left out
// (dashes, not zeros), the sample standard deviation (n - 1) and percentiles
// by linear interpolation between closest ranks (the common default, Hyndman
// and Fan's definition 7): h = (n - 1) p, then x[floor h] + (h - floor h)
// (x[floor h + 1] - x[floor h]). The plot's bands likewise, tick by tick.
TEST(Sweep, SummaryTableAndBandsKeepLevelsApart) {
    SweepSummary summary({ERROR_HIGH, ERROR_LOW}, {0, 10}, true);
    // Five runs: their level, cars evacuated at tick 10 (the last), tick of 50 % (0: never).
    const float level[] = {ERROR_HIGH, ERROR_LOW, ERROR_HIGH, ERROR_LOW, ERROR_LOW};
    const int evacuated[] = {400, 100, 500, 300, 200};
    const int half[] = {210, 0, 230, 0, 400};
    for (int i = 0; i < 5; ++i) {
        RunResult r;
        r.figures.final = {720 - evacuated[i], evacuated[i], 0, 0, 0, 0};
        if (half[i] > 0) r.figures.tickHalf = half[i];
        r.samples = {{720, 0, 0, 0, 0, 0}, r.figures.final};
        summary.add({{1, 0}, level[i]}, r);
    }
    std::ostringstream table;
    summary.write_table(table);
    const std::string text = std::regex_replace(table.str(), std::regex(" +"), " ");
    // High: 400 and 500 evacuated, sd sqrt(5000); low: 100, 300 and 200.
    for (const char* line :
         {"\n evacuated 2 450.0 70.7 410.0 490.0\n", "\n evacuated 3 200.0 100.0 120.0 280.0\n",
          "\n tick of 50% evacuated 1 400.0 0.0 400.0 400.0\n",
          "\n tick of 90% evacuated 0 - - - -\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_LT(text.find("\nhigh "), text.find("\nlow "));
    EXPECT_EQ(summary.curve_band(1, SweepSummary::Quantity::Evacuated).p10,
              (std::vector<double>{0, 120}));
    EXPECT_EQ(summary.curve_band(0, SweepSummary::Quantity::NotEvacuated).mean[1], 270.0);
}

}  // namespace
