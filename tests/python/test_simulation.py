"""One simulation from Python against marovel-sim: fingerprints, views, arguments."""

import gc
import hashlib
import math
import threading

import numpy as np
import pytest

import marovel
from conftest import run_sim, sim_refusal, write_plan

TICKS = 150
EXIT = (20, 29)
EVACUATING = 1


def same(a, b):
    """Equal field by field (the structs' padding bytes are not values), NaN equal to NaN."""
    if a.dtype.names:
        return all(same(a[name], b[name]) for name in a.dtype.names)
    return np.array_equal(a, b, equal_nan=a.dtype.kind == "f")


def python_lines(sim, ticks, chunk=1):
    lines = [sim.fingerprint()]
    while sim.tick < ticks:
        sim.step(min(chunk, ticks - sim.tick))
        lines.append(sim.fingerprint())
    return lines


def data_lines(text):
    """The lines of a report without its comment lines (the parameters it ran under)."""
    return [line for line in text.splitlines() if not line.startswith("#")]


def cli_lines(ticks, *args):
    return data_lines(run_sim("--fingerprint", "--ticks", ticks, *args))


# (Simulation arguments, marovel-sim arguments)
FINGERPRINT_CASES = [
    (dict(), []),
    (dict(scenario=3, error="moderate"), ["--scenario", 3, "--error", "moderate"]),
    (dict(seed=42, error="high"), ["--seed", 42, "--error", "high"]),
    (dict(scenario=-2, startup=True), ["--scenario", -2, "--startup"]),
    (dict(seed=7, error=360.0), ["--seed", 7, "--error", "moderate"]),
    (dict(seed=5, feedback=0.3, cars_per_house=3, storm_size_max=20),
     ["--seed", 5, "--set", "feedback=0.3", "--set", "cars_per_house=3", "--set",
      "storm_size_max=20"]),
    (dict(scenario=1, error=50, departure_noise=5.5),
     ["--scenario", 1, "--error", 50, "--set", "departure_noise=5.5"]),
]


def test_parameter_files_are_read_as_the_command_line_reads_them(tmp_path):
    (tmp_path / "a.txt").write_text("# slower storms\nstorm_speed_max = 0.004\nfeedback=0.2\n")
    (tmp_path / "b.txt").write_text("feedback = 0.6  # the later file wins\n")
    files = [tmp_path / "a.txt", str(tmp_path / "b.txt")]
    sim = marovel.Simulation(seed=12, params=files, arrival_lead=90)
    assert (sim.parameters["feedback"], sim.parameters["storm_speed_max"]) == (0.6, 0.004)
    expected = cli_lines(80, "--seed", 12, "--params", files[0], "--params", files[1], "--set",
                         "arrival_lead=90")
    assert python_lines(sim, 80) == expected
    (tmp_path / "bad.txt").write_text("feedback = 0.2\nfuel_max = -4\n")
    with pytest.raises(ValueError) as caught:
        marovel.Simulation(params=tmp_path / "bad.txt")
    assert "--" + str(caught.value) == sim_refusal("--params", tmp_path / "bad.txt")
    with pytest.raises(ValueError, match="params: .*missing.txt"):
        marovel.Simulation(params=str(tmp_path / "missing.txt"))


@pytest.mark.parametrize("kwargs,args", FINGERPRINT_CASES)
def test_fingerprints_equal_the_command_line_tick_for_tick(kwargs, args):
    expected = cli_lines(TICKS, *args)
    assert python_lines(marovel.Simulation(**kwargs), TICKS) == expected
    # Many ticks per call land on the same lines.
    assert python_lines(marovel.Simulation(**kwargs), TICKS, chunk=50) == expected[::50]


def cli_words(kwargs):
    """marovel-sim's options for Simulation arguments: seed, scenario, and parameters by --set."""
    words = []
    for name, value in kwargs.items():
        words += [f"--{name}", value] if name in ("seed", "scenario") else ["--set",
                                                                          f"{name}={value}"]
    return words


# Plans on the built-in town (the lines after its `zones = halves.zones`), and what they run under.
PLANS = [
    (["order = west@0", "order = east@60"], dict(order_compliance=1)),
    (["order = east@20", "close = 18,27:18,28@50", "reopen = 18,27@90", "exit_capacity = 1"],
     dict(seed=4, order_compliance=0.7)),
    (["close = 18,27:18,28@30", "contraflow = 21,27:21,28@30:up"],
     dict(scenario=2, route_guide="road")),
]


@pytest.mark.parametrize("lines,kwargs", PLANS)
def test_a_plan_runs_as_the_command_line_runs_it(tmp_path, lines, kwargs):
    plan = write_plan(tmp_path, "p", *lines)
    expected = cli_lines(TICKS, "--plan", plan, *cli_words(kwargs))
    assert expected != cli_lines(TICKS, *cli_words(kwargs)), "the plan changes nothing"
    sim = marovel.Simulation(plan=plan, **kwargs)
    assert python_lines(sim, TICKS) == expected
    sim.reset()  # rebuilds keep the plan
    assert python_lines(sim, 40) == expected[:41]
    digest = hashlib.sha256(plan.read_bytes()).hexdigest()
    assert sim.plan == {"name": "p", "file": str(plan), "sha256": digest}
    assert marovel.Simulation().plan is None


