#include "experiments/planning/design.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>

#include "experiments/planning/design_text.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/records/run_figures.h"

namespace design_text {

// Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string.
std::string quoted(std::string_view s) {
    return quote_input(s);
}

// A value of the parameter as the user typed it, checked against its range and kind.
std::string parse_value(const ParameterInfo& info, std::string_view text, double& value) {
    if (!parse_decimal(text, value))
        return std::string(info.name) + ": " + quoted(trim(text)) + " is not a decimal number";
    if (const ParameterCheck c = check_parameter(info, value); !c.ok()) return c.text;
    return {};
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

}  // namespace design_text

namespace {

using design_text::parse_value;
using design_text::quoted;
using design_text::split_cells;

bool parse_count(std::string_view s, std::size_t& value) {
    s = trim(s);
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value);
    return !s.empty() && ec == std::errc() && ptr == end;
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

std::size_t design_points_within(double maxBytes, std::size_t replicates, std::size_t sampleCount) {
    const double perPoint = design_memory(1, std::max<std::size_t>(replicates, 1), sampleCount);
    const double points = std::floor(maxBytes / perPoint);
    return points >= 1e18 ? std::size_t(1e18) : static_cast<std::size_t>(points);
}

std::string design_header_line(const Design& design, std::size_t replicates) {
    return "# design: " + design.description + "; " + std::to_string(design.point_count()) +
           (design.point_count() == 1 ? " point x " : " points x ") + std::to_string(replicates) +
           (replicates == 1 ? " replicate\n" : " replicates\n");
}
