// The sensitivity analysers on functions whose indices are known in closed
// form, before they are trusted with the simulation.
#include "experiments/planning/sensitivity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <sstream>

namespace {

using Model = std::function<double(const double*)>;

// The outputs of the model on a Saltelli design of n base points over [lo, hi]^k.
std::vector<double> outputs(const Model& f, std::size_t n, std::size_t k, double lo, double hi) {
    const std::vector<double> unit = saltelli_points(n, k);
    std::vector<double> x(k), y;
    for (std::size_t p = 0; p < unit.size() / k; ++p) {
        for (std::size_t i = 0; i < k; ++i) x[i] = lo + unit[p * k + i] * (hi - lo);
        y.push_back(f(x.data()));
    }
    return y;
}

// "S2", "ST3": built by appending (GCC 12 warns falsely about "literal" + string).
std::string index_name(const char* kind, std::size_t i) {
    return std::string(kind).append(std::to_string(i + 1));
}

void expect_inside(const IndexEstimate& e, double truth, double width, const std::string& what) {
    EXPECT_LE(e.low, truth) << what << " " << e.value;
    EXPECT_GE(e.high, truth) << what << " " << e.value;
    EXPECT_LT(e.high - e.low, width) << what;
    EXPECT_TRUE(e.low <= e.value && e.value <= e.high) << what;
}

// Ishigami, f = sin x1 + a sin^2 x2 + b x3^4 sin x1 on [-pi, pi]^3 with a = 7,
// b = 0.1: V = a^2/8 + b pi^4/5 + b^2 pi^8/18 + 1/2, V1 = (1 + b pi^4/5)^2 / 2,
// V2 = a^2/8, V13 = b^2 pi^8 (1/18 - 1/50); first order V_i / V, total
// order (V1 + V13) / V, V2 / V, V13 / V. With N = 8192 base points (40960
// evaluations) each 95 % interval holds the true index and is narrower than 0.06.
TEST(Sensitivity, IshigamiIndicesLieInsideTheirIntervals) {
    const double a = 7.0, b = 0.1, pi = std::numbers::pi;
    const Model ishigami = [&](const double* x) {
        return std::sin(x[0]) + a * std::pow(std::sin(x[1]), 2) +
               b * std::pow(x[2], 4) * std::sin(x[0]);
    };
    const double v1 = 0.5 * std::pow(1 + b * std::pow(pi, 4) / 5, 2), v2 = a * a / 8;
    const double v13 = b * b * std::pow(pi, 8) * (1.0 / 18 - 1.0 / 50);
    const double v = v1 + v2 + v13;
    const SobolIndices s = sobol_indices(outputs(ishigami, 8192, 3, -pi, pi), 3);
    const double first[] = {v1 / v, v2 / v, 0.0}, total[] = {(v1 + v13) / v, v2 / v, v13 / v};
    for (std::size_t i = 0; i < 3; ++i) {
        expect_inside(s.first[i], first[i], 0.06, index_name("S", i));
        expect_inside(s.total[i], total[i], 0.06, index_name("ST", i));
    }
    EXPECT_NEAR(s.variance, v, 0.05 * v);
}

// A linear model of independent uniform inputs: each index, first and total,
// is its weight's square over the sum of the squares (a zero weight gives 0).
// N = 8192 base points; intervals narrower than 0.06.
TEST(Sensitivity, LinearModelIndicesAreTheSquaredWeightsShares) {
    const double w[] = {1.0, -2.0, 3.0, 0.0};
    const Model linear = [&](const double* x) {
        return 5.0 + w[0] * x[0] + w[1] * x[1] + w[2] * x[2] + w[3] * x[3];
    };
    const SobolIndices s = sobol_indices(outputs(linear, 8192, 4, 0.0, 1.0), 4);
    for (std::size_t i = 0; i < 4; ++i) {
        const double share = w[i] * w[i] / 14.0;
        expect_inside(s.first[i], share, 0.06, index_name("S", i));
        expect_inside(s.total[i], share, 0.06, index_name("ST", i));
    }
    // The same outputs give the same intervals: the bootstrap's seed is fixed.
    const SobolIndices again = sobol_indices(outputs(linear, 8192, 4, 0.0, 1.0), 4);
    EXPECT_EQ(again.first[2].low, s.first[2].low);
    // A constant output has no variance to share out.
    const SobolIndices flat = sobol_indices(std::vector<double>(6 * 8, 3.0), 4);
    EXPECT_EQ(flat.first[0].value, 0.0);
    EXPECT_EQ(flat.total[3].high, 0.0);
}

// Morris on the design's own points: for a linear model every elementary
// effect of x_i over its whole range is w_i (hi - lo), so mu* = |w_i| (hi - lo)
// and sigma = 0; a product x1 x2 makes the effects of both vary (sigma > 0).
TEST(Sensitivity, MorrisEffectsOfLinearAndInteractingModels) {
    VaryOption a, b, c;
    ASSERT_EQ(parse_vary("look_ahead=0..2", a), "");
    ASSERT_EQ(parse_vary("departure_noise=10..50", b), "");
    ASSERT_EQ(parse_vary("tow_wait=0..100", c), "");
    SampleOption morris;
    ASSERT_EQ(parse_sample("morris:30", morris), "");
    Design d;
    ASSERT_EQ(sample_design(morris, {a, b, c}, 5, 1000, d), "");
    std::vector<double> linear, product;
    for (std::size_t p = 0; p < d.point_count(); ++p) {
        linear.push_back(3.0 * d.value(p, 0) - 0.5 * d.value(p, 1) + 0.0 * d.value(p, 2));
        product.push_back(d.value(p, 0) * d.value(p, 1) + d.value(p, 2));
    }
    const MorrisEffects m = morris_effects(d, linear);
    const double expected[] = {3.0 * 2, 0.5 * 40, 0.0};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(m.muStar[i].value, expected[i], 1e-9) << i;
        EXPECT_NEAR(std::fabs(m.mu[i]), expected[i], 1e-9) << i;
        EXPECT_NEAR(m.sigma[i], 0.0, 1e-9) << i;
    }
    const MorrisEffects q = morris_effects(d, product);
    EXPECT_GT(q.sigma[0], 1.0);
    EXPECT_GT(q.sigma[1], 0.1);
    EXPECT_NEAR(q.sigma[2], 0.0, 1e-9);
    EXPECT_NEAR(q.muStar[2].value, 100.0, 1e-9);
    EXPECT_TRUE(q.muStar[0].low <= q.muStar[0].value && q.muStar[0].value <= q.muStar[0].high);
}

