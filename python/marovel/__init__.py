"""Marovel's storm-evacuation simulation from Python.

    sim = marovel.Simulation(scenario=3, error="moderate", feedback=0.3)
    sim.step(500)
    sim.tally()          # Tally(not_evacuated=..., evacuated=..., ...)
    sim.cars["pos"]      # a live, read-only NumPy view of the cars

    curves, summary = marovel.sweep(scenarios="0..99", ticks=2000)
    result = marovel.sweep(scenarios="0..9", households=True)
    result.households    # one row per run and car, as --households writes them
    result = marovel.sweep(vary=["fuel_min=100..300", "tow_wait=30..90"],
                           sample="saltelli:64", sensitivity=["tick_50", "tick_90"])
    result.sensitivity   # the indices, as --sensitivity writes them

    town = marovel.Town.load("city.town")   # or Town.builtin(), Town.from_arrays(...)
    sim = marovel.Simulation(town=town)

    sim = marovel.Simulation(town="twin.town", plan="staged.plan")  # orders, roads, zones
    sim.town.zone_names, sim.zones()   # the zones, and each car's zone index
    result = marovel.sweep(scenarios="0..19", town="twin.town",
                           plans=["simultaneous.plan", "staged.plan"])
    result.paired        # each plan less the first on the same scenarios

    town, report = marovel.Town.import_osm("west-oakland.osm.bz2")
    estimate = marovel.ete(town, replicates=50, route_guide="road")

Runs are the same bit for bit as marovel-sim's; sweeps return the numbers of
marovel-sim sweep's --curves, --summary, --households and --sensitivity files
as pandas DataFrames. marovel.__version__ is the build's, as marovel-sim
--version gives it.
"""

import io
import math
from collections import namedtuple

from ._marovel import (Simulation, Tally, Town, TownProblem, __version__, default_parameters,
                       parameter_table_csv, _paired_rows, _sweep_rows, _ete_rows,
                       _calibrate, _objective)
from ._marovel import _import_osm as _import_osm_native

__all__ = ["Simulation", "Tally", "Town", "TownProblem", "SweepResult", "sweep", "sweep_rows",
           "parameter_table", "default_parameters", "ete", "calibrate", "Calibration",
           "calibration_objective"]

class SweepResult(namedtuple("SweepResult", ["curves", "summary"])):
    """A sweep's evacuation curves (long form) and one summary row per run.

    .paired: the paired differences against the first error level (or a design's
    first point or value), as marovel-sim sweep --paired writes them: per level
    and figure, the runs matched on the same scenario, the pairs where both runs
    have the figure, the mean difference (this level less the first) and its
    95 % percentile bootstrap interval. No rows for a single level.
    Under plans (sweep(plans=[...])) every row starts with the plan's name, and
    .paired compares each plan with the first on the same scenario and level.
    households: one row per run and car (when asked for), else None.
    sensitivity: a Saltelli or Morris design's indices (when asked for), else
    None; its attrs["estimators"] names the estimators and intervals, and
    attrs["notes"] holds, by figure, what the design is too small for.
    plans: the plans run, [{"name", "file", "sha256"}, ...] as the files' "# plan:"
    lines record them; () without a plan. Under plans, paired.attrs["sentences"]
    holds the lines sweep --plans prints on the clearance times ("staged clears
    90 % 54.0 ticks [36.0, 72.0] (0.90 h [0.60, 1.20]) sooner than ...").
    """

    paired = None
    households = None
    sensitivity = None
    plans = ()


def _character_codes(cells):
    """A 2-D array of the cells' code points, or None when they are not text."""
    import numpy

    a = numpy.asarray(cells)
    if a.dtype.kind not in "US":
        return None
    if a.dtype.kind == "S":
        a = numpy.char.decode(a, "latin-1")
    if a.ndim == 1:  # one string a row
        rows = [str(r) for r in a.tolist()]
        for r, row in enumerate(rows):
            if len(row) != len(rows[0]):
                raise ValueError(f"cells: row {r} holds {len(row)} cells; the first row "
                                 f"holds {len(rows[0])}")
        a = numpy.array([list(row) for row in rows], dtype="U1").reshape(len(rows), -1)
    if a.ndim == 2:
        lengths = numpy.char.str_len(a)
        if a.size and (lengths != 1).any():
            r, c = (int(i) for i in numpy.argwhere(lengths != 1)[0])
            raise ValueError(f"cells: {a[r, c]!r} at ({c}, {a.shape[0] - 1 - r}) is not one "
                             f"character")
        a = a.astype("U1")
    return numpy.ascontiguousarray(a).view(numpy.uint32)


