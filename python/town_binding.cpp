// marovel.Town: a town as data, loaded from a town file, taken from the
// built-in one or made from arrays, with read-only NumPy views of its cells,
// houses and exits. Simulations and sweeps share it; none copies it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "experiments/planning/town_file.h"
#include "python/bindings.h"
#include "sim/town_text.h"

namespace py = pybind11;

namespace marovel_python {

namespace {

py::object problem_type;  // the named tuple, made at import

std::string at_cell(const char* what, CellPos c) {
    return std::string(what) + " at (" + std::to_string(c.x) + ", " + std::to_string(c.y) + ")";
}

PyTown load(py::handle path) {
    const auto file = py::module_::import("os").attr("fspath")(path).cast<std::string>();
    std::string why;
    std::shared_ptr<const Town> town = load_town(file, why);
    if (!town) throw py::value_error(why);
    return {std::move(town)};
}

using Cells = py::array_t<std::uint32_t, py::array::c_style | py::array::forcecast>;

// A town from a 2-D array of cells, the top row first: the file's characters
// (as code points; house letters give their doors) or layout codes, with then
// the door letters (as code points) in `doors`. The exits (x, y) and the car
// counts (x, y, n) count y from the bottom row, as the file does.
PyTown from_cells(const Cells& cells, bool characters, const py::object& doors,
                  const py::iterable& exits, const py::object& name, double cellSizeM,
                  const py::iterable& cars) {
    if (cells.ndim() != 2) throw py::value_error("cells: give a 2-D array, one row a line");
    auto town = std::make_shared<Town>();
    if (!name.is_none()) town->name = py::str(name).cast<std::string>();
    town->cellSizeM = cellSizeM;
    const py::ssize_t rows = cells.shape(0), cols = cells.shape(1);
    if (rows < 1 || cols < 1 || rows > TOWN_MAX_SIDE || cols > TOWN_MAX_SIDE)
        throw py::value_error("cells: the town is " + std::to_string(cols) + " x " +
                              std::to_string(rows) + " cells; each side must be 1.." +
                              std::to_string(TOWN_MAX_SIDE));
    town->width = static_cast<std::int32_t>(cols);
    town->height = static_cast<std::int32_t>(rows);
    const std::size_t w = static_cast<std::size_t>(cols);
    town->layout.resize(w * static_cast<std::size_t>(rows));
    std::vector<std::uint8_t> doorOf(town->layout.size(), 0);
    Cells doorCells;
    if (!characters) {
        if (doors.is_none()) throw py::value_error("doors: layout codes need the houses' doors");
        doorCells = Cells::ensure(doors);
        if (!doorCells || doorCells.ndim() != 2 || doorCells.shape(0) != rows ||
            doorCells.shape(1) != cols)
            throw py::value_error("doors: give an array shaped as the cells");
    } else if (!doors.is_none()) {
        throw py::value_error("doors: the house letters among the cells give the doors");
    }
    const auto c = cells.unchecked<2>();
    for (py::ssize_t r = 0; r < rows; ++r) {
        const std::int32_t y = town->height - 1 - static_cast<std::int32_t>(r);
        for (py::ssize_t x = 0; x < cols; ++x) {
            const CellPos p = {static_cast<std::int32_t>(x), y};
            const std::size_t i = static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x);
            const std::uint32_t v = c(r, x);
            if (characters) {
                if (v > 0x7F || !town_char_cell(static_cast<char>(v), town->layout[i], doorOf[i]))
                    throw py::value_error(at_cell("cells: unknown cell character", p));
                continue;
            }
            if (v > 0xFF || !is_known_layout(static_cast<std::uint8_t>(v)))
                throw py::value_error(at_cell("cells: unknown layout code", p));
            town->layout[i] = static_cast<std::uint8_t>(v);
            if (v != LAYOUT_HOUSE) continue;
            std::uint8_t layout = 0;
            const std::uint32_t letter = doorCells.at(r, x);
            if (letter > 0x7F || !town_char_cell(static_cast<char>(letter), layout, doorOf[i]) ||
                layout != LAYOUT_HOUSE)
                throw py::value_error(
                    at_cell("doors: no door letter (S, N, E or W) for the house", p));
        }
    }
    list_houses(*town, [&](CellPos p) {
        return doorOf[static_cast<std::size_t>(p.y) * w + static_cast<std::size_t>(p.x)];
    });
    for (py::handle e : exits) {
        const auto xy = e.cast<py::sequence>();
        if (xy.size() != 2) throw py::value_error("exits: give (x, y) pairs");
        town->exits.push_back(
            {static_cast<std::int32_t>(whole_number(xy[0], "exit x", -1, TOWN_MAX_SIDE)),
             static_cast<std::int32_t>(whole_number(xy[1], "exit y", -1, TOWN_MAX_SIDE))});
    }
    for (py::handle entry : cars) {
        const auto xyn = entry.cast<py::sequence>();
        if (xyn.size() != 3) throw py::value_error("cars: give (x, y, n) for each house");
        const CellPos p = {
            static_cast<std::int32_t>(whole_number(xyn[0], "cars x", -1, TOWN_MAX_SIDE)),
            static_cast<std::int32_t>(whole_number(xyn[1], "cars y", -1, TOWN_MAX_SIDE))};
        const auto n = static_cast<std::int32_t>(whole_number(xyn[2], "cars", 0, 100));
        bool found = false;
        for (House& h : town->houses)
            if (h.pos == p) {
                h.cars = n;
                found = true;
            }
        if (!found) throw py::value_error(at_cell("cars: no house", p));
    }
    for (const TownProblem& problem : validate_town(*town))
        if (problem.level == TownProblem::Level::Error) throw py::value_error(problem.message);
    return {std::move(town)};
}

// The file's characters, the top row first, one byte a cell.
py::bytes cell_characters(const Town& town) {
    std::string text = format_town(town);
    text.erase(0, text.find("\ngrid\n") + 6);
    std::string out;
    out.reserve(town.layout.size());
    for (char ch : text)
        if (ch != '\n') out += ch;
    return py::bytes(out);
}

py::dtype house_type() {
    py::list names, formats, offsets;
    names.append("pos");
    formats.append(cell_type());
    offsets.append(offsetof(House, pos));
    names.append("door");
    formats.append(py::dtype::of<std::uint8_t>());
    offsets.append(offsetof(House, door));
    names.append("cars");
    formats.append(py::dtype::of<std::int32_t>());
    offsets.append(offsetof(House, cars));
    return py::dtype(names, formats, offsets, sizeof(House));
}

const Town& town_in(py::handle self) {
    return *self.cast<const PyTown&>().town;
}

const char* const TOWN_DOC = R"(A town: its cells, houses with their doors, and exits; read-only.

Town.load(path) reads a town file (docs/town-format.md) as marovel-sim --town
does; Town.builtin() is the built-in town; Town.from_arrays(...) makes one from
NumPy arrays. Pass one to Simulation(town=...) or sweep(town=...): they share
it, none copies it.

Coordinates are the model's: x counts columns from the left, y rows from the
bottom. The views (layout, houses, exits) are read-only NumPy arrays over the
town's own memory that keep it alive; layout is indexed [y, x] like
Simulation.layout, so layout[0] is the file's last line.

Zones, the areas evacuation orders name: zone_names lists them ("town", the
one zone, for a town without any) and house_zones holds each house's index
into it, so numpy.take(town.zone_names, town.house_zones) names every house's
zone. A plan's zones are laid over the town of Simulation(plan=...).town.)";

const char* const FROM_ARRAYS_DOC =
    R"(Town.from_arrays(cells, doors=None, exits=(), name=None, cell_size_m=10, cars=None)

cells: a 2-D array with the TOP row first, as in a town file, either of the
file's characters (dtype 'U1' or 'S1', or a list of row strings; a house's
letter S, N, E or W gives its door) or of layout codes (integers: 0 blocked,
1 house, 5 road along y, 10 road along x, 15 crossing, 16 water, 33/34/36/40
one-way down/left/up/right), then with doors, an array shaped as cells
holding each house's door letter (read only at the houses).
exits: (x, y) pairs; cars: {(x, y): n} or (x, y, n) triples for houses that
hold n cars instead of cars_per_house; both count y from the bottom row, as
the file does (exit = X,Y). The town is checked as a town file is: the first
error raises ValueError naming its cell.)";

}  // namespace