// The report averages each point's replicates, and leaves a figure without
// indices when a run lacks it rather than averaging only the runs that have it.
TEST(Sensitivity, ReportAveragesReplicatesAndRefusesIncompleteFigures) {
    VaryOption a, b;
    ASSERT_EQ(parse_vary("tow_wait=0..100", a), "");
    ASSERT_EQ(parse_vary("fuel_min=0..100", b), "");
    SampleOption s;
    ASSERT_EQ(parse_sample("saltelli:64", s), "");
    Design d;
    ASSERT_EQ(sample_design(s, {a, b}, 1, 10000, d), "");
    SensitivityReport report(d);
    std::vector<double> towed;
    for (std::size_t p = 0; p < d.point_count(); ++p) {
        towed.push_back(d.value(p, 0));
        for (std::uint32_t r = 0; r < 2; ++r) {
            RunFigures f{};
            f.final.towed = static_cast<std::int32_t>(d.value(p, 0)) + (r == 0 ? 5 : -5);
            f.final.gaveUp = static_cast<std::int32_t>(d.value(p, 1));
            f.final.evacuated = 10;
            if (p != 3 || r != 1) f.tickHalf = 100;
            SweepRun run;
            run.point = static_cast<std::uint32_t>(p);
            run.replicate = r;
            report.add(run, f);
        }
    }
    const auto rows = report.analyse();
    ASSERT_EQ(rows.size(), default_output_figures().size());
    EXPECT_EQ(rows[0].missing, "1 of 256 points have runs without it");  // tick_50
    EXPECT_FALSE(rows[0].sobol);
    const SobolIndices expected = sobol_indices(towed, 2);
    ASSERT_TRUE(rows[4].sobol);  // towed: the mean of +5 and -5 around tow_wait
    EXPECT_EQ(rows[4].sobol->first[0].value, expected.first[0].value);
    EXPECT_NEAR(rows[3].sobol->first[1].value, 1.0, 0.1);  // gave up follows fuel_min alone
    std::string csv = sensitivity_csv(d, rows);
    csv.erase(0, csv.find("figure,"));  // after the notes
    EXPECT_EQ(csv.substr(0, csv.find('\n', csv.find('\n') + 1)),
              "figure,parameter,first,first_low,first_high,total,total_low,total_high\n"
              "tick_50,tow_wait,,,,,,");
}

}  // namespace

