// marovel._sweep_rows: a sweep run by experiments/running/sweep.h on all cores, with
// the interpreter lock released, returning the rows of the command line's
// curve, summary and households files and a design's sensitivity indices.
#include <omp.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/sweep_command.h"  // the command line's limits, which these sweeps share
#include "experiments/planning/design.h"
#include "experiments/planning/sensitivity.h"
#include "experiments/records/households.h"
#include "experiments/running/merge.h"
#include "experiments/running/shards.h"
#include "experiments/running/sweep.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace marovel_python {

namespace {

// The strings of one str or of a list of them.
std::vector<std::string> strings(py::handle values) {
    if (py::isinstance<py::str>(values)) return {values.cast<std::string>()};
    std::vector<std::string> out;
    for (py::handle v : py::iter(values)) out.push_back(py::str(v).cast<std::string>());
    return out;
}

// A design from the Python arguments: vary (a "NAME=..." or a list of them),
// sample ("lhs:N", ...), sample_seed, a design file (a path) or a design's
// CSV text (from a DataFrame). Refused with the command line's messages, the
// options named as Python names them.
bool make_python_design(const py::dict& options, const ModelParameters& base, Design& design) {
    DesignRequest request;
    const auto given = [&](const char* key) {
        return options.contains(key) && !options[key].is_none();
    };
    if (given("vary")) request.vary = strings(options["vary"]);
    if (given("sample")) request.sample = options["sample"].cast<std::string>();
    if (given("sample_seed"))
        request.sampleSeed = static_cast<std::uint64_t>(
            whole_number(options["sample_seed"], "sample_seed", 0, INT64_MAX));
    if (given("design_file"))
        request.file =
            py::module_::import("os").attr("fspath")(options["design_file"]).cast<std::string>();
    if (given("design_text")) {
        if (!request.vary.empty() || !request.sample.empty())
            throw py::value_error("design: a design table takes no vary or sample");
        if (std::string why = parse_design_csv(options["design_text"].cast<std::string>(), "design",
                                               MAX_DESIGN_POINTS, design);
            !why.empty())
            throw py::value_error("design: " + why);
        if (std::string why = check_design(design, base); !why.empty()) throw py::value_error(why);
        return true;
    }
    if (!wants_design(request)) {
        if (given("sample_seed")) throw py::value_error("sample_seed: only with a design");
        return false;
    }
    std::string why = make_design(request, base, MAX_DESIGN_POINTS, design);
    if (!why.empty()) {
        // "--vary: ..." as "vary: ..."
        if (why.rfind("--", 0) == 0) why.erase(0, 2);
        throw py::value_error(why);
    }
    return true;
}

// Integers from "1..50,70" or from any iterable of whole numbers.
std::vector<std::int64_t> int_list(py::handle values, const char* what, std::int64_t lo,
                                   std::int64_t hi) {
    std::vector<std::int64_t> out;
    if (py::isinstance<py::str>(values)) {
        const std::string why =
            parse_int_list(values.cast<std::string>(), lo, hi, MAX_SCENARIOS, out);
        if (!why.empty()) throw py::value_error(std::string(what) + ": " + why);
        return out;
    }
    if (PyIndex_Check(values.ptr())) return {whole_number(values, what, lo, hi)};
    for (py::handle v : py::iter(values)) {
        if (out.size() == MAX_SCENARIOS)
            throw py::value_error(std::string(what) + ": more than " +
                                  std::to_string(MAX_SCENARIOS) + " values");
        out.push_back(whole_number(v, what, lo, hi));
    }
    if (out.empty()) throw py::value_error(std::string(what) + ": empty list");
    return out;
}

// A list of scenarios or seeds in which each comes once: a scenario run twice
// would also count twice in every statistic.
std::vector<std::int64_t> once_each(py::handle values, const char* what, std::int64_t lo,
                                    std::int64_t hi) {
    std::vector<std::int64_t> out = int_list(values, what, lo, hi);
    if (const std::optional<std::int64_t> twice = first_repeated(out))
        throw py::value_error(std::string(what) + ": " + std::to_string(*twice) +
                              " comes twice; each scenario runs once");
    return out;
}

// The levels of "low,moderate" or of a list of names and spreads, refused as
// the command line refuses --errors; with none given, the error_spread
// parameter when one was set, else the three levels.
std::vector<float> error_levels(py::handle errors, const py::dict& parameters) {
    std::string text = "low,moderate,high";
    if (py::isinstance<py::str>(errors)) {
        text = errors.cast<std::string>();
    } else if (!errors.is_none()) {
        text.clear();
        for (py::handle e : py::iter(errors)) {
            if (!text.empty()) text += ',';
            text += value_text("errors", e);
        }
    } else if (parameters.contains("error_spread")) {
        text = value_text("error_spread", parameters["error_spread"]);
    }
    std::vector<float> levels;
    if (const std::string why = parse_error_levels(text, levels); !why.empty())
        throw py::value_error("errors: " + why);
    return levels;
}

ShardRange shard_of(py::handle shard, std::size_t runs, long long* shards = nullptr) {
    long long index = 1, count = 1;
    if (py::isinstance<py::str>(shard)) {
        const std::string why = parse_shard(shard.cast<std::string>(), index, count);
        if (!why.empty()) throw py::value_error("shard: " + why);
    } else if (!shard.is_none()) {
        const auto pair = shard.cast<py::sequence>();
        if (pair.size() != 2) throw py::value_error("shard: give (I, N) with 1 <= I <= N");
        count = whole_number(pair[1], "shard count", 1, std::numeric_limits<long long>::max());
        index = whole_number(pair[0], "shard index", 1, count);
    }
    if (shards != nullptr) *shards = count;
    return shard_range(runs, index, count);
}

// Asks as a run starts and every TICKS_BETWEEN_SIGNAL_CHECKS ticks of it whether
// the sweep must stop: on the calling thread (the team's first), which runs
// Python's signal handlers; on the others, which see the stop it sets.
class StopCheck final : public RunListener {
  public:
    StopCheck(std::atomic<bool>& stop, bool& interrupted)
        : stop_(stop), interrupted_(interrupted), asks_(omp_get_thread_num() == 0) {}
    void observe(const Simulation&, long long tick) override {
        if (tick % TICKS_BETWEEN_SIGNAL_CHECKS == 0) check();
    }
    void check() {
        if (asks_ && !stop_.load(std::memory_order_relaxed) && signal_arrived()) {
            interrupted_ = true;
            stop_.store(true, std::memory_order_relaxed);
        }
        if (stop_.load(std::memory_order_relaxed)) throw SweepStopped{};
    }

