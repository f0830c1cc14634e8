// Experiment designs through their library functions: the samplers' defining
// properties, the factorial, design files and their refusals, and the runs a
// design makes.
#include "experiments/planning/design.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/random/sobol.hpp>
#include <cmath>
#include <memory>
#include <numeric>
#include <set>

#include "experiments/planning/parameter_text.h"
#include "experiments/running/sweep.h"

namespace {

// The strata that coordinate j of the points falls in, with `strata` equal strata of [0, 1).
std::vector<std::size_t> strata_of(const std::vector<double>& points, std::size_t k, std::size_t j,
                                   std::size_t strata) {
    std::vector<std::size_t> s;
    for (std::size_t p = j; p < points.size(); p += k)
        s.push_back(static_cast<std::size_t>(points[p] * static_cast<double>(strata)));
    std::sort(s.begin(), s.end());
    return s;
}

std::vector<std::size_t> zero_to(std::size_t n) {
    std::vector<std::size_t> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

// A Latin hypercube puts exactly one point in each of the n strata of every
// coordinate, whatever the seed; the seed alone decides the points.
TEST(Design, LatinHypercubeHasOnePointPerStratum) {
    for (const auto& [n, k, seed] : {std::tuple{1, 1, 1}, {7, 3, 1}, {100, 5, 2}, {1000, 2, 99}}) {
        const auto points = latin_hypercube(n, k, seed);
        ASSERT_EQ(points.size(), std::size_t(n) * k);
        for (std::size_t j = 0; j < std::size_t(k); ++j)
            EXPECT_EQ(strata_of(points, k, j, n), zero_to(n)) << n << " " << j;
        EXPECT_EQ(latin_hypercube(n, k, seed), points);
        if (n > 1) {
            EXPECT_NE(latin_hypercube(n, k, seed + 1), points);
        }
    }
}

// The Sobol points are Boost's sequence: the same numbers as its generator,
// the first coordinate the base-2 van der Corput sequence in Gray-code order,
// and together with the origin the first 2^m points put one point in each of
// the 2^m strata of every coordinate.
TEST(Design, SobolPointsAreTheLibrarysSequence) {
    const std::size_t k = 6, n = 255;
    const auto points = sobol_points(n, k);
    boost::random::sobol generator(k);
    for (std::size_t i = 0; i < n * k; ++i)
        ASSERT_EQ(points[i], static_cast<double>(generator()) / 18446744073709551616.0) << i;
    const double vanDerCorput[] = {0.5, 0.75, 0.25, 0.375, 0.875, 0.625, 0.125};
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(points[i * k], vanDerCorput[i]);
    std::vector<double> withOrigin(k, 0.0);
    withOrigin.insert(withOrigin.end(), points.begin(), points.end());
    for (std::size_t j = 0; j < k; ++j) EXPECT_EQ(strata_of(withOrigin, k, j, 256), zero_to(256));
}

// Each Morris trajectory starts on the grid and moves every coordinate once,
// one at a time, by exactly the stated step, staying inside [0, 1].
TEST(Design, MorrisTrajectoriesMoveOneParameterAtATimeByTheStep) {
    for (const auto& [r, k, levels] : {std::tuple{10, 3, 4}, {5, 6, 6}, {20, 1, 2}}) {
        const double delta = morris_delta(levels);
        EXPECT_EQ(delta, levels / (2.0 * (levels - 1)));
        const auto points = morris_trajectories(r, k, levels, 7);
        ASSERT_EQ(points.size(), std::size_t(r) * (k + 1) * k);
        std::set<double> seen;
        for (std::size_t t = 0; t < std::size_t(r); ++t) {
            std::vector<int> moves(k, 0);
            for (std::size_t s = 0; s <= std::size_t(k); ++s)
                for (std::size_t j = 0; j < std::size_t(k); ++j) {
                    const double x = points[(t * (k + 1) + s) * k + j];
                    const double onGrid = x * (levels - 1);
                    EXPECT_NEAR(onGrid, std::round(onGrid), 1e-9);
                    EXPECT_TRUE(x >= 0.0 && x <= 1.0);
                    if (s == 0) {
                        seen.insert(x);
                        continue;
                    }
                    const double change = x - points[(t * (k + 1) + s - 1) * k + j];
                    if (change != 0.0) {
                        EXPECT_NEAR(std::fabs(change), delta, 1e-12);
                        ++moves[j];
                    }
                }
            // k moves, one per coordinate, so one per step.
            EXPECT_EQ(moves, std::vector<int>(k, 1));
        }
        EXPECT_GT(seen.size(), 1u);  // the starts are drawn, not fixed
    }
}

// Saltelli's blocks: A, then A with one coordinate from B, then B, with A and
// B the two halves of a Sobol point of twice the dimensions.
TEST(Design, SaltelliBlocksTakeOneColumnFromB) {
    const std::size_t n = 16, k = 3;
    const auto points = saltelli_points(n, k);
    const auto base = sobol_points(n, 2 * k);
    ASSERT_EQ(points.size(), n * (k + 2) * k);
    for (std::size_t j = 0; j < n; ++j) {
        const double* a = &base[j * 2 * k];
        const double* b = a + k;
        for (std::size_t m = 0; m < k + 2; ++m)
            for (std::size_t i = 0; i < k; ++i) {
                const double expected = m == 0       ? a[i]
                                        : m == k + 1 ? b[i]
                                        : m - 1 == i ? b[i]
                                                     : a[i];
                EXPECT_EQ(points[(j * (k + 2) + m) * k + i], expected) << j << m << i;
            }
    }
}

// The factorial holds every combination once, the last parameter fastest;
// sampled designs lie inside their bounds, whole-number parameters whole.
TEST(Design, FactorialAndSampledDesignsCoverTheirParameters) {
    VaryOption a, b;
    ASSERT_EQ(parse_vary("congestion_rate=0.002,0.005,0.01", a), "");
    ASSERT_EQ(parse_vary(" tow_wait = 30..90:4", b), "");
    EXPECT_EQ(b.values, (std::vector<double>{30, 50, 70, 90}));
    Design d;
    ASSERT_EQ(factorial_design({a, b}, 100, d), "");
    ASSERT_EQ(d.point_count(), 12u);
    // Point 4 is the second value of the first parameter with the first of the second.
    // The rate is the model's float (and 0.005, its default's float, the default).
    const double low = static_cast<double>(0.002f);
    EXPECT_EQ(std::pair(d.value(0, 0), d.value(0, 1)), std::pair(low, 30.0));
    EXPECT_EQ(std::pair(d.value(1, 0), d.value(1, 1)), std::pair(low, 50.0));
    EXPECT_EQ(std::pair(d.value(4, 0), d.value(4, 1)), std::pair(0.005, 30.0));
    EXPECT_EQ(d.value(11, 0), static_cast<double>(0.01f));
    std::set<std::pair<double, double>> combos;
    for (std::size_t p = 0; p < 12; ++p) combos.insert({d.value(p, 0), d.value(p, 1)});
    EXPECT_EQ(combos.size(), 12u);
    EXPECT_NE(factorial_design({a, b}, 11, d), "");

    VaryOption lo, hi;
    ASSERT_EQ(parse_vary("patience_min=100..200", lo), "");
    ASSERT_EQ(parse_vary("look_ahead=0.5..1.5", hi), "");
    for (const char* method : {"lhs:50", "sobol:50", "morris:10", "saltelli:8", "morris:4:8"}) {
        SampleOption s;
        ASSERT_EQ(parse_sample(method, s), "") << method;
        ASSERT_EQ(sample_design(s, {lo, hi}, 3, 100000, d), "") << method;
        for (std::size_t p = 0; p < d.point_count(); ++p) {
            EXPECT_TRUE(d.value(p, 0) >= 100 && d.value(p, 0) <= 200) << method;
            EXPECT_EQ(d.value(p, 0), std::round(d.value(p, 0))) << method;
            EXPECT_TRUE(d.value(p, 1) >= 0.5 && d.value(p, 1) <= 1.5) << method;
        }
    }
}

// Refusals name what is wrong; the accepted forms were tested above.
TEST(Design, BadVaryAndSampleTextsAreRefused) {
    // clang-format off
    for (const auto& [text, why] : std::vector<std::pair<std::string, std::string>>{
             {"no_such=1,2", "unknown parameter \"no_such\""},
             {"feedback=0..2", "feedback = 2 is outside its range 0..1"},
             {"fuel_min=1.5,3", "fuel_min = 1.5 is not a whole number"},
             {"fuel_min=200..100", "low bound 200 must be below"},
             {"fuel_min=1..3:5", "repeat whole numbers"},
             {"tow_wait=1..3:1", "not a number of steps"},
             {"tow_wait=1,x", "\"x\" is not a decimal number"},
             {"tow_wait=1,1", "value \"1\" given twice"},
             {"tow_wait", "is not NAME=LIST"},
             {"error_spread=0..inf", "bounds must be finite"}}) {
        // clang-format on
        VaryOption option;
        EXPECT_NE(parse_vary(text, option).find(why), std::string::npos)
            << text << ": " << parse_vary(text, option);
    }
    for (const auto& [text, why] :
         std::vector<std::pair<std::string, std::string>>{{"lhs:0", "at least 1"},
                                                          {"saltelli:1", "at least 2"},
                                                          {"morris:1", "at least 2"},
                                                          {"morris:4:3", "even number of levels"},
                                                          {"grid:4", "unknown sampling method"},
                                                          {"lhs", "has no size"},
                                                          {"sobol:-3", "not a whole number"}}) {
        SampleOption option;
        EXPECT_NE(parse_sample(text, option).find(why), std::string::npos) << text;
    }
    VaryOption list, bounds;
    ASSERT_EQ(parse_vary("tow_wait=1,2", list), "");
    ASSERT_EQ(parse_vary("tow_wait=1..2", bounds), "");
    Design d;
    SampleOption lhs;
    ASSERT_EQ(parse_sample("lhs:10", lhs), "");
    EXPECT_NE(sample_design(lhs, {list}, 1, 100, d).find("needs bounds"), std::string::npos);
    EXPECT_NE(sample_design(lhs, {bounds}, 1, 9, d).find("more than 9 points"), std::string::npos);
    EXPECT_NE(factorial_design({bounds}, 100, d).find("needs values"), std::string::npos);
    EXPECT_NE(factorial_design({list, list}, 100, d).find("varied twice"), std::string::npos);
}

// A design file reads back what design_csv wrote; every bad cell is refused
// with the file, line and column where it is.
TEST(Design, DesignFilesRoundTripAndBadCellsNameTheirPlace) {
    Design d;
    ASSERT_EQ(parse_design_csv("# made by hand\npoint,seed,tow_wait,congestion_rate\r\n"
                               "0,5,30,0.004\n\n1,-7,60,1e-3\n",
                               "d.csv", 100, d),
              "");
    ASSERT_EQ(d.point_count(), 2u);
    EXPECT_EQ(d.value(1, 1), static_cast<double>(0.001f));  // the model's float
    EXPECT_EQ(d.scenarios[1].seed, -7);
    Design again;
    ASSERT_EQ(parse_design_csv(design_csv(d), "again", 100, again), "");
    EXPECT_EQ(again.values, d.values);
    EXPECT_EQ(again.parameters, d.parameters);
    EXPECT_EQ(again.scenarios[0].seed, 5);

    const std::string head = "point,tow_wait,fuel_min\n";
    // clang-format off
    for (const auto& [text, where] : std::vector<std::pair<std::string, std::string>>{
             {head + "0,30,100\n1,40\n", "f.csv:3:3: missing cell for column \"fuel_min\""},
             {head + "0,30,100,5\n", "f.csv:2:4: more cells than columns"},
             {head + "0,30,\n", "f.csv:2:3: empty cell"},
             {head + "0,3x,100\n", "f.csv:2:2: tow_wait: \"3x\" is not a decimal number"},
             {head + "0,30,-1\n", "f.csv:2:3: fuel_min = -1 is outside its range"},
             {head + "0,30,100\n0,30,100\n", "f.csv:3:1: point 0 given twice"},
             {head + "1,30,100\n", "f.csv:2:1: point 1 out of order"},
             {"point,tow_wait,tow_wait\n", "f.csv:1:3: column \"tow_wait\" given twice"},
             {"point,speed\n", "f.csv:1:2: unknown parameter \"speed\""},
             {"tow_wait\n0\n", "f.csv:1:1: no point column"},
             {"point,seed,scenario,tow_wait\n", "f.csv:1:3: both a seed and a scenario column"},
             {"point,seed,tow_wait\n0,x,3\n", "f.csv:2:2: \"x\" is not a 32-bit whole number"},
             {head, "f.csv: no points"}}) {
        // clang-format on
        EXPECT_EQ(parse_design_csv(text, "f.csv", 100, d).substr(0, where.size()), where) << text;
    }
    EXPECT_NE(parse_design_csv(head + "0,1,2\n1,1,2\n2,1,2\n", "f.csv", 2, d).find("more than 2"),
              std::string::npos);
    EXPECT_NE(read_design_file("/nonexistent/d.csv", 10, d).find("No such file or directory"),
              std::string::npos);
}

// Replicate r of every point runs the r-th scenario of the list, so more
// replicates or more points add runs and change none; a point whose record
// the model refuses is named.
TEST(Design, RunsKeepTheirScenarioWhenTheDesignGrows) {
    VaryOption v;
    ASSERT_EQ(parse_vary("tow_wait=10,20,30", v), "");
    Design small, large;
    ASSERT_EQ(factorial_design({v}, 10, large), "");
    v.values.pop_back();
    ASSERT_EQ(factorial_design({v}, 10, small), "");
    const std::vector<SweepScenario> two = {{1, 0}, {1001, 1}},
                                     three = {{1, 0}, {1001, 1}, {5, {}}};
    const auto key = [](const SweepRun& r) {
        return std::tuple(r.point, r.replicate, r.scenario.seed, r.scenario.step);
    };
    std::set<std::tuple<std::uint32_t, std::uint32_t, std::int32_t, std::optional<std::int64_t>>>
        before, after;
    for (const SweepRun& r : design_runs(small, two)) before.insert(key(r));
    for (const SweepRun& r : design_runs(large, three)) after.insert(key(r));
    EXPECT_EQ(before.size(), 4u);
    EXPECT_EQ(after.size(), 9u);
    EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()));

