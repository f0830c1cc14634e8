"""marovel.calibrate against marovel-sim calibrate on the same observed curve."""

import pandas
import pytest

import marovel
from conftest import run_sim, sim_program

OBSERVED = pandas.DataFrame({"tick": [40, 80, 120, 160], "departed": [0.10, 0.14, 0.20, 0.24],
                             "arrived": [0.00, 0.05, 0.10, 0.15]})
TARGETS = pandas.DataFrame({"target": ["participation", "tick_90"], "value": [0.3, 150.0],
                            "weight": [2.0, 1.0]})
SETTINGS = dict(replicates=2, budget=6, bootstrap=2, refit_budget=3, slice_points=2)
VARY = {"feedback": (0.3, 0.55), "parked_speed": (0.0015, 0.0035)}


def test_the_fit_and_its_trace_are_the_command_lines(tmp_path):
    sim_program()
    (tmp_path / "obs.csv").write_text(OBSERVED.to_csv(index=False) +
                                      TARGETS.to_csv(index=False))
    run_sim("calibrate", "--observed", "obs.csv", "--vary", "feedback=0.3..0.55",
            "--vary", "parked_speed=0.0015..0.0035", "--replicates", 2, "--budget", 6,
            "--bootstrap", 2, "--refit-budget", 3, "--slice-points", 2, "--out", "fit",
            cwd=tmp_path)
    fit = marovel.calibrate(OBSERVED, VARY, targets=TARGETS, **SETTINGS)
    # The same evaluations in the same order, the same numbers to the last bit.
    trace = pandas.read_csv(tmp_path / "fit" / "trace.csv", comment="#", float_precision="round_trip")
    pandas.testing.assert_frame_equal(fit.trace, trace)
    assert fit.params.splitlines()[1:] == (tmp_path / "fit" / "fit.params").read_text().splitlines()[1:]
    assert fit.evaluations == 6
    for name in ("feedback", "parked_speed"):
        assert fit.low[name] <= fit.best[name] <= fit.high[name]
    assert list(fit.correlation.columns) == ["feedback", "parked_speed"]
    # The objective for other optimisers is the fit's, at any candidate the fit met.
    row = fit.trace.iloc[3]
    assert marovel.calibration_objective(OBSERVED, VARY, [row.feedback, row.parked_speed],
                                         targets=TARGETS, replicates=2) == row.objective


def test_bad_observed_rows_are_refused_naming_the_row():
    bad = OBSERVED.assign(departed=[0.1, 1.5, 0.2, 0.3])
    with pytest.raises(ValueError, match=r"observed:3:\d+: share \"1.5\" lies outside 0..1"):
        marovel.calibrate(bad, {"feedback": (0.3, 0.55)}, **SETTINGS)
    with pytest.raises(ValueError, match="is no parameter"):
        marovel.calibrate(OBSERVED, {"no_such": (0, 1)}, **SETTINGS)