@pytest.mark.parametrize("lines", [["order = north@10"], ["close = 40,3@10"],
                                   ["exit_capacity = 0"], ["order west@3"],
                                   ["contraflow = 0,29:3,29@5"]])
def test_bad_plans_are_refused_as_the_command_line_refuses_them(tmp_path, lines):
    plan = write_plan(tmp_path, "bad", *lines)
    with pytest.raises(ValueError) as caught:
        marovel.Simulation(plan=plan)
    assert "--" + str(caught.value) == sim_refusal("--plan", plan)


# A method applied after a run, and the marovel-sim seed whose run it must start.
REBUILDS = [
    (3, "reset", 3),
    (3, "next_scenario", 1003),
    (3, "previous_scenario", -997),
    (2147483647, "next_scenario", -2147482649),  # wraps around as the window does
    (-2147483647, "previous_scenario", 2147482649),
]


@pytest.mark.parametrize("seed,method,expected_seed", REBUILDS)
def test_rebuilds_start_the_run_of_their_seed(seed, method, expected_seed):
    sim = marovel.Simulation(seed=seed, error="moderate", startup=True)
    sim.step(120)
    getattr(sim, method)()
    assert (sim.seed, sim.tick) == (expected_seed, 0)
    assert python_lines(sim, 60) == cli_lines(60, "--seed", expected_seed, "--error", "moderate")


def test_scenario_numbers_and_seeds_agree():
    # The window shows seed / 1000 truncated toward zero: scenario -3 is seed -2999, "-2".
    for k, shown in ((-3, -2), (0, 0), (1, 1), (12, 12)):
        sim = marovel.Simulation(scenario=k)
        assert (sim.seed, sim.scenario) == (1 + 1000 * k, k)
        assert sim.status_line == f"Marovel 1.0: Scenario={shown} Time=0.0"
    assert marovel.Simulation(seed=1500).scenario is None


def test_views_follow_the_simulation_live():
    sim = marovel.Simulation(scenario=2, error="moderate")
    cars, traffic, storm, homes = sim.cars, sim.traffic, sim.storm, sim.households
    start = cars.copy()
    sim.step(300)
    assert not np.array_equal(cars, start)
    for name, view in (("cars", cars), ("traffic", traffic), ("households", homes)):
        assert same(view, getattr(sim, name))
    assert float(storm["time"]) == sim.time == 300.0
    # The views read the same cars as the tally: every field lies where the struct has it.
    tally = sim.tally()
    at_exit = (cars["pos"]["x"] == EXIT[0]) & (cars["pos"]["y"] == EXIT[1])
    assert int(np.sum((cars["state"] == EVACUATING) & at_exit)) == tally.evacuated
    assert int(np.sum(cars["state"] == 0)) == tally.not_evacuated
    home = (cars["pos"]["x"] == cars["home"]["x"]) & (cars["pos"]["y"] == cars["home"]["y"])
    houses = sim.layout == 1
    parked = np.zeros_like(traffic, dtype=np.int64)
    np.add.at(parked, (cars["home"]["y"][home], cars["home"]["x"][home]), 1)
    assert np.array_equal(traffic[houses], parked[houses])
    assert len(cars) == len(homes) == len(sim.threat) == sum(tally)
    assert np.all((cars["patience"] <= 360) & (cars["fuel"] <= 400))
    assert np.all(homes["departure_time"][cars["state"] == 0] >= sim.time - 1)


VIEWS = ["cars", "traffic", "layout", "households", "storm", "threat"]


@pytest.mark.parametrize("name", VIEWS)
def test_views_refuse_writes(name):
    sim = marovel.Simulation()
    before = sim.fingerprint()
    view = getattr(sim, name)
    with pytest.raises(ValueError, match="read-only"):
        view[...] = 0
    with pytest.raises(ValueError, match="WRITEABLE"):
        view.setflags(write=True)
    with pytest.raises(ValueError, match="read-only"):
        np.copyto(view, np.zeros_like(view))
    assert sim.fingerprint() == before


@pytest.mark.parametrize("name", VIEWS)
def test_a_view_keeps_its_simulation_alive(name):
    sim = marovel.Simulation(scenario=4)
    sim.step(200)
    view = getattr(sim, name)
    copy = view.copy()
    del sim
    gc.collect()
    # Memory freed under the view would be reused by the next simulations.
    others = [marovel.Simulation(seed=s) for s in range(5)]
    for other in others:
        other.step(10)
    assert isinstance(view.base, marovel.Simulation)
    assert same(view, copy)


