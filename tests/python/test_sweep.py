"""Sweeps from Python against marovel-sim sweep's files, and a sweep split over Dask."""

import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import pandas as pd
import pytest

import marovel
from conftest import run_sim, sim_refusal, write_plan

# (marovel.sweep arguments, marovel-sim sweep arguments)
SWEEPS = [
    (dict(scenarios="0..3", ticks=300, every=25),
     ["--scenarios", "0..3", "--ticks", 300, "--every", 25]),
    (dict(seeds=[5, 17, 2001], errors=["high", "low"], ticks=200, every=7, startup=True,
          threads=1),
     ["--seeds", "5,17,2001", "--errors", "high,low", "--ticks", 200, "--every", 7, "--startup",
      "--threads", 1]),
    (dict(scenarios=range(6), errors="moderate,low", ticks=150, every=50, shard="2/3"),
     ["--scenarios", "0..5", "--errors", "moderate,low", "--ticks", 150, "--every", 50,
      "--shard", "2/3"]),
    (dict(scenarios="1..2", ticks=250, every=50, feedback=0.3, storm_size_max=25),
     ["--scenarios", "1..2", "--ticks", 250, "--every", 50, "--set", "feedback=0.3", "--set",
      "storm_size_max=25"]),
    (dict(scenarios="0..1", ticks=100, every=50, error_spread=50),
     ["--scenarios", "0..1", "--ticks", 100, "--every", 50, "--set", "error_spread=50"]),
    (dict(seeds="3,4", errors=["low", 50, 1e30], ticks=100, every=50),
     ["--seeds", "3,4", "--errors", "low,50,1e30", "--ticks", 100, "--every", 50]),
]


@pytest.mark.parametrize("kwargs,args", SWEEPS)
def test_sweep_tables_equal_the_command_line_files(tmp_path, kwargs, args):
    run_sim("sweep", *args, "--curves", "curves.csv", "--summary", "summary.csv", cwd=tmp_path)
    result = marovel.sweep(**kwargs)
    pd.testing.assert_frame_equal(result.curves,
                                  pd.read_csv(tmp_path / "curves.csv", comment="#"))
    pd.testing.assert_frame_equal(result.summary,
                                  pd.read_csv(tmp_path / "summary.csv", comment="#"))
    assert len(result.summary) > 0


# Designs: (marovel.sweep arguments, marovel-sim sweep arguments)
DESIGNS = [
    (dict(vary=["feedback=0.3,0.6", "tow_wait=20,90"], replicates=2, ticks=120, every=60),
     ["--vary", "feedback=0.3,0.6", "--vary", "tow_wait=20,90", "--replicates", 2]),
    (dict(vary=["arrival_lead=60..300", "patience_min=100..200"], sample="lhs:5", sample_seed=4,
          scenarios="3,5", ticks=100, every=50, error_spread=360),
     ["--vary", "arrival_lead=60..300", "--vary", "patience_min=100..200", "--sample", "lhs:5",
      "--sample-seed", 4, "--scenarios", "3,5", "--set", "error_spread=360"]),
    (dict(vary="feedback=0.2..0.8", sample="saltelli:4", ticks=80, every=40, shard=(2, 3)),
     ["--vary", "feedback=0.2..0.8", "--sample", "saltelli:4", "--shard", "2/3"]),
]


@pytest.mark.parametrize("kwargs,args", DESIGNS)
def test_design_tables_equal_the_command_line_files(tmp_path, kwargs, args):
    ticks = ["--ticks", kwargs["ticks"], "--every", kwargs["every"]]
    run_sim("sweep", *args, *ticks, "--curves", "curves.csv", "--summary", "summary.csv",
            cwd=tmp_path)
    result = marovel.sweep(**kwargs)
    pd.testing.assert_frame_equal(result.curves,
                                  pd.read_csv(tmp_path / "curves.csv", comment="#"))
    pd.testing.assert_frame_equal(result.summary,
                                  pd.read_csv(tmp_path / "summary.csv", comment="#"))


