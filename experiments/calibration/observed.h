// An observed evacuation as a calibration reads it: the cumulative share of
// the cars that have left home at each observed tick, and optionally the
// share that has reached an exit, each point with a weight.
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

struct ObservedCurve {
    std::vector<ObservedPoint> points;  // ticks strictly increasing
    bool hasArrived = false;            // every point then holds `arrived`
};

// The largest observed file that is read: far above any published curve.
constexpr std::size_t MAX_OBSERVED_FILE_BYTES = std::size_t(1) << 24;

// Reads an observed CSV: a header naming `tick` or `hour`, `departed`, and
// optionally `arrived` and `weight`, in any order (other columns are refused,
// so that a misspelt one is not silently ignored); '#' lines and blank lines
// are skipped. Hours need `minutesPerTick` and are rounded to the nearest
// tick. Returns one line "NAME:LINE:COLUMN: what is wrong" (`name` as the
// file is shown) or empty text; `curve` is filled only on success.
std::string parse_observed(std::string_view text, const std::string& name,
                           std::optional<double> minutesPerTick, ObservedCurve& curve);
