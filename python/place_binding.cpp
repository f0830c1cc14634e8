// Real places from Python: a town imported from an OpenStreetMap file with its
// report, and the evacuation time estimate's rows, both as marovel-sim makes them.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli/sweep_command.h"  // the command line's limits
#include "experiments/running/ete.h"
#include "places/osm_import.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace marovel_python {

namespace {

// OpenStreetMap file -> (Town, report dict), with town import's options.
py::tuple import_osm(py::handle path, double cellM, const py::object& bbox,
                     const std::vector<std::pair<double, double>>& exits,
                     const std::string& houses, const py::object& roadClasses,
                     double maxDoorDistanceM, const py::object& name) {
    const auto file = py::module_::import("os").attr("fspath")(path).cast<std::string>();
    ImportOptions o;
    o.cellM = cellM;
    o.maxDoorDistanceM = maxDoorDistanceM;
    if (!(maxDoorDistanceM >= 1.0 && maxDoorDistanceM <= 1000.0))
        throw py::value_error("max_door_distance: must be 1 to 1000 metres");
    if (!bbox.is_none()) {
        const auto b = bbox.cast<std::vector<double>>();
        if (b.size() != 4) throw py::value_error("bbox: give (minlon, minlat, maxlon, maxlat)");
        o.hasBbox = true;
        o.bbox = {b[0], b[1], b[2], b[3]};
    }
    for (const auto& [lat, lon] : exits) {
        if (!(std::abs(lat) <= 90.0 && std::abs(lon) <= 180.0))
            throw py::value_error("exits: give (lat, lon) pairs on the earth");
        o.exitsAt.push_back({lat, lon});
    }
    if (houses == "buildings")
        o.houses = HouseSource::Buildings;
    else if (houses == "along-streets")
        o.houses = HouseSource::AlongStreets;
    else if (houses == "both")
        o.houses = HouseSource::Both;
    else
        throw py::value_error("houses: \"" + houses + "\" is not buildings, along-streets or both");
    if (!roadClasses.is_none()) o.roadClasses = roadClasses.cast<std::vector<std::string>>();
    if (!name.is_none()) {
        o.name = py::str(name).cast<std::string>();
    } else {
        const std::string base = file.substr(file.find_last_of('/') + 1);
        const std::size_t osm = base.find(".osm");
        o.name = osm == std::string::npos || osm == 0 ? base : base.substr(0, osm);
    }
    OsmMap map;
    auto town = std::make_shared<Town>();
    ImportReport r;
    std::string error;
    bool made = false;
    {
        py::gil_scoped_release unlocked;
        made = read_osm_file(file, map, error);
        if (made && !import_town(map, o, *town, r, error, ModelParameters{}.carsPerHouse)) {
            error = file + ": " + error;
            made = false;
        }
    }
    if (!made) throw py::value_error(error);
    py::dict report;
    report["text"] = format_import_report(r);
    report["area"] = py::make_tuple(r.area.minLon, r.area.minLat, r.area.maxLon, r.area.maxLat);
    report["width_m"] = r.widthM;
    report["height_m"] = r.heightM;
    report["width"] = r.width;
    report["height"] = r.height;
    report["nodes"] = r.nodes;
    report["ways"] = r.ways;
    report["roads_by_class"] = r.roadsByClass;
    report["dropped"] = r.droppedByReason;
    report["road_cells"] = r.roadCells;
    report["one_way_cells"] = r.oneWayCells;
    report["water_cells"] = r.waterCells;
    report["houses"] = r.houses;
    report["houses_from_buildings"] = r.housesFromBuildings;
    report["houses_along_streets"] = r.housesAlongStreets;
    report["cars"] = r.cars;
    report["exits"] = r.exits;
    report["warnings"] = r.warnings;
    return py::make_tuple(PyTown{std::move(town)}, report);
}

// The rows of marovel-sim ete's --csv for the same town, replicates, ticks and parameters.
std::string ete_rows(py::handle town, py::handle replicates, py::handle ticks, int threads,
                     py::handle files, const py::dict& parameters, py::handle error,
                     py::handle planFile) {
    SweepPlan plan;
    if (!town.is_none()) plan.town = town_of(town, "town");
    plan.ticks = whole_number(ticks, "ticks", 1, MAX_TICKS);
    if (const std::vector<Plan> read = plans_of(planFile, py::none(), plan.town, plan.ticks);
        !read.empty()) {
        plan.town = read.front().town;
        plan.roads = read.front().roads;
        plan.orders = read.front().orders;
    }
    const long long count =
        whole_number(replicates, "replicates", 1, static_cast<long long>(MAX_SCENARIOS));
    apply_parameters(plan.parameters, files, parameters, error);
    for (long long k = 0; k < count; ++k) {
        SweepRun run;
        run.scenario = {seed_of_step(k), k};
        run.errorSpread = static_cast<float>(plan.parameters.errorSpread);
        plan.runs.push_back(run);
    }
    py::gil_scoped_release unlocked;
    const std::vector<EteReplicate> runs = run_ete(plan, threads);
    return ete_csv(ete_estimates(runs, plan.ticks, ete_zone_names(plan)));
}

}  // namespace

void bind_place(py::module_& m) {
    m.def("_import_osm", &import_osm, py::arg("path"), py::arg("cell"), py::arg("bbox"),
          py::arg("exits"), py::arg("houses"), py::arg("road_classes"),
          py::arg("max_door_distance"), py::arg("name"));
    m.def("_ete_rows", &ete_rows, py::arg("town"), py::arg("replicates"), py::arg("ticks"),
          py::arg("threads"), py::arg("params"), py::arg("parameters"), py::arg("error"),
          py::arg("plan") = py::none());
}

}  // namespace marovel_python
