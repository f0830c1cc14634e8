// marovel.Simulation: one scenario driven from Python, and read-only NumPy
// views that alias its records (no copy, always current, keeping it alive).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>

#include "cli/sweep_command.h"  // MAX_TICKS, the longest run
#include "experiments/records/observations.h"
#include "experiments/running/sweep.h"
#include "python/bindings.h"
#include "sim/fingerprint.h"
#include "sim/orders.h"
#include "sim/scenario.h"

namespace py = pybind11;

namespace marovel_python {

namespace {

// A simulation owned by Python. The model lives in one heap block that never
// moves, so views alias it for as long as they hold a reference to this object.
struct PySimulation {
    std::unique_ptr<Simulation> sim = std::make_unique<Simulation>();
    ScenarioSetup setup;                                       // what the town was last built from
    std::shared_ptr<const Town> town = shared_builtin_town();  // shared, never copied
    long long tick = 0;                                        // ticks since the last build
    std::optional<Plan> plan;  // the plan its orders, road operations and zones come from
    std::atomic<bool> busy{false};

    void rebuild(std::int32_t seed, bool startup) {
        setup.seed = seed;
        setup.startup = startup;
        build_scenario(*sim, setup, town);
        tick = 0;
    }
};

// Steps run without the interpreter lock; a second thread that reaches the
// same simulation meanwhile is refused rather than let in to race it.
class Exclusive {
  public:
    explicit Exclusive(PySimulation& s) : s_(s) {
        if (s_.busy.exchange(true))
            throw std::runtime_error("the simulation is in use by another thread");
    }
    ~Exclusive() { s_.busy = false; }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

