"""The examples run as they stand, with small sizes."""

import os
import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def run_example(name, *args, cwd):
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *args], cwd=cwd,
                          capture_output=True, text=True, env={**os.environ, "DISPLAY": ""})
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_evacuation_curves_draws_its_picture(tmp_path):
    out = run_example("evacuation_curves.py", "--ticks", "200", "--scenarios", "0..2", "--out",
                      "curves.png", cwd=tmp_path)
    assert "21 ticks of one scenario, 9 runs of the sweep" in out
    picture = (tmp_path / "curves.png").read_bytes()
    assert picture.startswith(b"\x89PNG") and len(picture) > 20000


def test_sobol_sensitivity_checks_itself_and_reports_both_parameters(tmp_path):
    pytest.importorskip("scipy.stats", reason="SciPy is not installed")
    out = run_example("sobol_sensitivity.py", "--samples", "8", "--scenarios", "0", "--ticks",
                      "200", "--replicates", "2", cwd=tmp_path)
    assert "check, linear model" in out and "32 points" in out
    # The design's indices, then marovel-sim's on the same design (the example asserts they
    # agree): MAROVEL_SIM names it under CTest.
    lines = out.splitlines()
    assert [line.split()[0] for line in lines[-4:]] == ["feedback", "arrival_lead"] * 2
    assert all(line.endswith("(marovel-sim --sensitivity)") for line in lines[-2:])


def test_scipy_compare_fits_with_both_and_says_whether_they_agree(tmp_path):
    pytest.importorskip("scipy.optimize", reason="SciPy is not installed")
    out = run_example("calibration/scipy_compare.py", "--ticks", "200", "--replicates", "2",
                      "--budget", "10", "--bootstrap", "2", "--observed-scenarios", "10..11",
                      cwd=tmp_path)
    lines = out.splitlines()
    assert [line.split("  ")[0] for line in lines[2:5]] == [
        "marovel.calibrate (crs2)", "scipy Nelder-Mead", "scipy differential evolution"]
    assert all(int(line.split()[-2]) <= 10 for line in lines[2:5])  # each within its budget
    verdicts = [line.split(": ")[1].split(":")[0] for line in lines[-3:-1]]
    assert all(v in ("agrees", "differs") for v in verdicts), out