def _from_arrays(cells, doors=None, exits=(), name=None, cell_size_m=10, cars=None):
    codes = _character_codes(cells)
    if doors is not None:
        doors = _character_codes(doors)
        if doors is None:
            raise ValueError("doors: give the houses' door letters, S, N, E or W")
    if isinstance(cars, dict):
        cars = [(x, y, n) for (x, y), n in cars.items()]
    return Town._from_cells(cells if codes is None else codes, codes is not None, doors,
                            list(exits), name, float(cell_size_m), list(cars or ()))


_from_arrays.__doc__ = Town._from_cells.__doc__
Town.from_arrays = staticmethod(_from_arrays)


def _cells(self):
    """The file's characters, the top row first: a new (height, width) array of dtype 'U1'."""
    import numpy

    return numpy.frombuffer(self._cell_bytes(), dtype="S1").reshape(
        self.height, self.width).astype("U1")


Town.cells = _cells


def _town_import_osm(path, cell=10, bbox=None, exits=(), houses="buildings", road_classes=None,
                max_door_distance=50, name=None):
    """A town from an OpenStreetMap file (.osm, .osm.bz2, .osm.gz, .osm.pbf), as
    marovel-sim town import makes it: returns (town, report).

    cell: metres along a cell's side. bbox: (minlon, minlat, maxlon, maxlat);
    None for the file's bounds, or its data's extent. exits: (lat, lon) pairs,
    each an exit on the nearest road cell; empty for an exit wherever a drivable
    road leaves the area. houses: "buildings", "along-streets" or "both".
    road_classes: the highway values drawn (a list); None for the default.
    max_door_distance: metres from a building to its door's road at most.
    name: the town's name; None for the file's.

    The report is a dict of what was read, made and dropped (roads_by_class,
    dropped by reason, houses, cars, exits, warnings, ...) with "text", the
    summary town import prints. A bad file raises ValueError with the command
    line's one line.
    """
    return _import_osm_native(path, float(cell), None if bbox is None else list(bbox),
                              [tuple(e) for e in exits], houses,
                              None if road_classes is None else list(road_classes),
                              float(max_door_distance), name)


Town.import_osm = staticmethod(_town_import_osm)


def ete(town=None, replicates=50, ticks=2000, threads=0, params=None, error=None, plan=None,
        **parameters):
    """An evacuation time estimate, as marovel-sim ete: a DataFrame equal to its --csv.

    town: a Town or a town file's path; None for the built-in town. replicates:
    scenarios 0..N-1. ticks per run. threads: 0 for all cores. params: a
    parameter file or a list of them; error: a level name or a spread;
    parameters: model parameters by name (route_guide="road", ...). plan: a plan
    file's path, whose orders, road operations and zones every run follows (as
    ete --plan FILE).

    One row per figure (tick_50, tick_90, tick_100, households_left, on_road)
    and estimator (km_median, restricted_mean, mean): value, low, high (the 95 %
    interval; NaN where the data cannot give it), reached and censored runs.
    The interpreter lock is released while the runs go.
    """
    import pandas

    return pandas.read_csv(io.StringIO(_ete_rows(town, replicates, ticks, threads, params,
                                                 parameters, error, plan)))


class Calibration(namedtuple("Calibration", ["best", "low", "high", "identified", "correlation",
                                             "objective", "evaluations", "trace", "report",
                                             "params"])):
    """A calibration's result, as marovel-sim calibrate reports it.

    best, low, high: the fitted values and their 95 % intervals, by parameter
    name. identified: False for a parameter whose slice through the best fit is
    flat. correlation: a DataFrame of the fitted parameters' correlations over
    the bootstrap's refits. objective: at the best fit. evaluations: of the fit.
    trace: every evaluation (a DataFrame, the columns of trace.csv, with
    sim_LABEL for each target's simulated mean). report: the
    text of report.txt. params: the text of fit.params.
    """


def _csv_section(table, names, required, whole):
    columns = [c for c in names if c in table]
    missing = [c for c in required if c not in columns]
    if missing:
        return None, missing
    def text(c, v):
        if v is None or (isinstance(v, float) and math.isnan(v)):
            return ""
        if c in whole:
            return str(int(v))
        return str(v) if isinstance(v, str) else repr(float(v))
    rows = zip(*(list(table[c]) for c in columns))
    return (",".join(columns) + "\n" +
            "".join(",".join(text(c, v) for c, v in zip(columns, row)) + "\n" for row in rows)), []


