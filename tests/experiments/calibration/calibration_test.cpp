// Calibrations of observed curves that the model itself made at known values.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "experiments/calibration/fit.h"
#include "experiments/calibration/report.h"

namespace {

constexpr long long TICKS = 400;   // most departures of the built-in town happen by then
constexpr long long REPLICATES = 6;

VariedParameter varied(const char* name, double low, double high) {
    VariedParameter v;
    const std::string why = parse_varied(std::string(name) + "=" + std::to_string(low) + ".." +
                                             std::to_string(high), v);
    EXPECT_EQ(why, "");
    return v;
}

// The setup's replicates run at `truth`: their mean shares every 20 ticks, with
// independent counting noise of standard deviation `noise` (clamped to 0..1).
ObservedCurve made_curve(const CalibrationSetup& setup, const std::vector<double>& truth,
                         double noise) {
    const SimulatedShares s = simulate_candidate(setup, truth);
    std::mt19937 random(7);
    std::normal_distribution<double> error(0.0, noise);
    ObservedCurve curve;
    curve.hasArrived = true;
    for (std::size_t t = 0; t < s.ticks.size(); ++t) {
        if (s.ticks[t] == 0) continue;
        ObservedPoint p;
        p.tick = s.ticks[t];
        p.departed = std::clamp(s.departedMean[t] + error(random), 0.0, 1.0);
        p.arrived = std::clamp(s.arrivedMean[t] + error(random), 0.0, 1.0);
        curve.points.push_back(p);
    }
    return curve;
}

CalibrationSetup base_setup() {
    CalibrationSetup setup;
    setup.base.ticks = TICKS;
    setup.replicates = REPLICATES;
    // Every 20 ticks, as the observed points come.
    for (long long t = 20; t <= TICKS; t += 20) setup.observed.points.push_back({t, 0.0, 0.0, 1.0});
    return setup;
}

// Hours to ticks, weights, and the objective summed by hand over two points.
TEST(Calibration, ObjectiveIsTheWeightedSquaredDistanceAtTheObservedTicks) {
    ObservedCurve curve;
    ASSERT_EQ(parse_observed("# counts\nweight,hour,departed,arrived\n2,0.5,0.25,0.0\n1,1,0.5,0.25\n",
                             "obs.csv", 5.0, curve),
              "");
    ASSERT_EQ(curve.points.size(), 2u);
    EXPECT_EQ(curve.points[0].tick, 6);  // half an hour of five-minute ticks
    EXPECT_EQ(curve.points[1].tick, 12);
    SimulatedShares shares;
    shares.ticks = {0, 6, 12};
    shares.departedMean = {0.0, 0.35, 0.5};
    shares.arrivedMean = {0.0, 0.1, 0.05};
    // 2 (0.1^2 + 0.1^2) + 1 (0^2 + 0.2^2)
    EXPECT_NEAR(objective_of(curve, shares), 0.08, 1e-12);
    curve.hasArrived = false;
    EXPECT_NEAR(objective_of(curve, shares), 0.02, 1e-12);
}

TEST(Calibration, RecoversTwoKnownValuesInsideTheirIntervals) {
    CalibrationSetup setup = base_setup();
    setup.varied = {varied("feedback", 0.3, 0.55), varied("parked_speed", 0.0015, 0.0035)};
    const std::vector<double> truth = {0.42, 0.0026};  // away from the defaults 0.49 and 0.002
    setup.observed = made_curve(setup, truth, 0.01);
    setup.method = FitMethod::Crs2;
    setup.budget = 40;
    setup.bootstrap = 10;
    setup.refitBudget = 12;
    setup.slicePoints = 4;
    Evaluator evaluator(setup, {});
    const FitResult result = fit(evaluator);
    EXPECT_LE(result.evaluations, 40u);  // CRS2 would go past it while it builds its population
    const Uncertainty u =
        bootstrap_uncertainty(evaluator, result, simulate_candidate(setup, result.best));
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const VariedParameter& v = setup.varied[i];
        SCOPED_TRACE(v.info->name);
        // Within a tenth of the bound range of the truth, and the truth inside the interval.
        EXPECT_NEAR(result.best[i], truth[i], 0.1 * (v.high - v.low));
        EXPECT_TRUE(u.intervals[i].identified);
        EXPECT_LE(u.intervals[i].low, truth[i]);
        EXPECT_GE(u.intervals[i].high, truth[i]);
        // An interval is no wider than half the bounds: the data say something.
        EXPECT_LT(u.intervals[i].high - u.intervals[i].low, 0.5 * (v.high - v.low));
    }
    // Both lower the departures' pace the same way: the fits trade one against the other.
    EXPECT_LT(u.correlation[0][1], 0.0);
}

// The storm waits off the map for 1 / parked_speed = 500 ticks: in 400-tick runs its speed on
// the map changes no figure.
TEST(Calibration, ReportsAParameterThatChangesNoFigureAsNotIdentified) {
    CalibrationSetup setup = base_setup();
    setup.varied = {varied("feedback", 0.3, 0.55), varied("storm_speed_max", 0.004, 0.01)};
    setup.observed = made_curve(setup, {0.42, 0.008}, 0.01);
    setup.method = FitMethod::Bobyqa;
    setup.budget = 12;
    setup.bootstrap = 0;
    setup.slicePoints = 3;
    Evaluator evaluator(setup, {});
    const FitResult result = fit(evaluator);
    const Uncertainty u =
        bootstrap_uncertainty(evaluator, result, simulate_candidate(setup, result.best));
    EXPECT_TRUE(u.intervals[0].identified);
    EXPECT_FALSE(u.intervals[1].identified);
    EXPECT_EQ(u.intervals[1].low, 0.004);
    EXPECT_EQ(u.intervals[1].high, 0.01);
    const std::string warnings = identification_warnings(setup, u);
    EXPECT_NE(warnings.find("storm_speed_max is not identified"), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find("feedback"), std::string::npos) << warnings;
}

}  // namespace