  private:
    std::atomic<bool>& stop_;
    bool& interrupted_;  // written by the calling thread only
    bool asks_;
};

// Runs the plan on all cores, appending each run's rows in run order and
// adding its figures to `report`, if any; stops every thread soon after a
// signal handler raised. False then, the exception set.
bool run_stoppable_sweep(const SweepPlan& plan, int threads, std::string& curves,
                         std::string& summary, std::string& households, SensitivityReport* report) {
    std::atomic<bool> stop{false};
    bool interrupted = false;
    run_sweep(
        plan, threads,
        [&](FinishedRun& run) {
            curves += run.curveRows;
            summary += run.summaryRow;
            households += run.householdRows;
            if (report) report->add(plan.runs[run.index], run.result.figures);
        },
        [&] { return std::make_unique<StopCheck>(stop, interrupted); });
    return !interrupted;
}

// Names chosen by a Python argument: True for `all`, else a str "a,b" or a
// list of names, parsed by `parse` as the command line parses them; a
// refusal raises ValueError naming `what`.
template <typename T>
std::vector<T> names_of(py::handle names, const char* what, const std::vector<T>& all,
                        std::string (*parse)(std::string_view, std::vector<T>&)) {
    if (py::isinstance<py::bool_>(names)) return all;
    std::string text;
    for (const std::string& name : strings(names)) text += (text.empty() ? "" : ",") + name;
    std::vector<T> chosen;
    if (const std::string why = parse(text, chosen); !why.empty())
        throw py::value_error(std::string(what) + ": " + why);
    return chosen;
}

py::object sweep_rows(py::handle seeds, py::handle scenarios, py::handle errors, py::handle ticks,
                      py::handle every, bool startup, py::handle threads, py::handle shard,
                      py::handle params, const py::dict& parameters, const py::dict& designOptions,
                      bool runThem, py::handle town, py::handle households, py::handle sensitivity,
                      py::handle planFile, py::handle planFiles) {
    SweepPlan plan;
    if (!town.is_none()) plan.town = town_of(town, "town");
    plan.ticks = whole_number(ticks, "ticks", 1, MAX_TICKS);
    const std::vector<Plan> plans = plans_of(planFile, planFiles, plan.town, plan.ticks);
    if (!plans.empty()) plan.town = plans.front().town;
    if (plans.size() == 1) {
        plan.roads = plans.front().roads;
        plan.orders = plans.front().orders;
    }
    if (plans.size() > 1)
        for (const Plan& p : plans) plan.variants.push_back({p.name, p.roads, p.orders});
    plan.every = whole_number(every, "every", 1, MAX_TICKS);
    plan.startup = startup;
    apply_parameters(plan.parameters, params, parameters, py::none());
    const int threadCount = static_cast<int>(whole_number(threads, "threads", 0, 4096));
    Design design;
    const bool designed = make_python_design(designOptions, plan.parameters, design);
    const bool replicated =
        designOptions.contains("replicates") && !designOptions["replicates"].is_none();
    // A design's points would each need a run under every plan.
    if (designed && plans.size() > 1)
        throw py::value_error(
            "plans: not with a design (vary, design, sample); run the design "
            "under each plan with plan=");

    std::vector<SweepScenario> list;
    const std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    const std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    if (!seeds.is_none() && !scenarios.is_none())
        throw py::value_error("seeds and scenarios both given; give one");
    if (replicated) {
        if (!designed)
            throw py::value_error("replicates: only with a design (vary, design, sample)");
        if (!seeds.is_none() || !scenarios.is_none())
            throw py::value_error("replicates: give either R or a scenarios or seeds list");
        const long long r =
            whole_number(designOptions["replicates"], "replicates", 1, MAX_SCENARIOS);
        for (long long k = 0; k < r; ++k) list.push_back({seed_of_step(k), k});
    } else if (!scenarios.is_none()) {
        for (std::int64_t k : once_each(scenarios, "scenarios", lo, hi))
            list.push_back({seed_of_step(k), k});
    } else if (!seeds.is_none()) {
        for (std::int64_t s : once_each(seeds, "seeds", lo, hi)) {
            const auto seed = static_cast<std::int32_t>(s);
            list.push_back({seed, step_of_seed(seed)});
        }
    } else if (designed) {
        list.push_back({seed_of_step(0), 0});  // one replicate: scenario 0
    } else {
        throw py::value_error("sweep: say which scenarios to run with seeds or scenarios");
    }
    if (designed && !errors.is_none())
        throw py::value_error(
            "errors: a design runs its points' error_spread; vary or set it instead");
    if (designed && !design.scenarios.empty() &&
        (replicated || !seeds.is_none() || !scenarios.is_none()))
        throw py::value_error(
            "design: the table names each point's scenario; give no replicates, scenarios or "
            "seeds");

    // None and False ask for nothing.
    const auto asked = [](py::handle h) {
        return !h.is_none() && !(py::isinstance<py::bool_>(h) && !h.cast<bool>());
    };
    const bool indices = asked(sensitivity);
    const bool perCar = asked(households);
    if (indices && !designed)
        throw py::value_error("sensitivity: only with a design (vary, design, sample)");
    const std::vector<OutputFigure> figures =
        indices
            ? names_of(sensitivity, "sensitivity", default_output_figures(), parse_output_figures)
            : std::vector<OutputFigure>{};
    if (perCar) {
        const bool placed = plan.town && plan.town->origin;
        const bool zoned = plan.town && !plan.town->zoneNames.empty();
        plan.householdColumns =
            names_of(households, "households", all_household_columns(placed, zoned),
                     parse_household_columns);
        for (HouseholdColumn column : plan.householdColumns) {
            if (needs_origin(column) && !placed)
                throw py::value_error("households: home_lat and home_lon need a town with an origin");
            if (column == HouseholdColumn::Zone && !zoned)
                throw py::value_error(
                    "households: zone needs a town with zones (a zones layer "
                    "or a plan's)");
        }
    }
    if (designed) {
        // The command line's limit on what a design's sweep holds; Python draws no plot.
        long long shards = 1;
        shard_of(shard, 1, &shards);
        std::string why =
            check_design_sweep(design, list.size(), 0, MAX_DESIGN_BYTES, indices, shards > 1);
        // "--sensitivity: ..." as "sensitivity: ..."
        if (why.rfind("--", 0) == 0) why.erase(0, 2);
        if (const std::size_t plot = why.find(", or no --plot"); plot != std::string::npos)
            why.erase(plot);
        if (!why.empty()) throw py::value_error(why);
    }
    std::vector<SweepRun> all = designed ? design_runs(design, list)
                                         : interleave_runs(list, error_levels(errors, parameters));
    if (!plan.variants.empty()) all = under_each_plan(all, plan.variants.size());
    const ShardRange part = shard_of(shard, all.size());
    plan.runs.assign(all.begin() + static_cast<std::ptrdiff_t>(part.first),
                     all.begin() + static_cast<std::ptrdiff_t>(part.end));
    if (designed) attach_design(plan, design);
    if (!runThem) return py::int_(plan.runs.size());

    std::string curves = curve_columns(plan);
    std::string summary = summary_columns(plan);
    std::string householdRows = household_column_line(key_columns(plan), plan.householdColumns);
    std::optional<SensitivityReport> report;
    if (indices) report.emplace(design, figures);
    bool finished = false;
    {
        py::gil_scoped_release unlocked;
        finished = run_stoppable_sweep(plan, threadCount, curves, summary, householdRows,
                                       report ? &*report : nullptr);
    }
    if (!finished) throw py::error_already_set();
    // The indices as the command line's file has them, its comment lines apart:
    // the estimators, and each figure's note on the design's size.
    py::object indexTable = py::none();
    if (report) {
        const std::vector<SensitivityReport::Row> rows = report->analyse();
        py::dict notes;
        for (const SensitivityReport::Row& row : rows)
            if (!row.note.empty()) notes[output_figure_name(row.figure)] = row.note;
        indexTable = py::make_tuple(py::str(sensitivity_csv(design, rows)),
                                    py::str(estimator_note(design)), notes);
    }
    py::list planRecords;
    for (const Plan& p : plans) planRecords.append(plan_record(p));
    py::dict planned;
    planned["plans"] = planRecords;
    planned["minutes_per_tick"] = plan.town ? plan.town->minutesPerTick : 0.0;
    return py::make_tuple(py::str(curves), py::str(summary),
                          perCar ? py::object(py::str(householdRows)) : py::object(py::none()),
                          indexTable, planned);
}

// The paired differences of a sweep's summary rows (CSV text with the column
// names), as marovel-sim sweep --paired writes them (its rows, without the
// header). A shard of a design, which lacks some of its points, has none.
// With `minutesPerTick`, the lines on the plans' clearance times instead, as
// marovel-sim sweep --plans prints them under its table (hours with a tick length > 0).
py::str paired_rows(const std::string& summary, std::optional<double> minutesPerTick) {
    SweepFileText file;
    if (!split_sweep_file(summary, file)) throw py::value_error("summary: no column names");
    DesignResults results;
    std::string csv, why;
    {
        py::gil_scoped_release unlocked;
        const DesignFiles files{nullptr, file.columns, file.rows, {}, {}};
        why = summary_results(files, MAX_TABLE_GROUPS, 0, results);
        if (why.empty() && minutesPerTick) {
            std::ostringstream lines;
            results.table->write_paired_sentences(lines, results.table->paired_differences(),
                                                  *minutesPerTick);
            csv = lines.str();
        } else if (why.empty()) {
            csv = results.table->paired_csv(results.table->paired_differences());
        }
    }
    if (!why.empty() && file.columns.starts_with("point,"))
        return py::str(SweepSummary("group", {}, {}, false).paired_csv({}));
    if (!why.empty()) throw py::value_error("summary: " + why);
    return py::str(csv);
}

}  // namespace

