// The parts of the Python module `marovel._marovel`, and the model parameters
// as Python values, refused with the command line's own messages.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <vector>

#include "experiments/planning/plan_file.h"
#include "sim/parameters.h"
#include "sim/town.h"

namespace marovel_python {

// Applies parameter files (None, a path, or a list of paths, in order, as
// --params reads them), then keyword parameters {"feedback": 0.3, ...}
// through the same "name=value" assignments the command line makes (a str as
// written, a number in the shortest text that reads back to it), then `error`
// (None, a level name, or a spread), and checks the whole record. Raises
// ValueError with the command line's message, naming the parameter.
void apply_parameters(ModelParameters& p, pybind11::handle files, const pybind11::dict& parameters,
                      pybind11::handle error);

// The spread of an error level: "low", "moderate", "high" or a number >= 0
// (as a str or a number), refused as the command line refuses --error.
double error_spread_of(pybind11::handle error);

// A str as written, a number as the shortest text that reads back to it.
std::string value_text(const std::string& name, pybind11::handle value);

// Every parameter by name, in the table's order.
pybind11::dict parameters_dict(const ModelParameters& p);

// An integer argument within [lo, hi], or ValueError/TypeError naming it.
long long whole_number(pybind11::handle value, const char* what, long long lo, long long hi);

// A town owned by Python, shared read-only with every simulation and sweep run on it.
struct PyTown {
    std::shared_ptr<const Town> town;
};

// The town of a marovel.Town, or of a town file's path (a str or os.PathLike)
// read as marovel-sim --town reads it; a file's refusal raises ValueError
// "WHAT: PATH:LINE:COLUMN: ...".
std::shared_ptr<const Town> town_of(pybind11::handle town, const char* what);

// The plan of `plan` (None, or a plan file's path) or the plans of `plans`
// (None, or a list of two or more paths), read over `town` (null: the
// built-in town) for runs of `ticks` ticks as marovel-sim --plan and sweep
// --plans read them; none when both are None. A refusal raises ValueError
// "plan: FILE:LINE:COLUMN: what" ("plans: ..."), the command line's line.
std::vector<Plan> plans_of(pybind11::handle plan, pybind11::handle plans,
                           const std::shared_ptr<const Town>& town, long long ticks);
// {"name", "file", "sha256"}: what every output's header records of a plan.
pybind11::dict plan_record(const Plan& plan);

// A read-only array over `data` whose base is `owner`, which keeps the memory alive.
pybind11::array read_only_view(pybind11::handle owner, const pybind11::dtype& type,
                               std::vector<pybind11::ssize_t> shape,
                               std::vector<pybind11::ssize_t> strides, const void* data);
// The record of a cell: x, y (int32).
const pybind11::dtype& cell_type();

void bind_town(pybind11::module_& m);

// Long work runs without the interpreter lock and asks, this often and between
// a sweep's runs, whether Ctrl-C (or another signal with a Python handler) came.
constexpr long long TICKS_BETWEEN_SIGNAL_CHECKS = 2048;

// Called without the interpreter lock: takes it and runs the signal handlers.
// True when one raised (KeyboardInterrupt for Ctrl-C): the exception is then
// set, for `throw pybind11::error_already_set()` once the lock is held again.
bool signal_arrived();

void bind_simulation(pybind11::module_& m);
void bind_sweep(pybind11::module_& m);
void bind_place(pybind11::module_& m);
void bind_calibration(pybind11::module_& m);

}  // namespace marovel_python
