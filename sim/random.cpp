#include "sim/random.h"

namespace {
constexpr std::array<float, 10001> make_fractions() {
    std::array<float, 10001> f{};
    for (int k = 0; k <= 10000; ++k) f[k] = static_cast<float>(k) / 10000.0f;
    return f;
}
}  // namespace

constinit const std::array<float, 10001> RANDOM_FRACTIONS = make_fractions();

void seed_random(RandomState& rng, std::int32_t seed) {
    rng.state = static_cast<std::uint32_t>(seed);
}
