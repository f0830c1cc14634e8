"""Towns from Python: loaded, built in or made from arrays, run and swept as marovel-sim runs them."""

import gc
import pathlib

import numpy as np
import pandas as pd
import pytest

import marovel
from conftest import HALVES, run_sim, sim_refusal, write_plan

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILTIN_FILE = ROOT / "data" / "towns" / "builtin.town"
CATALOGUE = sorted((ROOT / "tests" / "sim" / "towns").glob("*.town"))
# The town file page's example: houses of their own car counts, a bridge, a bay of water.
RIVERSIDE = """# Two banks and a bridge.
name = Riverside
cell_size_m = 12.5
exit = 7,3
cars = 1,1,4
cars = 5,2,0
grid
+++>>+++
|NN~~NN|
|SS~~SS|
+++~~+++
"""


def riverside(folder):
    path = folder / "riverside.town"
    path.write_text(RIVERSIDE)
    return path


def data_lines(text):
    return [line for line in text.splitlines() if not line.startswith("#")]


def run_lines(sim, ticks):
    lines = [sim.fingerprint()]
    while sim.tick < ticks:
        sim.step(1)
        lines.append(sim.fingerprint())
    return lines


def file_arrays(path):
    """The arguments of Town.from_arrays read straight from a town file's text."""
    keys, rows, in_grid = {"exit": [], "cars": {}}, [], False
    for line in path.read_text().splitlines():
        if in_grid:
            if line:
                rows.append(line)
        elif line == "grid":
            in_grid = True
        elif line and not line.startswith("#"):
            key, value = (part.strip() for part in line.split("=", 1))
            if key == "exit":
                keys["exit"].append(tuple(int(v) for v in value.split(",")))
            elif key == "cars":
                x, y, n = (int(v) for v in value.split(","))
                keys["cars"][(x, y)] = n
            else:
                keys[key] = value
    cells = np.array([list(row) for row in rows], dtype="U1")
    return dict(cells=cells, exits=keys["exit"], name=keys.get("name"),
                cell_size_m=float(keys.get("cell_size_m", 10)), cars=keys["cars"])


def test_loaded_builtin_and_array_towns_agree():
    builtin = marovel.Town.builtin()
    loaded = marovel.Town.load(BUILTIN_FILE)
    arrays = marovel.Town.from_arrays(**file_arrays(BUILTIN_FILE))
    assert loaded == builtin and arrays == builtin
    assert (builtin.width, builtin.height, builtin.name, builtin.cell_size_m) == \
        (40, 30, "built-in", 10.0)
    for town in (loaded, arrays):
        assert np.array_equal(town.layout, builtin.layout)
        assert town.houses.tolist() == builtin.houses.tolist()
        assert town.exits.tolist() == builtin.exits.tolist() == [(20, 29)]
    # The layout is [y, x], as the simulation's: the file's first line is the top row.
    assert np.array_equal(builtin.layout, marovel.Simulation().layout)
    assert builtin.layout[1, 1] == 1 and builtin.layout[0, 1] != 0  # a house, its door below
    assert "".join(builtin.cells()[0]) == BUILTIN_FILE.read_text().split("grid\n")[1].split()[0]
    # Layout codes with door letters make the same town.
    codes = marovel.Town.from_arrays(builtin.layout[::-1], doors=builtin.cells(),
                                     exits=[(20, 29)], name="built-in")
    assert codes == builtin
    assert builtin.text() == run_sim("town", "show", "builtin") == loaded.text()
    assert builtin.problems() == []
    assert repr(builtin) == "<marovel.Town 'built-in' 40 x 30, 360 houses, 1 exit>"


def test_a_run_on_the_builtin_file_has_the_default_fingerprints():
    expected = data_lines(run_sim("--fingerprint", "--ticks", 200, "--seed", 7))
    for town in (BUILTIN_FILE, marovel.Town.load(BUILTIN_FILE), str(BUILTIN_FILE)):
        assert run_lines(marovel.Simulation(seed=7, town=town), 200) == expected
    assert run_lines(marovel.Simulation(seed=7), 200) == expected


