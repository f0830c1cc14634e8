#include "sim/parameters.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
const char* const ROUTE_GUIDES[] = {"straight", "road", nullptr};

using M = ModelParameters;
constexpr ParameterKind R = ParameterKind::Real;
constexpr ParameterKind N = ParameterKind::Integer;

}  // namespace

// clang-format off
const ParameterInfo PARAMETER_TABLE[] = {
    {"error_spread", "", &M::errorSpread, 0.0, INF, R,
     "half-width of the uniform error on each household's storm signal (low 0.001, moderate 360, high inf)"},
    {"intercept", "", &M::interceptParam, -100.0, 100.0, R,
     "intercept a of the households' expectation model"},
    {"feedback", "", &M::feedbackParam, 0.0, 1.0, R,
     "feedback b of the departure time on the signal; below 1 (1 divides by zero)"},
    {"travel_weight", "", &M::travelParam, 0.0, 100.0, R,
     "weight c of the travel term in the expectation model"},
    {"arrival_weight", "", &M::arrivalParam, 0.0, 100.0, R,
     "weight d of the expected storm arrival in the expectation model"},
    {"arrival_lead", "ticks", &M::arrivalLead, 0.0, 100000.0, R,
     "a threatened household expects the storm this long after the threat mark"},
    {"unthreatened_arrival", "ticks", &M::arrivalUnthreatened, 0.0, 100000.0, R,
     "the arrival estimate of a household that the threat zone has not marked"},
    {"trip_effort", "cells", &M::tripEffort, 0.0, 10000.0, R,
     "fixed effort of any trip, added to the distance from home to the exit"},
    {"congestion_rate", "per car per tick", &M::congestionRate, 0.0, 10.0, R,
     "effort added per car on the road and per tick of the clock"},
    {"travel_term_weight", "", &M::travelWeight, -100.0, 100.0, R,
     "weight of the trip's effort in a household's travel term"},
    {"departure_noise", "ticks", &M::departureNoise, 0.0, 100000.0, R,
     "half-width of the uniform noise on each household's departure time"},
    {"patience_min", "ticks", &M::patienceMin, 0.0, 1000000.0, N,
     "least patience a car is drawn with: ticks of driving before it gives up and turns home"},
    {"patience_max", "ticks", &M::patienceMax, 0.0, 1000000.0, N,
     "most patience a car is drawn with"},
    {"fuel_min", "ticks", &M::fuelMin, 0.0, 1000000.0, N,
     "least fuel a car is drawn with: ticks of driving before it runs dry"},
    {"fuel_max", "ticks", &M::fuelMax, 0.0, 1000000.0, N,
     "most fuel a car is drawn with"},
    {"tow_wait", "ticks", &M::towWait, 0.0, 1000000.0, N,
     "a car that has run dry stands this long before it is towed home"},
    {"cars_per_house", "cars", &M::carsPerHouse, 1.0, 100.0, N,
     "cars parked in every house that has no count of its own (the tables are sized from the town)"},
    {"storm_size_min", "cells", &M::stormSizeMin, 0.0, 1000.0, R,
     "least width of the storm at each of its three track points; half of it is the threat radius"},
    {"storm_size_max", "cells", &M::stormSizeMax, 0.0, 1000.0, R,
     "greatest width of the storm at a track point"},
    {"storm_speed_min", "per tick", &M::stormSpeedMin, 0.0, 1.0, R,
     "least growth of the storm's phase per tick at a track point (1 is the whole track)"},
    {"storm_speed_max", "per tick", &M::stormSpeedMax, 0.0, 1.0, R,
     "greatest growth of the storm's phase per tick at a track point"},
    {"parked_speed", "per tick", &M::parkedSpeed, 0.0, 1.0, R,
     "phase growth while the storm waits off the map; 1 / this is the warning period (500 ticks)"},
    {"look_ahead", "track lengths", &M::lookAhead, 0.0, 100.0, R,
     "how far along its track ahead of the storm the threat zone lies"},
    {"route_guide", "", &M::routeGuide, 0.0, 1.0, N,
     "how cars price a move: straight (0, straight-line distance to the target) or road (1, steps along lanes)",
     ROUTE_GUIDES},
    {"order_compliance", "share", &M::orderCompliance, 0.0, 1.0, R,
     "share of households that comply with an evacuation order of their zone (drawn per house; 0: orders move nobody)"},
    {"order_delay", "ticks", &M::orderDelay, 0.0, 1000000.0, N,
     "a complying household's cars still at home leave this many ticks after the order"},
};
// clang-format on
const std::size_t PARAMETER_COUNT = sizeof PARAMETER_TABLE / sizeof PARAMETER_TABLE[0];

const ParameterInfo* find_parameter(const char* name, std::size_t length) {
    for (const ParameterInfo& info : PARAMETER_TABLE)
        if (std::strlen(info.name) == length && std::strncmp(info.name, name, length) == 0)
            return &info;
    return nullptr;
}