def test_a_design_table_runs_as_the_same_design_file(tmp_path):
    table = pd.DataFrame({"feedback": [0.25, 0.5, 0.7], "congestion_rate": [0.001, 0.005, 0.02],
                          "cars_per_house": [2, 3, 1]})
    with_points = table.rename_axis("point").reset_index()
    with_points.to_csv(tmp_path / "design.csv", index=False)
    run_sim("sweep", "--design", "design.csv", "--replicates", 2, "--ticks", 90, "--every", 30,
            "--summary", "summary.csv", "--curves", "curves.csv", cwd=tmp_path)
    for design in (table, with_points, tmp_path / "design.csv"):
        result = marovel.sweep(design=design, replicates=2, ticks=90, every=30)
        pd.testing.assert_frame_equal(result.summary,
                                      pd.read_csv(tmp_path / "summary.csv", comment="#"))
        pd.testing.assert_frame_equal(result.curves,
                                      pd.read_csv(tmp_path / "curves.csv", comment="#"))
    # A table that names each point's scenario runs each point once under it.
    seeded = table.assign(seed=[4, 8, 15])
    result = marovel.sweep(design=seeded, ticks=60, every=60)
    assert result.summary["seed"].tolist() == [4, 8, 15]
    alone = marovel.sweep(seeds=8, errors="low", ticks=60, every=60, feedback=0.5,
                          congestion_rate=0.005, cars_per_house=3).summary
    assert result.summary.iloc[1]["evacuated"] == alone.iloc[0]["evacuated"]


BAD_DESIGNS = [
    (dict(seeds=1, replicates=2), "replicates: only with a design"),
    (dict(vary="feedback=0.2,0.4", replicates=2, scenarios="1"), "replicates: give either R"),
    (dict(vary="feedback=0.2,0.4", errors="low"), "errors: a design runs its points'"),
    (dict(vary="feedback=2,3"), "vary: "),
    (dict(vary="feedback=0.1..0.9", sample="lhs:0"), "sample: "),
    (dict(design=pd.DataFrame({"feedback": [0.2, 7]})), "design: design:3:"),
    (dict(design=pd.DataFrame({"no_such": [1]})), "no_such"),
    (dict(design=pd.DataFrame({"feedback": [0.2]}), vary="tow_wait=1,2"), "takes no vary"),
    (dict(design=pd.DataFrame({"feedback": [0.2], "seed": [3]}), replicates=2),
     "names each point's scenario"),
    (dict(seeds=1, sample_seed=3), "sample_seed: only with a design"),
]


@pytest.mark.parametrize("kwargs,message", BAD_DESIGNS)
def test_bad_designs_raise_with_clear_messages(kwargs, message):
    with pytest.raises(ValueError) as caught:
        marovel.sweep(ticks=10, **kwargs)
    assert message in str(caught.value)


def test_shards_joined_are_the_whole_sweep_on_any_number_of_threads():
    options = dict(scenarios=[0, 4, 9], errors="low,high", ticks=120, every=30)
    whole = marovel.sweep(threads=2, **options)
    parts = [marovel.sweep(shard=(i, 4), threads=1, **options) for i in range(1, 5)]
    for name in ("curves", "summary"):
        joined = pd.concat([getattr(p, name) for p in parts], ignore_index=True)
        pd.testing.assert_frame_equal(joined, getattr(whole, name), check_dtype=False)


def test_paired_differences_are_the_command_lines(tmp_path):
    # (The figures worked out again from the summary: the command line's own tests.)
    run_sim("sweep", "--scenarios", "0..11", "--errors", "360,180", "--ticks", 900, "--every",
            900, "--paired", "p.csv", cwd=tmp_path)
    result = marovel.sweep(scenarios="0..11", errors=[360, 180], ticks=900, every=900)
    pd.testing.assert_frame_equal(result.paired, pd.read_csv(tmp_path / "p.csv", comment="#"))
    assert result.paired.set_index("figure").loc["tick_50"].pairs > 1
    # One level: nothing to pair.
    assert len(marovel.sweep(scenarios="0..1", errors="low", ticks=50).paired) == 0


