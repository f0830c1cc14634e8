// Experiment designs: sets of points in the space of the model's parameters,
// each point run under the same list of replicate scenarios. A design is data
// (the varied parameters' names and one row of values per point) that a user
// can write by hand, generate elsewhere, save and read back; the samplers that
// make designs are pure functions of their sizes and a sample seed, and the
// analysers in sensitivity.h are separate again.
//
// Every sampler first draws points in the unit cube [0, 1)^k, then maps each
// coordinate u onto its parameter's bounds as low + u (high - low), rounded to
// the nearest whole number for a parameter that only takes whole numbers.
//
// The samplers are defined in samplers.cpp, the design files in design_file.cpp,
// the rest in design.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "experiments/planning/run_plan.h"
#include "sim/parameters.h"

// One --vary: a parameter with a list of values (a factorial's levels) or with
// bounds (a sampler's range; LO..HI:STEPS is both).
struct VaryOption {
    const ParameterInfo* info = nullptr;
    std::vector<double> values;  // the levels, in the order given; empty for bare bounds
    bool hasBounds = false;
    double low = 0.0, high = 0.0;
};

// Parses "NAME=V1,V2,...", "NAME=LO..HI:STEPS" (STEPS >= 2 values, the bounds
// included, evenly spaced) or "NAME=LO..HI" (bounds for a sampler). Refuses an
// unknown name, a value or bound outside the parameter's range or not whole
// for a whole-number parameter, LO >= HI, a value given twice. Error text or empty.
std::string parse_vary(std::string_view text, VaryOption& option);

enum class SampleMethod { Lhs, Sobol, Morris, Saltelli };

// "lhs:N", "sobol:N", "morris:R" (R trajectories on 4 levels), "morris:R:L"
// (L levels, even, >= 2) and "saltelli:N" (N base points). Error text or empty.
struct SampleOption {
    SampleMethod method = SampleMethod::Lhs;
    std::size_t size = 0;
    int levels = 4;  // Morris only
};
std::string parse_sample(std::string_view text, SampleOption& option);
const char* sample_method_name(SampleMethod method);

struct Design {
    std::string description;  // how it was made, for file headers: "lhs:20 over a=0..1, ..."
    std::vector<const ParameterInfo*> parameters;  // the varied ones, in column order
    std::vector<double> values;                    // point-major: values[p * k + j]
    // Per point, when the design names the scenario of each point (a seed or
    // scenario column of a design file): one run per point. Empty otherwise.
    std::vector<SweepScenario> scenarios;
    // How a sampled design was made; empty for a factorial or a file. The
    // bounds of every parameter, and for Morris and Saltelli the structure of
    // the points that the analysers rely on.
    std::optional<SampleOption> sample;
    std::vector<double> low, high;

    std::size_t point_count() const {
        return parameters.empty() ? 0 : values.size() / parameters.size();
    }
    double value(std::size_t point, std::size_t parameter) const {
        return values[point * parameters.size() + parameter];
    }
};

// The full factorial of the options' values, the last parameter changing fastest.
// Refuses a option without values and more than `maxPoints` points (counted
// before anything is built). Error text or empty.
std::string factorial_design(const std::vector<VaryOption>& options, std::size_t maxPoints,
                             Design& design);

// Points of the unit cube, point-major (n points of k coordinates).
// Latin hypercube: each coordinate takes each of the n strata [i/n, (i+1)/n)
// exactly once, at a uniform position inside it; the strata shuffled per
// coordinate. Deterministic from the seed.
std::vector<double> latin_hypercube(std::size_t n, std::size_t k, std::uint64_t seed);
// The first n points of Boost.Random's Sobol sequence in k dimensions, after
// skipping its first point (the origin), each integer x / 2^64.
std::vector<double> sobol_points(std::size_t n, std::size_t k);
constexpr std::size_t SOBOL_MAX_DIMENSION = 3667;  // Boost's default direction-number table
// r Morris trajectories of k + 1 points on a grid of `levels` levels (0,
// 1/(levels-1), ..., 1): a random grid point, then one coordinate at a time,
// in a random order, moved by delta = levels / (2 (levels - 1)) up if that
// stays in [0, 1], else down.
std::vector<double> morris_trajectories(std::size_t r, std::size_t k, int levels,
                                        std::uint64_t seed);
