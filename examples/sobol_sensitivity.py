#!/usr/bin/python3
"""Sobol sensitivity of the evacuated share to two model parameters.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/sobol_sensitivity.py

Samples the feedback of the households' expectation model and the arrival lead
(how soon a threatened household expects the storm) with SciPy's scrambled
Sobol sequence, runs every point over a few scenarios with marovel.sweep, and
estimates first-order (Saltelli 2010) and total (Jansen) indices of the share
of cars evacuated at the last tick, with bootstrap intervals. The estimator is
first checked on a linear model whose indices are known exactly.

Then the same analysis from a Saltelli design that marovel.sweep runs in one
go (vary=..., sample="saltelli:N"), compared with the indices marovel-sim
sweep --sensitivity computes on that design, when marovel-sim is found
(MAROVEL_SIM, or the release build beside this folder).
"""

import argparse
import io
import os
import subprocess
import time

import numpy as np
from scipy.stats import qmc

import marovel

FACTORS = {"feedback": (0.1, 0.9), "arrival_lead": (60.0, 400.0)}
SPREADS = {"low": "0.001", "moderate": "360", "high": "inf"}  # the levels as error_spread


def sobol_indices(f_a, f_b, f_ab):
    """First-order and total indices from f(A), f(B) and f(AB_i) (f_ab: one column per factor).

    The outputs are centred on the mean of f(A) and f(B) first (the first-order
    estimator's spread grows with the mean); V is their variance over 2n.
    """
    mean = np.mean(np.concatenate([f_a, f_b]))
    f_a, f_b, f_ab = f_a - mean, f_b - mean, f_ab - mean
    variance = np.mean(np.concatenate([f_a, f_b]) ** 2)
    first = np.mean(f_b[:, None] * (f_ab - f_a[:, None]), axis=0) / variance
    total = 0.5 * np.mean((f_a[:, None] - f_ab) ** 2, axis=0) / variance
    return first, total


def saltelli_points(n, bounds, seed):
    """A, B and AB_i (A with column i from B), scaled to the bounds."""
    d = len(bounds)
    both = qmc.Sobol(d=2 * d, scramble=True, seed=seed).random(n)
    lo, hi = np.array(bounds).T
    a, b = qmc.scale(both[:, :d], lo, hi), qmc.scale(both[:, d:], lo, hi)
    ab = np.repeat(a[None, :, :], d, axis=0)
    for i in range(d):
        ab[i, :, i] = b[:, i]
    return a, b, ab


def check_on_a_linear_model():
    """Y = 2 x1 + x2 on [0, 1]^2: S1 = ST = (0.8, 0.2) exactly."""
    a, b, ab = saltelli_points(4096, [(0, 1), (0, 1)], seed=7)
    f = lambda x: 2 * x[..., 0] + x[..., 1]  # noqa: E731
    first, total = sobol_indices(f(a), f(b), f(ab).T)
    assert np.allclose(first, [0.8, 0.2], atol=0.03), first
    assert np.allclose(total, [0.8, 0.2], atol=0.03), total
    print(f"check, linear model: S1 = {np.round(first, 3)}, ST = {np.round(total, 3)} "
          "(exact 0.8, 0.2)")


def evacuated_share(point, scenarios, ticks, error):
    parameters = dict(zip(FACTORS, point))
    summary = marovel.sweep(scenarios=scenarios, errors=[error], ticks=ticks, every=ticks,
                            **parameters).summary
    cars = summary[list(marovel.Tally._fields)].sum(axis=1)
    return float((summary["evacuated"] / cars).mean())


