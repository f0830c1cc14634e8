// The samplers: points of the unit cube and the sampled designs made of them.
#include <algorithm>
#include <boost/random/sobol.hpp>
#include <cmath>
#include <random>

#include "experiments/planning/design.h"
#include "experiments/planning/parameter_text.h"

namespace {

// The generator of every random design: the standard's 64-bit Mersenne
// twister, whose output the standard fixes, with the conversions done here
// rather than by the library's distributions, whose results it does not fix.
class DesignRandom {
  public:
    explicit DesignRandom(std::uint64_t seed) : engine_(seed) {}
    // Uniform on [0, 1), 53 random bits.
    double unit() { return static_cast<double>(engine_() >> 11) * 0x1p-53; }
    // Uniform on 0..n-1 (n >= 1), without the bias of a plain remainder.
    std::size_t below(std::size_t n) {
        const std::uint64_t bound = n;
        const std::uint64_t threshold = (0 - bound) % bound;
        for (;;)
            if (const std::uint64_t r = engine_(); r >= threshold)
                return static_cast<std::size_t>(r % bound);
    }
    template <typename T>
    void shuffle(std::vector<T>& v) {
        for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[below(i)]);
    }

  private:
    std::mt19937_64 engine_;
};

double map_to_bounds(const ParameterInfo& info, double u, double low, double high) {
    const double v = low + u * (high - low);
    if (info.kind == ParameterKind::Integer) return std::clamp(std::round(v), low, high);
    return std::min(v, high);
}

std::string bounds_text(const VaryOption& s) {
    return std::string(s.info->name) + "=" + format_value(s.low) + ".." + format_value(s.high);
}

}  // namespace

std::vector<double> latin_hypercube(std::size_t n, std::size_t k, std::uint64_t seed) {
    DesignRandom random(seed);
    std::vector<double> points(n * k);
    std::vector<std::size_t> strata(n);
    for (std::size_t j = 0; j < k; ++j) {
        for (std::size_t i = 0; i < n; ++i) strata[i] = i;
        random.shuffle(strata);
        for (std::size_t i = 0; i < n; ++i)
            points[i * k + j] =
                (static_cast<double>(strata[i]) + random.unit()) / static_cast<double>(n);
    }
    return points;
}

std::vector<double> sobol_points(std::size_t n, std::size_t k) {
    boost::random::sobol generator(k);  // its first point is the one after the origin
    std::vector<double> points(n * k);
    for (double& x : points) x = static_cast<double>(generator()) * 0x1p-64;
    return points;
}

double morris_delta(int levels) {
    return levels / (2.0 * (levels - 1));
}

std::vector<double> morris_trajectories(std::size_t r, std::size_t k, int levels,
                                        std::uint64_t seed) {
    DesignRandom random(seed);
    const double delta = morris_delta(levels);
    const auto gridSize = static_cast<std::size_t>(levels);
    std::vector<double> points;
    points.reserve(r * (k + 1) * k);
    std::vector<double> x(k);
    std::vector<std::size_t> order(k);
    for (std::size_t t = 0; t < r; ++t) {
        for (double& v : x)
            v = static_cast<double>(random.below(gridSize)) / static_cast<double>(levels - 1);
        for (std::size_t j = 0; j < k; ++j) order[j] = j;
        random.shuffle(order);
        points.insert(points.end(), x.begin(), x.end());
        for (std::size_t j : order) {
            x[j] = x[j] + delta <= 1.0 + 1e-12 ? x[j] + delta : x[j] - delta;
            x[j] = std::clamp(x[j], 0.0, 1.0);
            points.insert(points.end(), x.begin(), x.end());
        }
    }
    return points;
}

std::vector<double> saltelli_points(std::size_t n, std::size_t k) {
    const std::vector<double> base = sobol_points(n, 2 * k);
    std::vector<double> points;
    points.reserve(n * (k + 2) * k);
    for (std::size_t j = 0; j < n; ++j) {
        const double* a = &base[j * 2 * k];
        const double* b = a + k;
        points.insert(points.end(), a, a + k);
        for (std::size_t i = 0; i < k; ++i) {
            points.insert(points.end(), a, a + k);
            points[points.size() - k + i] = b[i];
        }
        points.insert(points.end(), b, b + k);
    }
    return points;
}

std::string sample_design(const SampleOption& sample, const std::vector<VaryOption>& options,
                          std::uint64_t seed, std::size_t maxPoints, Design& design) {
    design = {};
    if (options.empty())
        return "--sample needs the parameters and bounds to vary (--vary NAME=LO..HI)";
    const std::size_t k = options.size();
    std::string over;
    for (const VaryOption& s : options) {
        if (!s.hasBounds)
            return std::string(s.info->name) + ": --sample needs bounds NAME=LO..HI, not a list";
        for (const VaryOption& other : options)
            if (&other < &s && other.info == s.info)
                return std::string(s.info->name) + " is varied twice";
        over += over.empty() ? " over " : ", ";
        over += bounds_text(s);
    }
    const char* method = sample_method_name(sample.method);
    std::size_t perUnit = 1;  // points per unit of the size
    if (sample.method == SampleMethod::Morris) perUnit = k + 1;
    if (sample.method == SampleMethod::Saltelli) perUnit = k + 2;
    if (sample.size > maxPoints / perUnit)
        return std::string(method) + ":" + std::to_string(sample.size) + " makes more than " +
               std::to_string(maxPoints) + " points";
    const std::size_t dimensions = sample.method == SampleMethod::Saltelli ? 2 * k : k;
    if ((sample.method == SampleMethod::Sobol || sample.method == SampleMethod::Saltelli) &&
        dimensions > SOBOL_MAX_DIMENSION)
        return std::string(method) + " over " + std::to_string(k) +
               " parameters needs more dimensions than the Sobol table has";

    std::vector<double> unit;
    switch (sample.method) {
        case SampleMethod::Lhs:
            unit = latin_hypercube(sample.size, k, seed);
            break;
        case SampleMethod::Sobol:
            unit = sobol_points(sample.size, k);
            break;
        case SampleMethod::Morris:
            unit = morris_trajectories(sample.size, k, sample.levels, seed);
            break;
        case SampleMethod::Saltelli:
            unit = saltelli_points(sample.size, k);
            break;
    }
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about ":" + string.
    design.description = std::string(method) + ":" + std::to_string(sample.size);
    if (sample.method == SampleMethod::Morris) {
        design.description += ':';
        design.description += std::to_string(sample.levels);
    }
    design.description += over;
    design.sample = sample;
    for (const VaryOption& s : options) {
        design.parameters.push_back(s.info);
        design.low.push_back(s.low);
        design.high.push_back(s.high);
    }
    design.values.resize(unit.size());
    for (std::size_t i = 0; i < unit.size(); ++i) {
        const VaryOption& s = options[i % k];
        design.values[i] = map_to_bounds(*s.info, unit[i], s.low, s.high);
    }
    return {};
}
