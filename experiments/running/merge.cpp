#include "experiments/running/merge.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "experiments/planning/design.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/running/shards.h"
#include "sim/scenario.h"

namespace {

constexpr std::string_view SWEEP_PREFIX = "# sweep: ";

// A sampled design as the sweep made it, from the description in its
// "# design: METHOD over NAME=LO..HI, ...[, sample seed S]; P points x R
// replicates" line and the base record of "# parameters: NAME=VALUE ...".
// An empty design for any other (a factorial, a file).
std::string rebuild_sampled_design(const std::vector<std::string>& comments, Design& design) {
    design = {};
    std::string_view line, parameters;
    for (const std::string& c : comments) {
        if (c.starts_with("# design: ")) line = std::string_view(c).substr(10);
        if (c.starts_with("# parameters: ")) parameters = std::string_view(c).substr(14);
    }
    const std::size_t over = line.find(" over ");
    const std::size_t end = line.rfind("; ");
    if (over == std::string_view::npos || end == std::string_view::npos || end < over) return {};
    DesignRequest request;
    request.sample = line.substr(0, over);
    std::string_view list = line.substr(over + 6, end - over - 6);
    while (!list.empty()) {
        const std::size_t comma = list.find(", ");
        const std::string_view item = list.substr(0, comma);
        if (item.starts_with("sample seed ")) {
            const std::string_view seed = item.substr(12);
            if (std::from_chars(seed.data(), seed.data() + seed.size(), request.sampleSeed).ec !=
                std::errc())
                return "the design line's sample seed could not be read";
        } else {
            request.vary.emplace_back(item);
        }
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 2);
    }
    ModelParameters base;
    while (!parameters.empty()) {
        const std::size_t space = parameters.find(' ');
        if (std::string why = apply_assignment(base, parameters.substr(0, space)); !why.empty())
            return "the parameters line: " + why;
        if (space == std::string_view::npos) break;
        parameters.remove_prefix(space + 1);
    }
    if (std::string why = make_design(request, base, std::size_t(1) << 30, design); !why.empty())
        return "the design line could not be rebuilt: " + why;
    return {};
}

}  // namespace

std::string first_difference(const std::string& a, const std::string& b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    const std::size_t start = a.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t from = start == std::string::npos || at == 0 ? 0 : start + 1;
    return a.substr(from, a.find('\n', from) - from);
}


std::string read_shard_file(const std::string& path, ShardFile& shard) {
    shard = {};
    shard.path = path;
    std::string error;
    if (!read_whole_file(path, shard.text, error)) return error;
    if (!split_sweep_file(shard.text, shard.file) ||
        (shard.kind = file_kind(shard.file.comments)).empty())
        return path +
               ": no header naming a sweep's file (shards to merge must keep their header: "
               "leave out --no-header)";
    if (!shard.text.empty() && shard.text.back() != '\n')
        return path + ": the last line is cut short";
    shard.tag = shard_tag(shard.file.comments).value_or(ShardTag{1, 1});
    return {};
}

bool sweep_run_count(const std::vector<std::string>& comments, std::size_t& runs) {
    for (const std::string& line : comments) {
        if (!std::string_view(line).starts_with(SWEEP_PREFIX)) continue;
        const std::string_view rest = std::string_view(line).substr(SWEEP_PREFIX.size());
        const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), runs);
        return ec == std::errc() && ptr != rest.data();
    }
    return false;
}

std::size_t runs_in_rows(std::string_view rows) {
    std::size_t runs = 0;
    std::string_view key;
    for_each_line(rows, [&](std::string_view line) {
        const std::string_view k = row_key(line);
        if (runs == 0 || k != key) ++runs;
        key = k;
    });
    return runs;
}

