// The households' departure decisions: a linear expectation model, re-estimated
// every tick, turns noisy storm signals, travel effort and threat marks into a
// planned departure time for every car.
#pragma once

#include <cstdint>

#include "hazard/storm.h"
#include "sim/random.h"
#include "sim/vehicles.h"

struct DecisionRecord {
    float travelTerm;       // -5 x trip effort (<= -350 once set); waiting cars only
    float arrivalEstimate;  // tick the household expects the storm: simTime + 180 if threatened,
                            // else 1000
    float departureTime;    // planned departure tick; a waiting car leaves once it is below simTime
    float signalError;      // this tick's error, uniform in [-errorSpread, +errorSpread]
    float signalBase;       // the signal without its error
    float signal;           // the signal received
    float departureNoise;   // this tick's individual noise, uniform in [-30, 30]
};

struct DecisionModel {
    // Fixed parameters.
    float interceptParam = 3.5f;  // a
    float feedbackParam = 0.49f;  // b: enters every coefficient as 1 / (1 - b) or via 2 - b
    float travelParam = 2.0f;     // c
    float arrivalParam = 2.0f;    // d
    // Re-estimated every tick.
    float departureSignalCoef = 1.0f;  // E: weight of the signal in the departure time
    float departureTravelCoef = 1.0f;  // F: weight of the travel term in the departure time
    float departureIntercept = 1.0f;   // G
    float signalArrivalCoef = 1.0f;    // H: weight of the arrival estimate in the signal
    float signalTravelCoef = 1.0f;     // I: weight of the travel term in the signal
    float signalIntercept = 1.0f;      // J
    DecisionRecord decisionTable[MAX_VEHICLES] = {};  // indexed like the vehicle table
};

// The three "Miscommunication" levels: half-widths of the signal error. The high
// level is the float nearest 1e30, finite, so that errors can still be drawn;
// their squares overflow and the signal then counts for nothing.
constexpr float ERROR_LOW = 0.001f;
constexpr float ERROR_MODERATE = 360.0f;
constexpr float ERROR_HIGH = 1.0e30f;

// Back to the start coefficients; the records of the cars in use to their start values.
void reset_decisions(DecisionModel& m, const VehicleTable& table);

// One tick of the model: new signals (one draw per car), travel and arrival
// terms, coefficients, departure times (two draws per car), and the waiting
// cars whose time has passed switched to evacuating. With no cars, nothing changes.
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
