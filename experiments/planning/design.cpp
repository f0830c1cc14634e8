#include "experiments/planning/design.h"

#include <algorithm>
#include <boost/random/sobol.hpp>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <set>
#include <sstream>

#include "experiments/planning/parameter_text.h"
#include "experiments/records/run_figures.h"

namespace {

// Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string.
std::string quoted(std::string_view s) {
    std::string q(1, '"');
    q.append(s);
    q += '"';
    return q;
}

bool parse_count(std::string_view s, std::size_t& value) {
    s = trim(s);
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value);
    return !s.empty() && ec == std::errc() && ptr == end;
}

bool parse_whole(std::string_view s, std::int64_t& value) {
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value);
    return !s.empty() && ec == std::errc() && ptr == end;
}

// A value of the parameter as the user typed it, checked against its range and kind.
std::string parse_value(const ParameterInfo& info, std::string_view text, double& value) {
    if (!parse_decimal(text, value))
        return std::string(info.name) + ": " + quoted(trim(text)) + " is not a decimal number";
    if (const ParameterCheck c = check_parameter(info, value); !c.ok()) return c.text;
    return {};
}

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

// One CSV line split at commas (no quoting: design cells are names and numbers).
std::vector<std::string_view> split_cells(std::string_view line) {
    std::vector<std::string_view> cells;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        cells.push_back(
            line.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos) return cells;
        start = comma + 1;
    }
}

std::string at(const std::string& name, std::size_t line, std::size_t column) {
    return name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

}  // namespace

std::string parse_vary(std::string_view text, VaryOption& option) {
    option = {};
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return quoted(text) + " is not NAME=LIST, NAME=LO..HI or NAME=LO..HI:STEPS";
    const std::string_view name = trim(text.substr(0, equals));
    const std::string_view rest = trim(text.substr(equals + 1));
    option.info = find_parameter(name.data(), name.size());
    if (option.info == nullptr)
        return "unknown parameter " + quoted(name) + " (marovel-sim params lists them)";
    const ParameterInfo& info = *option.info;

    const std::size_t dots = rest.find("..");
    if (dots != std::string_view::npos) {
        const std::size_t colon = rest.find(':', dots);
        const std::string_view hiText =
            rest.substr(dots + 2, colon == std::string_view::npos ? colon : colon - dots - 2);
        if (std::string why = parse_value(info, rest.substr(0, dots), option.low); !why.empty())
            return why;
        if (std::string why = parse_value(info, hiText, option.high); !why.empty()) return why;
        if (!std::isfinite(option.low) || !std::isfinite(option.high))
            return std::string(info.name) + ": bounds must be finite";
        if (!(option.low < option.high))
            return std::string(info.name) + ": the low bound " + format_value(option.low) +
                   " must be below the high bound " + format_value(option.high);
        option.hasBounds = true;
        if (colon != std::string_view::npos) {
            std::size_t steps = 0;
            if (!parse_count(rest.substr(colon + 1), steps) || steps < 2 || steps > 1000000)
                return std::string(info.name) + ": " + quoted(rest.substr(colon + 1)) +
                       " is not a number of steps from 2 to 1000000";
            for (std::size_t i = 0; i < steps; ++i) {
                const double u = static_cast<double>(i) / static_cast<double>(steps - 1);
                double v =
                    i + 1 == steps ? option.high : option.low + u * (option.high - option.low);
                if (info.kind == ParameterKind::Integer) {
                    v = std::round(v);
                    if (!option.values.empty() && option.values.back() == v)
                        return std::string(info.name) + ": " + std::to_string(steps) +
                               " steps from " + format_value(option.low) + " to " +
                               format_value(option.high) + " repeat whole numbers";
                }
                option.values.push_back(v);
            }
        }
        return {};
    }
    for (std::string_view item : split_cells(rest)) {
        double v = 0.0;
        if (std::string why = parse_value(info, item, v); !why.empty()) return why;
        v = stored_value(info, v);
        if (std::find(option.values.begin(), option.values.end(), v) != option.values.end())
            return std::string(info.name) + ": value " + quoted(trim(item)) + " given twice";
        option.values.push_back(v);
    }
    return {};
}

const char* sample_method_name(SampleMethod method) {
    switch (method) {
        case SampleMethod::Lhs:
            return "lhs";
        case SampleMethod::Sobol:
            return "sobol";
        case SampleMethod::Morris:
            return "morris";
        case SampleMethod::Saltelli:
            return "saltelli";
    }
    return "";
}

