#!/usr/bin/python3
"""One scenario stepped from Python and many run as a sweep, drawn with matplotlib.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/evacuation_curves.py --out curves.png

Top left: the six counts of one scenario, tick by tick, from Simulation.tally().
Top right: where its cars stand at the end, read from the live view sim.cars.
Bottom: the evacuated share across many scenarios under each error level, the
mean and the 10-90 % band, from marovel.sweep's curves table.
"""

import argparse

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402
import pandas as pd  # noqa: E402

import marovel  # noqa: E402


def one_scenario(scenario, error, ticks, every):
    sim = marovel.Simulation(scenario=scenario, error=error)
    rows = [(0, *sim.tally())]
    while sim.tick < ticks:
        sim.step(min(every, ticks - sim.tick))
        rows.append((sim.tick, *sim.tally()))
    return sim, pd.DataFrame(rows, columns=["tick", *marovel.Tally._fields]).set_index("tick")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ticks", type=int, default=2000)
    parser.add_argument("--scenarios", default="0..39", help='sweep scenarios, e.g. "0..39"')
    parser.add_argument("--out", default="evacuation_curves.png")
    args = parser.parse_args()

    sim, counts = one_scenario(3, "moderate", args.ticks, every=10)
    curves = marovel.sweep(scenarios=args.scenarios, ticks=args.ticks, every=10).curves
    cars = sum(sim.tally())
    curves["share"] = curves["evacuated"] / cars
    band = curves.groupby(["error", "tick"])["share"].describe(percentiles=[0.1, 0.9])

    figure, axes = plt.subplot_mosaic([["counts", "map"], ["sweep", "sweep"]], figsize=(12, 9),
                                      layout="constrained")
    top_left, top_right, bottom = axes["counts"], axes["map"], axes["sweep"]
    counts.plot(ax=top_left, title=f"Scenario 3, moderate error, {sim.tick} ticks")
    top_left.set_ylabel("cars")

    top_right.imshow(sim.layout > 0, cmap="Greys", vmax=4, origin="upper")  # roads, houses grey
    view = sim.cars  # no copy: the simulation's own memory
    for state, colour in ((0, "tab:blue"), (1, "tab:green"), (2, "tab:orange"), (3, "tab:red")):
        mine = view[view["state"] == state]
        top_right.scatter(mine["pos"]["x"], mine["pos"]["y"], s=8, color=colour,
                          label=["waiting", "evacuating", "gave up", "out of gas"][state])
    top_right.legend(loc="upper right", fontsize="small")
    top_right.set_title(f"Cars at tick {sim.tick}")

    for error in ("low", "moderate", "high"):
        if error not in band.index.get_level_values("error"):
            continue
        b = band.loc[error]
        bottom.plot(b.index, b["mean"], label=f"{error} error")
        bottom.fill_between(b.index, b["10%"], b["90%"], alpha=0.25)
    runs = curves.groupby(["seed", "error"]).ngroups
    bottom.set(xlabel="tick", ylabel="share evacuated",
               title=f"{runs} runs of scenarios {args.scenarios}: mean and 10-90 % band")
    bottom.legend()
    figure.savefig(args.out, dpi=90)
    print(f"{args.out}: {len(counts)} ticks of one scenario, {runs} runs of the sweep")


if __name__ == "__main__":
    main()
