"""A sweep split into chunks of runs for a Dask cluster.

    from distributed import Client
    import marovel.dask
    curves, summary = marovel.dask.sweep(Client("scheduler:8786"), scenarios="0..999")

    result = marovel.dask.sweep(client, scenarios="0..99", town="twin.town",
                                plans=["simultaneous.plan", "staged.plan"])

Each chunk is one shard of the sweep (a contiguous block of its runs), run by
marovel.sweep on a worker; the chunks' rows, joined in order, are the whole
sweep's, so the tables equal a single-machine sweep's. The workers need the
marovel package importable (installed, or on their PYTHONPATH); they need none
of this machine's files: parameter files travel as their values, and the town,
the plans and the zones files the plans name as their bytes.
"""

import os
import pathlib
import tempfile

import marovel


def _zones_value(line):
    """The file a plan's zones line names, or None for any other line."""
    key, equals, value = line.partition("=")
    if equals and not line.lstrip().startswith("#") and key.strip() == "zones":
        return value.strip()
    return None


def _packed_plan(path):
    """A plan file as (file name, bytes, zones file bytes or None), read here."""
    path = pathlib.Path(path)
    data = path.read_bytes()
    lines = data.decode("utf-8", errors="replace").splitlines()
    zones = next((z for z in map(_zones_value, lines) if z is not None), None)
    if zones is None:
        return (path.name, data, None)
    # A relative path is taken from the plan file's folder, as the plan reader takes it.
    return (path.name, data, (path.parent / zones).read_bytes())


def _unpacked_plan(packed, folder):
    """The plan written into its own folder under `folder`, under its own file
    name (a plan without a name line is named after it), its zones line naming
    the zones file written beside it."""
    name, data, zones = packed
    os.makedirs(folder)
    path = os.path.join(folder, name)
    if zones is not None:
        zones_path = os.path.join(folder, "zones-of-" + name)
        with open(zones_path, "wb") as f:
            f.write(zones)
        lines = data.decode("utf-8").split("\n")
        lines = ["zones = " + zones_path if _zones_value(line) is not None else line
                 for line in lines]
        data = "\n".join(lines).encode("utf-8")
    with open(path, "wb") as f:
        f.write(data)
    return path


def _chunk(index, count, threads, options, parameters, files=None):
    if not files:
        return marovel.sweep_rows(shard=(index, count), threads=threads, **options, **parameters)
    with tempfile.TemporaryDirectory(prefix="marovel-chunk-") as folder:
        placed = {}
        if files.get("town") is not None:
            placed["town"] = os.path.join(folder, "sweep.town")
            with open(placed["town"], "wb") as f:
                f.write(files["town"])
        paths = [_unpacked_plan(p, os.path.join(folder, f"plan-{k}"))
                 for k, p in enumerate(files["plans"])]
        if files["several"]:
            placed["plans"] = paths
        elif paths:
            placed["plan"] = paths[0]
        return marovel.sweep_rows(shard=(index, count), threads=threads, **options, **placed,
                                  **parameters)


def _file_contents(design):
    """A design file's table, read here: the workers may not see this machine's files."""
    if design is None or hasattr(design, "to_csv"):
        return design
    import pandas

    return pandas.read_csv(design, comment="#")


def _join(parts, planned):
    curves = [parts[0][0]] + [c.split("\n", 1)[1] for c, _ in parts[1:]]
    summary = [parts[0][1]] + [s.split("\n", 1)[1] for _, s in parts[1:]]
    return marovel._frames("".join(curves), "".join(summary), planned=planned)


def _town_bytes(town):
    """A town (a marovel.Town or a town file's path) as a town file's bytes."""
    if isinstance(town, marovel.Town):
        return town.text().encode("utf-8")
    return pathlib.Path(town).read_bytes()


def _file_values(params):
    """The parameters the files change from their defaults, by name."""
    read = marovel.Simulation(params=params, error=None).parameters
    defaults = marovel.default_parameters()
    return {name: value for name, value in read.items() if value != defaults[name]}


def sweep(client, seeds=None, scenarios=None, errors=None, ticks=2000, every=10,
          startup=False, params=None, vary=None, design=None, sample=None, sample_seed=None,
          replicates=None, town=None, plan=None, plans=None, chunks=None, threads_per_chunk=1,
          **parameters):
    """marovel.sweep's result, computed as `chunks` tasks on the client's cluster.

    chunks: how many pieces (default four per worker thread). Each piece runs on
    threads_per_chunk threads of its worker. Arguments are checked on this
    machine first, so a bad one raises here, not on a worker. town, plan and
    plans as marovel.sweep takes them: the result's plans name the files here.
    """
    options = dict(seeds=seeds, scenarios=scenarios, errors=errors, ticks=ticks, every=every,
                   startup=startup, vary=vary, design=_file_contents(design), sample=sample,
                   sample_seed=sample_seed, replicates=replicates)
    if params is not None:
        # The workers may not see this machine's files: the values travel instead.
        parameters = {**_file_values(params), **parameters}
    runs = marovel._sweep_rows(seeds, scenarios, errors, ticks, every, startup, threads_per_chunk,
                               None, None, parameters,
                               marovel._design_options(vary, options["design"], sample,
                                                       sample_seed, replicates), run=False,
                               town=town, plan=plan, plans=plans)
    # What the workers write and read in folders of their own; the plans' records
    # (names, files, digests) are taken here, as a single-machine sweep has them.
    files = None
    planned = {"plans": [], "minutes_per_tick": 0.0}
    if town is not None or plan is not None or plans is not None:
        chosen = [plan] if plan is not None else list(plans or [])
        files = {"town": None if town is None else _town_bytes(town),
                 "plans": [_packed_plan(p) for p in chosen], "several": plans is not None}
        planned["plans"] = [marovel.Simulation(town=town, plan=p, error=None).plan
                            for p in chosen]
        if town is not None:
            loaded = town if isinstance(town, marovel.Town) else marovel.Town.load(town)
            planned["minutes_per_tick"] = loaded.minutes_per_tick
    if chunks is None:
        chunks = 4 * max(1, sum(client.nthreads().values()))
    if not isinstance(chunks, int) or isinstance(chunks, bool) or chunks < 1:
        raise ValueError(f"chunks = {chunks!r} is not a whole number >= 1")
    chunks = max(1, min(chunks, runs))
    futures = [client.submit(_chunk, i, chunks, threads_per_chunk, options, parameters, files,
                             pure=False)
               for i in range(1, chunks + 1)]
    return _join(client.gather(futures), planned)
