#!/usr/bin/python3
"""Fits the same problem with SciPy's optimisers and with marovel.calibrate, and compares.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/calibration/scipy_compare.py

The observed evacuation is made by the model itself at known values (feedback
0.42, parked_speed 0.0026; the defaults are 0.49 and 0.002): the mean departed
and arrived shares of scenarios the fit does not run, every 20 ticks, and the
mean 90 % clearance time as a scalar target. marovel.calibrate fits it with
NLopt's CRS2 and gives 95 % intervals; SciPy minimises the very same objective,
marovel.calibration_objective (the same replicate scenarios at every call),
with Nelder-Mead from the defaults and with differential evolution. The script
prints the three fits and whether SciPy's values lie inside marovel's intervals.
"""

import argparse
import time

import numpy as np
import pandas as pd
from scipy import optimize

import marovel

VARY = {"feedback": (0.3, 0.55), "parked_speed": (0.0015, 0.0035)}
TRUTH = {"feedback": 0.42, "parked_speed": 0.0026}


def made_observations(scenarios, ticks):
    """The model's own curves and clearance time at TRUTH, as an observer would count them."""
    result = marovel.sweep(scenarios=scenarios, errors="low", ticks=ticks, every=20, **TRUTH)
    c = result.curves
    cars = c[["not_evacuated", "evacuated", "gave_up", "en_route", "towed", "out_of_gas"]].sum(axis=1)
    c = c.assign(departed=1 - c.not_evacuated / cars, arrived=c.evacuated / cars)
    curve = c[c.tick > 0].groupby("tick")[["departed", "arrived"]].mean().reset_index()
    # A run that never clears 90 % counts as clearing at its end, as the calibration counts it.
    tick_90 = result.summary.tick_90.fillna(ticks).mean()
    targets = pd.DataFrame({"target": ["tick_90"], "value": [tick_90]})
    return curve, targets


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ticks", type=int, default=400)
    parser.add_argument("--replicates", type=int, default=20)
    parser.add_argument("--budget", type=int, default=60, help="evaluations of each fit")
    parser.add_argument("--bootstrap", type=int, default=20)
    parser.add_argument("--observed-scenarios", default="100..139",
                        help="the scenarios that make the observations (not the fit's)")
    args = parser.parse_args()

    observed, targets = made_observations(args.observed_scenarios, args.ticks)
    problem = dict(targets=targets, replicates=args.replicates, ticks=args.ticks)
    names = list(VARY)
    low = np.array([VARY[n][0] for n in names])
    high = np.array([VARY[n][1] for n in names])

    started = time.monotonic()
    fit = marovel.calibrate(observed, VARY, method="crs2", budget=args.budget,
                            bootstrap=args.bootstrap, **problem)
    fits = [("marovel.calibrate (crs2)", fit.best, fit.objective, fit.evaluations,
             time.monotonic() - started)]

    # SciPy works on the unit square of the bounds, as NLopt does inside marovel.calibrate.
    evaluations = [0]

    def objective(u):
        evaluations[0] += 1
        x = low + np.clip(u, 0.0, 1.0) * (high - low)
        return marovel.calibration_objective(observed, VARY, list(x), **problem)

    defaults = marovel.default_parameters()
    start = np.array([(defaults[n] - VARY[n][0]) / (VARY[n][1] - VARY[n][0]) for n in names])
    runs = [
        ("scipy Nelder-Mead", lambda: optimize.minimize(
            objective, np.clip(start, 0, 1), method="Nelder-Mead", bounds=[(0, 1)] * len(names),
            options=dict(maxfev=args.budget, xatol=1e-4, fatol=1e-9,
                         initial_simplex=[np.clip(start, 0, 1)] +
                         [np.clip(start + 0.2 * e, 0, 1) for e in np.eye(len(names))]))),
        ("scipy differential evolution", lambda: optimize.differential_evolution(
            objective, [(0, 1)] * len(names), popsize=5, polish=False, seed=1, tol=0,
            maxiter=max(args.budget // (5 * len(names)) - 1, 0))),
    ]
    for label, run in runs:
        evaluations[0] = 0
        started = time.monotonic()
        r = run()
        x = low + np.clip(r.x, 0.0, 1.0) * (high - low)
        fits.append((label, dict(zip(names, x)), float(r.fun), evaluations[0],
                     time.monotonic() - started))

    print("%-30s %-12s %-12s %-12s %-6s %s" % ("fit", *names, "objective", "evals", "seconds"))
    at_truth = marovel.calibration_objective(observed, VARY, TRUTH, **problem)
    print("%-30s %-12.5g %-12.5g %-12.5g" % ("known values", *(TRUTH[n] for n in names), at_truth))
    for label, best, value, count, seconds in fits:
        print("%-30s %-12.5g %-12.5g %-12.5g %-6d %.1f" % (label, *(best[n] for n in names), value,
                                                           count, seconds))
    print("marovel's 95 %% intervals: %s" % ", ".join(
        "%s %.5g..%.5g" % (n, fit.low[n], fit.high[n]) for n in names))
    for label, best, *_ in fits[1:]:
        inside = [fit.low[n] <= best[n] <= fit.high[n] for n in names]
        print("%s: %s" % (label, "agrees: every value inside marovel's intervals" if all(inside)
                          else "differs: outside for " +
                          ", ".join(n for n, ok in zip(names, inside) if not ok)))
    truth_inside = all(fit.low[n] <= TRUTH[n] <= fit.high[n] for n in names)
    print("known values inside marovel's intervals: %s" % ("yes" if truth_inside else "no"))


if __name__ == "__main__":
    main()
