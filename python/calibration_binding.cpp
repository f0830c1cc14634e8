// marovel._calibrate: a calibration by experiments/calibration/ on all cores,
// with the interpreter lock released, returning the fit, its intervals, the
// report and the trace as the command line writes them.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <set>

#include "cli/sweep_command.h"  // the command line's limits, which a calibration shares
#include "experiments/calibration/fit.h"
#include "experiments/calibration/report.h"
#include "experiments/planning/parameter_text.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace marovel_python {

namespace {

// The parts of a setup that a calibration and one objective share: the base
// record, the observed file, the varied parameters, the replicates, the runs'
// length and the town.
void read_problem(CalibrationSetup& setup, const std::string& observed,
                  const std::vector<std::string>& vary, py::handle replicates, py::handle ticks,
                  py::handle seedBase, py::handle town, int threads, py::handle files,
                  const py::dict& parameters, py::handle error) {
    apply_parameters(setup.base.parameters, files, parameters, error);
    if (const std::string why = parse_observed(observed, "observed", std::nullopt, setup.observed);
        !why.empty())
        throw py::value_error(why);
    if (vary.empty()) throw py::value_error("vary: give at least one parameter and its bounds");
    std::set<const ParameterInfo*> seen;
    for (const std::string& text : vary) {
        VariedParameter v;
        if (const std::string why = parse_varied(text, v); !why.empty()) throw py::value_error(why);
        if (!seen.insert(v.info).second)
            throw py::value_error(std::string("vary: ") + v.info->name + " is varied twice");
        setup.varied.push_back(v);
    }
    setup.replicates = whole_number(replicates, "replicates", 1, 100000);
    setup.seedBase = whole_number(seedBase, "seed_base", -1000000000, 1000000000);
    const long long last = last_observed_tick(setup.observed);
    if (last < 1 && ticks.is_none())
        throw py::value_error("observed: the last observed time is tick 0 (give ticks for targets "
                              "at the run's end)");
    setup.base.ticks = ticks.is_none() ? last : whole_number(ticks, "ticks", 1, MAX_TICKS);
    if (setup.base.ticks < last)
        throw py::value_error("ticks: " + std::to_string(setup.base.ticks) +
                              " ends before the last observed tick " + std::to_string(last));
    if (!town.is_none()) setup.base.town = town_of(town, "town");
    if (const std::string why = resolve_target_zones(
            setup.base.town ? *setup.base.town : builtin_town(), "observed", setup.observed);
        !why.empty())
        throw py::value_error(why);
    setup.threads = threads;
}

py::dict calibrate(const std::string& observed, const std::vector<std::string>& vary,
                   py::handle replicates, const std::string& method, py::handle budget,
                   py::handle bootstrap, py::handle refitBudget, py::handle slicePoints,
                   py::handle ticks, py::handle seedBase, py::handle town, int threads,
                   py::handle files, const py::dict& parameters, py::handle error) {
    CalibrationSetup setup;
    read_problem(setup, observed, vary, replicates, ticks, seedBase, town, threads, files,
                 parameters, error);
    const std::optional<FitMethod> m = parse_method(method);
    if (!m) throw py::value_error("method: \"" + method + "\" is not bobyqa, neldermead or crs2");
    setup.method = *m;
    setup.budget = whole_number(budget, "budget", 1, 1000000);
    setup.bootstrap = static_cast<int>(whole_number(bootstrap, "bootstrap", 0, 10000));
    setup.slicePoints = static_cast<int>(whole_number(slicePoints, "slice_points", 2, 1000));
    setup.refitBudget = refitBudget.is_none()
                            ? 10 + 5 * static_cast<long long>(setup.varied.size())
                            : whole_number(refitBudget, "refit_budget", 1, 1000000);

    std::string trace = trace_header(setup), reportText;
    FitResult result;
    Uncertainty u;
    {
        py::gil_scoped_release unlocked;
        Evaluator evaluator(setup, [&](const Evaluation& e) { trace += trace_row(e); });
        result = fit(evaluator);
        const SimulatedShares shares = simulate_candidate(setup, result.best);
        u = bootstrap_uncertainty(evaluator, result, shares);
        reportText = calibration_report(setup, result, u, evaluator, shares, "observed");
    }
    py::dict best, low, high, identified;
    py::list names, correlation;
    for (std::size_t i = 0; i < setup.varied.size(); ++i) {
        const char* name = setup.varied[i].info->name;
        names.append(name);
        best[name] = result.best[i];
        low[name] = u.intervals[i].low;
        high[name] = u.intervals[i].high;
        identified[name] = u.intervals[i].identified;
        correlation.append(py::cast(u.correlation[i]));
    }
    py::dict out;
    out["names"] = names;
    out["best"] = best;
    out["low"] = low;
    out["high"] = high;
    out["identified"] = identified;
    out["correlation"] = correlation;
    out["objective"] = result.objective;
    out["evaluations"] = result.evaluations;
    out["report"] = reportText;
    out["params"] = fit_parameter_file(setup, result, "observed");
    out["trace"] = trace;
    return out;
}

// One candidate's objective, as the calibration scores it: the same replicate
// scenarios, the values stored as the model stores them.
double objective(const std::string& observed, const std::vector<std::string>& vary,
                 const std::vector<double>& values, py::handle replicates, py::handle ticks,
                 py::handle seedBase, py::handle town, int threads, py::handle files,
                 const py::dict& parameters, py::handle error) {
    CalibrationSetup setup;
    read_problem(setup, observed, vary, replicates, ticks, seedBase, town, threads, files,
                 parameters, error);
    if (values.size() != setup.varied.size())
        throw py::value_error("values: " + std::to_string(values.size()) + " values for " +
                              std::to_string(setup.varied.size()) + " parameters");
    std::vector<double> stored = values;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const VariedParameter& v = setup.varied[i];
        if (!std::isfinite(stored[i]) || stored[i] < v.low || stored[i] > v.high)
            throw py::value_error(std::string("values: ") + v.info->name + " = " +
                                  format_value(stored[i]) + " lies outside its bounds");
        stored[i] = stored_value(*v.info, stored[i]);
    }
    py::gil_scoped_release unlocked;
    return objective_of(setup.observed, simulate_candidate(setup, stored));
}

}  // namespace

void bind_calibration(py::module_& m) {
    m.def("_calibrate", &calibrate, py::arg("observed"), py::arg("vary"), py::arg("replicates"),
          py::arg("method"), py::arg("budget"), py::arg("bootstrap"), py::arg("refit_budget"),
          py::arg("slice_points"), py::arg("ticks"), py::arg("seed_base"), py::arg("town"),
          py::arg("threads"), py::arg("params"), py::arg("parameters"), py::arg("error"));
    m.def("_objective", &objective, py::arg("observed"), py::arg("vary"), py::arg("values"),
          py::arg("replicates"), py::arg("ticks"), py::arg("seed_base"), py::arg("town"),
          py::arg("threads"), py::arg("params"), py::arg("parameters"), py::arg("error"));
}

}  // namespace marovel_python
