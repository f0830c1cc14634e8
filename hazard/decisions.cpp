#include "hazard/decisions.h"

namespace {

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

inline float travel_term(const DecisionModel& m, CellPos home, float onRoadCount, float simTime) {
    const double d = EXIT_DISTANCES.d[home.y][home.x];
    return static_cast<float>(m.travelWeight *
                              ((d + m.tripEffort) + onRoadCount * simTime * m.congestionRate));
}

inline float on_road_count(const VehicleTable& table) {
    float onRoadCount = 0.0f;
    for (int i = 0; i < table.vehicleCount; ++i)
        if (is_under_way(table.vehicles[i])) onRoadCount = onRoadCount + 1.0f;
    return onRoadCount;
}

static_assert(3 * MAX_VEHICLES <= RANDOM_JUMPS && MAX_VEHICLES <= RANDOM_EVEN_JUMPS,
              "a tick's draws can be jumped to");

// lo + width * f for `count` draws, the k-th of them made from the state
// mul[k] * start + add[k]: exactly what uniform_random(lo, lo + width) gives for
// that draw, rounded to a float. Each draw stands on its own, so the loop runs
// four at a time; (v mod 10001) is taken by comparisons, v being below 32768.
__attribute__((target_clones("avx2", "default"))) void draw_values(
    float* __restrict out, int count, std::uint32_t start, const std::uint32_t* __restrict mul,
    const std::uint32_t* __restrict add, double lo, double width) {
    for (int k = 0; k < count; ++k) {
        const int v = random_value(mul[k] * start + add[k]);
        const int wraps = (v > 10000) + (v > 20001) + (v > 30002);
        const float f = static_cast<float>(v - 10001 * wraps) / 10000.0f;
        out[k] = static_cast<float>(lo + width * static_cast<double>(f));
    }
}

}  // namespace

void reset_decisions(DecisionModel& m, const VehicleTable& table, const ModelParameters& p) {
    m.interceptParam = static_cast<float>(p.interceptParam);
    m.feedbackParam = static_cast<float>(p.feedbackParam);
    m.travelParam = static_cast<float>(p.travelParam);
    m.arrivalParam = static_cast<float>(p.arrivalParam);
    m.arrivalLead = static_cast<float>(p.arrivalLead);
    m.arrivalUnthreatened = static_cast<float>(p.arrivalUnthreatened);
    m.tripEffort = static_cast<float>(p.tripEffort);
    m.congestionRate = static_cast<float>(p.congestionRate);
    m.travelWeight = static_cast<float>(p.travelWeight);
    m.departureNoise = p.departureNoise;
    m.departureSignalCoef = m.departureTravelCoef = m.departureIntercept = 1.0f;
    m.signalArrivalCoef = m.signalTravelCoef = m.signalIntercept = 1.0f;
    for (int i = 0; i < table.vehicleCount; ++i) {
        DecisionRecord& r = m.decisionTable[i];
        r = {};
        r.arrivalEstimate = m.arrivalUnthreatened;
        r.departureTime = m.arrivalUnthreatened;
    }
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
        if (v.state == VS_WAITING)
            m.decisionTable[i].travelTerm = travel_term(m, v.home, onRoadCount, simTime);
    }
}

void update_arrival_estimates(DecisionModel& m, const VehicleTable& table,
                              const StormState& storm) {
    const float threatened = storm.simTime + m.arrivalLead;
    for (int i = 0; i < table.vehicleCount; ++i) {
        if (table.vehicles[i].state != VS_WAITING) continue;
        m.decisionTable[i].arrivalEstimate =
            storm.threatFlags[i] != 0 ? threatened : m.arrivalUnthreatened;
    }
}

// The weight of the signal falls as its error spread grows against the spread
// of the households' storm information; every coefficient is computed from the
// values E and H had before this step.
void update_coefficients(DecisionModel& m, float ve, float vw) {
    const float a = m.interceptParam, b = m.feedbackParam, c = m.travelParam, d = m.arrivalParam;
    const float e0 = m.departureSignalCoef;
    const float h0 = m.signalArrivalCoef;
    m.departureIntercept = (1.0f - e0) * a / (1.0f - b);
    m.departureTravelCoef = (1.0f - e0) * c / (1.0f - b);
    const float numerator =
        h0 * (2.0f * d + b * h0) * vw;  // rounded to a float before the division
    m.departureSignalCoef = numerator / ((2.0f - b) * (h0 * h0 * vw + ve));
    m.signalIntercept = a / (1.0f - b);
    m.signalTravelCoef = c / (1.0f - b);
    m.signalArrivalCoef = 2.0f * d / (2.0f - b * (1.0f + e0));
}