  private:
    PySimulation& s_;
};

struct Field {
    const char* name;
    py::object format;
    std::size_t offset;
};

py::dtype record(std::initializer_list<Field> fields, std::size_t size) {
    py::list names, formats, offsets;
    for (const Field& f : fields) {
        names.append(f.name);
        formats.append(f.format);
        offsets.append(f.offset);
    }
    return py::dtype(names, formats, offsets, static_cast<py::ssize_t>(size));
}

// The record types of the views, laid out as the C++ structs are.
struct ViewTypes {
    py::dtype cell, vehicle, point, storm;
};

// The households' table holds one array per value in one block: car i's
// record starts at element i of the first array, the cars lie one float apart,
// and each field lies a whole array (`cars` floats) further on.
py::dtype household_type(std::size_t cars) {
    const py::dtype f32 = py::dtype::of<float>();
    const std::size_t column = sizeof(float) * cars;
    return record({{"travel_term", f32, 0 * column},
                   {"arrival_estimate", f32, 1 * column},
                   {"departure_time", f32, 2 * column},
                   {"signal_error", f32, 3 * column},
                   {"signal_base", f32, 4 * column},
                   {"signal", f32, 5 * column},
                   {"departure_noise", f32, 6 * column}},
                  6 * column + sizeof(float));
}

const ViewTypes& view_types() {
    // Made once, with the module, and never freed: the interpreter may be
    // gone by the time static destructors run.
    static const ViewTypes* types = [] {
        const py::dtype u8 = py::dtype::of<std::uint8_t>();
        const py::dtype i32 = py::dtype::of<std::int32_t>();
        const py::dtype f32 = py::dtype::of<float>();
        auto* t = new ViewTypes;
        t->cell = record({{"x", i32, offsetof(CellPos, x)}, {"y", i32, offsetof(CellPos, y)}},
                         sizeof(CellPos));
        t->vehicle = record({{"state", u8, offsetof(Vehicle, state)},
                             {"home", t->cell, offsetof(Vehicle, home)},
                             {"pos", t->cell, offsetof(Vehicle, pos)},
                             {"prev_pos", t->cell, offsetof(Vehicle, prevPos)},
                             {"heading", u8, offsetof(Vehicle, heading)},
                             {"prev_heading", u8, offsetof(Vehicle, prevHeading)},
                             {"patience", i32, offsetof(Vehicle, patience)},
                             {"fuel", i32, offsetof(Vehicle, fuel)}},
                            sizeof(Vehicle));
        t->point = record({{"x", f32, offsetof(StormPoint, x)},
                           {"y", f32, offsetof(StormPoint, y)},
                           {"size", f32, offsetof(StormPoint, size)},
                           {"speed", f32, offsetof(StormPoint, speed)}},
                          sizeof(StormPoint));
        const py::dtype track = py::dtype::from_args(py::make_tuple(t->point, py::make_tuple(3)));
        // Only the storm itself: the threat flags have a view of their own, as long as the cars.
        t->storm = record({{"time", f32, offsetof(StormState, simTime)},
                           {"phase", f32, offsetof(StormState, stormPhase)},
                           {"spin", f32, offsetof(StormState, stormSpin)},
                           {"look_ahead", f32, offsetof(StormState, lookAheadOffset)},
                           {"centre", t->point, offsetof(StormState, storm)},
                           {"track", track, offsetof(StormState, stormTrack)}},
                          offsetof(StormState, threatFlagsClear));
        return t;
    }();
    return *types;
}

PySimulation& self_of(py::handle self) {
    return self.cast<PySimulation&>();
}

py::ssize_t car_count(const PySimulation& s) {
    return s.sim->vehicles.vehicleCount;
}

py::object tally_type;  // the named tuple, made at import

bool is_settled(const Simulation& sim) {
    return is_settled(tally_vehicles(sim.vehicles));
}

py::object tally_of(const VehicleTally& t) {
    return tally_type(t.notEvacuated, t.evacuated, t.gaveUp, t.enRoute, t.towed, t.outOfGas);
}

std::unique_ptr<PySimulation> make_simulation(const py::object& seed, const py::object& scenario,
                                              const py::object& error, bool startup,
                                              const py::object& params, const py::object& town,
                                              const py::object& plan,
                                              const py::kwargs& parameters) {
    auto s = std::make_unique<PySimulation>();
    if (!town.is_none()) s->town = town_of(town, "town");
    // A simulation has no last tick: its orders and operations may lie at any tick it can reach.
    if (std::vector<Plan> read =
            plans_of(plan, py::none(), town.is_none() ? nullptr : s->town, MAX_TICKS);
        !read.empty()) {
        s->plan = std::move(read.front());
        if (s->plan->town) s->town = s->plan->town;
        s->setup.roads = s->plan->roads;
        s->setup.orders = s->plan->orders;
    }
    if (!seed.is_none() && !scenario.is_none())
        throw py::value_error("seed and scenario both given; give one");
    std::int32_t first = 1;
    if (!scenario.is_none())
        first = seed_of_step(whole_number(scenario, "scenario", INT64_MIN, INT64_MAX));
    else if (!seed.is_none())
        first = static_cast<std::int32_t>(whole_number(seed, "seed", INT32_MIN, INT32_MAX));
    apply_parameters(s->setup.parameters, params, parameters, error);
    s->rebuild(first, startup);
    return s;
}

const char* const SIMULATION_DOC = R"(One scenario of the storm evacuation, stepped from Python.

Simulation(seed=1, scenario=None, error="low", startup=False, params=None, town=None,
           plan=None, **parameters)

seed: the scenario seed; or scenario=K: the scenario reached from launch by K
presses of Next (seed 1 + 1000 K). error: "low", "moderate", "high" or a spread
>= 0. startup: build the town the window shows at launch instead of the one
Reset builds. parameters: model parameters by name (marovel.parameter_table()),
e.g. feedback=0.3, after those of params (a parameter file or a list of them, as
marovel-sim --params reads them); a bad value raises ValueError with the command
line's message. town: a marovel.Town or a town file's path (as marovel-sim
--town reads it); None for the built-in town. The simulation shares the town
and sizes its views from it. plan: a plan file's path (docs/plans.md): the run
follows its evacuation orders and road operations, on the town with its zones
laid over, as marovel-sim --plan FILE runs it; a bad plan raises ValueError
"plan: FILE:LINE:COLUMN: what". Its orders and operations may lie at any tick
up to 2^24. Rebuilds (reset, next_scenario) keep the plan.

Runs are the same bit for bit as marovel-sim's: fingerprint() prints its
--fingerprint line. The views (cars, traffic, layout, households, storm,
threat) are read-only NumPy arrays over the simulation's own memory: no copy,
always current, and they keep the simulation alive.)";

}  // namespace

