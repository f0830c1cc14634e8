// The one source of randomness of a scenario.
//
// A small linear congruential generator whose whole state is one 32-bit word,
// so that a scenario is fully determined by its seed and the order of draws.
// The state lives in the simulation object, never in the C library.
#pragma once

#include <array>
#include <cstdint>

struct RandomState {
    std::uint32_t state = 1;  // 1 before the first seeding
};

// Sets the state to the seed's 32-bit two's-complement pattern (negative seeds are valid).
void seed_random(RandomState& rng, std::int32_t seed);

constexpr std::uint32_t RANDOM_MUL = 214013u;
constexpr std::uint32_t RANDOM_ADD = 2531011u;

// The value a state gives.
inline int random_value(std::uint32_t state) {
    return static_cast<int>((state >> 16) & 0x7FFFu);
}

// (k / 10000) in single precision for k = 0..10000, looked up rather than divided.
extern const std::array<float, 10001> RANDOM_FRACTIONS;

// The fraction of a value: (value mod 10001) / 10000 in single precision, from
// 0 to 1 inclusive in steps of 0.0001.
inline float random_fraction(int value) {
    return RANDOM_FRACTIONS[value % 10001];
}

// Advances the state and returns the next value in 0..32767.
inline int next_random(RandomState& rng) {
    rng.state = rng.state * RANDOM_MUL + RANDOM_ADD;
    return random_value(rng.state);
}

// lo + (hi - lo) * f with f = (next_random mod 10001) / 10000 in single precision,
// so f runs from 0 to 1 inclusive in steps of 0.0001. The sum is formed and
// returned in double precision; callers round or truncate it themselves.
inline double uniform_random(RandomState& rng, double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(random_fraction(next_random(rng)));
}

// Jumping ahead: the state k + 1 draws after `state` is mul[k] * state + add[k]
// (mod 2^32). A tick's 2160 draws then need no step-by-step chain: each is
// computed from the tick's first state on its own, and the results are the same.
constexpr int RANDOM_JUMPS = 6000;  // three draws per car, for a full vehicle table
struct RandomJumps {
    std::uint32_t mul[RANDOM_JUMPS];
    std::uint32_t add[RANDOM_JUMPS];
};

constexpr RandomJumps make_random_jumps() {
    RandomJumps j{};
    j.mul[0] = RANDOM_MUL;
    j.add[0] = RANDOM_ADD;
    for (int k = 1; k < RANDOM_JUMPS; ++k) {
        j.mul[k] = j.mul[k - 1] * RANDOM_MUL;
        j.add[k] = j.add[k - 1] * RANDOM_MUL + RANDOM_ADD;
    }
    return j;
}
inline constexpr RandomJumps RANDOM_JUMP = make_random_jumps();

// Jumps by an even number of draws: the state 2k draws after `state` is
// mul[k] * state + add[k]; k = 0 leaves it as it is.
constexpr int RANDOM_EVEN_JUMPS = RANDOM_JUMPS / 2;
struct RandomEvenJumps {
    std::uint32_t mul[RANDOM_EVEN_JUMPS];
    std::uint32_t add[RANDOM_EVEN_JUMPS];
};

constexpr RandomEvenJumps make_random_even_jumps() {
    RandomEvenJumps j{};
    j.mul[0] = 1;
    j.add[0] = 0;
    for (int k = 1; k < RANDOM_EVEN_JUMPS; ++k) {
        j.mul[k] = RANDOM_JUMP.mul[2 * k - 1];
        j.add[k] = RANDOM_JUMP.add[2 * k - 1];
    }
    return j;
}
inline constexpr RandomEvenJumps RANDOM_EVEN_JUMP = make_random_even_jumps();

inline std::uint32_t state_after(std::uint32_t state, int draws) {
    return RANDOM_JUMP.mul[draws - 1] * state + RANDOM_JUMP.add[draws - 1];
}
