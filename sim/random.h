// The one source of randomness of a scenario.
//
// A small linear congruential generator whose whole state is one 32-bit word,
// so that a scenario is fully determined by its seed and the order of draws.
// The state lives in the simulation object, never in the C library.
#pragma once

#include <cstdint>

struct RandomState {
    std::uint32_t state = 1;  // 1 before the first seeding
};

// Sets the state to the seed's 32-bit two's-complement pattern (negative seeds are valid).
void seed_random(RandomState& rng, std::int32_t seed);

// Advances the state and returns the next value in 0..32767.
inline int next_random(RandomState& rng) {
    rng.state = rng.state * 214013u + 2531011u;
    return static_cast<int>((rng.state >> 16) & 0x7FFFu);
}

// lo + (hi - lo) * f with f = (next_random mod 10001) / 10000 in single precision,
// so f runs from 0 to 1 inclusive in steps of 0.0001. The sum is formed and
// returned in double precision; callers round or truncate it themselves.
inline double uniform_random(RandomState& rng, double lo, double hi) {
    const float f = static_cast<float>(next_random(rng) % 10001) / 10000.0f;
    return lo + (hi - lo) * static_cast<double>(f);
}