    VaryOption p;
    ASSERT_EQ(parse_vary("patience_min=200,400", p), "");
    Design d;
    ASSERT_EQ(factorial_design({p}, 10, d), "");
    EXPECT_EQ(check_design(d, ModelParameters{}).substr(0, 63),
              "design point 1: patience_min = 400 exceeds patience_max = 360: ");
    ModelParameters base;
    base.patienceMax = 400;
    EXPECT_EQ(check_design(d, base), "");
}

// The table's groups: each point while there are few, else each value of the
// first parameter, else equal intervals of its range in the order of its values.
TEST(Design, GroupsArePointsThenValuesThenIntervals) {
    VaryOption a, b;
    ASSERT_EQ(parse_vary("tow_wait=30,60,90", a), "");
    ASSERT_EQ(parse_vary("fuel_min=100..300:5", b), "");
    Design d;
    ASSERT_EQ(factorial_design({a, b}, 100, d), "");
    PointGroups g = group_points(d, 15);
    EXPECT_EQ(g.title, "point (tow_wait, fuel_min)");
    EXPECT_EQ(g.names[7], "point 7 (60, 200)");
    g = group_points(d, 12);
    EXPECT_EQ(g.title, "tow_wait");
    EXPECT_EQ(g.names, (std::vector<std::string>{"tow_wait=30", "tow_wait=60", "tow_wait=90"}));
    for (std::size_t p = 0; p < 15; ++p) EXPECT_EQ(g.groupOfPoint[p], p / 5);

    SampleOption lhs;
    ASSERT_EQ(parse_sample("lhs:120", lhs), "");
    ASSERT_EQ(sample_design(lhs, {b}, 4, 1000, d), "");
    g = group_points(d, 12);
    ASSERT_EQ(g.names.size(), 12u);
    std::vector<int> perGroup(12, 0);
    for (std::size_t p = 0; p < 120; ++p) {
        ++perGroup[g.groupOfPoint[p]];
        for (std::size_t q = 0; q < 120; ++q)
            if (d.value(p, 0) < d.value(q, 0)) {
                EXPECT_LE(g.groupOfPoint[p], g.groupOfPoint[q]);
            }
    }
    for (int n : perGroup) EXPECT_TRUE(n >= 8 && n <= 12) << n;  // one stratum in ten each
}