def frames_of(folder, **names):
    """The command line's files in folder as DataFrames, by the names given: {name: file}."""
    return {name: pd.read_csv(folder / file, comment="#") for name, file in names.items()}


# Plans: (marovel.sweep arguments, marovel-sim sweep arguments) over the plans "a" (both halves
# ordered at once) and "b" (west first): plan=, or plans= with their paired differences.
PLAN_SWEEPS = [
    (dict(plans=["a", "b"], scenarios="0..5", errors="low,high", order_compliance=0.9),
     ["--plans", "a,b", "--scenarios", "0..5", "--errors", "low,high", "--set",
      "order_compliance=0.9"]),
    (dict(plans=["b", "a"], seeds=[5, 9], shard="2/3", order_compliance=1),
     ["--plans", "b,a", "--seeds", "5,9", "--shard", "2/3", "--set", "order_compliance=1"]),
    (dict(plan="b", scenarios="1..2", households="car,zone,outcome", order_compliance=1),
     ["--plan", "b", "--scenarios", "1..2", "--columns", "car,zone,outcome", "--set",
      "order_compliance=1"]),
]


@pytest.mark.parametrize("kwargs,args", PLAN_SWEEPS)
def test_plans_sweep_as_the_command_line_sweeps_them(tmp_path, kwargs, args):
    files = {name: write_plan(tmp_path, name, *lines) for name, lines in
             (("a", ["order = west@0", "order = east@0"]),
              ("b", ["order = west@0", "order = east@150"]))}
    args = [",".join(str(files[n]) for n in a.split(",")) if i > 0 and args[i - 1] in
            ("--plan", "--plans") else a for i, a in enumerate(args)]
    wanted = dict(curves="c.csv", summary="s.csv", paired="p.csv")
    if "households" in kwargs:
        wanted["households"] = "h.csv"
    out = run_sim("sweep", *args, "--ticks", 400, "--every", 100,
                  *[w for name, file in wanted.items() for w in (f"--{name}", file)], cwd=tmp_path)
    if "plan" in kwargs:
        kwargs["plan"] = files[kwargs["plan"]]
    else:
        kwargs["plans"] = [files[name] for name in kwargs["plans"]]
    result = marovel.sweep(ticks=400, every=100, **kwargs)
    for name, frame in frames_of(tmp_path, **wanted).items():
        pd.testing.assert_frame_equal(getattr(result, name), frame)
    plans = kwargs.get("plans") or [kwargs["plan"]]
    assert [p["file"] for p in result.plans] == [str(f) for f in plans]
    if len(plans) > 1:
        assert result.summary["plan"].drop_duplicates().tolist() == [p.stem for p in plans]
        assert (result.paired["pairs"] > 0).any()
        # The lines under the printed table on the clearance times.
        sentences = result.paired.attrs["sentences"]
        assert sentences == [line for line in out.splitlines() if " clears " in line]


def test_a_plan_compared_with_itself_differs_by_nothing(tmp_path):
    lines = ["order = west@0", "close = 18,27@40", "exit_capacity = 2"]
    plans = [write_plan(tmp_path, name, f"name = {name}", *lines) for name in ("same", "again")]
    result = marovel.sweep(scenarios="0..5", errors="moderate", ticks=300, every=100,
                           plans=plans, order_compliance=0.8)
    mean = result.summary.groupby("plan", sort=False)["evacuated"].mean()
    assert mean.index.tolist() == ["same", "again"] and mean["same"] == mean["again"]
    paired = result.paired[result.paired["pairs"] > 0]
    assert len(paired) > 0 and (paired[["difference", "low", "high"]] == 0).all(axis=None)


def test_plans_on_a_town_of_minutes_speak_in_hours_as_the_command_line_does():
    folder = pathlib.Path(__file__).resolve().parents[2] / "examples" / "plans"
    plans = ["simultaneous.plan", "staged.plan"]
    out = run_sim("sweep", "--town", "twin.town", "--plans", ",".join(plans), "--scenarios",
                  "0..3", "--errors", "moderate", "--ticks", 600, "--set", "order_compliance=0.9",
                  cwd=folder)
    result = marovel.sweep(town=folder / "twin.town", plans=[folder / p for p in plans],
                           scenarios="0..3", errors="moderate", ticks=600, order_compliance=0.9)
    sentences = result.paired.attrs["sentences"]
    assert sentences == [line for line in out.splitlines() if " clears " in line]
    assert sentences and all(" h [" in line for line in sentences)


