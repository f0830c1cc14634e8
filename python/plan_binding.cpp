// Plan files for the simulation and the sweeps: read as marovel-sim --plan and
// sweep --plans read them, refused with their messages.
#include <pybind11/pybind11.h>

#include "cli/plan_options.h"
#include "experiments/records/provenance.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace marovel_python {

namespace {

std::string path_of(py::handle file, const char* what) {
    if (!py::isinstance<py::str>(file) && !py::hasattr(file, "__fspath__"))
        throw py::type_error(std::string(what) + ": give a plan file's path, not " +
                             py::repr(file).cast<std::string>());
    return py::module_::import("os").attr("fspath")(file).cast<std::string>();
}

}  // namespace

std::vector<Plan> plans_of(py::handle plan, py::handle plans,
                           const std::shared_ptr<const Town>& town, long long ticks) {
    if (!plan.is_none() && !plans.is_none())
        throw py::value_error("plan and plans both given; give one");
    PlanOptions options;
    if (!plan.is_none()) options.plan = path_of(plan, "plan");
    if (!plans.is_none()) {
        if (py::isinstance<py::str>(plans) || py::hasattr(plans, "__fspath__"))
            throw py::type_error("plans: give a list of two or more plan files; for one, plan=");
        // The command line's list, which no file name with a comma can be part of.
        for (py::handle file : plans) {
            const std::string path = path_of(file, "plans");
            if (path.empty() || path.find(',') != std::string::npos)
                throw py::value_error(
                    "plans: \"" + path +
                    "\" cannot name a plan file here: give a name without a comma");
            options.plans += (options.plans.empty() ? "" : ",") + path;
        }
        if (options.plans.empty())
            throw py::value_error("plans: compares two or more plans; for one, give plan=");
    }
    std::vector<Plan> read;
    if (options.plan.empty() && options.plans.empty()) return read;
    if (std::string why = read_plan_options(options, town, ticks, read); !why.empty()) {
        // "--plan: FILE:LINE:COLUMN: ..." as "plan: FILE:LINE:COLUMN: ..."
        if (why.starts_with("--")) why.erase(0, 2);
        if (const std::size_t hint = why.find(", give --plan"); hint != std::string::npos)
            why.replace(hint, 13, ", give plan=");
        throw py::value_error(why);
    }
    return read;
}

py::dict plan_record(const Plan& plan) {
    py::dict d;
    d["name"] = plan.name;
    d["file"] = plan.file;
    d["sha256"] = sha256_of_text(plan.text);
    return d;
}

}  // namespace marovel_python
