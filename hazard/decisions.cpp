#include "hazard/decisions.h"

namespace {

constexpr float ARRIVAL_UNTHREATENED = 1000.0f;  // ticks: "the storm is not coming soon"
constexpr float ARRIVAL_LEAD = 180.0f;           // ticks from a threat mark to the expected arrival
constexpr float TRAVEL_BASE = 70.0f;             // fixed effort of any trip, in cells
constexpr float CONGESTION_RATE = 0.005f;        // effort per car on the road per tick of the clock
constexpr float TRAVEL_WEIGHT = -5.0f;

inline float field_of(const DecisionRecord& r, char field) {
    return field == 'e' ? r.signalError : r.arrivalEstimate;
}

// Distance from every cell to the exit, the fixed part of every household's trip.
struct ExitDistances {
    double d[GRID_H][GRID_W];
    ExitDistances() {
        for (int y = 0; y < GRID_H; ++y)
            for (int x = 0; x < GRID_W; ++x) d[y][x] = cell_distance({x, y}, ExitCell);
    }
};
const ExitDistances EXIT_DISTANCES;

inline float travel_term(CellPos home, float onRoadCount, float simTime) {
    const double d = EXIT_DISTANCES.d[home.y][home.x];
    return static_cast<float>(TRAVEL_WEIGHT * ((d + TRAVEL_BASE) + onRoadCount * simTime * CONGESTION_RATE));
}

inline float on_road_count(const VehicleTable& table) {
    float onRoadCount = 0.0f;
    for (int i = 0; i < table.vehicleCount; ++i)
        if (is_under_way(table.vehicles[i])) onRoadCount = onRoadCount + 1.0f;
    return onRoadCount;
}

static_assert(3 * MAX_VEHICLES <= RANDOM_JUMPS, "a tick's draws can be jumped to");

// The fraction of the draw `draws` draws after `start`, as uniform_random makes it.
inline double fraction_after(std::uint32_t start, int draws) {
    return static_cast<double>(random_fraction(random_value(state_after(start, draws))));
}

}  // namespace

void reset_decisions(DecisionModel& m, const VehicleTable& table) {
    m.interceptParam = 3.5f;
    m.feedbackParam = 0.49f;
    m.travelParam = 2.0f;
    m.arrivalParam = 2.0f;
    m.departureSignalCoef = m.departureTravelCoef = m.departureIntercept = 1.0f;
    m.signalArrivalCoef = m.signalTravelCoef = m.signalIntercept = 1.0f;
    for (int i = 0; i < table.vehicleCount; ++i) {
        DecisionRecord& r = m.decisionTable[i];
        r = {};
        r.arrivalEstimate = ARRIVAL_UNTHREATENED;
        r.departureTime = ARRIVAL_UNTHREATENED;
    }
    m.arrivalVarianceKnown = false;
}

float field_variance(const DecisionModel& m, const VehicleTable& table, char field) {
    const int n = table.vehicleCount;
    const float count = static_cast<float>(n);
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) sum = sum + field_of(m.decisionTable[i], field);
    const float mean = sum / count;
    float squares = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float d = field_of(m.decisionTable[i], field) - mean;
        squares = squares + d * d;
    }
    return squares / count;
}

void update_travel_terms(DecisionModel& m, const VehicleTable& table, float simTime) {
    const float onRoadCount = on_road_count(table);
    for (int i = 0; i < table.vehicleCount; ++i) {
        const Vehicle& v = table.vehicles[i];
        if (v.state == VS_WAITING) m.decisionTable[i].travelTerm = travel_term(v.home, onRoadCount, simTime);
    }
}

void update_arrival_estimates(DecisionModel& m, const VehicleTable& table, const StormState& storm) {
    const float threatened = storm.simTime + ARRIVAL_LEAD;
    bool changed = false;
    for (int i = 0; i < table.vehicleCount; ++i) {
        if (table.vehicles[i].state != VS_WAITING) continue;
        float& w = m.decisionTable[i].arrivalEstimate;
        const float next = storm.threatFlags[i] != 0 ? threatened : ARRIVAL_UNTHREATENED;
        changed = changed || next != w;
        w = next;
    }
    if (changed) m.arrivalVarianceKnown = false;
}