std::string parse_sample(std::string_view text, SampleOption& option) {
    option = {};
    const std::size_t colon = text.find(':');
    const std::string_view method = trim(text.substr(0, colon));
    bool known = false;
    for (SampleMethod m :
         {SampleMethod::Lhs, SampleMethod::Sobol, SampleMethod::Morris, SampleMethod::Saltelli})
        if (method == sample_method_name(m)) option.method = m, known = true;
    if (!known)
        return "unknown sampling method " + quoted(method) + " (lhs, sobol, morris or saltelli)";
    if (colon == std::string_view::npos) return quoted(text) + " has no size (e.g. lhs:100)";
    std::string_view size = text.substr(colon + 1);
    std::string_view levels;
    if (option.method == SampleMethod::Morris)
        if (const std::size_t second = size.find(':'); second != std::string_view::npos) {
            levels = size.substr(second + 1);
            size = size.substr(0, second);
        }
    if (!parse_count(size, option.size)) return quoted(size) + " is not a whole number of points";
    // Morris needs two trajectories for a spread of the effects; Saltelli's
    // estimators need two base points for a variance.
    const std::size_t least =
        option.method == SampleMethod::Morris || option.method == SampleMethod::Saltelli ? 2 : 1;
    if (option.size < least)
        return std::string(sample_method_name(option.method)) + " needs a size of at least " +
               std::to_string(least);
    if (!levels.empty()) {
        std::size_t l = 0;
        if (!parse_count(levels, l) || l < 2 || l % 2 != 0 || l > 1000)
            return "morris: " + quoted(levels) + " is not an even number of levels from 2 to 1000";
        option.levels = static_cast<int>(l);
    }
    return {};
}

std::string factorial_design(const std::vector<VaryOption>& options, std::size_t maxPoints,
                             Design& design) {
    design = {};
    std::size_t count = 1;
    std::string over;
    for (const VaryOption& s : options) {
        if (s.values.empty())
            return std::string(s.info->name) +
                   ": a factorial needs values (NAME=LIST or NAME=LO..HI:STEPS); bounds alone "
                   "are for --sample";
        if (count > maxPoints / s.values.size())
            return "the factorial has more than " + std::to_string(maxPoints) + " points";
        count *= s.values.size();
        for (const VaryOption& other : options)
            if (&other < &s && other.info == s.info)
                return std::string(s.info->name) + " is varied twice";
        over += over.empty() ? " of " : " x ";
        over += s.info->name;
        over += '(' + std::to_string(s.values.size()) + ')';
    }
    design.description = "factorial" + over;
    for (const VaryOption& s : options) design.parameters.push_back(s.info);
    design.values.reserve(count * options.size());
    std::vector<std::size_t> digit(options.size(), 0);
    for (std::size_t p = 0; p < count; ++p) {
        for (std::size_t j = 0; j < options.size(); ++j)
            design.values.push_back(options[j].values[digit[j]]);
        for (std::size_t j = options.size(); j-- > 0;) {
            if (++digit[j] < options[j].values.size()) break;
            digit[j] = 0;
        }
    }
    return {};
}

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
    design.description =
        std::string(method) + ":" + std::to_string(sample.size) +
        (sample.method == SampleMethod::Morris ? ":" + std::to_string(sample.levels)
                                               : std::string()) +
        over;
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

