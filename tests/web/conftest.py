"""The page in a real headless Chromium driven by Selenium, and marovel-sim run
beside it for the native side of every comparison. Anything missing (the
browser, its driver, the built page, marovel-sim) skips the tests with the reason."""

import os
import subprocess
import time

import pytest

ALL_SKIPPED = 77  # CTest's SKIP_RETURN_CODE for these tests
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def page_path():
    path = os.environ.get("MAROVEL_WEB_PAGE", os.path.join(SOURCE, "build/web/marovel.html"))
    if not os.path.isfile(path):
        pytest.skip(f"{path} is not built (tools/bootstrap.sh web builds it)")
    return path


def run_sim(*args):
    path = os.environ.get("MAROVEL_SIM", "")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("MAROVEL_SIM does not name a built marovel-sim (ctest sets it)")
    done = subprocess.run([path, *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


@pytest.fixture(scope="session")
def browser():
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            pytest.skip(f"{program} is not installed (Debian chromium, chromium-driver)")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        pytest.skip("Selenium is not installed (Debian python3-selenium)")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--disable-gpu", "--window-size=1280,720", "--hide-scrollbars"):
        options.add_argument(argument)
    try:
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    except Exception as e:  # no display, no sandbox, a driver of another version
        pytest.skip(f"Chromium did not start: {str(e).splitlines()[0]}")
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 720, "deviceScaleFactor": 1, "mobile": False})
    yield driver
    driver.quit()


def open_page(driver, query=""):
    """Opens the single-file page from disk and waits for its first frame."""
    driver.get("file://" + page_path() + query)
    deadline = time.time() + 20
    while driver.execute_script("return window.marovel === undefined"):
        message = driver.execute_script("return document.getElementById('message').textContent")
        assert "could not start" not in message, message
        assert time.time() < deadline, "the page drew no first frame in 20 s"
        time.sleep(0.02)
    return driver


def pytest_sessionfinish(session, exitstatus):
    """Nothing run is not a pass: all skipped, or none collected, exits 77."""
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    ran = len(reporter.stats.get("passed", [])) + len(reporter.stats.get("failed", []))
    if exitstatus == pytest.ExitCode.NO_TESTS_COLLECTED or (exitstatus == 0 and ran == 0):
        session.exitstatus = ALL_SKIPPED
