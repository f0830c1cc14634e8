#include "hazard/storm.h"

#include <cmath>

namespace {

// Products and sum in double, rounded once.
inline float blend(float w0, float w1, float w2, float a, float b, float c) {
    return static_cast<float>(static_cast<double>(w0) * a + static_cast<double>(w1) * b +
                              static_cast<double>(w2) * c);
}

// True when v truncates to a 32-bit integer without overflow (NaN fails both tests).
inline bool fits_int32(float v) {
    const double d = v;
    return d >= -2147483648.0 && d < 2147483648.0;
}

// Zone centres this close to the town have every squared house distance below
// 2^24, where the squares are exact in single precision: the margin shrinks as
// the town grows, and a town above 2896 cells across has none.
constexpr std::int32_t NEAR_TOWN = 2000;
constexpr std::int64_t EXACT_SQUARES = 1LL << 24;

inline std::int32_t near_margin(const StormState& s) {
    const std::int64_t side = s.townWidth > s.townHeight ? s.townWidth : s.townHeight;
    std::int64_t m = NEAR_TOWN;
    while (m >= 0 && 2 * (m + side) * (m + side) >= EXACT_SQUARES) m -= 16;
    return static_cast<std::int32_t>(m);
}

inline bool near_town(const StormState& s, CellPos c, std::int32_t margin) {
    return margin >= 0 && c.x >= -margin && c.x <= s.townWidth + margin && c.y >= -margin &&
           c.y <= s.townHeight + margin;
}

// The largest squared distance n (an integer) whose root sqrt(n), as
// cell_distance computes it, is within the radius; -1 if none is. The root is
// monotonic in n, so "distance <= radius" is exactly "n <= this", and the
// per-household test needs no square root.
std::int64_t largest_square_within(double radius, std::int64_t side, std::int32_t margin) {
    const std::int64_t MAX_SQUARE = 2LL * (margin + side) * (margin + side);
    if (!(radius >= 0.0)) return -1;  // negative or NaN: nobody
    if (radius * radius >= static_cast<double>(MAX_SQUARE)) return MAX_SQUARE;
    std::int64_t n = static_cast<std::int64_t>(radius * radius);
    auto within = [radius](std::int64_t k) { return std::sqrt(static_cast<double>(k)) <= radius; };
    while (n >= 0 && !within(n)) --n;
    while (n < MAX_SQUARE && within(n + 1)) ++n;
    return n;
}

}  // namespace

StormPoint eval_track(const StormPoint (&track)[3], float t) {
    const float q = t * t;
    const float w0 = 2.0f * q - 3.0f * t + 1.0f;
    const float w1 = 4.0f * (t - q);
    const float w2 = 2.0f * q - t;
    const StormPoint& s = track[0];
    const StormPoint& m = track[1];
    const StormPoint& e = track[2];
    return {blend(w0, w1, w2, s.x, m.x, e.x), blend(w0, w1, w2, s.y, m.y, e.y),
            blend(w0, w1, w2, s.size, m.size, e.size),
            blend(w0, w1, w2, s.speed, m.speed, e.speed)};
}

StormPoint parked_storm(const ModelParameters& p, std::int32_t width, std::int32_t height) {
    StormPoint parked = PARKED_STORM;
    const std::int32_t side = width > height ? width : height;
    if (side != GRID_W) parked.x = parked.y = -2.5f * static_cast<float>(side);
    parked.speed = static_cast<float>(p.parkedSpeed);
    return parked;
}

void size_threat_flags(StormState& s, std::int32_t carCount) {
    s.threatFlags.resize(static_cast<std::size_t>(carCount), 0);
}

void reset_storm(StormState& s, RandomState& rng, std::int32_t seed, const ModelParameters& p,
                 std::int32_t width, std::int32_t height) {
    seed_random(rng, seed);
    s.simTime = 0.0f;
    s.stormPhase = -1.0f;
    s.stormSpin = 0.0f;
    s.townWidth = width;
    s.townHeight = height;
    // The track always runs from the first row through the middle one to the last.
    s.stormTrack[0].y = 0.0f;
    s.stormTrack[1].y = static_cast<float>((height - 1) / 2);
    s.stormTrack[2].y = static_cast<float>(height - 1);
    s.storm = parked_storm(p, width, height);
    s.threatFlagsClear = false;  // the table may have changed under the flags
    s.lookAheadOffset = static_cast<float>(p.lookAhead);
    for (StormPoint& point : s.stormTrack) {
        point.x = static_cast<float>(uniform_random(rng, 0, width));
        point.size = static_cast<float>(uniform_random(rng, p.stormSizeMin, p.stormSizeMax));
        point.speed = static_cast<float>(uniform_random(rng, p.stormSpeedMin, p.stormSpeedMax));
    }
}

bool zone_centre_cell(const StormPoint& zone, CellPos& centre) {
    if (!fits_int32(zone.x) || !fits_int32(zone.y)) return false;
    centre = {static_cast<std::int32_t>(zone.x), static_cast<std::int32_t>(zone.y)};
    return true;
}

void advance_storm(StormState& s, const VehicleTable& table) {
    s.simTime = s.simTime + 1.0f;
    s.stormPhase = s.stormPhase + s.storm.speed;
    // Two full turns while the storm crosses its track.
    s.stormSpin = s.storm.speed * 720.0f + s.stormSpin;
    if (s.stormPhase > 0.0f) s.storm = eval_track(s.stormTrack, s.stormPhase);

    const int n = table.vehicleCount;
    // Built scenarios size the flags with the table; this only serves callers
    // that populate a town on their own.
    if (s.threatFlags.size() < static_cast<std::size_t>(n)) size_threat_flags(s, n);
    if (table.tally.notEvacuated == 0) {
        if (!s.threatFlagsClear)
            for (int i = 0; i < n; ++i) s.threatFlags[i] = 0;
        s.threatFlagsClear = true;
        return;
    }
    s.threatFlagsClear = false;

    const float t = s.stormPhase + s.lookAheadOffset;
    const StormPoint zone = eval_track(s.stormTrack, t);
    const float radius = zone.size * 0.5f;
    CellPos centre{};
    // Late in a run the extrapolated track can run away to huge, infinite or NaN
    // coordinates; such a zone lies on no cell and flags nobody.
    const bool onACell = zone_centre_cell(zone, centre);
    const std::int32_t margin = near_margin(s);
    if (onACell && near_town(s, centre, margin)) {
        const std::int64_t side = s.townWidth > s.townHeight ? s.townWidth : s.townHeight;
        const std::int64_t limit =
            largest_square_within(static_cast<double>(radius), side, margin);
        for (int i = 0; i < n; ++i) {
            const Vehicle& v = table.vehicles[i];
            const std::int64_t dx = v.home.x - centre.x, dy = v.home.y - centre.y;
            s.threatFlags[i] = v.state == VS_WAITING && dx * dx + dy * dy <= limit ? 1 : 0;
        }
        return;
    }
    for (int i = 0; i < n; ++i) {
        const Vehicle& v = table.vehicles[i];
        s.threatFlags[i] = onACell && v.state == VS_WAITING &&
                                   cell_distance(v.home, centre) <= static_cast<double>(radius)
                               ? 1
                               : 0;
    }
}
