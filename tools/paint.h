// Small painting helpers for the picture maker: colours, hashed noise and the
// few trigonometric functions the storm needs.
//
// The pictures are committed and a test checks that this program reproduces
// them byte for byte, so everything here is deterministic on any IEEE-754
// machine: integer hashing, and floating point limited to +, -, *, /, floor and
// sqrt (all exactly rounded; the build turns off contraction into fused
// multiply-add). The C library's sin, cos and atan2 are not used, because their
// last bit may differ between library versions.
#pragma once

#include <cmath>
#include <cstdint>

#include "render/bmp.h"

namespace paint {

// A colour with channels 0..255, kept in double while shading and averaging.
struct Colour {
    double r, g, b;
};

constexpr Colour rgb(int r, int g, int b) {
    return {static_cast<double>(r), static_cast<double>(g), static_cast<double>(b)};
}

inline Colour mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

inline Colour scale(Colour c, double f) {
    return {c.r * f, c.g * f, c.b * f};
}

inline std::uint8_t to_byte(double v) {
    if (v <= 0.0) return 0;
    if (v >= 255.0) return 255;
    return static_cast<std::uint8_t>(v + 0.5);
}

// Stores a colour at pixel (x, y) of a three-channel record, row 0 at the bottom.
inline void put(Image& image, int x, int y, Colour c) {
    std::uint8_t* p = image.pixels.get() + (static_cast<std::size_t>(y) * image.width + x) * 3;
    p[0] = to_byte(c.r);
    p[1] = to_byte(c.g);
    p[2] = to_byte(c.b);
}

inline void put(Image& image, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::uint8_t* p = image.pixels.get() + (static_cast<std::size_t>(y) * image.width + x) * 3;
    p[0] = r;
    p[1] = g;
    p[2] = b;
}

// A well-mixed 32-bit hash of two lattice coordinates and a seed.
inline std::uint32_t hash(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t h = seed * 0x9E3779B9u;
    h ^= static_cast<std::uint32_t>(x) * 0x85EBCA6Bu;
    h = (h << 13) | (h >> 19);
    h ^= static_cast<std::uint32_t>(y) * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

// Hash as a fraction in [0, 1).
inline double hash01(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    return static_cast<double>(hash(x, y, seed) >> 8) / 16777216.0;
}

// Smoothly interpolated lattice noise in [0, 1); one lattice step per unit.
inline double value_noise(double x, double y, std::uint32_t seed) {
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = static_cast<std::int32_t>(fx), iy = static_cast<std::int32_t>(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0 - 2.0 * tx);
    ty = ty * ty * (3.0 - 2.0 * ty);
    const double a = hash01(ix, iy, seed), b = hash01(ix + 1, iy, seed);
    const double c = hash01(ix, iy + 1, seed), d = hash01(ix + 1, iy + 1, seed);
    const double bottom = a + (b - a) * tx, top = c + (d - c) * tx;
    return bottom + (top - bottom) * ty;
}

// Sum of `octaves` noise layers, each twice as fine and half as strong; in [0, 1).
inline double fractal_noise(double x, double y, int octaves, std::uint32_t seed) {
    double sum = 0.0, weight = 0.5, total = 0.0;
    for (int i = 0; i < octaves; ++i) {
        sum += value_noise(x, y, seed + static_cast<std::uint32_t>(i)) * weight;
        total += weight;
        x *= 2.0;
        y *= 2.0;
        weight *= 0.5;
    }
    return sum / total;
}

inline double clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

// 0 below lo, 1 above hi, a smooth step between.
inline double smoothstep(double lo, double hi, double v) {
    const double t = clamp01((v - lo) / (hi - lo));
    return t * t * (3.0 - 2.0 * t);
}

constexpr double PI = 3.14159265358979323846;

// cos(a) for any a, to about 1e-9: reduced to [-pi, pi], folded to [0, pi/2],
// then a Taylor polynomial.
inline double det_cos(double a) {
    a -= 2.0 * PI * std::floor(a / (2.0 * PI) + 0.5);  // now in [-pi, pi]
    if (a < 0.0) a = -a;
    double sign = 1.0;
    if (a > PI / 2.0) {
        a = PI - a;
        sign = -1.0;
    }
    const double x2 = a * a;
    double sum = 1.0, term = 1.0;
    for (int k = 1; k <= 9; ++k) {
        term *= -x2 / static_cast<double>((2 * k - 1) * (2 * k));
        sum += term;
    }
    return sign * sum;
}

// Angle of (x, y) in (-pi, pi], to about 1e-9: folded into [0, 1] for the ratio,
// halved twice by the half-angle identity, then the atan series.
inline double det_atan2(double y, double x) {
    if (x == 0.0 && y == 0.0) return 0.0;
    const double ax = x < 0.0 ? -x : x, ay = y < 0.0 ? -y : y;
    const bool swapped = ay > ax;
    double t = swapped ? ax / ay : ay / ax;  // in [0, 1]
    // atan(t) = 2 atan(t / (1 + sqrt(1 + t^2))), applied twice: t <= tan(pi/16).
    for (int i = 0; i < 2; ++i) t = t / (1.0 + std::sqrt(1.0 + t * t));
    const double t2 = t * t;
    double sum = 0.0, power = t;
    for (int k = 0; k < 12; ++k) {
        const double term = power / static_cast<double>(2 * k + 1);
        sum += (k % 2 == 0) ? term : -term;
        power *= t2;
    }
    double a = 4.0 * sum;
    if (swapped) a = PI / 2.0 - a;
    if (x < 0.0) a = PI - a;
    return y < 0.0 ? -a : a;
}

}  // namespace paint
