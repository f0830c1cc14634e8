// An observed evacuation as a calibration reads it: the cumulative share of
// the cars that have left home at each observed tick, and optionally the
// share that has reached an exit, each point with a weight; and scalar
// targets: a participation share (of the town or of one zone) and a 90 %
// clearance time, each with a weight.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ObservedPoint {
    long long tick = 0;              // after this many ticks
    double departed = 0.0;           // 1 - not evacuated / all cars, 0..1
    std::optional<double> arrived;   // evacuated / all cars, 0..1; when the file has the column
    double weight = 1.0;             // >= 0; 1 without the column
};

enum class TargetKind {
    Participation,  // the share of the cars that left home: 1 - not evacuated / all cars
    Clearance90,    // the first tick with 90 % of the cars on an exit (the summary's tick_90)
};

struct ObservedTarget {
    TargetKind kind = TargetKind::Participation;
    std::string zone;               // the zone's name; empty for the whole town
    int zoneIndex = -1;             // set by resolve_target_zones; -1 for the whole town
    std::optional<long long> tick;  // a participation share by this tick; the run's end without
    double value = 0.0;             // a share 0..1, or a time in ticks (>= 0, not rounded)
    double weight = 1.0;            // >= 0; 1 when blank or without the column
    double minutesPerTick = 0.0;    // > 0 when the file gave the time in hours (hour_90)
    std::size_t line = 0, zoneColumn = 0;  // where the row and its zone are, for refusals
    std::string label;  // participation, participation_at_120, north_tick_90, ...: unique
};

struct ObservedCurve {
    std::vector<ObservedPoint> points;  // ticks strictly increasing; may be empty with targets
    bool hasArrived = false;            // every point then holds `arrived`
    std::vector<ObservedTarget> targets;  // in the file's order
};

// A target's value in its file's unit: a share, ticks, or hours for hour_90.
double target_in_file_unit(const ObservedTarget& target, double ticksOrShare);

// The last tick the observed file names (curve points, participation times), 0 without any.
long long last_observed_tick(const ObservedCurve& curve);

// The largest observed file that is read: far above any published curve.
constexpr std::size_t MAX_OBSERVED_FILE_BYTES = std::size_t(1) << 24;

// Reads an observed CSV: a header naming `tick` or `hour`, `departed`, and
// optionally `arrived` and `weight`, in any order (other columns are refused,
// so that a misspelt one is not silently ignored); '#' lines and blank lines
// are skipped. Hours need `minutesPerTick` and are rounded to the nearest
// tick. A later header that names a `target` column starts the targets (or
// the file starts with it, for targets alone): `target` (participation,
// tick_90 or hour_90), `value`, and optionally `zone`, `tick` or `hour` (a
// participation share by then; blank for the run's end) and `weight`; blank
// optional fields take their defaults. Returns one line
// "NAME:LINE:COLUMN: what is wrong" (`name` as the file is shown) or empty
// text; `curve` is filled only on success.
std::string parse_observed(std::string_view text, const std::string& name,
                           std::optional<double> minutesPerTick, ObservedCurve& curve);

struct Town;
// Finds each target's zone in `town`, refusing a zone it lacks (every zone is
// refused on a town without zones) in the same one-line form.
std::string resolve_target_zones(const Town& town, const std::string& name, ObservedCurve& curve);