// The steps of one update, in their defined order, are: signals for every car
// (one draw each), the errors' variance, travel terms, arrival estimates, the
// estimates' variance, the coefficients, then a departure time for every car
// (two draws each, the second unused). The loops below compute exactly those
// values in fewer passes. Each draw is jumped to from the tick's first state,
// so the draws need no step-by-step chain. A car's new travel term and arrival
// estimate are written after its signal has read the old ones. The in-order
// float sums are serial chains; each loop runs two of them side by side.
void update_decisions(DecisionModel& m, VehicleTable& table, const StormState& storm,
                      float errorSpread, RandomState& rng) {
    const int n = table.vehicleCount;
    // With no cars both variances are undefined; the model stays as it is.
    if (n <= 0) return;
    DecisionRecord* rec = m.decisionTable;
    const Vehicle* cars = table.vehicles;
    const float count = static_cast<float>(n);
    const float now = storm.simTime;

    // Draws n + 2i + 1 (the noise of car i) and n + 2i + 2 (unused) follow the n errors.
    const std::uint32_t start = rng.state;
    float errors[MAX_VEHICLES], noise[MAX_VEHICLES];
    const double spread = static_cast<double>(errorSpread);
    draw_values(errors, n, start, RANDOM_JUMP.mul, RANDOM_JUMP.add, -spread, spread - -spread);
    draw_values(noise, n, state_after(start, n + 1), RANDOM_EVEN_JUMP.mul, RANDOM_EVEN_JUMP.add,
                -m.departureNoise, m.departureNoise - -m.departureNoise);
    rng.state = state_after(start, 3 * n);

    // Signals from last tick's terms and coefficients; new arrival estimates.
    const float I = m.signalTravelCoef, J = m.signalIntercept, H = m.signalArrivalCoef;
    const float threatened = now + m.arrivalLead;
    const float unthreatened = m.arrivalUnthreatened;
    float errorSum = 0.0f, arrivalSum = 0.0f;
    int onRoad = 0;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = rec[i];
        const Vehicle& v = cars[i];
        r.signalError = errors[i];
        r.signalBase = (I * r.travelTerm + J) + H * r.arrivalEstimate;
        r.signal = r.signalBase + r.signalError;
        errorSum = errorSum + r.signalError;
        if (v.state == VS_WAITING)
            r.arrivalEstimate = storm.threatFlags[i] != 0 ? threatened : unthreatened;
        arrivalSum = arrivalSum + r.arrivalEstimate;
        onRoad += is_under_way(v) ? 1 : 0;
    }
    const float errorMean = errorSum / count;
    const float arrivalMean = arrivalSum / count;
    const float onRoadCount =
        static_cast<float>(onRoad);  // what counting in a float gives, below 2^24

    // Squared deviations, the noise, and new travel terms.
    float errorSquares = 0.0f, arrivalSquares = 0.0f;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = rec[i];
        const float de = r.signalError - errorMean;
        errorSquares = errorSquares + de * de;
        const float dw = r.arrivalEstimate - arrivalMean;
        arrivalSquares = arrivalSquares + dw * dw;
        r.departureNoise = noise[i];
        if (cars[i].state == VS_WAITING)
            r.travelTerm = travel_term(m, cars[i].home, onRoadCount, now);
    }
    const float ve = errorSquares / count;
    const float vw = arrivalSquares / count;

    update_coefficients(m, ve, vw);

    // Departure times; a waiting household whose time has passed leaves.
    const float E = m.departureSignalCoef, F = m.departureTravelCoef, G = m.departureIntercept;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = rec[i];
        r.departureTime = ((F * r.travelTerm + G) + E * r.signal) + r.departureNoise;
        Vehicle& v = table.vehicles[i];
        if (r.departureTime < now && v.state == VS_WAITING) v.state = VS_EVACUATING;
    }
}
