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
    DecisionRecord decisionTable[MAX_VEHICLES] = {};  // indexed like the vehicle table
};

// Back to the start coefficients, the fixed values from the parameters; the
// records of the cars in use to their start values.
void reset_decisions(DecisionModel& m, const VehicleTable& table,
                     const ModelParameters& p = ModelParameters{});

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
