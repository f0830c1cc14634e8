"""A sweep split into chunks of runs for a Dask cluster.

    from distributed import Client
    import marovel.dask
    curves, summary = marovel.dask.sweep(Client("scheduler:8786"), scenarios="0..999")

Each chunk is one shard of the sweep (a contiguous block of its runs), run by
marovel.sweep on a worker; the chunks' rows, joined in order, are the whole
sweep's, so the tables equal a single-machine sweep's. The workers need the
marovel package importable (installed, or on their PYTHONPATH).
"""

import marovel


def _chunk(index, count, threads, options, parameters):
    return marovel.sweep_rows(shard=(index, count), threads=threads, **options, **parameters)


def _file_contents(design):
    """A design file's table, read here: the workers may not see this machine's files."""
    if design is None or hasattr(design, "to_csv"):
        return design
    import pandas

    return pandas.read_csv(design, comment="#")


def _join(parts):
    curves = [parts[0][0]] + [c.split("\n", 1)[1] for c, _ in parts[1:]]
    summary = [parts[0][1]] + [s.split("\n", 1)[1] for _, s in parts[1:]]
    return marovel._frames("".join(curves), "".join(summary))


def _file_values(params):
    """The parameters the files change from their defaults, by name."""
    read = marovel.Simulation(params=params, error=None).parameters
    defaults = marovel.default_parameters()
    return {name: value for name, value in read.items() if value != defaults[name]}


def sweep(client, seeds=None, scenarios=None, errors=None, ticks=2000, every=10,
          startup=False, params=None, vary=None, design=None, sample=None, sample_seed=None,
          replicates=None, chunks=None, threads_per_chunk=1, **parameters):
    """marovel.sweep's result, computed as `chunks` tasks on the client's cluster.

    chunks: how many pieces (default four per worker thread). Each piece runs on
    threads_per_chunk threads of its worker. Arguments are checked on this
    machine first, so a bad one raises here, not on a worker.
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
                                                       sample_seed, replicates), run=False)
    if chunks is None:
        chunks = 4 * max(1, sum(client.nthreads().values()))
    if not isinstance(chunks, int) or isinstance(chunks, bool) or chunks < 1:
        raise ValueError(f"chunks = {chunks!r} is not a whole number >= 1")
    chunks = max(1, min(chunks, runs))
    futures = [client.submit(_chunk, i, chunks, threads_per_chunk, options, parameters, pure=False)
               for i in range(1, chunks + 1)]
    return _join(client.gather(futures))