std::string merge_shards(std::vector<ShardFile>& shards, std::string& merged) {
    merged.clear();
    if (shards.empty()) return "no files to merge";
    std::sort(shards.begin(), shards.end(),
              [](const ShardFile& a, const ShardFile& b) { return a.tag.index < b.tag.index; });
    const ShardFile& first = shards.front();
    const std::string header = header_without_shard(first.file);
    std::size_t totalRuns = 0;
    if (!sweep_run_count(first.file.comments, totalRuns))
        return first.path + ": its header does not say how many runs the sweep has";
    const long long count = first.tag.count;
    for (std::size_t i = 0; i < shards.size(); ++i) {
        const ShardFile& s = shards[i];
        const std::string h = header_without_shard(s.file);
        if (h != header)
            return s.path + ": not the same sweep as " + first.path + " (\"" +
                   first_difference(h, header) + "\")";
        if (s.tag.count != count)
            return s.path + ": shard " + std::to_string(s.tag.index) + "/" +
                   std::to_string(s.tag.count) + " of a sweep split in " +
                   std::to_string(s.tag.count) + ", not " + std::to_string(count) + " as " +
                   first.path;
        if (i > 0 && shards[i - 1].tag.index == s.tag.index)
            return s.path + ": shard " + std::to_string(s.tag.index) + "/" + std::to_string(count) +
                   " given twice (also " + shards[i - 1].path + ")";
    }
    for (long long index = 1, at = 0; index <= count; ++index, ++at) {
        if (static_cast<std::size_t>(at) >= shards.size() ||
            shards[static_cast<std::size_t>(at)].tag.index != index)
            return "shard " + std::to_string(index) + "/" + std::to_string(count) + " of " +
                   first.path + "'s sweep is missing";
        const ShardFile& s = shards[static_cast<std::size_t>(at)];
        const ShardRange range = shard_range(totalRuns, index, count);
        const std::size_t runs = runs_in_rows(s.file.rows);
        if (runs != range.end - range.first)
            return s.path + ": holds " + std::to_string(runs) + " runs, shard " +
                   std::to_string(index) + "/" + std::to_string(count) + " of this sweep has " +
                   std::to_string(range.end - range.first) + " (cut short?)";
    }
    merged = header;
    for (const ShardFile& s : shards) merged += s.file.rows;
    return {};
}

std::string design_results(const DesignFiles& files, std::size_t maxGroups,
                           DesignResults& results) {
    const std::string_view columns = files.summaryColumns;
    // The varied parameters: the columns between "error" (and the spread
    // beside it) and the figures.
    Design design;
    int first = column_index(columns, "error") + 1;
    if (first > 0 && field_at(columns, first) == "spread") ++first;
    const int end = column_index(columns, "not_evacuated");
    if (column_index(columns, "point") != 0 || first <= 0 || end < first)
        return "not a design's summary (no point, error or not_evacuated column)";
    for (int i = first; i < end; ++i) {
        const std::string_view name = field_at(columns, i);
        const ParameterInfo* info = find_parameter(name.data(), name.size());
        if (info == nullptr) return "column " + std::string(name) + " is not a parameter";
        design.parameters.push_back(info);
    }
    const std::size_t k = design.parameters.size();
    struct Run {
        std::string key;  // its rows' first three fields
        std::size_t point;
        RunResult result;
    };
    std::vector<Run> runs;
    std::vector<bool> seen;
    std::string error;
    for_each_line(files.summaryRows, [&](std::string_view line) {
        if (!error.empty()) return;
        const std::string_view pointText = field_at(line, 0);
        std::size_t point = 0;
        if (const auto [ptr, ec] =
                std::from_chars(pointText.data(), pointText.data() + pointText.size(), point);
            ec != std::errc() || ptr != pointText.data() + pointText.size() || point > (1u << 30)) {
            error = "a summary row's point could not be read";
            return;
        }
        if (point >= seen.size()) {
            seen.resize(point + 1, false);
            design.values.resize((point + 1) * k, 0.0);
        }
        for (std::size_t j = 0; j < k; ++j) {
            const std::string_view text = field_at(line, first + static_cast<int>(j));
            double v = 0.0;
            const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (ec != std::errc() || ptr != text.data() + text.size() ||
                (seen[point] && design.values[point * k + j] != v)) {
                error = "point " + std::to_string(point) + ": its values could not be read";
                return;
            }
            design.values[point * k + j] = v;
        }
        seen[point] = true;
        runs.push_back({std::string(row_key(line)), point, {}});
        if (!parse_summary_figures(columns, line, runs.back().result.figures))
            error = "a summary row could not be read";
    });
    if (!error.empty()) return error;
    if (const auto gap = std::find(seen.begin(), seen.end(), false); gap != seen.end())
        return "point " + std::to_string(gap - seen.begin()) + " has no runs";

    // The curves: each run's samples, its rows in the summary's run order.
    std::vector<long long> ticks;
    std::size_t at = 0;
    bool firstRun = true;
    std::string key;
    for_each_line(files.curveRows, [&](std::string_view line) {
        if (!error.empty()) return;
        if (key != row_key(line)) {
            if (!key.empty()) {
                ++at;
                firstRun = false;
            }
            key = std::string(row_key(line));
            if (at >= runs.size() || runs[at].key != key) {
                error = "the curves' run " + key + " is not the summary's run " +
                        std::to_string(at + 1);
                return;
            }
        }
        long long tick = 0;
        VehicleTally tally{};
        if (!parse_curve_sample(files.curveColumns, line, tick, tally)) {
            error = "a curve row could not be read";
            return;
        }
        if (firstRun) ticks.push_back(tick);
        runs[at].result.samples.push_back(tally);
    });
    if (!error.empty()) return error;
    const bool curves = !files.curveRows.empty();
    if (curves)
        for (const Run& run : runs)
            if (run.result.samples.size() != ticks.size())
                return "the curves do not hold every run of the summary";

    const PointGroups groups = group_points(design, maxGroups);
    results.table.emplace(groups.title, groups.names, ticks, curves);
    const std::vector<std::string> pairing = design_pairing(design, groups);
    for (const Run& r : runs) {
        const std::string_view seedText = field_at(r.key, 2);
        std::int64_t seed = 0;
        const bool read =
            std::from_chars(seedText.data(), seedText.data() + seedText.size(), seed).ec ==
            std::errc();
        results.table->add_to(groups.groupOfPoint[r.point], r.result,
                              read ? design_pair_key(pairing, r.point, seed) : std::string());
    }

    if (files.comments == nullptr) return {};
    Design sampled;
    if (std::string why = rebuild_sampled_design(*files.comments, sampled); !why.empty()) {
        results.noIndices = why;
        return {};
    }
    if (!can_analyse(sampled)) return {};
    if (sampled.parameters != design.parameters || sampled.values != design.values)
        return "the rows' points are not those of the design their header names";
    SensitivityReport report(sampled, files.figures);
    for (const Run& r : runs) {
        SweepRun run;
        run.point = static_cast<std::uint32_t>(r.point);
        report.add(run, r.result.figures);
    }
    results.analysis = report.analyse();
    results.sampled = std::move(sampled);
    return {};
}

