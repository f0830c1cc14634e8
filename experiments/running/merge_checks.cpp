// Whether shards are one sweep's complete rows: their headers, each run's rows
// in order and complete, the counts adding up to the town's cars.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "experiments/planning/design.h"
#include "experiments/planning/parameter_text.h"
#include "experiments/running/merge.h"
#include "experiments/running/shards.h"
#include "sim/scenario.h"

std::size_t town_cars(const Town* town, double carsPerHouse) {
    const Town& t = town != nullptr ? *town : builtin_town();
    const auto perHouse = static_cast<std::size_t>(carsPerHouse);
    std::size_t cars = 0;
    for (const House& h : t.houses)
        cars += h.cars >= 0 ? static_cast<std::size_t>(h.cars) : perHouse;
    return cars;
}

namespace {

// The comment lines that say which sweep a file belongs to: all but the first
// (what the file holds) and the shard line.
std::string sweep_lines(const SweepFileText& file) {
    std::string lines;
    for (std::size_t i = 1; i < file.comments.size(); ++i)
        if (!file.comments[i].starts_with("# shard ")) lines += file.comments[i] + '\n';
    return lines;
}

// The first `count` fields of a row, with their commas.
std::string_view leading_fields(std::string_view line, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        at = line.find(',', at);
        if (at == std::string_view::npos) return line;
        ++at;
    }
    return line.substr(0, at);
}

std::string sum_text(const VehicleTally& t) {
    return std::to_string(static_cast<long long>(t.notEvacuated) + t.evacuated + t.gaveUp +
                          t.enRoute + t.towed + t.outOfGas);
}

}  // namespace