@pytest.mark.parametrize("path", CATALOGUE + [None], ids=lambda p: p.stem if p else "riverside")
def test_a_town_from_arrays_runs_as_its_file(path, tmp_path):
    path = path or riverside(tmp_path)
    loaded = marovel.Town.load(path)
    arrays = marovel.Town.from_arrays(**file_arrays(path))
    assert arrays == loaded
    assert arrays.text() == run_sim("town", "show", path)
    expected = data_lines(run_sim("--town", path, "--fingerprint", "--ticks", 150, "--seed", 3,
                                  "--set", "route_guide=road"))
    runs = [marovel.Simulation(seed=3, town=t, route_guide="road") for t in (arrays, loaded)]
    for sim in runs:
        assert run_lines(sim, 150) == expected
        # The views are sized from the town, and the town is shared, not copied.
        assert sim.layout.shape == sim.traffic.shape == (loaded.height, loaded.width)
        assert np.array_equal(sim.layout, loaded.layout)
        per_house = sim.parameters["cars_per_house"]
        cars = sum(n if n >= 0 else per_house for n in loaded.houses["cars"].tolist())
        assert len(sim.cars) == len(sim.households) == len(sim.threat) == cars
    assert np.shares_memory(runs[0].town.layout, arrays.layout)


# (from_arrays arguments, what the message must say)
BAD_ARRAYS = [
    (dict(cells=["E+?"], exits=[(1, 0)]), "unknown cell character at (2, 0)"),
    (dict(cells=["E++", "..."], exits=[(2, 0)]), "exit not on a road at (2, 0)"),
    (dict(cells=["S++", "..."], exits=[(2, 1)]), "door of the house is not a road at (0, 1)"),
    (dict(cells=["+++", "N.."], exits=[(2, 1)], cars={(1, 0): 2}), "cars: no house at (1, 0)"),
    (dict(cells=["+++", "N.."], exits=[(2, 1)], cars=[(0, 0, 101)]), "cars = 101 is outside"),
    (dict(cells=np.array([[15, 15], [1, 7]], dtype=np.uint8), doors=[["+", "+"], ["N", "."]],
          exits=[(0, 1)]), "unknown layout code at (1, 0)"),
    (dict(cells=np.array([[15, 15], [1, 0]], dtype=np.uint8), doors=[["+", "+"], ["+", "."]],
          exits=[(0, 1)]), "no door letter (S, N, E or W) for the house at (0, 0)"),
    (dict(cells=np.array([[15, 15], [1, 0]], dtype=np.uint8), exits=[(0, 1)]),
     "layout codes need the houses' doors"),
    (dict(cells=["++", "NN"], doors=[["N", "N"]], exits=[(0, 1)]), "the house letters"),
    (dict(cells=["+++", "N."], exits=[(0, 1)]), "row 1 holds 2 cells"),
    (dict(cells=[["+", "+"], ["N", "ab"]], exits=[(0, 1)]), "'ab' at (1, 0) is not one character"),
    (dict(cells=["+++"], exits=[(0, 0)]), "the town has no house"),
    (dict(cells=["N++"], exits=[]), "the town has no exit"),
]


@pytest.mark.parametrize("kwargs,message", BAD_ARRAYS)
def test_bad_arrays_raise_naming_the_cell(kwargs, message):
    with pytest.raises(ValueError) as caught:
        marovel.Town.from_arrays(**kwargs)
    assert message in str(caught.value)


@pytest.mark.parametrize("text", [
    "exit = 2,0\ngrid\nE+?\n",        # an unknown character
    "exit = 1,0\ngrid\nE+\n+\n",      # a short row
    "exit = 0,0\ngrid\nE++\n",        # an exit on the house
    "grid\nE++\n",                     # no exit
    "exit = 2,0\ncolour = red\ngrid\nE++\n",
])
def test_bad_files_raise_the_command_lines_message(tmp_path, text):
    path = tmp_path / "bad.town"
    path.write_text(text)
    expected = sim_refusal("town", "show", path)
    assert expected.startswith(f"{path}:")
    with pytest.raises(ValueError) as caught:
        marovel.Town.load(path)
    assert str(caught.value) == expected
    with pytest.raises(ValueError) as caught:
        marovel.Simulation(town=path)
    assert str(caught.value) == "town: " + expected
    with pytest.raises(ValueError) as caught:
        marovel.sweep(scenarios=0, ticks=10, town=path)
    assert str(caught.value) == "town: " + expected
    with pytest.raises(ValueError, match="not a regular file"):
        marovel.Town.load(tmp_path)


