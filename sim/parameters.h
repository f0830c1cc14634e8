// Every number the model's behaviour depends on, in one record with the
// defaults of the standard model, and one table beside it that names each one
// (a stable snake_case name used in files, on the command line, in Python and
// in the window), gives its unit, its valid range and its meaning. Validation,
// help, file headers and the model document all read the table; none repeats it.
//
// Parameters belong to a scenario: a rebuild (reset, next or previous
// scenario) builds the town under the record's values, and a tick reads them.
// A caller that wants a change to wait for the next rebuild keeps it aside and
// writes it into the simulation only when it rebuilds.
#pragma once

#include <cstddef>
#include <cstdint>

// The three "Miscommunication" levels: half-widths of the signal error. The high
// level is the float nearest 1e30, finite, so that errors can still be drawn;
// their squares overflow and the signal then counts for nothing. An infinite
// spread asked for by a user is stored as this level.
constexpr float ERROR_LOW = 0.001f;
constexpr float ERROR_MODERATE = 360.0f;
constexpr float ERROR_HIGH = 1.0e30f;

// The most cars a town may hold: 64 per cell of the largest town would be far
// beyond any memory; this bound keeps indices in 32 bits with room to spare.
constexpr std::int64_t MAX_TOWN_CARS = 1LL << 28;

// Every value is held as a double and converted where the model uses it: the
// draws' bounds enter `uniform_random` as doubles, the decision model's values
// as floats, counts as integers. Each default converts to exactly the constant
// the model was written with.
struct ModelParameters {
    // Households' information.
    double errorSpread = ERROR_LOW;  // half-width of the signal error; any value >= 0
    // The decision model.
    double interceptParam = 3.5;          // a
    double feedbackParam = 0.49;          // b: enters as 1 / (1 - b) and via 2 - b; below 1
    double travelParam = 2.0;             // c
    double arrivalParam = 2.0;            // d
    double arrivalLead = 180.0;           // ticks from a threat mark to the expected arrival
    double arrivalUnthreatened = 1000.0;  // arrival estimate of an unthreatened household
    double tripEffort = 70.0;             // fixed effort of any trip, cells
    double congestionRate = 0.005;        // effort per car on the road per tick of the clock
    double travelWeight = -5.0;           // weight of the trip effort in the travel term
    double departureNoise = 30.0;         // half-width of a household's daily departure noise
    // The cars.
    double patienceMin = 240.0;  // ticks of driving before giving up, drawn uniformly
    double patienceMax = 360.0;
    double fuelMin = 200.0;  // ticks of driving on a full tank, drawn uniformly
    double fuelMax = 400.0;
    double towWait = 60.0;      // ticks a stranded car stands before it is towed home
    double carsPerHouse = 2.0;  // cars parked in every house
    // The storm.
    double stormSizeMin = 10.0;  // width of the storm at each track point, cells
    double stormSizeMax = 15.0;
    double stormSpeedMin = 0.002;  // phase growth per tick at each track point
    double stormSpeedMax = 0.008;
    double parkedSpeed = 0.002;  // phase growth while parked: 1 / this = the warning period
    double lookAhead = 1.0;      // how far ahead of the storm the threat zone lies, track lengths
    // Routing.
    double routeGuide = 0.0;  // ROUTE_GUIDE_STRAIGHT or ROUTE_GUIDE_ROAD
    // Evacuation orders: the share of households that comply with one (0: no
    // order moves anybody), and the ticks after the order a complying one leaves.
    double orderCompliance = 0.0;
    double orderDelay = 0.0;
};

// The values of route_guide, a named choice held as a whole number.
constexpr double ROUTE_GUIDE_STRAIGHT = 0.0;  // price = straight-line distance to the target
constexpr double ROUTE_GUIDE_ROAD = 1.0;      // price = steps along lanes to the target

enum class ParameterKind : std::uint8_t { Real, Integer };

struct ParameterInfo {
    const char* name;  // snake_case, stable
    const char* unit;  // "" for a pure number
    double ModelParameters::*field;
    double min;  // valid range, inclusive
    double max;  // (may be infinite)
    ParameterKind kind;
    const char* meaning;  // one line
    // A named choice: the names of the whole values min..max in order, null-
    // terminated; null for a plain number. Readers that know no names see an
    // Integer parameter of that range.
    const char* const* choices = nullptr;
};

// The name of a choice parameter's value ("straight"), or null when the
// parameter has no names or the value is not one of its values.
const char* choice_name(const ParameterInfo& info, double value);
// The value of a name of a choice parameter; false when it is not one.
bool choice_value(const ParameterInfo& info, const char* name, std::size_t length, double& value);

extern const ParameterInfo PARAMETER_TABLE[];
extern const std::size_t PARAMETER_COUNT;

// The table entry of a name, or null.
const ParameterInfo* find_parameter(const char* name, std::size_t length);

// Why a record cannot be run, in one line naming the parameter, its value and
// what is allowed; empty text when it can. Checks each value against its
// range and kind (NaN is never allowed), then the rules between values: a
// minimum above its maximum, a feedback that divides by zero. (How many cars
// a town gets is the town's business: the tables are sized from it.)
struct ParameterCheck {
    char text[240];
    bool ok() const { return text[0] == '\0'; }
};
ParameterCheck check_parameters(const ModelParameters& p);
ParameterCheck check_parameter(const ParameterInfo& info, double value);

// The stored form of a value the user gave, the value the model uses: a
// single-precision value is rounded to its float (to the default itself when
// that is the default's float), any zero or a number too small for a float is
// 0, and from 1e30 up (infinity included) an error spread is the high level.
double stored_value(const ParameterInfo& info, double value);

// True when the model uses the parameter as a float.
bool single_precision(const ParameterInfo& info);

// True when every parameter has its default value (compared bit for bit).
bool is_default(const ModelParameters& p, const ParameterInfo& info);