def test_bad_plans_are_refused_as_the_command_line_refuses_them(tmp_path):
    a, b = write_plan(tmp_path, "a", "order = west@0"), write_plan(tmp_path, "b")
    other = tmp_path / "other" / "a.plan"  # plan "a" again
    other.parent.mkdir()
    other.write_text("order = town@0\n")
    for kwargs, args in [(dict(plans=[a, other]), ["--plans", f"{a},{other}"]),
                         (dict(plans=[a]), ["--plans", str(a)]),
                         (dict(plan=write_plan(tmp_path, "c", "order = west@500")),
                          ["--plan", tmp_path / "c.plan"])]:
        with pytest.raises(ValueError) as caught:
            marovel.sweep(scenarios=0, ticks=400, **kwargs)
        expected = sim_refusal("sweep", *args, "--scenarios", 0, "--ticks", 400)
        assert "--" + str(caught.value).replace("plan=", "--plan") == expected
    for kwargs, message in [(dict(plan=a, plans=[a, b]), "plan and plans both given"),
                            (dict(plans=[a, b], vary="feedback=0.2,0.4"), "not with a design"),
                            (dict(plans=str(a)), "give a list of two or more"),
                            (dict(plans=[a, "x,y.plan"]), "without a comma")]:
        with pytest.raises((ValueError, TypeError), match=message):
            marovel.sweep(scenarios=0, ticks=10, **kwargs)


def test_a_run_of_the_sweep_is_the_single_runs_tally():
    result = marovel.sweep(seeds=42, errors=["moderate"], ticks=90, every=45)
    sim = marovel.Simulation(seed=42, error="moderate")
    for row in result.curves.itertuples():
        sim.step(row.tick - sim.tick)
        assert tuple(row)[6:] == tuple(sim.tally())  # after index, seed, step, error, spread, tick
        assert row.error == "moderate" and row.spread == 360


def test_sweep_lets_other_threads_run_python_meanwhile():
    started, ended, during = threading.Event(), threading.Event(), []

    def long_sweep():
        started.set()
        begin = time.perf_counter()
        marovel.sweep_rows(scenarios="0..15", errors="moderate", ticks=1500, threads=1)
        during.extend([begin, time.perf_counter()])
        ended.set()

    worker = threading.Thread(target=long_sweep)
    worker.start()
    started.wait()
    turns = []
    while not ended.is_set():
        turns.append(time.perf_counter())
    worker.join()
    # Holding the lock for the whole sweep would leave this thread no turn until the rows
    # come back: none in the first half of the sweep.
    begin, end = during
    assert sum(begin < t < (begin + end) / 2 for t in turns) > 1000


# (arguments, exception, message)
BAD_SWEEPS = [
    (dict(), ValueError, "say which scenarios to run with seeds or scenarios"),
    (dict(seeds="1", scenarios="2"), ValueError, "seeds and scenarios both given"),
    (dict(seeds=[]), ValueError, "seeds: empty list"),
    (dict(scenarios=range(5_000_000)), ValueError, "scenarios: more than 1000000 values"),
    (dict(scenarios=[0, 0]), ValueError, "scenarios: 0 comes twice; each scenario runs once"),
    (dict(seeds="7,3,7"), ValueError, "seeds: 7 comes twice; each scenario runs once"),
    (dict(seeds=[2**31]), ValueError, "seeds = 2147483648 is outside"),
    (dict(seeds=1, errors=["low", 0.001]), ValueError, "given twice"),
    (dict(seeds=1, errors="mild"), ValueError, 'errors: "mild" is not an error level'),
    (dict(seeds=1, errors=[-1]), ValueError, "errors: error_spread = -1 is outside"),
    (dict(seeds=1, ticks=0), ValueError, "ticks = 0 is outside 1..16777216"),
    (dict(seeds=1, every=2.5), TypeError, "every = 2.5 is not a whole number"),
    (dict(seeds=1, shard=(0, 2)), ValueError, "shard index = 0 is outside 1..2"),
    (dict(seeds=1, threads=-1), ValueError, "threads = -1 is outside 0..4096"),
    (dict(seeds=1, feedback=1), ValueError, "feedback = 1 makes the model undefined"),
    (dict(seeds=1, no_such=2), ValueError, 'unknown parameter "no_such"'),
]