// The steps of one update, in their defined order, are: signals for every car
// (one draw each), the errors' variance, travel terms, arrival estimates, the
// estimates' variance, the coefficients, then a departure time for every car
// (two draws each, the second unused). The loops below compute exactly those
// values, but each draw is jumped to from the tick's first state instead of
// stepping the generator through all of them, and the in-order float sums,
// which are serial chains, run alongside independent work.
void update_decisions(DecisionModel& m, VehicleTable& table, const StormState& storm,
                      float errorSpread, RandomState& rng) {
    const int n = table.vehicleCount;
    // With no cars both variances are undefined; the model stays as it is.
    if (n <= 0) return;
    DecisionRecord* rec = m.decisionTable;
    const float count = static_cast<float>(n);
    const std::uint32_t start = rng.state;

    // Signals from last tick's terms and coefficients, and the sum of their errors.
    const double lo = -static_cast<double>(errorSpread);
    const double width = static_cast<double>(errorSpread) - lo;
    const float I = m.signalTravelCoef, J = m.signalIntercept, H = m.signalArrivalCoef;
    float errorSum = 0.0f;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = rec[i];
        r.signalError = static_cast<float>(lo + width * fraction_after(start, i + 1));
        r.signalBase = (I * r.travelTerm + J) + H * r.arrivalEstimate;
        r.signal = r.signalBase + r.signalError;
        errorSum = errorSum + r.signalError;
    }
    const float errorMean = errorSum / count;

    update_travel_terms(m, table, storm.simTime);
    update_arrival_estimates(m, table, storm);

    // The errors' squared deviations, the estimates' sum and the departure noise.
    const bool arrivalKnown = m.arrivalVarianceKnown;
    float errorSquares = 0.0f, arrivalSum = 0.0f;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = rec[i];
        const float d = r.signalError - errorMean;
        errorSquares = errorSquares + d * d;
        if (!arrivalKnown) arrivalSum = arrivalSum + r.arrivalEstimate;
        r.departureNoise = static_cast<float>(-30.0 + 60.0 * fraction_after(start, n + 2 * i + 1));
    }
    rng.state = state_after(start, 3 * n);
    const float ve = errorSquares / count;
    if (!arrivalKnown) {
        const float arrivalMean = arrivalSum / count;
        float arrivalSquares = 0.0f;
        for (int i = 0; i < n; ++i) {
            const float d = rec[i].arrivalEstimate - arrivalMean;
            arrivalSquares = arrivalSquares + d * d;
        }
        m.arrivalVariance = arrivalSquares / count;
        m.arrivalVarianceKnown = true;
    }
    const float vw = m.arrivalVariance;

    // Coefficients. The weight of the signal falls as its error spread grows
    // against the spread of the households' storm information.
    const float a = m.interceptParam, b = m.feedbackParam, c = m.travelParam, d = m.arrivalParam;
    const float e0 = m.departureSignalCoef;
    const float h0 = m.signalArrivalCoef;
    m.departureIntercept = (1.0f - e0) * a / (1.0f - b);
    m.departureTravelCoef = (1.0f - e0) * c / (1.0f - b);
    const float numerator = h0 * (2.0f * d + b * h0) * vw;
    m.departureSignalCoef = numerator / ((2.0f - b) * (h0 * h0 * vw + ve));
    m.signalIntercept = a / (1.0f - b);
    m.signalTravelCoef = c / (1.0f - b);
    m.signalArrivalCoef = 2.0f * d / (2.0f - b * (1.0f + e0));

    // Departure times; a waiting household whose time has passed leaves.
    const float E = m.departureSignalCoef, F = m.departureTravelCoef, G = m.departureIntercept;
    const float now = storm.simTime;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = rec[i];
        r.departureTime = ((F * r.travelTerm + G) + E * r.signal) + r.departureNoise;
        Vehicle& v = table.vehicles[i];
        if (r.departureTime < now && v.state == VS_WAITING) v.state = VS_EVACUATING;
    }
}