namespace {

Design two_parameter_design(const char* sample) {
    VaryOption a, b;
    EXPECT_EQ(parse_vary("tow_wait=0..100", a), "");
    EXPECT_EQ(parse_vary("fuel_min=0..100", b), "");
    SampleOption s;
    EXPECT_EQ(parse_sample(sample, s), "");
    Design d;
    EXPECT_EQ(sample_design(s, {a, b}, 1, 10000, d), "");
    return d;
}

IndexEstimate estimate(double value, double low, double high) {
    IndexEstimate e;
    e.value = value;
    e.low = low;
    e.high = high;
    return e;
}

// A Saltelli row whose every index is `fine` but the first order of fuel_min.
SensitivityReport::Row sobol_row(const IndexEstimate& fuelFirst) {
    SensitivityReport::Row row;
    const IndexEstimate fine = estimate(0.3, 0.27, 0.33);
    row.sobol = SobolIndices{{fine, fuelFirst}, {fine, fine}, 1.0};
    return row;
}

}  // namespace

// Any figure of the summary, or a list of them, in the order given; a name
// that is none of them is refused naming every valid one.
TEST(Sensitivity, FiguresAreChosenByTheSummarysNames) {
    std::vector<OutputFigure> f;
    ASSERT_EQ(parse_output_figures("tick_90", f), "");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_STREQ(output_figure_name(f[0]), "tick_90");
    ASSERT_EQ(parse_output_figures("trip_mean,evacuated_share,households_never_left", f), "");
    ASSERT_EQ(f.size(), 3u);
    EXPECT_STREQ(output_figure_name(f[1]), "evacuated_share");
    EXPECT_STREQ(output_figure_name(f[2]), "households_never_left");
    std::vector<std::string> defaults;
    for (OutputFigure g : default_output_figures()) defaults.emplace_back(output_figure_name(g));
    EXPECT_EQ(defaults, (std::vector<std::string>{"tick_50", "settled_tick", "evacuated_share",
                                                  "gave_up", "towed"}));
    const std::string why = parse_output_figures("tick_95", f);
    EXPECT_NE(why.find("\"tick_95\" is not a figure of the summary"), std::string::npos) << why;
    for (const char* name : {"tick_50", "tick_90", "settled_tick", "max_en_route", "trip_p90",
                             "evacuated_share", "out_of_gas", "households_never_left"})
        EXPECT_NE(why.find(name), std::string::npos) << name;
    EXPECT_NE(parse_output_figures("tick_90,tick_90", f).find("comes twice"), std::string::npos);
    EXPECT_NE(parse_output_figures("tick_90,", f), "");
    EXPECT_NE(parse_output_figures("", f), "");

    // The report analyses the figures asked for, each run's value read by name.
    const Design d = two_parameter_design("saltelli:16");
    ASSERT_EQ(parse_output_figures("tick_90,trip_mean", f), "");
    SensitivityReport report(d, f);
    std::vector<double> most;
    for (std::size_t p = 0; p < d.point_count(); ++p) {
        RunFigures r{};
        r.tickMost = 500 + static_cast<long long>(d.value(p, 1));
        most.push_back(static_cast<double>(*r.tickMost));
        SweepRun run;
        run.point = static_cast<std::uint32_t>(p);
        report.add(run, r);
    }
    const auto rows = report.analyse();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_STREQ(output_figure_name(rows[0].figure), "tick_90");
    ASSERT_TRUE(rows[0].sobol);
    EXPECT_EQ(rows[0].sobol->first[1].value, sobol_indices(most, 2).first[1].value);
    EXPECT_NE(rows[1].missing, "") << "no run had trips";
    const std::string csv = sensitivity_csv(d, rows);
    EXPECT_NE(csv.find("\ntick_90,fuel_min,"), std::string::npos) << csv;
    EXPECT_EQ(csv.find("tick_50"), std::string::npos) << csv;
}

