// The storm and the simulation clock. Each scenario draws a curved track across
// the town; every tick the storm moves along it, and a threat zone one whole
// track length ahead marks the waiting households in its path.
#pragma once

#include <cstdint>
#include <vector>

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
// Over the built-in town; any other town parks it 2.5 of its longer sides off
// both edges (100 cells for the built-in town's 40).
constexpr StormPoint PARKED_STORM = {-100.0f, -100.0f, 15.0f, 0.002f};
StormPoint parked_storm(const ModelParameters& p, std::int32_t width = GRID_W,
                        std::int32_t height = GRID_H);

struct StormState {
    StormPoint stormTrack[3] = {};    // start, middle, end: the track at phase 0, 0.5 and 1
    StormPoint storm = PARKED_STORM;  // where the storm is now
    float stormPhase = -1.0f;  // parameter along the track; the storm is parked until it passes 0
    float stormSpin = 0.0f;    // degrees the picture has turned; never wrapped
    float simTime = 0.0f;      // ticks since the last reset; exact below 2^24
    float lookAheadOffset = 1.0f;  // track lengths from the storm to its zone (look_ahead)
    bool threatFlagsClear = false;  // every car's flag is known to be 0 (none waits to be flagged)
    std::int32_t townWidth = GRID_W;   // the town it crosses, cells
    std::int32_t townHeight = GRID_H;
    // 1 when the car's house was in the zone at the last advance; one per car,
    // sized when the scenario is built (size_threat_flags).
    std::vector<std::int32_t> threatFlags;
};

// One flag per car: existing flags keep their values, new ones are 0.
void size_threat_flags(StormState& s, std::int32_t carCount);

// The quadratic through the three track points at t = 0, 0.5 and 1, evaluated
// for any t (extrapolated beyond them, never clamped).
StormPoint eval_track(const StormPoint (&track)[3], float t);

// Seeds the generator with the scenario seed, parks the storm, zeroes the clock
// and draws a new track (nine draws) within the parameters' bounds across a
// town of that size: from its first row (y = 0) through its middle row to its
// last, each point's x drawn across its width.
void reset_storm(StormState& s, RandomState& rng, std::int32_t seed,
                 const ModelParameters& p = ModelParameters{}, std::int32_t width = GRID_W,
                 std::int32_t height = GRID_H);

// One tick: the clock, the storm's phase, turn and place, and the threat flags
// of every car. Only waiting households are flagged, so once none waits and
// the flags have been cleared, they are left alone.
void advance_storm(StormState& s, const VehicleTable& table);

// The zone's centre cell, or false when a centre coordinate is not a finite
// value inside the 32-bit range: such a zone lies on no cell and flags nobody.
bool zone_centre_cell(const StormPoint& zone, CellPos& centre);