std::string check_sweep_rows(const std::map<std::string, std::vector<ShardFile>>& byKind) {
    if (byKind.empty()) return {};
    const ShardFile& reference = byKind.begin()->second.front();
    const std::string sweep = sweep_lines(reference.file);
    for (const auto& [kind, shards] : byKind)
        if (const std::string lines = sweep_lines(shards.front().file); lines != sweep)
            return shards.front().path + ": not the same sweep as " + reference.path + " (\"" +
                   first_difference(lines, sweep) + "\")";

    // The sweep's shape: R runs of T ticks, in groups of G (the error levels
    // of a scenario, or the replicates of a point).
    std::size_t runs = 0, outer = 0, group = 0;
    long long ticks = 0;
    char outerName[16] = {};
    bool shaped = false;
    for (const std::string& line : reference.file.comments)
        if (line.starts_with("# sweep: "))
            shaped = std::sscanf(line.c_str(), "# sweep: %zu runs of %lld ticks, %zu %15s x %zu",
                                 &runs, &ticks, &outer, outerName, &group) == 5 &&
                     group > 0 && ticks >= 0;
    if (!shaped) return reference.path + ": its header does not say the sweep's shape";
    // A sweep comparing plans runs each scenario and level under every plan.
    for (const std::string& line : reference.file.comments)
        if (const std::size_t x = line.find(" error levels x "); line.starts_with("# sweep: ") &&
                                                                 x != std::string::npos) {
            std::size_t plans = 0;
            if (std::sscanf(line.c_str() + x, " error levels x %zu plans", &plans) != 1 ||
                plans == 0)
                return reference.path + ": its header does not say the sweep's shape";
            group *= plans;
        }
    const bool design = std::string_view(outerName) == "points";
    ModelParameters base;
    for (const std::string& line : reference.file.comments)
        if (line.starts_with("# parameters: ")) {
            std::string_view list = std::string_view(line).substr(14);
            while (!list.empty()) {
                const std::size_t space = list.find(' ');
                if (std::string why = apply_assignment(base, list.substr(0, space)); !why.empty())
                    return reference.path + ": the parameters line: " + why;
                if (space == std::string_view::npos) break;
                list.remove_prefix(space + 1);
            }
        }

    // A sweep on a town of its own names it, but merge does not have it: a
    // run's cars are then what its first rows count, and every kind's rows of
    // the run must agree with them.
    bool ownTown = false;
    for (const std::string& line : reference.file.comments)
        ownTown = ownTown || line.starts_with("# town: ");
    std::map<std::string, std::size_t, std::less<>> carsOfKey;

    std::vector<std::string> keys;  // every run's key, as the first kind gives them
    std::string keysFrom;
    for (const auto& byKindEntry : byKind) {
        // Named, not bound: the row checks below capture them.
        const std::string& kind = byKindEntry.first;
        const std::vector<ShardFile>& shards = byKindEntry.second;
        const std::string_view columns = shards.front().file.columns;
        // The run's key: seed, step, error, or a design's point, replicate,
        // seed, step, error, spread and varied values.
        const int errorAt = column_index(columns, "error");
        if (errorAt < 0) return shards.front().path + ": no error column";
        const int seedAt = column_index(columns, "seed"), stepAt = column_index(columns, "step");
        const int planAt = column_index(columns, "plan");
        int keyFields = errorAt + 1;
        if (design && field_at(columns, keyFields) == "spread") ++keyFields;
        int carsAt = -1;
        while (design) {
            const std::string_view name = field_at(columns, keyFields);
            if (name.empty() || find_parameter(name.data(), name.size()) == nullptr) break;
            if (name == "cars_per_house") carsAt = keyFields;
            ++keyFields;
        }
        const bool summary = kind == "run summary";
        const bool curves = kind == "evacuation curves";
        std::vector<long long> sampleTicks;
        if (ticks == 0) sampleTicks = {0};
        std::set<std::string, std::less<>> seen;
        std::size_t run = 0;        // runs begun
        std::size_t rowsOfRun = 0;  // rows of the current run so far
        std::size_t carsOfRun = 0;
        bool open = false;  // a run begun in this shard
        std::string key;
        // The current run's rows are complete: one summary row, a curve row per
        // sample tick, a households row per car.
        const auto complete = [&]() -> std::string {
            if (!open) return {};
            if (ownTown && !summary && !curves && carsOfRun == 0) {
                carsOfKey[key] = rowsOfRun;  // the households rows are the first to count them
                return {};
            }
            const std::size_t want = summary  ? 1
                                     : curves ? std::max<std::size_t>(sampleTicks.size(), 2)
                                              : carsOfRun;
            if (rowsOfRun == want) return {};
            return "run " + key + " has " + std::to_string(rowsOfRun) + " rows, not " +
                   std::to_string(want) + (curves ? " (one per sample tick)" : " (one per car)");
        };
        for (const ShardFile& s : shards) {
            const ShardRange range = shard_range(runs, s.tag.index, s.tag.count);
            std::size_t line = s.file.comments.size() + 1;
            const auto at = [&] { return s.path + ":" + std::to_string(line) + ": "; };
            std::string error;
            for_each_line(s.file.rows, [&](std::string_view row) {
                ++line;
                if (!error.empty()) return;
                const std::string_view k = leading_fields(row, static_cast<std::size_t>(keyFields));
                if (summary || k != key) {
                    if (const std::string why = complete(); !why.empty()) {
                        error = at() + why;
                        return;
                    }
                    if (!seen.insert(std::string(k)).second) {
                        error = at() + "a second " + (summary ? "row" : "set of rows") +
                                " of run " + std::string(k);
                        return;
                    }
                    const std::size_t i = run++;
                    key = std::string(k);
                    rowsOfRun = 0;
                    open = true;
                    if (i < range.first || i >= range.end) {
                        error = at() + "run " + key + " is not one of shard " +
                                std::to_string(s.tag.index) + "/" + std::to_string(s.tag.count) +
                                "'s runs";
                        return;
                    }
                    // Its place in the sweep's order: a plain sweep's run has the
                    // scenario of the first run of its group and the level of
                    // the run in its place in the first group; a design's has
                    // its point and replicate, and the error and values of
                    // its point's first run.
                    const std::size_t g = i % group;
                    if (kind == byKind.begin()->first) keys.push_back(key);
                    const std::string_view first = keys[i - g], level = keys[g];
                    bool inOrder = true;
                    if (design) {
                        inOrder = field_at(k, 0) == std::to_string(i / group) &&
                                  field_at(k, 1) == std::to_string(g);
                        for (int f = errorAt; f < keyFields; ++f)
                            inOrder = inOrder && field_at(k, f) == field_at(first, f);
                    } else {
                        inOrder = field_at(k, seedAt) == field_at(first, seedAt) &&
                                  field_at(k, stepAt) == field_at(first, stepAt) &&
                                  field_at(k, errorAt) == field_at(level, errorAt) &&
                                  (planAt < 0 || field_at(k, planAt) == field_at(level, planAt));
                    }
                    if (!inOrder || keys[i] != key) {
                        error = at() + "run " + key + " is out of the sweep's order (" +
                                (keys[i] != key ? "run " + std::to_string(i + 1) + " of " +
                                                      keysFrom + " is " + keys[i]
                                                : "run " + std::to_string(i + 1) + " of " +
                                                      std::to_string(runs)) +
                                ")";
                        return;
                    }
                    double perHouse = base.carsPerHouse;
                    if (carsAt >= 0) {
                        const std::string_view text = field_at(k, carsAt);
                        std::from_chars(text.data(), text.data() + text.size(), perHouse);
                    }
                    if (!ownTown) {
                        carsOfRun = town_cars(nullptr, perHouse);
                    } else {
                        const auto known = carsOfKey.find(key);
                        carsOfRun = known == carsOfKey.end() ? 0 : known->second;
                    }
                }
                VehicleTally tally{};
                bool read = true;
                if (summary) {
                    RunFigures figures;
                    read = parse_summary_figures(columns, row, figures);
                    tally = figures.final;
                } else if (curves) {
                    long long tick = 0;
                    read = parse_curve_sample(columns, row, tick, tally);
                    if (read && rowsOfRun == 1 && sampleTicks.empty() && tick > 0) {
                        // The first run's second row gives the interval.
                        SweepPlan plan;
                        plan.ticks = ticks;
                        plan.every = tick;
                        sampleTicks = sample_ticks(plan);
                    }
                    const long long want = rowsOfRun == 0                   ? 0
                                           : rowsOfRun < sampleTicks.size() ? sampleTicks[rowsOfRun]
                                                                            : -1;
                    if (read && tick != want) {
                        error = at() + "tick " + std::to_string(tick) + " where run " + key +
                                (want < 0 ? " has no more samples"
                                          : " is sampled at tick " + std::to_string(want)) +
                                " (a row missing or out of order)";
                        return;
                    }
                }
                if (!read && !(kind == "households")) {
                    error = at() + "the row could not be read";
                    return;
                }
                if (ownTown && kind != "households" && carsOfRun == 0 && read) {
                    carsOfRun = static_cast<std::size_t>(tally_total(tally));
                    carsOfKey[key] = carsOfRun;
                }
                if (kind != "households" && sum_text(tally) != std::to_string(carsOfRun)) {
                    error = at() + "the six counts add up to " + sum_text(tally) +
                            ", not the town's " + std::to_string(carsOfRun) + " cars";
                    return;
                }
                ++rowsOfRun;
            });
            if (!error.empty()) return error;
            if (const std::string why = complete(); !why.empty())
                return s.path + ":" + std::to_string(line) + ": " + why;
            if (run != range.end)
                return s.path + ": holds " + std::to_string(run - range.first) + " runs, shard " +
                       std::to_string(s.tag.index) + "/" + std::to_string(s.tag.count) +
                       " of this sweep has " + std::to_string(range.end - range.first);
            open = false;  // the next shard starts with a new run
            key.clear();
        }
        if (keysFrom.empty()) keysFrom = shards.front().path;
    }
    return {};
}
