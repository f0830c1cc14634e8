#include "experiments/planning/run_plan.h"

#include <algorithm>
#include <charconv>

#include "experiments/planning/parameter_text.h"

namespace {

// Without leading and trailing spaces (lists on the command line).
std::string_view trim_spaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string.
std::string quoted(std::string_view s) {
    return quote_input(s);
}

}  // namespace

bool parse_integer(std::string_view s, std::int64_t& value) {
    s = trim_spaces(s);
    if (s.empty()) return false;
    if (s.front() == '+') s.remove_prefix(1);
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value);
    return ec == std::errc() && ptr == end;
}

std::optional<std::int64_t> step_of_seed(std::int32_t seed) {
    const std::int64_t offset = static_cast<std::int64_t>(seed) - 1;
    if (offset % SCENARIO_STEP != 0) return std::nullopt;
    return offset / SCENARIO_STEP;
}

std::string parse_int_list(std::string_view text, std::int64_t lo, std::int64_t hi,
                           std::size_t maxCount, std::vector<std::int64_t>& values) {
    values.clear();
    if (trim_spaces(text).empty()) return "empty list";
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        const std::string_view item = trim_spaces(text.substr(start, comma - start));
        start = comma + 1;
        if (item.empty()) return "empty item in " + quoted(text);

        std::int64_t first = 0;
        std::int64_t last = 0;
        const std::size_t dots = item.find("..");
        if (dots == std::string_view::npos) {
            if (!parse_integer(item, first)) return quoted(item) + " is not an integer";
            last = first;
        } else {
            if (!parse_integer(item.substr(0, dots), first) ||
                !parse_integer(item.substr(dots + 2), last))
                return quoted(item) + " is not a range FIRST..LAST of integers";
            if (last < first) return "reversed range " + quoted(item);
        }
        if (first < lo || last > hi)
            return quoted(item) + " lies outside " + std::to_string(lo) + ".." + std::to_string(hi);
        // Counted before it is expanded, so a huge range is refused without
        // being built.
        if (static_cast<std::uint64_t>(last - first) >= maxCount - values.size())
            return "more than " + std::to_string(maxCount) + " values";
        for (std::int64_t v = first; v <= last; ++v) values.push_back(v);
        if (comma == text.size()) break;
    }
    return {};
}

std::optional<std::int64_t> first_repeated(const std::vector<std::int64_t>& values) {
    std::vector<std::pair<std::int64_t, std::size_t>> sorted;  // value, position
    sorted.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) sorted.emplace_back(values[i], i);
    std::sort(sorted.begin(), sorted.end());
    // Of the values that come again, the one whose second mention comes first.
    std::optional<std::size_t> earliest;
    for (std::size_t k = 1; k < sorted.size(); ++k)
        if (sorted[k].first == sorted[k - 1].first && (!earliest || sorted[k].second < *earliest))
            earliest = sorted[k].second;
    if (!earliest) return std::nullopt;
    return values[*earliest];
}

std::string parse_error_levels(std::string_view text, std::vector<float>& levels) {
    levels.clear();
    if (trim_spaces(text).empty()) return "empty list";
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        const std::string_view name = trim_spaces(text.substr(start, comma - start));
        double spread = 0.0;
        if (const std::string why = parse_error_spread(name, spread); !why.empty()) return why;
        const auto level = static_cast<float>(spread);
        if (std::find(levels.begin(), levels.end(), level) != levels.end())
            return "error level " + quoted(name) + " given twice";
        levels.push_back(level);
        if (comma == text.size()) break;
        start = comma + 1;
    }
    return {};
}

std::vector<SweepRun> interleave_runs(const std::vector<SweepScenario>& scenarios,
                                      const std::vector<float>& levels) {
    std::vector<SweepRun> runs;
    runs.reserve(scenarios.size() * levels.size());
    for (const SweepScenario& s : scenarios)
        for (float level : levels) runs.push_back({s, level});
    return runs;
}

std::vector<SweepRun> under_each_plan(const std::vector<SweepRun>& runs, std::size_t plans) {
    std::vector<SweepRun> out;
    out.reserve(runs.size() * plans);
    for (const SweepRun& run : runs)
        for (std::size_t p = 0; p < plans; ++p) {
            out.push_back(run);
            out.back().variant = static_cast<std::uint32_t>(p);
        }
    return out;
}

std::vector<long long> sample_ticks(const SweepPlan& plan) {
    std::vector<long long> ticks;
    for (long long t = 0; t <= plan.ticks; t += plan.every) ticks.push_back(t);
    if (ticks.back() != plan.ticks) ticks.push_back(plan.ticks);
    return ticks;
}

ModelParameters run_parameters(const SweepPlan& plan, const SweepRun& run) {
    if (!plan.points.empty()) return plan.points[run.point];
    ModelParameters parameters = plan.parameters;
    parameters.errorSpread = run.errorSpread;
    return parameters;
}
