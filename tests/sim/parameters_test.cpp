// The model's parameters: every one of them moves the run, equal values give
// equal runs, defaults are the model's own constants, and values that would
// make the model undefined are refused by name.
#include "sim/parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/fingerprint.h"
#include "support/town.h"

namespace {

const ParameterInfo& info(const char* name) {
    const ParameterInfo* p = find_parameter(name, std::strlen(name));
    EXPECT_NE(p, nullptr) << name;
    return *p;
}

// Fingerprints every 50 ticks over 2000 ticks of seed 1 under `p`.
std::vector<std::string> prints_of(const ModelParameters& p,
                                   const std::vector<EvacuationOrder>& orders = {}) {
    auto sim = new_simulation();
    build_scenario(*sim, {1, p, false, {}, orders});
    std::vector<std::string> prints;
    for (int tick = 0; tick <= 2000; ++tick) {
        if (tick % 50 == 0) prints.push_back(fingerprint_line(*sim, tick).text);
        sim_tick(*sim);
    }
    return prints;
}

// A value of the parameter's kind inside its range, a quarter away from the default.
double moved(const ParameterInfo& i, double value) {
    double v = value == 0.0 ? 0.5 : value * 1.25;
    if (i.kind == ParameterKind::Integer) v = std::round(v == value ? value + 1 : v);
    if (v > i.max) v = i.kind == ParameterKind::Integer ? value - 1 : value * 0.75;
    return v;
}

TEST(Parameters, EveryParameterMovesTheRunAndEqualValuesGiveEqualRuns) {
    ModelParameters base;
    base.errorSpread = ERROR_MODERATE;  // cars give up, run dry and are towed
    const std::vector<std::string> reference = prints_of(base);
    EXPECT_EQ(prints_of(base), reference);
    // The orders' parameters act only in a run with an order: theirs are run
    // with one for the whole town at tick 100 that half the households obey.
    ModelParameters ordering = base;
    ordering.orderCompliance = 0.5;
    const std::vector<EvacuationOrder> order = {{0, 100}};
    const std::vector<std::string> ordered = prints_of(ordering, order);
    for (std::size_t k = 0; k < PARAMETER_COUNT; ++k) {
        const ParameterInfo& i = PARAMETER_TABLE[k];
        const bool byOrder = std::string(i.name).starts_with("order_");
        ModelParameters p = byOrder ? ordering : base;
        p.*i.field = moved(i, p.*i.field);
        // Minimum and maximum move together, so that the least stays below the greatest.
        if (std::string(i.name).ends_with("_min")) {
            const std::string max = std::string(i.name, std::strlen(i.name) - 4) + "_max";
            p.*info(max.c_str()).field = moved(info(max.c_str()), p.*info(max.c_str()).field);
        }
        ASSERT_TRUE(check_parameters(p).ok()) << i.name << ": " << check_parameters(p).text;
        const std::vector<EvacuationOrder> orders = byOrder ? order : std::vector<EvacuationOrder>{};
        const std::vector<std::string> run = prints_of(p, orders);
        EXPECT_NE(run, byOrder ? ordered : reference) << i.name << " = " << p.*i.field
                                                      << " changed nothing";
        EXPECT_EQ(prints_of(p, orders), run) << i.name;
    }
}

// A default record passes, and each parameter is named once. (The defaults
// themselves are pinned by the golden runs, which set only the error spread.)
TEST(Parameters, DefaultsPassAndEachNameIsOne) {
    const ModelParameters d;
    EXPECT_TRUE(check_parameters(d).ok());
    EXPECT_EQ(static_cast<float>(d.errorSpread), ERROR_LOW);
    for (std::size_t k = 0; k < PARAMETER_COUNT; ++k) {
        const ParameterInfo& i = PARAMETER_TABLE[k];
        EXPECT_TRUE(is_default(d, i)) << i.name;
        EXPECT_TRUE(check_parameter(i, d.*i.field).ok()) << i.name;
        for (std::size_t j = 0; j < k; ++j) EXPECT_STRNE(PARAMETER_TABLE[j].name, i.name);
    }
}

TEST(Parameters, RefusalsNameTheParameterTheValueAndWhatIsAllowed) {
    struct Case {
        const char* name;
        double value;
        const char* says;
    };
    const Case cases[] = {
        {"patience_min", -1.0, "patience_min = -1 is outside its range 0..1000000"},
        {"feedback", NAN, "feedback = nan is outside its range"},
        {"storm_speed_max", 2.0, "storm_speed_max = 2 is outside its range 0..1 per tick"},
        {"cars_per_house", 2.5, "cars_per_house = 2.5 is not a whole number"},
        {"feedback", 1.0, "feedback = 1 makes the model undefined"},
        {"route_guide", 2.0, "route_guide = 2 is outside its range 0..1"},
        {"route_guide", 0.5, "route_guide = 0.5 is not a whole number"},
        {"fuel_min", 500.0, "fuel_min = 500 exceeds fuel_max = 400"},
        {"storm_size_max", 9.0, "storm_size_min = 10 exceeds storm_size_max = 9"},
    };
    for (const Case& c : cases) {
        ModelParameters p;
        p.*info(c.name).field = c.value;
        const ParameterCheck check = check_parameters(p);
        EXPECT_NE(std::string(check.text).find(c.says), std::string::npos)
            << c.name << ": " << check.text;
    }
    // An infinite error spread is the high level (stored values: ValuesAreChecked...).
    EXPECT_EQ(stored_value(info("error_spread"), INFINITY), ERROR_HIGH);
}

// A value is checked and stored as the model uses it: a feedback that is below 1
// as a double but 1 as the model's float is refused, values the model cannot tell
// apart are stored as one value, and the stored value runs exactly as the given one.
TEST(Parameters, ValuesAreCheckedAndStoredAsTheModelUsesThem) {
    const double nearlyOne = 0.99999999;
    EXPECT_NE(std::string(check_parameter(info("feedback"), nearlyOne).text)
                  .find("feedback = 0.99999998999999995 makes the model undefined"),
              std::string::npos)
        << check_parameter(info("feedback"), nearlyOne).text;
    ModelParameters raw;
    raw.feedbackParam = nearlyOne;
    EXPECT_FALSE(check_parameters(raw).ok());
    const double largest = static_cast<double>(std::nextafter(1.0f, 0.0f));
    EXPECT_TRUE(check_parameter(info("feedback"), largest).ok())
        << check_parameter(info("feedback"), largest).text;

    const auto bits = [](double v) {
        std::uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
    };
    const ModelParameters defaults;
    for (std::size_t k = 0; k < PARAMETER_COUNT; ++k) {
        const ParameterInfo& i = PARAMETER_TABLE[k];
        // Zeros of either sign, and a number too small for a float, are one zero.
        if (i.min <= 0.0) {
            EXPECT_EQ(bits(stored_value(i, -0.0)), 0u) << i.name;
            if (i.kind == ParameterKind::Real) {
                EXPECT_EQ(bits(stored_value(i, 5e-324)), 0u) << i.name;
                EXPECT_EQ(bits(stored_value(i, 1e-50)), 0u) << i.name;
            }
        }
        // A default given again, or a value with the default's float, is the default.
        const double d = defaults.*i.field;
        EXPECT_EQ(bits(stored_value(i, d)), bits(d)) << i.name;
        if (single_precision(i)) {
            EXPECT_EQ(bits(stored_value(i, d * (1.0 + 1e-12))), bits(d)) << i.name;
        }
        if (i.kind != ParameterKind::Real) continue;
        // A value that is no float runs as it is stored.
        ModelParameters given;
        given.errorSpread = ERROR_MODERATE;
        const double v = moved(i, d) * (1.0 + 1e-9);
        given.*i.field = v;
        ModelParameters stored = given;
        stored.*i.field = stored_value(i, v);
        const double expected =
            single_precision(i) ? static_cast<double>(static_cast<float>(v)) : v;
        EXPECT_EQ(stored.*i.field, expected) << i.name;
        if (i.field == &ModelParameters::errorSpread) continue;  // a moved spread is a level
        EXPECT_EQ(prints_of(stored), prints_of(given)) << i.name << " = " << v;
    }
}

// A parameter takes effect at the next rebuild: ticks read the record the
// town was built under, and a reset keeps it.
TEST(Parameters, ResetsKeepTheParametersAndRebuildsApplyThem) {
    ModelParameters p;
    p.carsPerHouse = 1;
    p.patienceMin = p.patienceMax = 1000;
    auto sim = new_simulation();
    build_scenario(*sim, {1, p, false});
    EXPECT_EQ(sim->vehicles.vehicleCount, 360);
    next_scenario(*sim);
    reset_scenario(*sim);
    EXPECT_EQ(sim->vehicles.vehicleCount, 360);
    for (int i = 0; i < 360; ++i) EXPECT_EQ(sim->vehicles.vehicles[i].patience, 1000);
    EXPECT_EQ(sim->scenarioSeed, 1001);
    sim->parameters.carsPerHouse = 5;
    reset_scenario(*sim);
    EXPECT_EQ(sim->vehicles.vehicleCount, 1800);
    EXPECT_EQ(traffic_at(*sim, sim->vehicles.vehicles[0].home), 5);
    EXPECT_TRUE(validate_simulation(*sim).ok) << validate_simulation(*sim).message;
}

}  // namespace
