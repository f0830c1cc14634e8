"""Shared helpers: marovel-sim run as a user runs it, for comparisons with the module."""

import os
import subprocess

import pytest


def sim_program():
    path = os.environ.get("MAROVEL_SIM", "")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("MAROVEL_SIM does not name a built marovel-sim (ctest sets it)")
    return path


def run_sim(*args, cwd=None):
    """marovel-sim's standard output; the test fails with its message if it refuses."""
    done = subprocess.run([sim_program(), *map(str, args)], cwd=cwd, capture_output=True,
                          text=True, env={**os.environ, "DISPLAY": "", "WAYLAND_DISPLAY": ""})
    assert done.returncode == 0, done.stderr
    return done.stdout


def sim_refusal(*args):
    """marovel-sim's one-line refusal of bad input, without its program prefix and help hint."""
    done = subprocess.run([sim_program(), *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 2, done.stdout
    line = done.stderr.strip()
    return line.removeprefix("marovel-sim: ").removesuffix(" (see --help)")


# A zones file for the built-in town (40 x 30): the houses left of x = 20 are zone west.
HALVES = "W = west\nE = east\n" + ("W" * 20 + "E" * 20 + "\n") * 30


def write_plan(folder, name, *lines):
    """The plan file NAME.plan in folder: `lines` over the zones of HALVES (halves.zones)."""
    (folder / "halves.zones").write_text(HALVES)
    path = folder / f"{name}.plan"
    path.write_text("\n".join(["zones = halves.zones", *lines]) + "\n")
    return path


ALL_SKIPPED = 77  # CTest's SKIP_RETURN_CODE for these tests


def pytest_sessionfinish(session, exitstatus):
    """Nothing run is not a pass: all skipped, or none collected, exits 77."""
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    ran = len(reporter.stats.get("passed", [])) + len(reporter.stats.get("failed", []))
    if exitstatus == pytest.ExitCode.NO_TESTS_COLLECTED or (exitstatus == 0 and ran == 0):
        session.exitstatus = ALL_SKIPPED
