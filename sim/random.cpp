#include "sim/random.h"

void seed_random(RandomState& rng, std::int32_t seed) { rng.state = static_cast<std::uint32_t>(seed); }