@pytest.mark.parametrize("kwargs,kind,message", BAD_SWEEPS)
def test_bad_sweep_arguments_raise_with_clear_messages(kwargs, kind, message):
    with pytest.raises(kind) as caught:
        marovel.sweep(**kwargs)
    assert message in str(caught.value)


@pytest.mark.parametrize("option,text", [("--scenarios", "5..1"), ("--errors", "low,low"),
                                         ("--shard", "3/2"), ("--scenarios", "0,0"),
                                         ("--scenarios", "0..4999999")])
def test_sweep_refusals_match_the_command_line(option, text):
    name = option.removeprefix("--")
    scenarios = {} if name == "scenarios" else {"scenarios": "1"}
    with pytest.raises(ValueError) as caught:
        marovel.sweep(**scenarios, **{name: text})
    words = [w for k, v in scenarios.items() for w in (f"--{k}", v)]
    expected = sim_refusal("sweep", *words, option, text)
    assert str(caught.value).replace(f"{name}: ", f"{option}: ", 1) == expected


def test_a_large_design_is_refused_as_the_command_line_refuses_it():
    with pytest.raises(ValueError) as caught:
        marovel.sweep(vary="feedback=0.1..0.9", sample="lhs:1000000", replicates=100)
    expected = sim_refusal("sweep", "--vary", "feedback=0.1..0.9", "--sample", "lhs:1000000",
                           "--replicates", 100, "--summary", "s.csv")
    # The same memory limit refuses both (the command line before it builds
    # the design, Python once it knows the replicates).
    assert "the design's 1000000 points x 100 replicates would hold about" in str(caught.value)
    assert "4096" in expected and "4096" in str(caught.value), (expected, str(caught.value))


INTERRUPTED_WORK = {
    "sweep": "marovel.sweep_rows(scenarios='0..999', errors='moderate', ticks=1000000, "
             "threads=2)",
    "step": "sim.step(10**10)",
}


@pytest.mark.parametrize("work", INTERRUPTED_WORK)
def test_ctrl_c_stops_long_work_with_keyboard_interrupt(work):
    # Ctrl-C is SIGINT to the interpreter's process. The work is hours long; the child
    # says when it has begun, and after the interrupt that the simulation still answers.
    script = f"""
import sys, marovel
sim = marovel.Simulation(seed=3, patience_min=1000000, patience_max=1000000)
print("begun", flush=True)
try:
    {INTERRUPTED_WORK[work]}
except KeyboardInterrupt:
    sim.step(1)
    print("stopped at tick", sim.tick, flush=True)
    raise
"""
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "begun\n"
        time.sleep(1.0)
        os.kill(child.pid, signal.SIGINT)
        sent = time.monotonic()
        out, err = child.communicate(timeout=20)
        waited = time.monotonic() - sent
    finally:
        child.kill()
        child.wait()
    assert "KeyboardInterrupt" in err, err
    assert child.returncode != 0
    assert out.startswith("stopped at tick"), out
    assert waited < 10, f"stopped {waited:.1f} s after Ctrl-C"


def test_version_is_the_command_lines():
    assert marovel.__version__ == run_sim("--version").split()[-1]
    assert marovel.__version__[0].isdigit()


# Per-car rows: (marovel.sweep arguments, marovel-sim sweep arguments)
HOUSEHOLDS = [
    (dict(scenarios="0..1", errors="low,high", ticks=150, every=50, households=True),
     ["--scenarios", "0..1", "--errors", "low,high", "--ticks", 150, "--every", 50]),
    (dict(vary="cars_per_house=1,2", replicates=2, ticks=100, every=50,
          households=["car", "outcome", "decision_tick"]),
     ["--vary", "cars_per_house=1,2", "--replicates", 2, "--ticks", 100, "--every", 50,
      "--columns", "car,outcome,decision_tick"]),
]