namespace {

ParameterCheck say(const char* format, ...) __attribute__((format(printf, 1, 2)));
ParameterCheck say(const char* format, ...) {
    ParameterCheck c{};
    va_list args;
    va_start(args, format);
    std::vsnprintf(c.text, sizeof c.text, format, args);
    va_end(args);
    return c;
}

void format_bound(char (&out)[32], double v) {
    if (std::isinf(v))
        std::snprintf(out, sizeof out, "%s", v > 0 ? "inf" : "-inf");
    else
        std::snprintf(out, sizeof out, "%.17g", v);
}

ParameterCheck check_order(const ModelParameters& p, double M::*lo, double M::*hi) {
    const ParameterInfo* a = nullptr;
    const ParameterInfo* b = nullptr;
    for (const ParameterInfo& info : PARAMETER_TABLE) {
        if (info.field == lo) a = &info;
        if (info.field == hi) b = &info;
    }
    if (p.*lo > p.*hi)
        return say("%s = %.17g exceeds %s = %.17g: the least value must not exceed the greatest",
                   a->name, p.*lo, b->name, p.*hi);
    return {};
}

}  // namespace

bool single_precision(const ParameterInfo& info) {
    // The decision model's values and the storm's single numbers are floats in the
    // model; the draws' bounds (noise, storm sizes and speeds) and the counts are not.
    for (double M::*field :
         {&M::errorSpread, &M::interceptParam, &M::feedbackParam, &M::travelParam, &M::arrivalParam,
          &M::arrivalLead, &M::arrivalUnthreatened, &M::tripEffort, &M::congestionRate,
          &M::travelWeight, &M::parkedSpeed, &M::lookAhead})
        if (info.field == field) return true;
    return false;
}

ParameterCheck check_parameter(const ParameterInfo& info, double value) {
    const bool outside = std::isnan(value) || value < info.min || value > info.max;
    const bool broken = info.kind == ParameterKind::Integer && value != std::trunc(value);
    // Feedback enters as 1 / (1 - b) in single precision: a value below 1 that rounds
    // to the float 1 divides by zero as surely as 1 itself.
    if (!outside && info.field == &M::feedbackParam && static_cast<float>(value) >= 1.0f)
        return say(
            "feedback = %.17g makes the model undefined: the coefficients divide by 1 - "
            "feedback%s; allowed 0 <= feedback <= %.9g",
            value, value < 1.0 ? ", and the model's single precision rounds it to 1" : "",
            static_cast<double>(std::nextafter(1.0f, 0.0f)));
    if (!outside && !broken) return {};
    // The bounds are formatted only for the message: every run checks every parameter.
    char lo[32], hi[32];
    format_bound(lo, info.min);
    format_bound(hi, info.max);
    const char* unit = info.unit[0] != '\0' ? " " : "";
    if (outside)
        return say("%s = %.17g is outside its range %s..%s%s%s", info.name, value, lo, hi, unit,
                   info.unit);
    return say("%s = %.17g is not a whole number (%s..%s%s%s)", info.name, value, lo, hi, unit,
               info.unit);
}

double stored_value(const ParameterInfo& info, double value) {
    // The spread is a single-precision value of the model: stored as the float
    // the model will use, so that 0.001 and the low level are one value. From
    // the high level up (infinity included) the signal counts for nothing, and
    // larger values would overflow the drawn errors: they are the high level.
    if (info.field == &M::errorSpread && value >= static_cast<double>(ERROR_HIGH))
        return ERROR_HIGH;
    // A value is stored as the model uses it, so that values the model cannot tell
    // apart are one value: a float of the model as that float (its default when it
    // is the default's float), and a zero, a negative zero or a number too small
    // for a float as zero.
    if (static_cast<float>(value) == 0.0f) return 0.0;
    if (!single_precision(info)) return value;
    static const ModelParameters defaults{};
    const float model = static_cast<float>(value);
    if (model == static_cast<float>(defaults.*info.field)) return defaults.*info.field;
    return static_cast<double>(model);
}

ParameterCheck check_parameters(const ModelParameters& p) {
    for (const ParameterInfo& info : PARAMETER_TABLE)
        if (ParameterCheck c = check_parameter(info, p.*info.field); !c.ok()) return c;
    for (const auto& [lo, hi] :
         {std::pair{&M::patienceMin, &M::patienceMax}, std::pair{&M::fuelMin, &M::fuelMax},
          std::pair{&M::stormSizeMin, &M::stormSizeMax},
          std::pair{&M::stormSpeedMin, &M::stormSpeedMax}})
        if (ParameterCheck c = check_order(p, lo, hi); !c.ok()) return c;
    return {};
}

const char* choice_name(const ParameterInfo& info, double value) {
    if (info.choices == nullptr || !(value >= info.min) || value != std::trunc(value)) return nullptr;
    const double k = value - info.min;
    for (std::size_t i = 0; info.choices[i] != nullptr; ++i)
        if (static_cast<double>(i) == k) return info.choices[i];
    return nullptr;
}

bool choice_value(const ParameterInfo& info, const char* name, std::size_t length, double& value) {
    if (info.choices == nullptr) return false;
    for (std::size_t i = 0; info.choices[i] != nullptr; ++i)
        if (std::strlen(info.choices[i]) == length && std::strncmp(info.choices[i], name, length) == 0) {
            value = info.min + static_cast<double>(i);
            return true;
        }
    return false;
}

bool is_default(const ModelParameters& p, const ParameterInfo& info) {
    static const ModelParameters defaults{};
    const double a = p.*info.field, b = defaults.*info.field;
    return std::memcmp(&a, &b, sizeof a) == 0;
}
