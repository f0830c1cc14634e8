"""Real places from Python: an imported town and its evacuation time estimate, as marovel-sim makes them."""

import math
import pathlib
import subprocess

import pandas as pd
import pytest

import marovel
from conftest import run_sim, sim_program, sim_refusal, write_plan

OSM = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data" / "osm"
OAKLAND = OSM / "west-oakland.osm.bz2"


def test_an_import_is_the_command_lines_town_and_report(tmp_path):
    done = subprocess.run([sim_program(), "town", "import", str(OAKLAND), "--out", "cli.town",
                           "--cell", "8", "--houses", "both"],
                          cwd=tmp_path, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    town, report = marovel.Town.import_osm(OAKLAND, cell=8, houses="both")
    assert town == marovel.Town.load(tmp_path / "cli.town")
    # The command line prints the same report, its first line naming the file.
    assert f"{OAKLAND}: {report['text']}" in done.stderr
    assert report["houses"] == len(town.houses) == (report["houses_from_buildings"] +
                                                    report["houses_along_streets"])
    assert report["exits"] == len(town.exits)
    assert report["dropped"]["highway=footway (not a drivable class)"] > 0
    assert "OpenStreetMap contributors" in town.source
    # The south-west corner of the area read is the town's origin, and a cell's
    # centre lies as far from it on the earth as on the grid (8 m cells).
    lon0, lat0 = report["area"][:2]
    assert town.origin == (lat0, lon0)
    lat, lon = town.lat_lon(30.5, 20.5)
    d = math.radians
    a = (math.sin(d(lat - lat0) / 2) ** 2 +
         math.cos(d(lat0)) * math.cos(d(lat)) * math.sin(d(lon - lon0) / 2) ** 2)
    assert 2 * 6371008.8 * math.asin(math.sqrt(a)) == pytest.approx(math.hypot(244, 164), abs=0.05)
    assert marovel.Town.builtin().origin is None and marovel.Town.builtin().lat_lon(1, 1) is None


def test_bad_maps_raise_the_command_lines_message(tmp_path):
    page = tmp_path / "page.osm"
    page.write_text('<?xml version="1.0"?><html><body/></html>\n')
    with pytest.raises(ValueError) as raised:
        marovel.Town.import_osm(page)
    assert str(raised.value) == sim_refusal("town", "import", page, "--out", tmp_path / "t.town")
    with pytest.raises(ValueError, match="--cell 28 would fit"):
        marovel.Town.import_osm(OAKLAND, bbox=(-123, 37, -122, 38))
    with pytest.raises(ValueError, match="houses"):
        marovel.Town.import_osm(OAKLAND, houses="castles")


def test_an_estimate_equals_the_command_lines_csv(tmp_path):
    run_sim("town", "import", OAKLAND, "--out", "place.town", cwd=tmp_path)
    place = tmp_path / "place.town"
    run_sim("ete", "--town", place, "--replicates", 6, "--ticks", 400, "--set",
            "route_guide=road", "--error", "high", "--csv", "ete.csv", cwd=tmp_path)
    expected = pd.read_csv(tmp_path / "ete.csv", comment="#")
    town, _ = marovel.Town.import_osm(OAKLAND)
    for given in (town, place):
        got = marovel.ete(given, replicates=6, ticks=400, route_guide="road", error="high")
        pd.testing.assert_frame_equal(got, expected)
    # Other arguments, other figures: the built-in town's estimate is not this one.
    assert not marovel.ete(replicates=6, ticks=400, error="high").equals(expected)
    assert set(expected["figure"]) >= {"tick_50", "tick_90", "tick_100"}


def test_an_estimate_under_a_plan_equals_the_command_lines(tmp_path):
    plan = write_plan(tmp_path, "p", "order = east@0", "exit_capacity = 1")
    run_sim("ete", "--plan", plan, "--replicates", 4, "--ticks", 500, "--set",
            "order_compliance=1", "--csv", "ete.csv", cwd=tmp_path)
    expected = pd.read_csv(tmp_path / "ete.csv", comment="#")
    pd.testing.assert_frame_equal(
        marovel.ete(plan=plan, replicates=4, ticks=500, order_compliance=1), expected)
    assert not marovel.ete(replicates=4, ticks=500, order_compliance=1).equals(expected)
