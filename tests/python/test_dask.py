"""A sweep split into chunks over a real Dask cluster of two worker processes."""

import pathlib
import shutil

import pandas as pd
import pytest

import marovel

distributed = pytest.importorskip("distributed", reason="Dask's distributed is not installed")
import marovel.dask  # noqa: E402  (needs distributed only when it runs)

PLANS = pathlib.Path(__file__).resolve().parents[2] / "examples" / "plans"


@pytest.fixture(scope="module")
def client():
    try:
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                           dashboard_address=None, host="127.0.0.1")
    except Exception as e:  # no processes, no sockets: nothing to test against
        pytest.skip(f"a LocalCluster of two worker processes could not start: {e}")
    with cluster, distributed.Client(cluster) as c:
        yield c


@pytest.mark.parametrize("chunks", [None, 1, 5, 100])
def test_dask_split_equals_the_single_machine_sweep(client, chunks):
    options = dict(scenarios="0..4", errors="low,high", ticks=200, every=40, feedback=0.4)
    whole = marovel.sweep(**options)
    split = marovel.dask.sweep(client, chunks=chunks, **options)
    pd.testing.assert_frame_equal(split.curves, whole.curves)
    pd.testing.assert_frame_equal(split.summary, whole.summary)


def test_a_design_splits_like_any_sweep(client, tmp_path):
    table = pd.DataFrame({"feedback": [0.2, 0.4, 0.6], "tow_wait": [10, 50, 90]})
    table.to_csv(tmp_path / "d.csv", index_label="point")
    options = dict(replicates=2, ticks=100, every=50)
    whole = marovel.sweep(design=table, **options)
    for design in (table, tmp_path / "d.csv"):
        split = marovel.dask.sweep(client, design=design, chunks=4, **options)
        pd.testing.assert_frame_equal(split.curves, whole.curves)
        pd.testing.assert_frame_equal(split.summary, whole.summary)


def test_parameter_files_travel_as_values(client, tmp_path):
    (tmp_path / "p.txt").write_text("departure_noise = 400\nfeedback = 0.2\n")
    options = dict(seeds="4..7", errors=["moderate"], ticks=150, every=50)
    whole = marovel.sweep(params=tmp_path / "p.txt", **options)
    split = marovel.dask.sweep(client, params=tmp_path / "p.txt", chunks=3, **options)
    pd.testing.assert_frame_equal(split.summary, whole.summary)
    assert not whole.summary.equals(marovel.sweep(**options).summary)


def test_a_town_and_its_plans_travel_to_the_workers(client, tmp_path, monkeypatch):
    # Relative names in a folder the workers, started elsewhere, do not look in.
    for name in ("twin.town", "twin.zones", "simultaneous.plan", "staged.plan"):
        shutil.copy(PLANS / name, tmp_path)
    monkeypatch.chdir(tmp_path)
    options = dict(scenarios="0..3", errors="moderate", ticks=300, every=100, town="twin.town",
                   order_compliance=1)
    plans = ["simultaneous.plan", "staged.plan"]
    whole = marovel.sweep(plans=plans, **options)
    split = marovel.dask.sweep(client, plans=plans, chunks=3, **options)
    pd.testing.assert_frame_equal(split.curves, whole.curves)
    pd.testing.assert_frame_equal(split.summary, whole.summary)
    pd.testing.assert_frame_equal(split.paired, whole.paired)
    assert split.plans == whole.plans and len(whole.plans) == 2
    # The sentences give hours by the town's minutes_per_tick.
    assert split.paired.attrs["sentences"] == whole.paired.attrs["sentences"]
    assert " h [" in whole.paired.attrs["sentences"][0]
    # One plan, on the town as an object.
    town = marovel.Town.load("twin.town")
    one = marovel.sweep(plan="staged.plan", **{**options, "town": town})
    split_one = marovel.dask.sweep(client, plan="staged.plan", chunks=2, **{**options, "town": town})
    pd.testing.assert_frame_equal(split_one.summary, one.summary)
    assert split_one.plans == one.plans
    assert not one.summary.equals(marovel.sweep(**options).summary)


def test_the_chunks_run_on_both_workers(client):
    with distributed.get_task_stream(client) as stream:
        result = marovel.dask.sweep(client, scenarios="0..7", errors="moderate", ticks=300,
                                    chunks=8)
    assert len(result.summary) == 8
    chunks = [t for t in stream.data if "_chunk" in t["key"]]
    assert len(chunks) == 8 and len({t["worker"] for t in chunks}) == 2


@pytest.mark.parametrize("kwargs,message", [
    (dict(scenarios="3..1"), "scenarios: "),
    (dict(seeds=1, chunks=0), "chunks = 0 is not a whole number >= 1"),
    (dict(seeds=1, feedback=2), "feedback = 2 is outside its range 0..1"),
    (dict(seeds=1, plan="no-such.plan"), "plan: "),
])
def test_bad_arguments_raise_here_before_any_task_is_sent(client, kwargs, message):
    with pytest.raises(ValueError, match=message):
        marovel.dask.sweep(client, **kwargs)