@pytest.mark.parametrize("kwargs,args", HOUSEHOLDS)
def test_households_equal_the_command_line_file(tmp_path, kwargs, args):
    run_sim("sweep", *args, "--households", "h.csv", "--summary", "s.csv", cwd=tmp_path)
    result = marovel.sweep(**kwargs)
    households = pd.read_csv(tmp_path / "h.csv", comment="#")
    pd.testing.assert_frame_equal(result.households, households)
    pd.testing.assert_frame_equal(result.summary, pd.read_csv(tmp_path / "s.csv", comment="#"))
    # A row per car of every run: as many as each run's six counts add up to.
    assert len(households) == result.summary[list(marovel.Tally._fields)].to_numpy().sum()
    curves, summary = result  # still the pair it always was
    assert marovel.sweep(scenarios=0, ticks=10, every=10).households is None


def _comment_notes(path, figures):
    """The notes of the command line's indices file, "# figure: note" lines: {figure: note}."""
    notes = {}
    for line in open(path):
        figure, _, note = line[2:].rstrip("\n").partition(": ")
        if line.startswith("# ") and figure in figures:
            notes[figure] = note
    return notes


# Indices: (marovel.sweep arguments, marovel-sim sweep arguments)
INDICES = [
    (dict(vary=["fuel_min=100..300", "patience_min=100..300"], sample="saltelli:4",
          ticks=1500, every=500, error_spread=360, sensitivity=["tick_90", "trip_mean", "towed"]),
     ["--vary", "fuel_min=100..300", "--vary", "patience_min=100..300", "--sample",
      "saltelli:4", "--ticks", 1500, "--every", 500, "--set", "error_spread=360",
      "--sensitivity-figures", "tick_90,trip_mean,towed"]),
    (dict(vary=["cars_per_house=1..4", "tow_wait=20..90"], sample="morris:3", replicates=2,
          ticks=400, every=200, sensitivity=True),
     ["--vary", "cars_per_house=1..4", "--vary", "tow_wait=20..90", "--sample", "morris:3",
      "--replicates", 2, "--ticks", 400, "--every", 200]),
]


@pytest.mark.parametrize("kwargs,args", INDICES)
def test_sensitivity_equals_the_command_line_file(tmp_path, kwargs, args):
    out = run_sim("sweep", *args, "--sensitivity", "i.csv", cwd=tmp_path)
    result = marovel.sweep(**kwargs)
    indices = pd.read_csv(tmp_path / "i.csv", comment="#")
    pd.testing.assert_frame_equal(result.sensitivity, indices)
    assert len(indices) > 0 and indices.notna().any(axis=None)
    notes = _comment_notes(tmp_path / "i.csv", set(indices["figure"]))
    assert result.sensitivity.attrs["notes"] == notes
    assert result.sensitivity.attrs["notes"], "designs this small are too small for their indices"
    assert f"Sensitivity ({result.sensitivity.attrs['estimators']})" in out


def test_sensitivity_is_refused_as_the_command_line_refuses_it():
    design = dict(vary=["fuel_min=100..300", "tow_wait=20..90"], ticks=10, every=10)
    with pytest.raises(ValueError, match="not a figure of the summary .*tick_90"):
        marovel.sweep(sample="saltelli:2", sensitivity="tick_99", **design)
    with pytest.raises(ValueError, match="not one shard"):
        marovel.sweep(sample="saltelli:2", sensitivity=True, shard="1/2", **design)
    with pytest.raises(ValueError, match="needs a design from --sample saltelli"):
        marovel.sweep(sample="lhs:3", sensitivity=True, **design)
    with pytest.raises(ValueError, match="only with a design"):
        marovel.sweep(scenarios=0, ticks=10, sensitivity=True)
    with pytest.raises(ValueError, match="households: "):
        marovel.sweep(scenarios=0, ticks=10, households="car,colour")
