#include "hazard/decisions.h"

#include <cstring>

// The lane loops twice on x86-64, for AVX2 and without, the one the processor
// can run chosen at start-up; once on other targets (WebAssembly). The same
// element-wise arithmetic either way.
#if defined(__x86_64__)
#define LANE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define LANE_CLONES
#endif

namespace {

// d: the distance from the household's house to the nearest exit, the fixed
// part of its trip (VehicleTable::exitDistance).
inline float travel_term(const DecisionModel& m, double d, float onRoadCount, float simTime) {
    return static_cast<float>(m.travelWeight *
                              ((d + m.tripEffort) + onRoadCount * simTime * m.congestionRate));
}

// Towns of up to this many cars keep a tick's errors in lanes while their
// variance is worked out ahead (fill_error_variances); larger ones draw them
// twice. Every town's draws are jumped to through the fixed tables, block by
// block of the tables' length.
constexpr int JUMP_CARS = RANDOM_JUMPS / 3;
static_assert(JUMP_CARS <= RANDOM_JUMPS, "a tick's errors can be jumped to");

// The state `draws` draws after `state`, for any number of draws: the affine
// step raised to that power by squaring.
std::uint32_t state_after_any(std::uint32_t state, std::int64_t draws) {
    if (draws >= 1 && draws <= RANDOM_JUMPS) return state_after(state, static_cast<int>(draws));
    std::uint32_t mul = RANDOM_MUL, add = RANDOM_ADD;  // one step
    for (; draws > 0; draws >>= 1) {
        if (draws & 1) state = mul * state + add;
        add = mul * add + add;
        mul = mul * mul;
    }
    return state;
}

inline bool same_bits(float a, float b) {
    std::uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// Eight lanes, one tick each. GCC's vector types: element-wise IEEE
// arithmetic, nothing reassociated; the default clone runs them as pairs of
// SSE registers.
typedef std::uint32_t LaneBits __attribute__((vector_size(4 * AHEAD_TICKS)));
typedef std::int32_t LaneInts __attribute__((vector_size(4 * AHEAD_TICKS)));
typedef float LaneFloats __attribute__((vector_size(4 * AHEAD_TICKS)));
typedef double LaneDoubles __attribute__((vector_size(8 * AHEAD_TICKS)));

// Fills the lanes with the error variances of AHEAD_TICKS ticks, the first of
// them starting from `start`: each lane draws its tick's n errors exactly as
// draw_values does and sums them, then their squared deviations, in table
// order, as field_variance does. The lanes only run side by side.
LANE_CLONES void fill_error_variances(
    ErrorVariancesAhead& ahead, int n, std::uint32_t start, float errorSpread) {
    std::uint32_t states[AHEAD_TICKS];
    states[0] = start;
    for (int k = 1; k < AHEAD_TICKS; ++k) states[k] = state_after_any(states[k - 1], 3LL * n);
    LaneBits tickStates;
    for (int k = 0; k < AHEAD_TICKS; ++k) tickStates[k] = states[k];
    const double lo = -static_cast<double>(errorSpread);
    const double width = static_cast<double>(errorSpread) - lo;
    // The lanes' errors of one draw, from the lanes' states (written out in
    // place so that each clone compiles it for its own instruction set).
#define MAROVEL_LANE_ERRORS(out, drawn)                                                          \
    do {                                                                                         \
        const LaneInts v_ = reinterpret_cast<LaneInts>(((drawn) >> 16) & 0x7FFFu);               \
        const LaneInts wraps_ = -((v_ > 10000) + (v_ > 20001) + (v_ > 30002)); /* true is -1 */ \
        const LaneFloats f_ = __builtin_convertvector(v_ - 10001 * wraps_, LaneFloats) / 10000.0f; \
        const LaneDoubles e_ = lo + width * __builtin_convertvector(f_, LaneDoubles);           \
        (out) = __builtin_convertvector(e_, LaneFloats);                                         \
    } while (false)
    const float count = static_cast<float>(n);
    LaneFloats sums = {};
    LaneFloats squares = {};
    if (n <= JUMP_CARS) {
        LaneFloats values[JUMP_CARS];
        for (int i = 0; i < n; ++i) {
            MAROVEL_LANE_ERRORS(values[i], tickStates * RANDOM_JUMP.mul[i] + RANDOM_JUMP.add[i]);
            sums = sums + values[i];
        }
        const LaneFloats means = sums / count;
        for (int i = 0; i < n; ++i) {
            const LaneFloats d = values[i] - means;
            squares = squares + d * d;
        }
    } else {
        // Too many cars to keep: the errors are drawn again for the second pass.
        LaneBits drawn = tickStates;
        for (int i = 0; i < n; ++i) {
            drawn = drawn * RANDOM_MUL + RANDOM_ADD;
            LaneFloats e;
            MAROVEL_LANE_ERRORS(e, drawn);
            sums = sums + e;
        }
        const LaneFloats means = sums / count;
        drawn = tickStates;
        for (int i = 0; i < n; ++i) {
            drawn = drawn * RANDOM_MUL + RANDOM_ADD;
            LaneFloats e;
            MAROVEL_LANE_ERRORS(e, drawn);
            const LaneFloats d = e - means;
            squares = squares + d * d;
        }
    }
#undef MAROVEL_LANE_ERRORS
    const LaneFloats variances = squares / count;
    for (int k = 0; k < AHEAD_TICKS; ++k) {
        ahead.startStates[k] = states[k];
        ahead.variances[k] = variances[k];
    }
    ahead.errorSpread = errorSpread;
    ahead.carCount = n;
    ahead.next = 0;
}

// A draw's value: lo + width * f, exactly what uniform_random(lo, lo + width)
// gives for the draw made from `state`, rounded to a float; (v mod 10001) is
// taken by comparisons, v being below 32768.
inline float value_of_draw(std::uint32_t state, double lo, double width) {
    const int v = random_value(state);
    const int wraps = (v > 10000) + (v > 20001) + (v > 30002);
    const float f = static_cast<float>(v - 10001 * wraps) / 10000.0f;
    return static_cast<float>(lo + width * static_cast<double>(f));
}

// The errors of `count` cars from `from` on, car k's error drawn from the state
// mul[k] * start + add[k], and with them each car's signal from last tick's
// terms and coefficients: one pass, each car on its own, so the loop runs in
// SIMD lanes.
LANE_CLONES void signals_block(
    DecisionTable& h, int from, int count, std::uint32_t start, const std::uint32_t* __restrict mul,
    const std::uint32_t* __restrict add, double lo, double width, float I, float J, float H) {
    const float* __restrict travel = h.travelTerm + from;
    const float* __restrict arrival = h.arrivalEstimate + from;
    float* __restrict error = h.signalError + from;
    float* __restrict base = h.signalBase + from;
    float* __restrict signal = h.signal + from;
    for (int k = 0; k < count; ++k) {
        const float e = value_of_draw(mul[k] * start + add[k], lo, width);
        const float b = (I * travel[k] + J) + H * arrival[k];
        error[k] = e;
        base[k] = b;
        signal[k] = b + e;
    }
}

// The departure noise of `count` cars from `from` on, drawn the same way, and
// with it each car's departure time from this tick's coefficients.
LANE_CLONES void departures_block(
    DecisionTable& h, int from, int count, std::uint32_t start, const std::uint32_t* __restrict mul,
    const std::uint32_t* __restrict add, double lo, double width, float E, float F, float G) {
    const float* __restrict travel = h.travelTerm + from;
    const float* __restrict signal = h.signal + from;
    float* __restrict noise = h.departureNoise + from;
    float* __restrict departure = h.departureTime + from;
    for (int k = 0; k < count; ++k) {
        const float d = value_of_draw(mul[k] * start + add[k], lo, width);
        noise[k] = d;
        departure[k] = ((F * travel[k] + G) + E * signal[k]) + d;
    }
}

// Every car's signal: the errors jumped to through the fixed tables, block by
// block of the tables' length, each block's first state jumped to from the
// tick's first state. Draw k + 1 after `start` is car k's error.
void compute_signals(DecisionTable& h, int n, std::uint32_t start, double spread, float I,
                     float J, float H) {
    for (int first = 0; first < n; first += RANDOM_JUMPS) {
        const int m = n - first < RANDOM_JUMPS ? n - first : RANDOM_JUMPS;
        signals_block(h, first, m, state_after_any(start, first), RANDOM_JUMP.mul,
                      RANDOM_JUMP.add, -spread, spread - -spread, I, J, H);
    }
}

// Every car's departure time: car k's noise is draw 2k after `noiseStart`.
void compute_departure_times(DecisionTable& h, int n, std::uint32_t noiseStart, double noiseSpan,
                             float E, float F, float G) {
    for (int first = 0; first < n; first += RANDOM_EVEN_JUMPS) {
        const int m = n - first < RANDOM_EVEN_JUMPS ? n - first : RANDOM_EVEN_JUMPS;
        departures_block(h, first, m, state_after_any(noiseStart, 2 * std::int64_t{first}),
                         RANDOM_EVEN_JUMP.mul, RANDOM_EVEN_JUMP.add, -noiseSpan,
                         noiseSpan - -noiseSpan, E, F, G);
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
    m.arrivalVarianceKnown = false;
    m.errorsAhead.next = AHEAD_TICKS;
    DecisionTable& h = m.households;
    h.size_for(static_cast<std::size_t>(table.vehicleCount));
    for (int i = 0; i < table.vehicleCount; ++i) {
        h.travelTerm[i] = h.signalError[i] = h.signalBase[i] = h.signal[i] = 0.0f;
        h.departureNoise[i] = 0.0f;
        h.arrivalEstimate[i] = h.departureTime[i] = m.arrivalUnthreatened;
    }
}

DecisionRecord decision_record(const DecisionModel& m, int index) {
    const DecisionTable& h = m.households;
    return {h.travelTerm[index],    h.arrivalEstimate[index], h.departureTime[index],
            h.signalError[index],   h.signalBase[index],      h.signal[index],
            h.departureNoise[index]};
}

float field_variance(const DecisionModel& m, const VehicleTable& table, char field) {
    const int n = table.vehicleCount;
    const float* values = field == 'e' ? m.households.signalError : m.households.arrivalEstimate;
    const float count = static_cast<float>(n);
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) sum = sum + values[i];
    const float mean = sum / count;
    float squares = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float d = values[i] - mean;
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
        if (v.state == VS_WAITING)
            m.households.travelTerm[i] =
                travel_term(m, table.exitDistance[static_cast<std::size_t>(i)], onRoadCount, simTime);
    }
}

void update_arrival_estimates(DecisionModel& m, const VehicleTable& table,
                              const StormState& storm) {
    const float threatened = storm.simTime + m.arrivalLead;
    for (int i = 0; i < table.vehicleCount; ++i) {
        if (table.vehicles[i].state != VS_WAITING) continue;
        m.households.arrivalEstimate[i] =
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
// (two draws each, the second unused). The code below computes exactly those
// values with less work:
// - each draw is jumped to from the tick's first state, so the draws need no
//   step-by-step chain, and the errors' variance comes from lanes worked out
//   for several ticks at once (fill_error_variances);
// - travel terms and arrival estimates change only for waiting households, so
//   only those are visited, after every signal has read the old values;
// - the estimates' variance is summed again only when an estimate changed.
void update_decisions(DecisionModel& m, VehicleTable& table, const StormState& storm,
                      float errorSpread, RandomState& rng) {
    const int n = table.vehicleCount;
    // With no cars both variances are undefined; the model stays as it is.
    if (n <= 0) return;
    DecisionTable& h = m.households;
    const float now = storm.simTime;

    // Draws n + 2i + 1 (the noise of car i) and n + 2i + 2 (unused) follow the n errors.
    const std::uint32_t start = rng.state;
    rng.state = state_after_any(start, 3LL * n);

    ErrorVariancesAhead& ahead = m.errorsAhead;
    if (!(ahead.next < AHEAD_TICKS && ahead.carCount == n &&
          same_bits(ahead.errorSpread, errorSpread) && ahead.startStates[ahead.next] == start))
        fill_error_variances(ahead, n, start, errorSpread);
    const float ve = ahead.variances[ahead.next++];

    compute_signals(h, n, start, static_cast<double>(errorSpread), m.signalTravelCoef,
                    m.signalIntercept, m.signalArrivalCoef);

    // New arrival estimates and travel terms of the waiting households.
    const float threatened = now + m.arrivalLead;
    const float unthreatened = m.arrivalUnthreatened;
    // The cars under way are those counted en route or out of gas; what counting
    // them one by one in a float gives, below 2^24.
    const float onRoadCount = static_cast<float>(table.tally.enRoute + table.tally.outOfGas);
    bool estimatesChanged = !m.arrivalVarianceKnown;
    for_each_member(table.waiting, [&](int i) {
        const float estimate = storm.threatFlags[i] != 0 ? threatened : unthreatened;
        estimatesChanged = estimatesChanged || !same_bits(estimate, h.arrivalEstimate[i]);
        h.arrivalEstimate[i] = estimate;
        h.travelTerm[i] =
            travel_term(m, table.exitDistance[static_cast<std::size_t>(i)], onRoadCount, now);
    });
    if (estimatesChanged) {
        m.arrivalVariance = field_variance(m, table, 'w');
        m.arrivalVarianceKnown = true;
    }

    update_coefficients(m, ve, m.arrivalVariance);

    // Departure times; a waiting household whose time has passed leaves.
    compute_departure_times(h, n, state_after_any(start, n + 1LL), m.departureNoise,
                            m.departureSignalCoef, m.departureTravelCoef, m.departureIntercept);
    for_each_member(table.waiting, [&](int i) {
        if (h.departureTime[i] < now) start_evacuating(table, i);
    });
}
