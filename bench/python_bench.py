#!/usr/bin/python3
"""What the Python module costs over the C++ simulation, and a sweep on 1 and 2 threads.

    cmake --build --preset release --target marovel_python sim_bench
    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py

The C++ figure is sim_bench's BM_Scenario (build scenario 1, then 2000 ticks),
run here; the Python figures run the same work through Simulation: reset()
then step(2000), two step(1000), or 2000 step(1). Times are CPU time of the
running thread (a shared machine's other work counts less than in wall time),
C++ and Python repeats interleaved, and each figure is the best of its repeats.
"""

import argparse
import json
import os
import subprocess
import time
import timeit

import marovel

TICKS = 2000


def best(seconds_of_one, repeats):
    return min(seconds_of_one() for _ in range(repeats))


def timed(fn, clock=time.thread_time):
    def once():
        start = clock()
        fn()
        return clock() - start
    return once


def cpp_scenario_ms(sim_bench, level):
    out = subprocess.run([sim_bench, f"--benchmark_filter=BM_Scenario/{level}$",
                          "--benchmark_min_time=0.2", "--benchmark_format=json"],
                         capture_output=True, text=True, check=True).stdout
    return json.loads(out)["benchmarks"][0]["cpu_time"]  # milliseconds


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim-bench",
                        default=os.path.join(here, "..", "build", "release", "bench", "sim_bench"))
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--scenarios", default="0..15", help="the sweep's scenarios")
    args = parser.parse_args()

    print(f"{'scenario 1, CPU time':<44} {'ms':>8} {'us/tick':>8} {'extra':>7}")
    for level in ("low", "moderate"):
        sim = marovel.Simulation(seed=1, error=level)

        def whole():
            sim.reset()
            sim.step(TICKS)

        def halves():
            sim.reset()
            sim.step(1000)
            sim.step(1000)

        def singles():
            sim.reset()
            for _ in range(TICKS):
                sim.step()

        names = [f"C++ build + {TICKS} ticks ({level} error)", f"Python reset() + step({TICKS})",
                 "Python reset() + 2 x step(1000)", f"Python reset() + {TICKS} x step(1)"]
        times = {name: [] for name in names}
        for _ in range(args.repeats):
            times[names[0]].append(cpp_scenario_ms(args.sim_bench, level))
            for name, fn in zip(names[1:], (whole, halves, singles)):
                times[name].append(1000 * timed(fn)())
        rows = [(name, min(times[name])) for name in names]
        cpp = rows[0][1]
        for name, ms in rows:
            print(f"{name:<44} {ms:8.2f} {1000 * ms / TICKS:8.2f} {100 * (ms / cpp - 1):+6.1f}%")

    sim = marovel.Simulation(seed=1, error="moderate")
    sim.step(300)
    calls = 200000
    per_call = min(timeit.repeat(sim.tally, number=calls, repeat=args.repeats)) / calls
    fp = min(timeit.repeat(sim.fingerprint, number=2000, repeat=args.repeats)) / 2000
    view = min(timeit.repeat(lambda: sim.cars, number=calls, repeat=args.repeats)) / calls
    print(f"tally(): {1e9 * per_call:.0f} ns a call; fingerprint(): {1e6 * fp:.1f} us; "
          f"the cars view: {1e9 * view:.0f} ns")

    options = dict(scenarios=args.scenarios, errors="low,moderate,high", ticks=TICKS)
    seconds = {}
    for threads in (1, 2):
        seconds[threads] = best(timed(lambda: marovel.sweep(threads=threads, **options),
                                      time.perf_counter), max(1, args.repeats // 3))
    runs = len(marovel.sweep(threads=2, **{**options, "ticks": 1}).summary)
    print(f"wall time of a sweep of {runs} runs x {TICKS} ticks: 1 thread {seconds[1]:.2f} s, "
          f"2 threads {seconds[2]:.2f} s, speed-up {seconds[1] / seconds[2]:.2f} on {os.cpu_count()} cores")


if __name__ == "__main__":
    main()