void bind_sweep(py::module_& m) {
    m.def("_paired_rows", &paired_rows, py::arg("summary"),
          py::arg("minutes_per_tick") = py::none(),
          "The paired differences against the first level (CSV text with the column names) of "
          "a sweep's summary rows, as marovel-sim sweep --paired writes them; with "
          "minutes_per_tick, the lines on the plans' clearance times sweep --plans prints");
    m.def("_sweep_rows", &sweep_rows, py::arg("seeds"), py::arg("scenarios"), py::arg("errors"),
          py::arg("ticks"), py::arg("every"), py::arg("startup"), py::arg("threads"),
          py::arg("shard"), py::arg("params"), py::arg("parameters"),
          py::arg("design") = py::dict(), py::arg("run") = true, py::arg("town") = py::none(),
          py::arg("households") = py::none(), py::arg("sensitivity") = py::none(),
          py::arg("plan") = py::none(), py::arg("plans") = py::none(),
          "The curve, summary and households rows (CSV text with the column names) of a "
          "sweep, and a design's sensitivity indices (CSV text, the estimators, the notes "
          "by figure, the plans' records): (curves, summary, households or None, indices or None, "
          "plans); with "
          "run=False, only checks the arguments and returns the number of runs; town: a "
          "marovel.Town, a town file's path or None for the built-in town; households: "
          "None, True or the columns; sensitivity: None, True or the figures; plan: a plan "
          "file's path; plans: a list of them");
}

}  // namespace marovel_python