// A design resolves its indices when every error they show, an interval's
// half-width or a Sobol index's distance outside [0, 1], is at most 0.1;
// else N must grow by (error / 0.1)^2, since errors shrink as 1/sqrt(N).
TEST(Sensitivity, ADesignTooSmallForItsIndicesSaysByHowMuchToGrow) {
    const Design d = two_parameter_design("saltelli:8");
    // The README's merge example: fuel_min first order 1.161 [0.289, 1.784].
    SensitivityReport::Row row = sobol_row(estimate(1.161, 0.289, 1.784));
    DesignSizeCheck c = check_design_size(d, row);
    EXPECT_TRUE(c.too_small());
    EXPECT_DOUBLE_EQ(c.largestError, (1.784 - 0.289) / 2);
    EXPECT_EQ(c.size, 8u);
    EXPECT_EQ(c.neededSize, static_cast<std::size_t>(std::ceil(8 * 7.475 * 7.475)));  // 448
    ASSERT_EQ(c.outOfRange.size(), 1u);
    EXPECT_EQ(c.outOfRange[0], "fuel_min first order 1.161 [0.289, 1.784]");
    std::string note = size_note(d, c);
    EXPECT_NE(note.find("fuel_min first order 1.161 [0.289, 1.784] lies outside [0, 1]"),
              std::string::npos)
        << note;
    EXPECT_NE(note.find("too small"), std::string::npos) << note;
    EXPECT_NE(note.find("(saltelli:448)"), std::string::npos) << note;

    // Clearly below 0, beyond its interval: the distance counts as its error.
    c = check_design_size(d, sobol_row(estimate(-0.3, -0.32, -0.28)));
    EXPECT_DOUBLE_EQ(c.largestError, 0.3);
    EXPECT_EQ(c.neededSize, 72u);  // 8 (0.3 / 0.1)^2
    // A little below 0 within its interval: an index of 0, resolved.
    c = check_design_size(d, sobol_row(estimate(-0.02, -0.06, 0.03)));
    EXPECT_FALSE(c.too_small());
    EXPECT_EQ(size_note(d, c), "");
    // Above 1 within the resolution: said, with no growth asked for.
    c = check_design_size(d, sobol_row(estimate(1.02, 0.97, 1.06)));
    EXPECT_FALSE(c.too_small());
    note = size_note(d, c);
    EXPECT_NE(note.find("1.020 [0.970, 1.060] lies outside [0, 1], within the design's "
                        "resolution"),
              std::string::npos)
        << note;

    // Morris: mu* resolved to a tenth of the largest one.
    const Design m = two_parameter_design("morris:5");
    SensitivityReport::Row effects;
    effects.morris = MorrisEffects{
        {0.0, 0.0}, {0.0, 0.0}, {estimate(100.0, 60.0, 140.0), estimate(10.0, 5.0, 15.0)}};
    c = check_design_size(m, effects);
    EXPECT_DOUBLE_EQ(c.resolution, 10.0);
    EXPECT_EQ(c.neededSize, 80u);  // 5 (40 / 10)^2
    EXPECT_NE(size_note(m, c).find("the 5 trajectories (morris:80)"), std::string::npos)
        << size_note(m, c);

    // The note goes with its figure into the table and, as a comment, the file.
    row.figure = default_output_figures()[0];
    row.note = size_note(d, check_design_size(d, row));
    std::ostringstream table;
    write_sensitivity_table(table, d, {row});
    EXPECT_NE(table.str().find("note: fuel_min first order 1.161"), std::string::npos);
    EXPECT_TRUE(sensitivity_csv(d, {row}).starts_with("# tick_50: fuel_min first order 1.161"));
}