std::string parse_design_csv(std::string_view text, const std::string& name, std::size_t maxPoints,
                             Design& design) {
    design = {};
    design.description = "file " + name;
    std::size_t lineNumber = 0;
    std::vector<std::string_view> columns;
    std::size_t pointColumn = 0, scenarioColumn = 0;  // 1-based; 0 when absent
    bool isSeed = false;
    std::vector<std::size_t> parameterColumns;
    std::size_t points = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trim(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        const std::vector<std::string_view> cells = split_cells(line);

        if (columns.empty()) {  // the header
            for (std::size_t c = 0; c < cells.size(); ++c) {
                const std::string_view cell = trim(cells[c]);
                const std::string where = at(name, lineNumber, c + 1);
                if (cell.empty()) return where + "empty column name";
                for (std::size_t d = 0; d < c; ++d)
                    if (trim(cells[d]) == cell)
                        return where + "column " + quoted(cell) + " given twice";
                if (cell == "point") {
                    pointColumn = c + 1;
                } else if (cell == "seed" || cell == "scenario") {
                    if (scenarioColumn != 0) return where + "both a seed and a scenario column";
                    scenarioColumn = c + 1;
                    isSeed = cell == "seed";
                } else {
                    const ParameterInfo* info = find_parameter(cell.data(), cell.size());
                    if (info == nullptr)
                        return where + "unknown parameter " + quoted(cell) +
                               " (marovel-sim params lists them)";
                    design.parameters.push_back(info);
                    parameterColumns.push_back(c);
                }
            }
            if (pointColumn == 0) return at(name, lineNumber, 1) + "no point column";
            if (design.parameters.empty()) return at(name, lineNumber, 1) + "no parameter column";
            columns = cells;
            continue;
        }

        if (cells.size() < columns.size())
            return at(name, lineNumber, cells.size() + 1) + "missing cell for column " +
                   quoted(trim(columns[cells.size()]));
        if (cells.size() > columns.size())
            return at(name, lineNumber, columns.size() + 1) + "more cells than columns";
        for (std::size_t c = 0; c < cells.size(); ++c)
            if (trim(cells[c]).empty())
                return at(name, lineNumber, c + 1) + "empty cell for column " +
                       quoted(trim(columns[c]));
        std::int64_t id = 0;
        if (!parse_whole(cells[pointColumn - 1], id) || id < 0)
            return at(name, lineNumber, pointColumn) + quoted(trim(cells[pointColumn - 1])) +
                   " is not a point number";
        if (static_cast<std::uint64_t>(id) < points)
            return at(name, lineNumber, pointColumn) + "point " + std::to_string(id) +
                   " given twice";
        if (static_cast<std::uint64_t>(id) != points)
            return at(name, lineNumber, pointColumn) + "point " + std::to_string(id) +
                   " out of order: the points count 0, 1, 2, ... and this one is " +
                   std::to_string(points);
        if (points == maxPoints)
            return at(name, lineNumber, pointColumn) + "more than " + std::to_string(maxPoints) +
                   " points";
        for (std::size_t j = 0; j < parameterColumns.size(); ++j) {
            const std::size_t c = parameterColumns[j];
            double v = 0.0;
            if (std::string why = parse_value(*design.parameters[j], cells[c], v); !why.empty())
                return at(name, lineNumber, c + 1) + why;
            design.values.push_back(stored_value(*design.parameters[j], v));
        }
        if (scenarioColumn != 0) {
            std::int64_t v = 0;
            const std::string_view cell = cells[scenarioColumn - 1];
            if (!parse_whole(cell, v) || v < std::numeric_limits<std::int32_t>::min() ||
                v > std::numeric_limits<std::int32_t>::max())
                return at(name, lineNumber, scenarioColumn) + quoted(trim(cell)) +
                       " is not a 32-bit whole number";
            if (isSeed) {
                const auto seed = static_cast<std::int32_t>(v);
                design.scenarios.push_back({seed, step_of_seed(seed)});
            } else {
                design.scenarios.push_back({seed_of_step(v), v});
            }
        }
        ++points;
    }
    if (columns.empty()) return name + ": no header line (point and parameter names)";
    if (points == 0) return name + ": no points";
    return {};
}

std::string read_design_file(const std::string& path, std::size_t maxPoints, Design& design) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot be read";
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return path + ": cannot be read";
    return parse_design_csv(text.str(), path, maxPoints, design);
}

std::string design_csv(const Design& design) {
    std::string out = "# design: " + design.description + "\npoint";
    const bool named = !design.scenarios.empty();
    if (named) out += ",seed";
    for (const ParameterInfo* info : design.parameters) {
        out += ',';
        out += info->name;
    }
    out += '\n';
    for (std::size_t p = 0; p < design.point_count(); ++p) {
        out += std::to_string(p);
        if (named) out += ',' + std::to_string(design.scenarios[p].seed);
        for (std::size_t j = 0; j < design.parameters.size(); ++j) {
            out += ',';
            out += format_value(design.value(p, j));
        }
        out += '\n';
    }
    return out;
}

ModelParameters point_parameters(const Design& design, std::size_t point,
                                 const ModelParameters& base) {
    ModelParameters p = base;
    for (std::size_t j = 0; j < design.parameters.size(); ++j)
        p.*design.parameters[j]->field = design.value(point, j);
    return p;
}

std::string check_design(const Design& design, const ModelParameters& base) {
    for (std::size_t p = 0; p < design.point_count(); ++p)
        if (const ParameterCheck c = check_parameters(point_parameters(design, p, base)); !c.ok())
            return "design point " + std::to_string(p) + ": " + c.text;
    return {};
}

std::vector<SweepRun> design_runs(const Design& design,
                                  const std::vector<SweepScenario>& replicates) {
    std::vector<SweepRun> runs;
    const std::size_t points = design.point_count();
    const bool named = !design.scenarios.empty();
    runs.reserve(points * (named ? 1 : replicates.size()));
    for (std::size_t p = 0; p < points; ++p) {
        SweepRun run;
        run.point = static_cast<std::uint32_t>(p);
        if (named) {
            run.scenario = design.scenarios[p];
            runs.push_back(run);
            continue;
        }
        for (std::size_t r = 0; r < replicates.size(); ++r) {
            run.scenario = replicates[r];
            run.replicate = static_cast<std::uint32_t>(r);
            runs.push_back(run);
        }
    }
    return runs;
}

void attach_design(SweepPlan& plan, const Design& design) {
    plan.points.clear();
    plan.points.reserve(design.point_count());
    for (std::size_t p = 0; p < design.point_count(); ++p)
        plan.points.push_back(point_parameters(design, p, plan.parameters));
    plan.varied = design.parameters;
    for (SweepRun& run : plan.runs)
        run.errorSpread = static_cast<float>(plan.points[run.point].errorSpread);
}

