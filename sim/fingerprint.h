// A one-line digest of a whole scenario's state, so that two builds (or a build
// and a stored run) can be compared tick by tick:
//
//   <tick> <simTime, one decimal> <six tally counts> <V> <G> <S> <D> <R>
//
// V, G, S and D are 64-bit FNV-1a hashes of the vehicles, the grid's traffic,
// the storm and the decision model; R is the generator's state.
#pragma once

#include <cstdint>

struct Simulation;

struct Fingerprint {
    std::uint64_t vehicles;
    std::uint64_t grid;
    std::uint64_t storm;
    std::uint64_t decisions;
    std::uint32_t random;
};

Fingerprint fingerprint(const Simulation& sim);

struct FingerprintLine {
    char text[192];
};
FingerprintLine fingerprint_line(const Simulation& sim, long long tick);