double morris_delta(int levels);
// The Saltelli scheme for n base points: A and B from a Sobol sequence of 2k
// dimensions (A its first k coordinates, B the last k), and for each base point
// the block A, AB_1, ..., AB_k, B of k + 2 points, where AB_i is A with its
// i-th coordinate taken from B. Point j (k + 2) + m of the result is block j's m-th.
std::vector<double> saltelli_points(std::size_t n, std::size_t k);

// A sampled design over the options' bounds (each option needs bounds). Refuses
// a size the method cannot use and more than `maxPoints` points. Error text or empty.
std::string sample_design(const SampleOption& sample, const std::vector<VaryOption>& options,
                          std::uint64_t seed, std::size_t maxPoints, Design& design);

// A design file: CSV with a header line naming a `point` column (0, 1, 2, ...
// in order), one column per parameter and optionally a `seed` or `scenario`
// column; '#' lines and blank lines are skipped. Every refusal names the file,
// line and column ("d.csv:4:3: ..."): a missing, extra, empty or non-numeric
// cell, a duplicated column or point, an unknown parameter, a value outside its
// range, a line longer than MAX_DESIGN_LINE_BYTES. `text` is the file's
// content, `name` how messages call it. read_design_file reads only a regular
// file, of at most design_file_bytes(maxPoints).
std::string parse_design_csv(std::string_view text, const std::string& name, std::size_t maxPoints,
                             Design& design);
std::string read_design_file(const std::string& path, std::size_t maxPoints, Design& design);
constexpr std::size_t MAX_DESIGN_LINE_BYTES = 4096;
// The longest design file of `maxPoints` points that is read: a point's line
// needs at most 32 bytes for each of its cells, and the header and comments
// at most 1 MiB.
std::size_t design_file_bytes(std::size_t maxPoints);

// The design as a file that parse_design_csv reads back to the same values:
// a comment line with the description, then point, the parameters' names (and
// the scenario or seed when the design names them), one line per point.
std::string design_csv(const Design& design);

// The whole parameter record of one point: `base` with the point's values.
ModelParameters point_parameters(const Design& design, std::size_t point,
                                 const ModelParameters& base);

// The first point whose record check_parameters refuses, as "design point P: why";
// empty when every point can run.
std::string check_design(const Design& design, const ModelParameters& base);

// Every point under every replicate scenario, point by point: replicate r of
// every point runs scenario replicates[r], whatever the number of points, so
// adding points or replicates leaves the earlier runs as they were. A design
// that names each point's scenario runs each point once under it.
std::vector<SweepRun> design_runs(const Design& design,
                                  const std::vector<SweepScenario>& replicates);

// Fills the plan's per-point records and the columns its rows carry.
void attach_design(SweepPlan& plan, const Design& design);

// How the table and the plot group a design's runs: per point when there are
// at most `maxGroups` points, else per value of the first varied parameter
// when it takes at most `maxGroups` values, else in `maxGroups` equal intervals
// of its range. Names are "point 3 (240, 0.005)" under the title
// "point (patience_min, congestion_rate)", "patience_min=240", "patience_min 120..150".
struct PointGroups {
    std::string title;  // the grouping's column title: "point" or the parameter's name
    std::vector<std::string> names;
    std::vector<std::size_t> groupOfPoint;
};
PointGroups group_points(const Design& design, std::size_t maxGroups);

// What the command line asks for: --vary (repeatable), --design FILE,
// --sample METHOD:N and --sample-seed. Builds the design and checks every
// point against `base`. Refusals start with the option they are about.
struct DesignRequest {
    std::vector<std::string> vary;
    std::string file;
    std::string sample;
    std::uint64_t sampleSeed = 1;
};
bool wants_design(const DesignRequest& request);
std::string make_design(const DesignRequest& request, const ModelParameters& base,
                        std::size_t maxPoints, Design& design);

// The memory a sweep of the design holds until its end, in bytes: the runs'
// list, each run's figures for the table, the points' records and sums, and
// with `sampleCount` > 0 every run's curve samples for the plot's bands.
double design_memory(std::size_t points, std::size_t runs, std::size_t sampleCount);

// The most points whose sweep under `replicates` replicates (with `sampleCount`
// curve samples a run) holds at most `maxBytes` by design_memory: the limit to
// build a design to, so that one too large is refused before it is built.
std::size_t design_points_within(double maxBytes, std::size_t replicates, std::size_t sampleCount);

// "# design: <description>; P points x R replicates" and a newline, for file headers.
std::string design_header_line(const Design& design, std::size_t replicates);