PointGroups group_points(const Design& design, std::size_t maxGroups) {
    PointGroups g;
    const std::size_t points = design.point_count();
    g.groupOfPoint.resize(points);
    if (points <= maxGroups) {
        g.title = "point (";
        for (const ParameterInfo* info : design.parameters) {
            if (info != design.parameters.front()) g.title += ", ";
            g.title += info->name;
        }
        g.title += ')';
        for (std::size_t p = 0; p < points; ++p) {
            std::string name = "point " + std::to_string(p) + " (";
            for (std::size_t j = 0; j < design.parameters.size(); ++j) {
                if (j > 0) name += ", ";
                name += format_value(design.value(p, j));
            }
            g.names.push_back(name + ")");
            g.groupOfPoint[p] = p;
        }
        return g;
    }
    const ParameterInfo& first = *design.parameters.front();
    g.title = first.name;
    std::set<double> distinct;
    for (std::size_t p = 0; p < points && distinct.size() <= maxGroups; ++p)
        distinct.insert(design.value(p, 0));
    if (distinct.size() <= maxGroups) {
        const std::vector<double> values(distinct.begin(), distinct.end());
        for (double v : values) g.names.push_back(std::string(first.name) + "=" + format_value(v));
        for (std::size_t p = 0; p < points; ++p)
            g.groupOfPoint[p] = static_cast<std::size_t>(
                std::lower_bound(values.begin(), values.end(), design.value(p, 0)) -
                values.begin());
        return g;
    }
    double lo = design.value(0, 0), hi = lo;
    for (std::size_t p = 0; p < points; ++p) {
        lo = std::min(lo, design.value(p, 0));
        hi = std::max(hi, design.value(p, 0));
    }
    const double width = (hi - lo) / static_cast<double>(maxGroups);
    for (std::size_t i = 0; i < maxGroups; ++i) {
        const double a = lo + width * static_cast<double>(i);
        const double b = i + 1 == maxGroups ? hi : lo + width * static_cast<double>(i + 1);
        char name[96];
        std::snprintf(name, sizeof name, "%s %.4g..%.4g", first.name, a, b);
        g.names.push_back(name);
    }
    for (std::size_t p = 0; p < points; ++p) {
        const double u = (design.value(p, 0) - lo) / width;
        g.groupOfPoint[p] = std::min(maxGroups - 1, static_cast<std::size_t>(std::max(0.0, u)));
    }
    return g;
}

bool wants_design(const DesignRequest& request) {
    return !request.vary.empty() || !request.file.empty() || !request.sample.empty();
}

std::string make_design(const DesignRequest& request, const ModelParameters& base,
                        std::size_t maxPoints, Design& design) {
    std::vector<VaryOption> options;
    for (const std::string& text : request.vary) {
        VaryOption option;
        if (std::string why = parse_vary(text, option); !why.empty()) return "--vary: " + why;
        options.push_back(option);
    }
    if (!request.file.empty()) {
        if (!options.empty() || !request.sample.empty())
            return "--design: a design file takes no --vary or --sample";
        if (std::string why = read_design_file(request.file, maxPoints, design); !why.empty())
            return "--design: " + why;
    } else if (!request.sample.empty()) {
        SampleOption sample;
        if (std::string why = parse_sample(request.sample, sample); !why.empty())
            return "--sample: " + why;
        if (std::string why = sample_design(sample, options, request.sampleSeed, maxPoints, design);
            !why.empty())
            return "--sample: " + why;
        // Sobol points, and Saltelli's made of them, are the same for every seed.
        if (sample.method == SampleMethod::Lhs || sample.method == SampleMethod::Morris)
            design.description += ", sample seed " + std::to_string(request.sampleSeed);
    } else if (std::string why = factorial_design(options, maxPoints, design); !why.empty()) {
        return "--vary: " + why;
    }
    if (std::string why = check_design(design, base); !why.empty()) return why;
    return {};
}

double design_memory(std::size_t points, std::size_t runs, std::size_t sampleCount) {
    const double perRun = sizeof(SweepRun) + sizeof(RunFigures) +
                          static_cast<double>(sampleCount) * sizeof(VehicleTally);
    const double perPoint = sizeof(ModelParameters) + 2 * sizeof(double) * 8 + 64;
    return static_cast<double>(runs) * perRun + static_cast<double>(points) * perPoint;
}

std::string design_header_line(const Design& design, std::size_t replicates) {
    return "# design: " + design.description + "; " + std::to_string(design.point_count()) +
           (design.point_count() == 1 ? " point x " : " points x ") + std::to_string(replicates) +
           (replicates == 1 ? " replicate\n" : " replicates\n");
}