def design_indices(args):
    """Sobol indices from one sweep of a Saltelli design, here and from marovel-sim."""
    vary = [f"{name}={lo}..{hi}" for name, (lo, hi) in FACTORS.items()]
    options = dict(vary=vary, sample=f"saltelli:{args.samples}", replicates=args.replicates,
                   ticks=args.ticks, every=args.ticks, error_spread=SPREADS[args.error])
    summary = marovel.sweep(**options).summary
    cars = summary[list(marovel.Tally._fields)].sum(axis=1)
    share = (summary["evacuated"] / cars).groupby(summary["point"]).mean().to_numpy()
    blocks = share.reshape(args.samples, len(FACTORS) + 2)  # A, AB_1 .. AB_k, B per base point
    first, total = sobol_indices(blocks[:, 0], blocks[:, -1], blocks[:, 1:-1])
    print(f"\nSaltelli design, {len(share)} points x {args.replicates} replicates in one sweep:")
    for i, name in enumerate(FACTORS):
        print(f"{name:<14} S1 {first[i]:7.3f}  ST {total[i]:7.3f}")

    here = os.path.dirname(os.path.abspath(__file__))
    program = os.environ.get("MAROVEL_SIM",
                             os.path.join(here, "..", "build", "release", "cli", "marovel-sim"))
    if not os.access(program, os.X_OK):
        print("(marovel-sim not found: no comparison with its --sensitivity)")
        return
    words = [w for v in vary for w in ("--vary", v)]
    indices = pandas_indices(program, words, options, args)
    theirs = indices[indices["figure"] == "evacuated_share"].set_index("parameter")
    for i, name in enumerate(FACTORS):
        print(f"{name:<14} S1 {theirs.loc[name, 'first']:7.3f}  ST "
              f"{theirs.loc[name, 'total']:7.3f}  (marovel-sim --sensitivity)")
        assert abs(theirs.loc[name, "first"] - first[i]) < 1e-9
        assert abs(theirs.loc[name, "total"] - total[i]) < 1e-9


def pandas_indices(program, words, options, args):
    import pandas
    import tempfile

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "indices.csv")
        subprocess.run([program, "sweep", *words, "--sample", options["sample"], "--replicates",
                        str(args.replicates), "--ticks", str(args.ticks), "--every",
                        str(args.ticks), "--set", f"error_spread={SPREADS[args.error]}",
                        "--sensitivity", path], check=True, capture_output=True, text=True)
        with open(path) as f:
            return pandas.read_csv(io.StringIO(f.read()), comment="#")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=32, help="base samples (a power of 2)")
    parser.add_argument("--scenarios", default="0..3")
    parser.add_argument("--ticks", type=int, default=1500)
    parser.add_argument("--error", default="moderate", choices=SPREADS)
    parser.add_argument("--replicates", type=int, default=4,
                        help="replicate scenarios of the Saltelli design")
    args = parser.parse_args()

    check_on_a_linear_model()
    a, b, ab = saltelli_points(args.samples, list(FACTORS.values()), seed=1)
    started = time.perf_counter()

    def run(points):
        return np.array([evacuated_share(p, args.scenarios, args.ticks, args.error)
                         for p in points])

    f_a, f_b = run(a), run(b)
    f_ab = np.stack([run(points) for points in ab], axis=1)
    seconds = time.perf_counter() - started
    first, total = sobol_indices(f_a, f_b, f_ab)

    rng = np.random.default_rng(2)
    draws = [sobol_indices(f_a[i], f_b[i], f_ab[i])
             for i in (rng.integers(0, args.samples, args.samples) for _ in range(200))]
    low = np.percentile(np.array(draws), 5, axis=0)
    high = np.percentile(np.array(draws), 95, axis=0)
    evaluations = args.samples * (len(FACTORS) + 2)
    print(f"{evaluations} points x scenarios {args.scenarios}, {args.ticks} ticks, "
          f"{args.error} error, in {seconds:.1f} s; evacuated share {f_a.mean():.3f} on average")
    print(f"{'parameter':<14} {'S1':>7} {'90% interval':>17} {'ST':>7} {'90% interval':>17}")
    for i, name in enumerate(FACTORS):
        print(f"{name:<14} {first[i]:7.3f} [{low[0][i]:6.3f}, {high[0][i]:6.3f}] "
              f"{total[i]:7.3f} [{low[1][i]:6.3f}, {high[1][i]:6.3f}]")
    design_indices(args)


if __name__ == "__main__":
    main()