// NumPy will not let the flag be set back: the base offers no writable buffer.
py::array read_only_view(py::handle owner, const py::dtype& type, std::vector<py::ssize_t> shape,
                         std::vector<py::ssize_t> strides, const void* data) {
    static const std::uint64_t nothing = 0;  // the address of an empty table
    if (data == nullptr) data = &nothing;
    py::array a(type, std::move(shape), std::move(strides), data, owner);
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

const py::dtype& cell_type() {
    return view_types().cell;
}

void bind_simulation(py::module_& m) {
    tally_type =
        py::module_::import("collections")
            .attr("namedtuple")("Tally", py::make_tuple("not_evacuated", "evacuated", "gave_up",
                                                        "en_route", "towed", "out_of_gas"));
    tally_type.attr("__module__") = "marovel";
    tally_type.attr("__doc__") = "The six counts of the cars, in the Info box's order";
    m.attr("Tally") = tally_type;
    view_types();

    py::class_<PySimulation>(m, "Simulation", SIMULATION_DOC)
        .def(py::init(&make_simulation), py::arg("seed") = py::none(),
             py::arg("scenario") = py::none(), py::arg("error") = py::none(),
             py::arg("startup") = false, py::arg("params") = py::none(),
             py::arg("town") = py::none(), py::arg("plan") = py::none())
        .def(
            "step",
            [](PySimulation& s, py::handle n) {
                const long long count = whole_number(n, "n", 0, INT64_MAX);
                Exclusive only(s);
                bool stopped = false;
                {
                    py::gil_scoped_release unlocked;
                    Simulation& sim = *s.sim;
                    for (long long done = 0; done < count && !stopped;) {
                        const long long part = std::min(count - done, TICKS_BETWEEN_SIGNAL_CHECKS);
                        for (long long i = 0; i < part; ++i) sim_tick(sim);
                        done += part;
                        s.tick += part;
                        stopped = done < count && signal_arrived();
                    }
                }
                if (stopped) throw py::error_already_set();
            },
            py::arg("n") = 1, "Runs n ticks (default 1), without holding the interpreter lock")
        .def(
            "reset",
            [](PySimulation& s) {
                Exclusive only(s);
                s.rebuild(s.setup.seed, false);
            },
            "Rebuilds the scenario as Reset does: the same seed and parameters, tick 0, the "
            "threat flags cleared as in a new simulation")
        .def(
            "next_scenario",
            [](PySimulation& s) {
                Exclusive only(s);
                // The window's seed step, wrap-around included.
                s.rebuild(step_seed(s.setup.seed, SCENARIO_STEP), false);
            },
            "Seed + 1000 (as the window's Next), then reset()")
        .def(
            "previous_scenario",
            [](PySimulation& s) {
                Exclusive only(s);
                s.rebuild(step_seed(s.setup.seed, -SCENARIO_STEP), false);
            },
            "Seed - 1000 (as the window's Previous), then reset()")
        .def(
            "run_until_settled",
            [](PySimulation& s, py::handle maxTicks) {
                const long long limit = whole_number(maxTicks, "max_ticks", 0, INT64_MAX);
                Exclusive only(s);
                bool stopped = false;
                {
                    py::gil_scoped_release unlocked;
                    Simulation& sim = *s.sim;
                    for (long long run = 0; run < limit && !is_settled(sim) && !stopped; ++run) {
                        sim_tick(sim);
                        ++s.tick;
                        stopped = (run + 1) % TICKS_BETWEEN_SIGNAL_CHECKS == 0 && signal_arrived();
                    }
                }
                if (stopped) throw py::error_already_set();
                return is_settled(*s.sim);
            },
            py::arg("max_ticks") = 16777216,
            "Steps until the town has settled (as marovel-sim --until-settled: no car waits at "
            "home, drives or stands out of gas) or max_ticks have run; True when settled")
        .def(
            "tally",
            [](PySimulation& s) {
                Exclusive only(s);
                return tally_of(tally_vehicles(s.sim->vehicles));
            },
            "The six counts: not_evacuated, evacuated, gave_up, en_route, towed, out_of_gas")
        .def(
            "fingerprint",
            [](PySimulation& s) {
                Exclusive only(s);
                return std::string(fingerprint_line(*s.sim, s.tick).text);
            },
            "The line marovel-sim --fingerprint prints for this tick")
        .def_property_readonly(
            "town", [](const PySimulation& s) { return PyTown{s.town}; },
            "The town it runs on (the same one, not a copy)")
        .def_property_readonly(
            "plan",
            [](const PySimulation& s) -> py::object {
                if (!s.plan) return py::none();
                return plan_record(*s.plan);
            },
            "The plan it runs, {'name', 'file', 'sha256'} (the SHA-256 of the file's bytes, as "
            "marovel-sim's '# plan:' line records it), or None")
        .def(
            "zones",
            [](PySimulation& s) {
                Exclusive only(s);
                const std::vector<std::uint8_t> zones = car_zones(*s.town, s.sim->vehicles);
                py::array_t<std::uint8_t> out(static_cast<py::ssize_t>(zones.size()));
                std::copy(zones.begin(), zones.end(), out.mutable_data());
                return out;
            },
            "The zone of each car's house (an index into town.zone_names), indexed like the "
            "cars: a new array")
        .def_property_readonly(
            "tick", [](const PySimulation& s) { return s.tick; }, "Ticks since the last build")
        .def_property_readonly(
            "time", [](const PySimulation& s) { return s.sim->storm.simTime; },
            "The model's clock (a float, exact below 2^24 ticks)")
        .def_property_readonly(
            "seed", [](const PySimulation& s) { return s.setup.seed; }, "The scenario seed")
        .def_property_readonly(
            "scenario",
            [](const PySimulation& s) -> py::object {
                if (const std::optional<std::int64_t> k = step_of_seed(s.setup.seed))
                    return py::int_(*k);
                return py::none();
            },
            "K for a seed 1 + 1000 K (the scenario reached by K presses of Next), else None; "
            "the status line shows the window's number, seed / 1000 truncated")
        .def_property_readonly(
            "startup", [](const PySimulation& s) { return s.setup.startup; },
            "True while the town is the one the window shows at launch")
        .def_property_readonly(
            "error",
            [](const PySimulation& s) {
                return std::string(error_level_name(s.setup.parameters.errorSpread));
            },
            "low, moderate, high or custom")
        .def_property_readonly(
            "parameters", [](const PySimulation& s) { return parameters_dict(s.setup.parameters); },
            "Every model parameter by name (a new dict)")
        .def_property_readonly(
            "status_line",
            [](const PySimulation& s) { return std::string(status_line(*s.sim).text); },
            "The window's title line")
        .def_property_readonly(
            "cars",
            [](py::object self) {
                const PySimulation& s = self_of(self);
                return read_only_view(self, view_types().vehicle, {car_count(s)}, {sizeof(Vehicle)},
                                      s.sim->vehicles.vehicles.data());
            },
            "The cars: state, home, pos, prev_pos (x, y), heading, prev_heading, patience, fuel")
        .def_property_readonly(
            "traffic",
            [](py::object self) {
                const RoadGrid& g = self_of(self).sim->grid;
                return read_only_view(self, py::dtype::of<std::uint8_t>(), {g.height, g.width},
                                      {g.width * py::ssize_t{sizeof(GridCell)}, sizeof(GridCell)},
                                      &g.cells.data()->traffic);
            },
            "Who stands on each cell, [y, x]: OR of the headings on a road, cars parked in a house")
        .def_property_readonly(
            "layout",
            [](py::object self) {
                const RoadGrid& g = self_of(self).sim->grid;
                return read_only_view(self, py::dtype::of<std::uint8_t>(), {g.height, g.width},
                                      {g.width * py::ssize_t{sizeof(GridCell)}, sizeof(GridCell)},
                                      &g.cells.data()->layout);
            },
            "Each cell's kind, [y, x]: 0 blocked, 1 house, 5 road (y moves), 10 road (x moves), "
            "15 crossing")
        .def_property_readonly(
            "households",
            [](py::object self) {
                const PySimulation& s = self_of(self);
                return read_only_view(self, household_type(s.sim->decisions.households.column),
                                      {car_count(s)}, {sizeof(float)},
                                      s.sim->decisions.households.travelTerm);
            },
            "Each car's household decision values, indexed like the cars")
        .def_property_readonly(
            "storm",
            [](py::object self) {
                const PySimulation& s = self_of(self);
                return read_only_view(self, view_types().storm, {}, {}, &s.sim->storm);
            },
            "The storm (a 0-d record): time, phase, spin, look_ahead, centre and track points")
        .def_property_readonly(
            "threat",
            [](py::object self) {
                const PySimulation& s = self_of(self);
                return read_only_view(self, py::dtype::of<std::int32_t>(), {car_count(s)},
                                      {sizeof(std::int32_t)}, s.sim->storm.threatFlags.data());
            },
            "1 for each car whose house the threat zone marked at the last tick")
        .def("__repr__", [](const PySimulation& s) {
            return "<marovel.Simulation seed=" + std::to_string(s.setup.seed) +
                   " tick=" + std::to_string(s.tick) + ">";
        });
}

}  // namespace marovel_python
