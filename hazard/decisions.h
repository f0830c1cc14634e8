// The households' departure decisions: a linear expectation model, re-estimated
// every tick, turns noisy storm signals, travel effort and threat marks into a
// planned departure time for every car.
#pragma once

#include <cstdint>
#include <vector>

#include "hazard/storm.h"
#include "sim/random.h"
#include "sim/vehicles.h"

// The model's values for every car, one array per value, indexed like the
// vehicle table: laid out so that the per-car formulas run in SIMD lanes. The
// seven arrays lie one after the other in one block of 7 x `column` floats,
// sized from the car count when the scenario is built.
struct DecisionTable {
    float* travelTerm = nullptr;       // -5 x trip effort (<= -350 once set); waiting cars only
    float* arrivalEstimate = nullptr;  // tick the household expects the storm: simTime + 180
                                       // if threatened, else 1000
    float* departureTime = nullptr;    // planned departure tick; a waiting car leaves once it
                                       // is below simTime
    float* signalError = nullptr;  // this tick's error, uniform in [-errorSpread, +errorSpread]
    float* signalBase = nullptr;   // the signal without its error
    float* signal = nullptr;       // the signal received
    float* departureNoise = nullptr;  // this tick's individual noise, uniform in [-30, 30]
    std::size_t column = 0;           // floats per array: the cars it was sized for
    std::vector<float> block;         // the seven arrays

    DecisionTable() = default;
    DecisionTable(const DecisionTable& o) : column(o.column), block(o.block) { bind(); }
    DecisionTable& operator=(const DecisionTable& o) {
        column = o.column;
        block = o.block;
        bind();
        return *this;
    }
    // Room for `cars` cars; keeps the block (and allocates nothing) when the count is unchanged.
    void size_for(std::size_t cars) {
        if (cars == column && block.size() == 7 * cars) return;
        column = cars;
        block.assign(7 * cars, 0.0f);
        bind();
    }

  private:
    void bind() {
        float* b = block.data();
        travelTerm = b;
        arrivalEstimate = b + column;
        departureTime = b + 2 * column;
        signalError = b + 3 * column;
        signalBase = b + 4 * column;
        signal = b + 5 * column;
        departureNoise = b + 6 * column;
    }
};

// One car's values gathered from the table (the fields as there), in the
// order the fingerprint hashes them.
struct DecisionRecord {
    float travelTerm;
    float arrivalEstimate;
    float departureTime;
    float signalError;
    float signalBase;
    float signal;
    float departureNoise;
};

// The signal errors' variance, worked out for several ticks at once, one tick
// per SIMD lane, each lane summing in table order as a single tick would. A
// tick's errors depend only on the generator's state at its start, the error
// spread and the number of cars, and every tick advances the generator by the
// same three draws per car; a lane is used only when all three match.
constexpr int AHEAD_TICKS = 8;
struct ErrorVariancesAhead {
    std::uint32_t startStates[AHEAD_TICKS] = {};  // generator state as each lane's tick starts
    float variances[AHEAD_TICKS] = {};            // population variance of that tick's errors
    float errorSpread = 0.0f;                     // the spread they were drawn with
    std::int32_t carCount = 0;                    // the number of cars they were drawn for
    std::int32_t next = AHEAD_TICKS;              // the lane the next tick should find; none left
};

struct DecisionModel {
    // Fixed for a run: set from the model parameters when the scenario is built.
    float interceptParam = 3.5f;          // a
    float feedbackParam = 0.49f;          // b: enters every coefficient as 1 / (1 - b) or via 2 - b
    float travelParam = 2.0f;             // c
    float arrivalParam = 2.0f;            // d
    float arrivalLead = 180.0f;           // ticks from a threat mark to the expected arrival
    float arrivalUnthreatened = 1000.0f;  // ticks: "the storm is not coming soon"
    float tripEffort = 70.0f;             // fixed effort of any trip, in cells
    float congestionRate = 0.005f;        // effort per car on the road per tick of the clock
    float travelWeight = -5.0f;           // weight of the effort in the travel term
    double departureNoise = 30.0;         // half-width of the departure noise, a draw's bound
    // Re-estimated every tick.
    float departureSignalCoef = 1.0f;  // E: weight of the signal in the departure time
    float departureTravelCoef = 1.0f;  // F: weight of the travel term in the departure time
    float departureIntercept = 1.0f;   // G
    float signalArrivalCoef = 1.0f;    // H: weight of the arrival estimate in the signal
    float signalTravelCoef = 1.0f;     // I: weight of the travel term in the signal
    float signalIntercept = 1.0f;      // J
    DecisionTable households = {};
    // Kept between ticks so that a tick redoes only what changed. The arrival
    // estimates change only while threatened households wait.
    float arrivalVariance = 0.0f;       // field_variance of arrivalEstimate, when known
    bool arrivalVarianceKnown = false;  // false after a reset: compute it afresh
    ErrorVariancesAhead errorsAhead;
};

DecisionRecord decision_record(const DecisionModel& m, int index);

// Back to the start coefficients, the fixed values from the parameters; the
// table sized for the cars in use and their records set to their start values.
void reset_decisions(DecisionModel& m, const VehicleTable& table,
                     const ModelParameters& p = ModelParameters{});

// One tick of the model: new signals (one draw per car), travel and arrival
// terms, coefficients, departure times (two draws per car), and the waiting
// cars whose time has passed switched to evacuating (start_evacuating). With no
// cars, nothing changes. Whoever edits arrival estimates directly clears
// arrivalVarianceKnown.
void update_decisions(DecisionModel& m, VehicleTable& table, const StormState& storm,
                      float errorSpread, RandomState& rng);

// Population variance of signalError ('e') or, for any other letter,
// arrivalEstimate, over the cars in use; sums in single precision, in order.
float field_variance(const DecisionModel& m, const VehicleTable& table, char field);

// Steps of an update, in the order it takes them after the signals: the travel
// terms and arrival estimates of the waiting cars, then the six coefficients
// from the variances of the signal errors (ve) and of the arrival estimates (vw).
void update_travel_terms(DecisionModel& m, const VehicleTable& table, float simTime);
void update_arrival_estimates(DecisionModel& m, const VehicleTable& table, const StormState& storm);
void update_coefficients(DecisionModel& m, float ve, float vw);