def test_properties_and_tally():
    sim = marovel.Simulation(seed=9, error="high", feedback=0.25, tow_wait=10)
    assert sim.error == "high"
    assert sim.parameters == {**marovel.default_parameters(), "feedback": 0.25, "tow_wait": 10.0,
                              "error_spread": sim.parameters["error_spread"]}
    assert list(sim.parameters) == list(marovel.parameter_table()["name"])
    sim = marovel.Simulation(seed=9, error="high")
    sim.step(400)
    tally = sim.tally()
    assert isinstance(tally, marovel.Tally) and sum(tally) == 720
    report = data_lines(run_sim("--seed", 9, "--error", "high", "--ticks", 400, "--csv"))
    assert tally == tuple(int(n) for n in report[1].split(",")[1:7])
    assert (sim.tick, sim.time) == (400, 400.0)


@pytest.mark.parametrize("kwargs,args", [
    (dict(scenario=1), ["--scenario", 1]),
    (dict(seed=8, error="high", tow_wait=5),
     ["--seed", 8, "--error", "high", "--set", "tow_wait=5"]),
])
def test_run_until_settled_stops_where_the_command_line_does(kwargs, args):
    sim = marovel.Simulation(**kwargs)
    assert sim.run_until_settled(max_ticks=20) is False and sim.tick == 20
    assert sim.run_until_settled() is True
    report = run_sim(*args, "--until-settled", "--ticks", 100000, "--csv").splitlines()
    names, values = report[-2].lstrip("# ").split(","), report[-1].lstrip("# ").split(",")
    assert sim.tick == int(dict(zip(names, values))["settled_tick"])
    tally = sim.tally()
    assert tally.not_evacuated == tally.en_route == tally.out_of_gas == 0


# (arguments, exception, message) — messages as the command line words them;
# those the command line also refuses are compared with it whole below.
BAD_ARGUMENTS = [
    (dict(cars_per_house=2.5), ValueError, "cars_per_house = 2.5 is not a whole number"),
    (dict(route_guide=2), ValueError, "route_guide = 2 is outside its range 0..1"),
    (dict(cars_per_house=101), ValueError, "cars_per_house = 101 is outside its range 1..100"),
    (dict(feedback=True), TypeError, "feedback = True is not a number"),
    (dict(feedback=float("nan")), ValueError, 'feedback = "nan" is not a decimal number'),
    (dict(error=-1), ValueError, "error_spread = -1 is outside its range 0..inf"),
    (dict(error="low", error_spread=3), ValueError, "error and error_spread both given"),
    (dict(seed=1, scenario=2), ValueError, "seed and scenario both given"),
    (dict(seed=2**31), ValueError, "seed = 2147483648 is outside"),
    (dict(seed=1.5), TypeError, "seed = 1.5 is not a whole number"),
    (dict(plan=3), TypeError, "plan: give a plan file's path"),
    (dict(plan="no-such.plan"), ValueError, "plan: no-such.plan: "),
]


@pytest.mark.parametrize("kwargs,kind,message", BAD_ARGUMENTS)
def test_bad_arguments_raise_with_clear_messages(kwargs, kind, message):
    with pytest.raises(kind) as caught:
        marovel.Simulation(**kwargs)
    assert message in str(caught.value)


@pytest.mark.parametrize("option,text", [("--set", "feedback=1.5"), ("--set", "no_such=1"),
                                         ("--set", "feedback=0.99999999"),
                                         ("--set", "fuel_min=lots"),
                                         ("--set", "patience_min=400"), ("--error", "middling"),
                                         ("--error", "-3")])
def test_parameter_refusals_match_the_command_line(option, text):
    name, value = text.split("=") if option == "--set" else ("error", text)
    with pytest.raises(ValueError) as caught:
        marovel.Simulation(**{name: value})
    expected = sim_refusal(option, text)
    # The command line names its option where Python names the argument.
    assert expected.endswith(str(caught.value).removeprefix("error: "))


def test_values_the_model_cannot_tell_apart_are_one_value():
    zero = marovel.Simulation(departure_noise=0, congestion_rate=0).parameters
    for noise, rate in [(-0.0, 5e-324), ("-0", "1e-50"), (0.0, -0.0)]:
        same = marovel.Simulation(departure_noise=noise, congestion_rate=rate).parameters
        assert same == zero
        assert math.copysign(1, same["departure_noise"]) == 1
    # A value with the default's float is the default; another reads as its float.
    assert marovel.Simulation(feedback=0.49000000001).parameters == marovel.default_parameters()
    assert marovel.Simulation(feedback=0.6000000001).parameters["feedback"] == 0.6


@pytest.mark.parametrize("n,kind", [(-1, ValueError), (2.0, TypeError), ("3", TypeError)])
def test_step_refuses_what_is_not_a_count_of_ticks(n, kind):
    sim = marovel.Simulation()
    with pytest.raises(kind, match="n = "):
        sim.step(n)
    assert sim.tick == 0


def test_a_simulation_stepping_on_one_thread_refuses_another():
    sim = marovel.Simulation()
    started = threading.Event()

    def long_run():
        started.set()
        sim.step(100000)

    worker = threading.Thread(target=long_run)
    worker.start()
    started.wait()
    refused = 0
    while worker.is_alive():
        try:
            sim.tally()
        except RuntimeError as e:
            assert "in use by another thread" in str(e)
            refused += 1
    worker.join()
    assert refused > 0 and sim.tick == 100000