def _observed_csv(observed, targets=None):
    """The observed curve and targets as the CSV text marovel-sim calibrate reads."""
    text = ""
    if observed is not None:
        text, missing = _csv_section(observed, ("tick", "departed", "arrived", "weight"),
                                     ("tick", "departed"), ("tick",))
        if missing:
            raise ValueError("observed: needs tick and departed columns (arrived and weight "
                             "optional)")
    if targets is not None:
        if not hasattr(targets, "keys") and not hasattr(targets, "columns"):
            import pandas
            targets = pandas.DataFrame(list(targets))
        section, missing = _csv_section(targets, ("target", "value", "zone", "tick", "weight"),
                                        ("target", "value"), ("tick",))
        if missing:
            raise ValueError("targets: needs target and value columns (zone, tick and weight "
                             "optional)")
        text += section
    if not text:
        raise ValueError("observed: give a curve, targets or both")
    return text


def _bounds(vary):
    return ["%s=%r..%r" % (name, float(lo), float(hi)) for name, (lo, hi) in vary.items()]


def calibrate(observed, vary, replicates=20, method="crs2", budget=100, bootstrap=20,
              refit_budget=None, slice_points=6, ticks=None, seed_base=0, town=None, threads=0,
              params=None, error=None, targets=None, **parameters):
    """Fits parameters to an observed evacuation, as marovel-sim calibrate.

    observed: a DataFrame (or a dict of columns) with tick and departed (the
    cumulative share of cars that left home, 1 - not evacuated / all cars), and
    optionally arrived and weight; refusals name the row as line 2, 3, ... .
    It may be None when targets are given. targets: scalar targets, a
    DataFrame (or a dict of columns, or a list of dicts) with target
    ("participation" or "tick_90"), value, and optionally zone, tick (a
    participation share by then; NaN or None for the run's end) and weight;
    refusals count its rows after the curve's, as the file's lines.
    vary: {"feedback": (0.3, 0.55), ...}, the bounds of each fitted parameter.
    The rest as the command line's options: replicates (scenarios seed_base ..
    seed_base + replicates - 1, the same for every candidate), method ("crs2",
    "bobyqa" or "neldermead"), budget (evaluations of the fit), bootstrap
    (samples refitted for the intervals), refit_budget, slice_points, ticks (the
    last observed tick by default), town, threads; params, error and
    parameters set the record the fit starts from. The interpreter lock is
    released while the runs go. Returns a Calibration.
    """
    import pandas

    r = _calibrate(_observed_csv(observed, targets), _bounds(vary), replicates, method, budget,
                   bootstrap, refit_budget, slice_points, ticks, seed_base, town, threads, params,
                   parameters, error)
    names = r["names"]
    return Calibration(r["best"], r["low"], r["high"], r["identified"],
                       pandas.DataFrame(r["correlation"], index=names, columns=names),
                       r["objective"], r["evaluations"],
                       pandas.read_csv(io.StringIO(r["trace"]), comment="#",
                                       float_precision="round_trip"), r["report"],
                       r["params"])


def calibration_objective(observed, vary, values, replicates=20, ticks=None, seed_base=0,
                          town=None, threads=0, params=None, error=None, targets=None,
                          **parameters):
    """The objective calibrate() minimises, at one candidate: for other optimisers.

    The same arguments as calibrate(); values: the candidate, a dict by
    parameter name or a sequence in vary's order, within vary's bounds. Every
    call runs the same replicate scenarios, so the objective is a deterministic
    function of the values.
    """
    names = list(vary)
    if hasattr(values, "keys"):
        values = [values[name] for name in names]
    return _objective(_observed_csv(observed, targets), _bounds(vary),
                      [float(v) for v in values], replicates, ticks, seed_base, town, threads,
                      params, parameters, error)


def parameter_table():
    """The model's parameters: name, default, unit, min, max, kind, meaning (a DataFrame)."""
    import pandas

    return pandas.read_csv(io.StringIO(parameter_table_csv()))


def _frames(curves_text, summary_text, households_text=None, indices=None, planned=None):
    """DataFrames from the rows, read as pandas reads marovel-sim's files."""
    import pandas

    result = SweepResult(pandas.read_csv(io.StringIO(curves_text)),
                         pandas.read_csv(io.StringIO(summary_text)))
    result.paired = pandas.read_csv(io.StringIO(_paired_rows(summary_text)))
    if planned is not None:
        result.plans = planned["plans"]
        if len(result.plans) > 1:
            result.paired.attrs["sentences"] = _paired_rows(
                summary_text, planned["minutes_per_tick"]).split("\n")[1:-1]
    if households_text is not None:
        result.households = pandas.read_csv(io.StringIO(households_text))
    if indices is not None:
        text, estimators, notes = indices
        result.sensitivity = pandas.read_csv(io.StringIO(text), comment="#")
        result.sensitivity.attrs.update(estimators=estimators, notes=dict(notes))
    return result