def test_views_are_read_only_and_outlive_the_town():
    arrays = file_arrays(BUILTIN_FILE)
    town = marovel.Town.from_arrays(**arrays)
    layout, houses, exits = town.layout, town.houses, town.exits
    kept = (layout.copy(), houses.copy(), exits.copy())
    for view in (layout, houses, exits):
        assert not view.flags.writeable
        with pytest.raises(ValueError):
            view.flags.writeable = True
    with pytest.raises(ValueError):
        layout[0, 0] = 0
    del town
    gc.collect()
    # Towns of the same size made and dropped meanwhile would reuse freed memory.
    for _ in range(20):
        other = marovel.Town.from_arrays(np.where(arrays["cells"] == ".", "~", arrays["cells"]),
                                         exits=arrays["exits"])
        del other
    assert np.array_equal(layout, kept[0]) and houses.tolist() == kept[1].tolist()
    assert exits.tolist() == kept[2].tolist()
    # A simulation's town is the same town: its views outlive both.
    sim = marovel.Simulation(town=marovel.Town.load(BUILTIN_FILE))
    town_layout = sim.town.layout
    del sim
    gc.collect()
    assert np.array_equal(town_layout, kept[0])


def test_zones_name_each_house_and_car(tmp_path):
    (tmp_path / "zoned.town").write_text(BUILTIN_FILE.read_text() + "zones\n" + HALVES)
    # The zones of a town file's layer, and those a plan lays over the built-in town.
    for sim in (marovel.Simulation(town=tmp_path / "zoned.town", cars_per_house=3),
                marovel.Simulation(plan=write_plan(tmp_path, "p"), cars_per_house=3)):
        town = sim.town
        assert town.zone_names == ["west", "east"]
        names = np.take(town.zone_names, town.house_zones)
        assert names.tolist() == ["west" if x < 20 else "east" for x in town.houses["pos"]["x"]]
        assert not town.house_zones.flags.writeable
        zone_of = dict(zip(town.houses["pos"].tolist(), town.house_zones.tolist()))
        homes = sim.cars["home"].tolist()
        assert sim.zones().tolist() == [zone_of[home] for home in homes] and len(homes) == 1080
    town = marovel.Town.builtin()  # one zone
    assert town.zone_names == ["town"]
    assert town.house_zones.tolist() == [0] * len(town.houses)
    assert marovel.Simulation().zones().tolist() == [0] * 720


def test_a_sweep_on_a_generated_town_equals_the_command_line(tmp_path):
    run_sim("town", "generate", "--repeat", "2x1", "--exits", 3, "--out", "city.town", cwd=tmp_path)
    city = tmp_path / "city.town"
    run_sim("sweep", "--town", city, "--scenarios", "0..2", "--errors", "low,high", "--ticks", 120,
            "--every", 30, "--curves", "curves.csv", "--summary", "summary.csv", cwd=tmp_path)
    curves = pd.read_csv(tmp_path / "curves.csv", comment="#")
    summary = pd.read_csv(tmp_path / "summary.csv", comment="#")
    town = marovel.Town.load(city)
    assert (town.width, town.height, len(town.exits)) == (80, 30, 3)
    for given in (town, city, str(city)):
        result = marovel.sweep(scenarios="0..2", errors="low,high", ticks=120, every=30,
                               town=given)
        pd.testing.assert_frame_equal(result.curves, curves)
        pd.testing.assert_frame_equal(result.summary, summary)
    rows = marovel.sweep_rows(scenarios="0..2", errors="low,high", ticks=120, every=30, town=town)
    assert [line for line in (tmp_path / "summary.csv").read_text().splitlines()
            if not line.startswith("#")] == rows[1].splitlines()
    # Not the built-in town's rows.
    builtin = marovel.sweep(scenarios="0..2", errors="low,high", ticks=120, every=30)
    assert not builtin.summary.equals(summary)
