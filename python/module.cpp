// marovel._marovel: the simulation and the sweeps for Python. The package's
// __init__.py turns the sweeps' rows into pandas tables.
#include <pybind11/pybind11.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "experiments/planning/parameter_text.h"
#include "python/bindings.h"
#include "sim/scenario.h"

namespace py = pybind11;

namespace marovel_python {

// Booleans are refused: True would otherwise pass as 1.
std::string value_text(const std::string& name, py::handle value) {
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (py::isinstance<py::bool_>(value) || !PyNumber_Check(value.ptr()))
        throw py::type_error(name + " = " + py::repr(value).cast<std::string>() +
                             " is not a number");
    if (PyIndex_Check(value.ptr()))
        return py::str(py::int_(py::reinterpret_borrow<py::object>(value)));
    const double v = py::float_(py::reinterpret_borrow<py::object>(value));
    if (std::isnan(v)) return "nan";
    char text[40];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

namespace {

void apply_one(ModelParameters& p, const std::string& name, py::handle value) {
    const std::string why = apply_assignment(p, name + "=" + value_text(name, value));
    if (!why.empty()) throw py::value_error(why);
}

}  // namespace

double error_spread_of(py::handle error) {
    double spread = 0.0;
    const std::string why = parse_error_spread(value_text("error", error), spread);
    if (!why.empty()) throw py::value_error("error: " + why);
    return spread;
}

void apply_parameters(ModelParameters& p, py::handle files, const py::dict& parameters,
                      py::handle error) {
    if (!files.is_none()) {
        const py::module_ os = py::module_::import("os");
        const bool one = py::isinstance<py::str>(files) || py::hasattr(files, "__fspath__");
        for (py::handle file : one ? py::iter(py::make_tuple(files)) : py::iter(files)) {
            const auto path = os.attr("fspath")(file).cast<std::string>();
            if (const std::string why = apply_parameter_file(p, path); !why.empty())
                throw py::value_error("params: " + why);
        }
    }
    for (const auto& [key, value] : parameters) apply_one(p, py::str(key), value);
    if (!error.is_none()) {
        if (parameters.contains("error_spread"))
            throw py::value_error("error and error_spread both given; give one");
        p.errorSpread = error_spread_of(error);
    }
    if (const ParameterCheck c = check_parameters(p); !c.ok()) throw py::value_error(c.text);
}

py::dict parameters_dict(const ModelParameters& p) {
    py::dict d;
    // As the files write them: a single-precision value as its float's shortest
    // decimal, which reads back to the same stored value.
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        d[info.name] = std::strtod(format_parameter(info, p.*info.field).c_str(), nullptr);
    }
    return d;
}

long long whole_number(py::handle value, const char* what, long long lo, long long hi) {
    if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr()))
        throw py::type_error(std::string(what) + " = " + py::repr(value).cast<std::string>() +
                             " is not a whole number");
    const py::int_ number = py::reinterpret_borrow<py::object>(value);
    const py::int_ low(lo), high(hi);
    if (number < low || number > high)
        throw py::value_error(std::string(what) + " = " +
                              py::str(static_cast<const py::handle&>(number)).cast<std::string>() +
                              " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    return number.cast<long long>();
}

bool signal_arrived() {
    py::gil_scoped_acquire locked;
    return PyErr_CheckSignals() != 0;
}

}  // namespace marovel_python

PYBIND11_MODULE(_marovel, m) {
    m.doc() = "Marovel's storm-evacuation simulation (see the marovel package)";
    // The build's version, as marovel-sim --version and the files' headers give it.
    m.attr("__version__") = MAROVEL_VERSION;
    m.def(
        "parameter_table_csv", [] { return parameter_table_csv(); },
        "The model's parameters as CSV: name,default,unit,min,max,kind,meaning");
    m.def(
        "default_parameters", [] { return marovel_python::parameters_dict(ModelParameters{}); },
        "Every model parameter's default value, by name");
    marovel_python::bind_town(m);
    marovel_python::bind_simulation(m);
    marovel_python::bind_sweep(m);
    marovel_python::bind_place(m);
    marovel_python::bind_calibration(m);
}