std::shared_ptr<const Town> town_of(py::handle town, const char* what) {
    if (py::isinstance<PyTown>(town)) return town.cast<const PyTown&>().town;
    if (!py::isinstance<py::str>(town) && !py::hasattr(town, "__fspath__"))
        throw py::type_error(std::string(what) + ": give a marovel.Town or a town file's path");
    try {
        return load(town).town;
    } catch (const py::value_error& e) {
        throw py::value_error(std::string(what) + ": " + e.what());
    }
}

void bind_town(py::module_& m) {
    problem_type =
        py::module_::import("collections")
            .attr("namedtuple")("TownProblem", py::make_tuple("level", "cell", "message"));
    problem_type.attr("__module__") = "marovel";
    problem_type.attr("__doc__") =
        "A problem of a town: level 'error' or 'warning', the cell (x, y) or None, the message";
    m.attr("TownProblem") = problem_type;

    py::class_<PyTown>(m, "Town", TOWN_DOC)
        .def_static("load", &load, py::arg("path"),
                    "The town in a town file; a bad file raises ValueError with marovel-sim's "
                    "message, PATH:LINE:COLUMN: what")
        .def_static(
            "builtin", [] { return PyTown{shared_builtin_town()}; },
            "The built-in town: 40 x 30 cells, 360 houses, the exit at (20, 29)")
        .def_static("_from_cells", &from_cells, py::arg("cells"), py::arg("characters"),
                    py::arg("doors"), py::arg("exits"), py::arg("name"), py::arg("cell_size_m"),
                    py::arg("cars"), FROM_ARRAYS_DOC)
        .def_property_readonly(
            "name", [](const PyTown& t) { return t.town->name; }, "The town's name; '' if none")
        .def_property_readonly(
            "width", [](const PyTown& t) { return t.town->width; }, "Columns")
        .def_property_readonly(
            "height", [](const PyTown& t) { return t.town->height; }, "Rows")
        .def_property_readonly(
            "cell_size_m", [](const PyTown& t) { return t.town->cellSizeM; },
            "Metres along a cell's side")
        .def_property_readonly(
            "minutes_per_tick", [](const PyTown& t) { return t.town->minutesPerTick; },
            "What a tick stands for, in minutes; 0 if the town does not say")
        .def_property_readonly(
            "origin",
            [](const PyTown& t) -> py::object {
                if (!t.town->origin) return py::none();
                return py::make_tuple(t.town->origin->lat, t.town->origin->lon);
            },
            "(lat, lon) of cell (0, 0)'s south-west corner, or None for a town not from a map")
        .def(
            "lat_lon",
            [](const PyTown& t, double x, double y) -> py::object {
                double lat = 0, lon = 0;
                if (!town_lat_lon(*t.town, x, y, lat, lon)) return py::none();
                return py::make_tuple(lat, lon);
            },
            py::arg("x"), py::arg("y"),
            "(lat, lon) of the point x cells east and y cells north of the origin (a cell's "
            "centre: x + 0.5, y + 0.5); None without an origin")
        .def_property_readonly(
            "source", [](const PyTown& t) { return t.town->source; },
            "Where its map came from and its licence; '' if none")
        .def_property_readonly(
            "layout",
            [](py::object self) {
                const Town& t = town_in(self);
                return read_only_view(self, py::dtype::of<std::uint8_t>(), {t.height, t.width},
                                      {t.width, 1}, t.layout.data());
            },
            "Each cell's layout code, [y, x] (y = 0 the bottom row), as Simulation.layout")
        .def_property_readonly(
            "houses",
            [](py::object self) {
                const Town& t = town_in(self);
                return read_only_view(self, house_type(),
                                      {static_cast<py::ssize_t>(t.houses.size())}, {sizeof(House)},
                                      t.houses.data());
            },
            "The houses in the cars' order (by y, then x): pos (x, y), door (the move onto it: "
            "1 y-1, 2 x-1, 4 y+1, 8 x+1), cars (-1: cars_per_house)")
        .def_property_readonly(
            "exits",
            [](py::object self) {
                const Town& t = town_in(self);
                return read_only_view(self, cell_type(), {static_cast<py::ssize_t>(t.exits.size())},
                                      {sizeof(CellPos)}, t.exits.data());
            },
            "The exits: x, y")
        .def_property_readonly(
            "zone_names",
            [](const PyTown& t) {
                py::list names;
                for (std::size_t z = 0; z < zone_count(*t.town); ++z)
                    names.append(zone_name(*t.town, z));
                return names;
            },
            "The zones' names, by index; ['town'] for a town without zones, its one zone")
        .def_property_readonly(
            "house_zones",
            [](py::object self) {
                const Town& t = town_in(self);
                const auto houses = static_cast<py::ssize_t>(t.houses.size());
                if (t.houseZone.empty()) {  // one zone: every house in zone 0
                    py::array_t<std::uint8_t> zeros(houses);
                    std::fill_n(zeros.mutable_data(), houses, std::uint8_t{0});
                    return read_only_view(zeros, zeros.dtype(), {houses}, {1}, zeros.data());
                }
                return read_only_view(self, py::dtype::of<std::uint8_t>(), {houses}, {1},
                                      t.houseZone.data());
            },
            "Each house's zone, an index into zone_names, indexed like houses")
        .def(
            "_cell_bytes", [](const PyTown& t) { return cell_characters(*t.town); },
            "The file's characters, the top row first")
        .def(
            "problems",
            [](const PyTown& t) {
                py::list out;
                for (const TownProblem& p : validate_town(*t.town)) {
                    const py::object cell = t.town->contains(p.cell)
                                                ? py::object(py::make_tuple(p.cell.x, p.cell.y))
                                                : py::object(py::none());
                    out.append(
                        problem_type(p.level == TownProblem::Level::Error ? "error" : "warning",
                                     cell, p.message));
                }
                return out;
            },
            "What marovel-sim town check reports: TownProblem(level, cell, message) for each "
            "error and warning")
        .def(
            "text", [](const PyTown& t) { return format_town(*t.town); },
            "The town in the town file format, as marovel-sim town show prints it")
        .def(
            "__eq__",
            [](const PyTown& a, py::handle b) {
                return py::isinstance<PyTown>(b) &&
                       same_town(*a.town, *b.cast<const PyTown&>().town);
            },
            py::is_operator())
        .def("__repr__", [](const PyTown& t) {
            const Town& town = *t.town;
            return "<marovel.Town " +
                   (town.name.empty() ? std::string("unnamed") : "'" + town.name + "'") + " " +
                   std::to_string(town.width) + " x " + std::to_string(town.height) + ", " +
                   std::to_string(town.houses.size()) + " houses, " +
                   std::to_string(town.exits.size()) +
                   (town.exits.size() == 1 ? " exit>" : " exits>");
        });
}

}  // namespace marovel_python