long long sweep_ticks(const std::vector<std::string>& comments) {
    for (const std::string& line : comments) {
        std::size_t runs = 0;
        long long ticks = 0;
        if (line.starts_with(SWEEP_PREFIX) &&
            std::sscanf(line.c_str(), "# sweep: %zu runs of %lld ticks", &runs, &ticks) == 2)
            return ticks;
    }
    return 0;
}

namespace {

// A sweep that compared plans: a group per plan in the order they come, each
// run paired on its seed and error level, as the sweep paired them.
std::string plan_results(const DesignFiles& files, long long ticks, DesignResults& results) {
    std::vector<std::string> names;
    for_each_line(files.summaryRows, [&](std::string_view line) {
        const std::string name(field_at(line, 0));
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    });
    results.table.emplace("plan", names, std::vector<long long>{}, false);
    results.table->set_horizon(ticks);
    bool bad = false;
    for_each_line(files.summaryRows, [&](std::string_view line) {
        RunResult result;
        if (bad || !parse_summary_figures(files.summaryColumns, line, result.figures)) {
            bad = true;
            return;
        }
        const auto group = static_cast<std::size_t>(
            std::find(names.begin(), names.end(), field_at(line, 0)) - names.begin());
        const std::string seed(field_at(line, 1)), spread(field_at(line, 4));
        results.table->add_to(group, result, seed + "," + spread);
    });
    return bad ? "a summary row could not be read" : "";
}

}  // namespace

std::string summary_results(const DesignFiles& files, std::size_t maxGroups, long long ticks,
                            DesignResults& results) {
    results = {};
    if (files.comments != nullptr)
        if (const long long t = sweep_ticks(*files.comments); t > 0) ticks = t;
    if (files.summaryColumns.starts_with("point,")) {
        if (std::string why = design_results(files, maxGroups, results); !why.empty()) return why;
        results.table->set_horizon(ticks);
        return {};
    }
    if (files.summaryColumns.starts_with("plan,")) return plan_results(files, ticks, results);
    // The levels in the order the runs come (the sweep's own order: each
    // scenario under every level).
    std::vector<float> levels;
    for_each_line(files.summaryRows, [&](std::string_view line) {
        const std::optional<float> level = row_error_spread(line);
        if (level && std::find(levels.begin(), levels.end(), *level) == levels.end())
            levels.push_back(*level);
    });
    results.table.emplace(levels, std::vector<long long>{}, false);
    results.table->set_horizon(ticks);
    bool bad = false;
    for_each_line(files.summaryRows, [&](std::string_view line) {
        SweepRun run;
        RunResult result;
        const std::optional<float> level = row_error_spread(line);
        const std::string_view seed = field_at(line, 0);
        if (bad || !level || !parse_summary_figures(files.summaryColumns, line, result.figures) ||
            std::from_chars(seed.data(), seed.data() + seed.size(), run.scenario.seed).ec !=
                std::errc()) {
            bad = true;
            return;
        }
        run.errorSpread = *level;
        results.table->add(run, result);
    });
    if (bad) return "a summary row could not be read";
    return {};
}
