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
    float onRoadCount = 0.0f;
    for (int i = 0; i < table.vehicleCount; ++i)
        if (is_under_way(table.vehicles[i])) onRoadCount = onRoadCount + 1.0f;
    for (int i = 0; i < table.vehicleCount; ++i) {
        const Vehicle& v = table.vehicles[i];
        if (v.state != VS_WAITING) continue;
        const double d = cell_distance(v.home, ExitCell);
        m.decisionTable[i].travelTerm = static_cast<float>(
            TRAVEL_WEIGHT * ((d + TRAVEL_BASE) + onRoadCount * simTime * CONGESTION_RATE));
    }
}

void update_arrival_estimates(DecisionModel& m, const VehicleTable& table, const StormState& storm) {
    for (int i = 0; i < table.vehicleCount; ++i) {
        if (table.vehicles[i].state != VS_WAITING) continue;
        m.decisionTable[i].arrivalEstimate =
            storm.threatFlags[i] != 0 ? storm.simTime + ARRIVAL_LEAD : ARRIVAL_UNTHREATENED;
    }
}

void update_decisions(DecisionModel& m, VehicleTable& table, const StormState& storm,
                      float errorSpread, RandomState& rng) {
    const int n = table.vehicleCount;
    // With no cars both variances are undefined; the model stays as it is.
    if (n <= 0) return;

    // Signals from last tick's terms and coefficients.
    const double spread = errorSpread;
    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = m.decisionTable[i];
        r.signalError = static_cast<float>(uniform_random(rng, -spread, +spread));
        r.signalBase = (m.signalTravelCoef * r.travelTerm + m.signalIntercept) +
                       m.signalArrivalCoef * r.arrivalEstimate;
        r.signal = r.signalBase + r.signalError;
    }
    const float ve = field_variance(m, table, 'e');
    update_travel_terms(m, table, storm.simTime);
    update_arrival_estimates(m, table, storm);
    const float vw = field_variance(m, table, 'w');

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

    for (int i = 0; i < n; ++i) {
        DecisionRecord& r = m.decisionTable[i];
        r.departureNoise = static_cast<float>(uniform_random(rng, -30, 30));
        r.departureTime = ((m.departureTravelCoef * r.travelTerm + m.departureIntercept) +
                           m.departureSignalCoef * r.signal) +
                          r.departureNoise;
        Vehicle& v = table.vehicles[i];
        if (r.departureTime < storm.simTime && v.state == VS_WAITING) v.state = VS_EVACUATING;
        // A second noise draw per car whose value is not used; it stays so that
        // every scenario keeps its sequence of random values.
        (void)uniform_random(rng, -30, 30);
    }
}
