#include "experiments/sweep.h"

#include <omp.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>

#include "experiments/households.h"
#include "experiments/parameter_text.h"

namespace {

// Without leading and trailing spaces (lists on the command line).
std::string_view trim_spaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// A whole integer token, or false.
bool parse_int(std::string_view s, std::int64_t& value) {
    s = trim_spaces(s);
    if (s.empty()) return false;
    if (s.front() == '+') s.remove_prefix(1);
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string.
std::string quoted(std::string_view s) {
    std::string q(1, '"');
    q.append(s);
    q += '"';
    return q;
}

void append_count(std::string& out, std::int64_t value) {
    char buffer[24];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, ptr);
}

// The shortest text that reads back to the same double.
void append_real(std::string& out, double value) {
    char buffer[32];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, ptr);
}

void append_step(std::string& out, const SweepScenario& s) {
    if (s.step) append_count(out, *s.step);
}

void append_run_key(std::string& out, const SweepRun& run) {
    append_count(out, run.scenario.seed);
    out += ',';
    append_step(out, run.scenario);
    out += ',';
    out += error_spread_text(run.errorSpread);
    out += ',';
}

// A design run's key: point,replicate,seed,step,error, then the varied values.
void append_design_key(std::string& out, const SweepPlan& plan, const SweepRun& run) {
    const ModelParameters& p = plan.points[run.point];
    append_count(out, run.point);
    out += ',';
    append_count(out, run.replicate);
    out += ',';
    append_count(out, run.scenario.seed);
    out += ',';
    append_step(out, run.scenario);
    out += ',';
    out += error_spread_text(p.errorSpread);
    out += ',';
    for (const ParameterInfo* info : plan.varied) {
        out += format_value(p.*info->field);
        out += ',';
    }
}

void append_plan_key(std::string& out, const SweepPlan& plan, const SweepRun& run) {
    if (plan.points.empty())
        append_run_key(out, run);
    else
        append_design_key(out, plan, run);
}

std::string design_columns(const SweepPlan& plan) {
    std::string columns = "point,replicate,seed,step,error,";
    for (const ParameterInfo* info : plan.varied) {
        columns += info->name;
        columns += ',';
    }
    return columns;
}

