// The storm and the simulation clock. Each scenario draws a curved track across
// the town; every tick the storm moves along it, and a threat zone one whole
// track length ahead marks the waiting households in its path.
#pragma once

#include <cstdint>

#include "sim/parameters.h"
#include "sim/random.h"
#include "sim/vehicles.h"

struct StormPoint {
    float x;      // column coordinate of the centre, cells
    float y;      // row coordinate of the centre, cells
    float size;   // width in cells; half of it is the threat zone's radius
    float speed;  // growth of the phase per tick
};

// Where the storm waits, far off the map, until its phase first exceeds 0; its
// speed (parked_speed) sets how fast the warning period passes (500 ticks).
constexpr StormPoint PARKED_STORM = {-100.0f, -100.0f, 15.0f, 0.002f};
StormPoint parked_storm(const ModelParameters& p);

struct StormState {
    StormPoint stormTrack[3] = {};    // start, middle, end: the track at phase 0, 0.5 and 1
    StormPoint storm = PARKED_STORM;  // where the storm is now
    float stormPhase = -1.0f;  // parameter along the track; the storm is parked until it passes 0
    float stormSpin = 0.0f;    // degrees the picture has turned; never wrapped
    float simTime = 0.0f;      // ticks since the last reset; exact below 2^24
    float lookAheadOffset = 1.0f;  // track lengths from the storm to its zone (look_ahead)
    std::int32_t threatFlags[MAX_VEHICLES] =
        {};                         // 1 when the car's house was in the zone at the last advance
    bool threatFlagsClear = false;  // every car's flag is known to be 0 (none waits to be flagged)
};

// The quadratic through the three track points at t = 0, 0.5 and 1, evaluated
// for any t (extrapolated beyond them, never clamped).
StormPoint eval_track(const StormPoint (&track)[3], float t);

// Seeds the generator with the scenario seed, parks the storm, zeroes the clock
// and draws a new track (nine draws) within the parameters' bounds.
void reset_storm(StormState& s, RandomState& rng, std::int32_t seed,
                 const ModelParameters& p = ModelParameters{});

// One tick: the clock, the storm's phase, turn and place, and the threat flags
// of every car. Only waiting households are flagged, so once none waits and
// the flags have been cleared, they are left alone.
void advance_storm(StormState& s, const VehicleTable& table);

// The zone's centre cell, or false when a centre coordinate is not a finite
// value inside the 32-bit range: such a zone lies on no cell and flags nobody.
bool zone_centre_cell(const StormPoint& zone, CellPos& centre);