// A design's run is the plain run of its point's record: the same figures as
// a sweep of that record alone.
TEST(Design, ARunOfADesignIsThePlainRunOfItsPoint) {
    Design d;
    ASSERT_EQ(parse_design_csv("point,congestion_rate,error_spread\n0,0.002,360\n1,0.02,inf\n", "d",
                               10, d),
              "");
    SweepPlan plan;
    plan.ticks = 300;
    plan.runs = design_runs(d, {{1, 0}, {1001, 1}});
    attach_design(plan, d);
    EXPECT_EQ(plan.points[1].errorSpread, ERROR_HIGH);
    std::vector<std::string> rows;
    run_sweep(plan, 2, [&](FinishedRun& run) { rows.push_back(run.summaryRow); });
    ASSERT_EQ(rows.size(), 4u);
    auto sim = std::make_unique<Simulation>();
    for (std::size_t i = 0; i < 4; ++i) {
        const SweepRun& run = plan.runs[i];
        SweepPlan alone;
        alone.ticks = 300;
        alone.parameters = point_parameters(d, run.point, ModelParameters{});
        const SweepRun plain = {run.scenario, static_cast<float>(alone.parameters.errorSpread)};
        std::string expected;
        append_summary_row(expected, plain,
                           simulate_run(*sim, plain, alone, sample_ticks(alone)).figures);
        // point,replicate, then the plain key (seed,step,error,spread) and counts with the
        // two values before the counts.
        const std::string values =
            format_value(d.value(run.point, 0)) + "," + format_value(d.value(run.point, 1)) + ",";
        std::size_t keyEnd = 0;
        for (int field = 0; field < 4; ++field) keyEnd = expected.find(',', keyEnd) + 1;
        expected.insert(keyEnd, values);
        EXPECT_EQ(rows[i],
                  std::to_string(run.point) + "," + std::to_string(run.replicate) + "," + expected);
    }
    EXPECT_EQ(summary_columns(plan).substr(0, 70),
              "point,replicate,seed,step,error,spread,congestion_rate,error_spread,no");
}

}  // namespace