void append_tally(std::string& out, const VehicleTally& t) {
    for (std::int32_t n : {t.notEvacuated, t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas}) {
        out += ',';
        append_count(out, n);
    }
}

}  // namespace

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
            if (!parse_int(item, first)) return quoted(item) + " is not an integer";
            last = first;
        } else {
            if (!parse_int(item.substr(0, dots), first) || !parse_int(item.substr(dots + 2), last))
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

ShardRange shard_range(std::size_t runCount, long long index, long long count) {
    // runs * index needs up to 84 bits for a sweep's million runs and the
    // largest I and N, so the products are formed in 128 bits.
    __extension__ using Wide = unsigned __int128;
    const auto n = static_cast<Wide>(count);
    const auto i = static_cast<Wide>(index);
    const auto runs = static_cast<Wide>(runCount);
    return {static_cast<std::size_t>(runs * (i - 1) / n), static_cast<std::size_t>(runs * i / n)};
}

std::string parse_shard(std::string_view text, long long& index, long long& count) {
    const std::size_t slash = text.find('/');
    std::int64_t i = 0;
    std::int64_t n = 0;
    if (slash == std::string_view::npos || !parse_int(text.substr(0, slash), i) ||
        !parse_int(text.substr(slash + 1), n))
        return quoted(text) + " is not I/N";
    if (n < 1 || i < 1 || i > n) return quoted(text) + ": need 1 <= I <= N";
    index = i;
    count = n;
    return {};
}

std::vector<long long> sample_ticks(const SweepPlan& plan) {
    std::vector<long long> ticks;
    for (long long t = 0; t <= plan.ticks; t += plan.every) ticks.push_back(t);
    if (ticks.back() != plan.ticks) ticks.push_back(plan.ticks);
    return ticks;
}

RunResult simulate_run(Simulation& sim, const SweepRun& run, const SweepPlan& plan,
                       const std::vector<long long>& ticks, RunListener* listener) {
    build_scenario(sim, {run.scenario.seed, run_parameters(plan, run), plan.startup});
    const std::int64_t cars = sim.vehicles.vehicleCount;
    RunResult result;
    result.samples.reserve(ticks.size());
    RunFigures& f = result.figures;
    std::size_t nextSample = 0;
    auto observer = std::make_unique<RunObserver>();

    for (long long tick = 0;; ++tick) {
        const VehicleTally t = current_tally(sim.vehicles);
        if (tick == 0)
            observer->start(sim, t);
        else
            observer->after_tick(sim, tick, t);
        if (listener != nullptr) listener->observe(sim, tick);
        if (!f.tickHalf && t.evacuated * 100LL >= cars * EVACUATED_HALF_PERCENT) f.tickHalf = tick;
        if (!f.tickMost && t.evacuated * 100LL >= cars * EVACUATED_MOST_PERCENT) f.tickMost = tick;
        if (tick == 0 || t.enRoute > f.maxEnRoute) {
            f.maxEnRoute = t.enRoute;
            f.maxEnRouteTick = tick;
        }
        if (nextSample < ticks.size() && ticks[nextSample] == tick) {
            result.samples.push_back(t);
            ++nextSample;
        }
        if (tick == plan.ticks) {
            f.final = t;
            f.observed = observer->observations(sim);
            break;
        }
        sim_tick(sim);
    }
    return result;
}

namespace {

void append_curve_rows_with_key(std::string& out, const std::string& key,
                                const std::vector<long long>& ticks,
                                const std::vector<VehicleTally>& samples) {
    for (std::size_t i = 0; i < samples.size() && i < ticks.size(); ++i) {
        out += key;
        append_count(out, ticks[i]);
        append_tally(out, samples[i]);
        out += '\n';
    }
}

void append_summary_after_key(std::string& out, const RunFigures& f) {
    out.pop_back();  // the key's trailing comma; the tally brings its own
    append_tally(out, f.final);
    out += ',';
    if (f.tickHalf) append_count(out, *f.tickHalf);
    out += ',';
    if (f.tickMost) append_count(out, *f.tickMost);
    out += ',';
    append_count(out, f.maxEnRoute);
    out += ',';
    append_count(out, f.maxEnRouteTick);
    const RunObservations& o = f.observed;
    out += ',';
    if (o.settledTick) append_count(out, *o.settledTick);
    out += ',';
    if (o.lastArrivalTick) append_count(out, *o.lastArrivalTick);
    out += ',';
    if (o.trips > 0) append_real(out, o.tripMean);
    out += ',';
    if (o.trips > 0) append_real(out, o.tripP90);
    out += ',';
    append_count(out, o.householdsNeverLeft);
    out += '\n';
}

}  // namespace

void append_curve_rows(std::string& out, const SweepRun& run, const std::vector<long long>& ticks,
                       const std::vector<VehicleTally>& samples) {
    std::string key;
    append_run_key(key, run);
    append_curve_rows_with_key(out, key, ticks, samples);
}

void append_curve_rows(std::string& out, const SweepPlan& plan, const SweepRun& run,
                       const std::vector<long long>& ticks,
                       const std::vector<VehicleTally>& samples) {
    std::string key;
    append_plan_key(key, plan, run);
    append_curve_rows_with_key(out, key, ticks, samples);
}

void append_summary_row(std::string& out, const SweepRun& run, const RunFigures& f) {
    append_run_key(out, run);
    append_summary_after_key(out, f);
}

void append_summary_row(std::string& out, const SweepPlan& plan, const SweepRun& run,
                        const RunFigures& f) {
    append_plan_key(out, plan, run);
    append_summary_after_key(out, f);
}

std::string plan_run_key(const SweepPlan& plan, const SweepRun& run) {
    std::string key;
    append_plan_key(key, plan, run);
    return key;
}

std::string key_columns(const SweepPlan& plan) {
    return plan.points.empty() ? std::string("seed,step,error,") : design_columns(plan);
}

std::string curve_columns(const SweepPlan& plan) {
    if (plan.points.empty()) return CURVES_COLUMNS;
    const std::string plain = CURVES_COLUMNS;
    return design_columns(plan) + plain.substr(plain.find("tick"));
}

std::string summary_columns(const SweepPlan& plan) {
    if (plan.points.empty()) return SUMMARY_COLUMNS;
    const std::string plain = SUMMARY_COLUMNS;
    return design_columns(plan) + plain.substr(plain.find("not_evacuated"));
}

ModelParameters run_parameters(const SweepPlan& plan, const SweepRun& run) {
    if (!plan.points.empty()) return plan.points[run.point];
    ModelParameters parameters = plan.parameters;
    parameters.errorSpread = run.errorSpread;
    return parameters;
}

void run_sweep(const SweepPlan& plan, int threads, const DeliverFn& deliver) {
    const std::vector<long long> ticks = sample_ticks(plan);
    const auto runCount = static_cast<long long>(plan.runs.size());
    std::map<std::size_t, FinishedRun> waiting;  // finished ahead of their turn
    std::size_t nextToDeliver = 0;

    const int teamSize = threads > 0 ? threads : omp_get_max_threads();
#pragma omp parallel num_threads(teamSize)
    {
        // One simulation per thread, reused from run to run (each run rebuilds it).
        auto sim = std::make_unique<Simulation>();
        // Dynamic, one run at a time: runs are then taken in order, and finish
        // close to it.
#pragma omp for schedule(dynamic, 1)
        for (long long i = 0; i < runCount; ++i) {
            const auto index = static_cast<std::size_t>(i);
            const SweepRun& run = plan.runs[index];
            FinishedRun done;
            done.index = index;
            if (plan.householdColumns.empty()) {
                done.result = simulate_run(*sim, run, plan, ticks);
            } else {
                HouseholdRecorder recorder;
                done.result = simulate_run(*sim, run, plan, ticks, &recorder);
                recorder.append_rows(done.householdRows, plan_run_key(plan, run),
                                     plan.householdColumns);
            }
            append_curve_rows(done.curveRows, plan, run, ticks, done.result.samples);
            append_summary_row(done.summaryRow, plan, run, done.result.figures);
#pragma omp critical(marovel_sweep_deliver)
            {
                waiting.emplace(index, std::move(done));
                for (auto it = waiting.begin(); it != waiting.end() && it->first == nextToDeliver;
                     it = waiting.erase(it)) {
                    deliver(it->second);
                    ++nextToDeliver;
                }
            }
        }
    }
}