def _design_options(vary, design, sample, sample_seed, replicates):
    options = dict(vary=vary, sample=sample, sample_seed=sample_seed, replicates=replicates)
    if design is None:
        return options
    if hasattr(design, "to_csv"):  # a DataFrame: one row a point, one column a parameter
        table = design.reset_index(drop=True)
        if "point" not in table.columns:
            table.insert(0, "point", range(len(table)))
        options["design_text"] = table.to_csv(index=False)
    else:
        options["design_file"] = design
    return options


def sweep_rows(seeds=None, scenarios=None, errors=None, ticks=2000, every=10, startup=False,
               threads=0, shard=None, params=None, vary=None, design=None, sample=None,
               sample_seed=None, replicates=None, town=None, plan=None, plans=None,
               **parameters):
    """The sweep's rows as CSV text (column names first): (curves, summary).

    The same arguments as sweep(); for callers that move the text, not tables.
    """
    return _sweep_rows(seeds, scenarios, errors, ticks, every, startup, threads, shard, params,
                       parameters, _design_options(vary, design, sample, sample_seed, replicates),
                       town=town, plan=plan, plans=plans)[:2]


def sweep(seeds=None, scenarios=None, errors=None, ticks=2000, every=10, startup=False,
          threads=0, shard=None, params=None, vary=None, design=None, sample=None,
          sample_seed=None, replicates=None, town=None, households=None, sensitivity=None,
          plan=None, plans=None, **parameters):
    """Runs many scenarios under several error levels on all cores, as marovel-sim sweep.

    seeds or scenarios: "1..50,70", an int, or an iterable of ints (scenario K is
    seed 1 + 1000 K). errors: "low,moderate,high" (the default, unless an
    error_spread parameter names the one level) or a list of level names and
    spreads. ticks per run; every: the curves' sampling interval (the last tick is
    always sampled). startup: the launch towns. threads: 0 for all cores.
    shard: (I, N) or "I/N", part I of N of the runs. params: a parameter file
    or a list of them (as --params reads them); parameters: model parameters by
    name, applied after the files, for every run. town: a Town or a town file's
    path (as --town reads it); None for the built-in town.

    plan: a plan file's path (docs/plans.md): every run follows its orders and
    road operations on the town with its zones, as sweep --plan FILE runs.
    plans: a list of two or more plan files, as sweep --plans A,B: every
    scenario and error level runs under each plan in turn (the same storm and
    households for each, common random numbers); every row starts with a plan
    column, and result.paired holds each plan less the first, run for run.
    The plans must carry different names and lay the same zones over the town;
    a bad plan raises ValueError "plan: FILE:LINE:COLUMN: what" (or "plans:").
    Not with a design: run the design under each plan with plan=.

    A design runs points of the parameter space, each under every replicate
    scenario (replicates=R: scenarios 0..R-1; or a scenarios or seeds list):
    vary="NAME=V1,V2" or a list of them (a full factorial, or bounds
    "NAME=LO..HI" for sample="lhs:N", "sobol:N", "morris:R" or "saltelli:N"
    with sample_seed), or design= a DataFrame (one row a point, one column a
    parameter, optionally a seed or scenario column) or a design file's path.
    Its rows start with point, replicate, and carry the varied values.

    households=True (or the columns, "car,outcome,..." or a list, as --columns
    takes them) also returns one row per run and car in result.households.
    sensitivity=True (or the figures of the summary, "tick_90,trip_mean" or a
    list, as --sensitivity-figures takes them) also returns a Saltelli or Morris
    design's indices in result.sensitivity; they need the whole design, no shard.

    Returns SweepResult(curves, summary), DataFrames equal to reading the
    command line's files with pandas.read_csv(path, comment="#"), and so are
    its households and sensitivity; its .paired DataFrame is the --paired
    file's. The interpreter lock is released while the runs go.
    """
    return _frames(*_sweep_rows(seeds, scenarios, errors, ticks, every, startup, threads, shard,
                                params, parameters,
                                _design_options(vary, design, sample, sample_seed, replicates),
                                town=town, households=households, sensitivity=sensitivity,
                                plan=plan, plans=plans))
