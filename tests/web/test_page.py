"""The page against the native program: the same runs bit for bit, driven by
the page's own buttons and keys, on the built-in town and on a town file, and
drawn in the window's colours."""

import io
import os
import re
import time

import pytest
from conftest import SOURCE, open_page, run_sim

GOLDEN = [(1, "low", 2000), (1, "moderate", 2000), (1, "high", 2000), (-2999, "moderate", 300)]


def page_text(driver, element_id):
    return driver.execute_script(f"return document.getElementById('{element_id}').textContent")


def live_line(driver):
    return driver.execute_script("return window.marovel.M.UTF8ToString("
                                 "window.marovel.api.fingerprint_line())")


def native_lines(*args):
    return [l for l in run_sim(*args, "--fingerprint").splitlines() if not l.startswith("#")]


@pytest.mark.parametrize("seed,error,ticks", GOLDEN)
def test_fingerprint_query_prints_what_marovel_sim_prints(browser, seed, error, ticks):
    open_page(browser, f"?fingerprint={seed},{error},{ticks}")
    expected = run_sim("--seed", seed, "--error", error, "--ticks", ticks, "--fingerprint")
    deadline = time.time() + 30
    while not page_text(browser, "fingerprint") and time.time() < deadline:
        time.sleep(0.05)
    assert page_text(browser, "fingerprint") == expected


def press(driver, key):
    from selenium.webdriver.common.action_chains import ActionChains
    driver.find_element("id", "town").click()  # the keys go to the page, not to a control
    ActionChains(driver).send_keys(key).perform()


def wait_for(driver, script, seconds=10):
    """Waits (under a loaded machine too) until the page's script returns true."""
    deadline = time.time() + seconds
    while not driver.execute_script("return " + script):
        assert time.time() < deadline, script
        time.sleep(0.02)


def shown_counts(driver):
    return [page_text(driver, "count-" + n) for n in
            ("not-evacuated", "evacuated", "gave-up", "en-route", "towed", "out-of-gas")]


def assert_shown(driver, line, seconds=10):
    """The counts and the title are drawn on the next animation frame: waits
    for it (a loaded machine may take a while) and compares them with the line."""
    time_field = line.split()[1]  # the tick as the title writes it: "2435.0"
    want = (line.split()[2:8], time_field)
    deadline = time.time() + seconds
    while True:
        got = shown_counts(driver)
        title = driver.title
        if got == want[0] and title.endswith(f"Time={time_field}") or time.time() > deadline:
            break
        time.sleep(0.02)
    assert got == want[0]
    assert title.endswith(f"Time={time_field}"), title


def test_buttons_and_keys_run_step_reset_and_change_scenario_and_error(browser):
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
    open_page(browser)
    launch = native_lines("--startup", "--ticks", 3000)
    assert live_line(browser) == launch[0]
    # Space starts and stops the clock; the run is the window's from launch.
    browser.find_element("id", "speed").send_keys(Keys.HOME, Keys.ARROW_RIGHT)  # a tick a millisecond
    press(browser, Keys.SPACE)
    wait_for(browser, "window.marovel.api.ticks_run() > 0")
    press(browser, Keys.SPACE)
    ticks = int(browser.execute_script("return window.marovel.api.ticks_run()"))
    assert 0 < ticks < 2990
    assert live_line(browser) == launch[ticks]
    assert browser.find_element("id", "run").text == "Start"
    # S and the Step button: one tick each; the counts shown are the run's.
    press(browser, "s")
    browser.find_element("id", "step").click()
    assert live_line(browser) == launch[ticks + 2]
    assert_shown(browser, launch[ticks + 2])
    assert browser.title == f"Marovel 1.0: Scenario=0 Time={ticks + 2}.0"
    # R rebuilds the scenario the way Reset does, Right goes to the next one. A
    # reset keeps the threatened houses' marks of the run before until the next
    # tick's storm clears them, so the lines are compared from tick 1 on.
    press(browser, "r")
    press(browser, "s")
    assert live_line(browser) == native_lines("--seed", 1, "--ticks", 1)[1]
    press(browser, Keys.ARROW_RIGHT)
    browser.find_element("id", "step").click()
    assert live_line(browser) == native_lines("--seed", 1001, "--ticks", 1)[1]
    assert browser.title == "Marovel 1.0: Scenario=1 Time=1.0"
    # Key 2 and the menu of error levels rebuild under the new spread.
    press(browser, "2")
    press(browser, "s")
    assert live_line(browser) == native_lines("--seed", 1001, "--error", "moderate", "--ticks", 1)[1]
    Select(browser.find_element("id", "error")).select_by_value("high")
    browser.find_element("id", "previous").click()
    browser.find_element("id", "run-to").clear()
    browser.find_element("id", "run-to").send_keys("250")
    browser.find_element("id", "run-to-go").click()
    high = native_lines("--seed", 1, "--error", "high", "--ticks", 250)[250]
    assert live_line(browser) == high
    assert_shown(browser, high)
    # Enter shows the tally as the window's Info box words it.
    press(browser, Keys.ENTER)
    counts = [int(c) for c in shown_counts(browser)]
    assert page_text(browser, "info-text").splitlines()[-1] == f"Total: {sum(counts)}"
    browser.find_element("id", "info-close").click()
    # Every control has a name a screen reader can say.
    unnamed = browser.execute_script("""
        return [...document.querySelectorAll('button, input, select')].filter(e =>
          !(e.labels && e.labels.length) && !e.getAttribute('aria-label') && !e.textContent.trim()
        ).map(e => e.id || e.outerHTML);""")
    assert unnamed == []


def test_a_town_dropped_or_chosen_runs_as_marovel_sim_runs_it(browser, tmp_path):
    town = os.path.join(SOURCE, "tests/sim/towns/two_exits.town")
    with open(town, encoding="utf-8") as f:
        text = f.read()
    open_page(browser)
    browser.execute_script("""
        const data = new DataTransfer();
        data.items.add(new File([arguments[0]], 'two_exits.town', {type: 'text/plain'}));
        document.getElementById('town').dispatchEvent(
          new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));""", text)
    wait_for(browser, "document.getElementById('town-name').textContent.includes('two_exits')")
    assert page_text(browser, "message") == ""
    browser.find_element("id", "run-to").clear()
    browser.find_element("id", "run-to").send_keys("120")
    browser.find_element("id", "run-to-go").click()
    assert live_line(browser) == native_lines("--town", town, "--ticks", 120)[120]
    # A broken town is refused with where it breaks; the run stays on the good one.
    bad = tmp_path / "bad.town"
    bad.write_text(text.replace("grid", "grid\n..#", 1))
    browser.find_element("id", "town-file").send_keys(str(bad))
    wait_for(browser, "document.getElementById('message').textContent !== ''")
    assert re.match(r"bad\.town: line \d+, column \d+: ", page_text(browser, "message"))
    assert live_line(browser) == native_lines("--town", town, "--ticks", 120)[120]
    # The share link carries the town with the scenario and the parameters: it
    # opens on the same run.
    from selenium.webdriver.support.ui import Select
    Select(browser.find_element("id", "error")).select_by_value("moderate")
    browser.find_element("id", "share").click()
    wait_for(browser, "document.getElementById('share-link').value.includes('#')")
    link = browser.find_element("id", "share-link").get_attribute("value")
    open_page(browser, link.split(".html", 1)[1])
    wait_for(browser, "document.getElementById('town-name').textContent.includes('two_exits')")
    browser.find_element("id", "run-to").clear()
    browser.find_element("id", "run-to").send_keys("120")
    browser.find_element("id", "run-to-go").click()
    assert live_line(browser) == native_lines("--town", town, "--error", "moderate", "--ticks", 120)[120]
    # A link whose town is damaged says so and shows the built-in town.
    browser.get("about:blank")  # a link that differs only after '#' would not load the page again
    open_page(browser, link.split(".html", 1)[1].replace("town=", "town=*"))
    wait_for(browser, "document.getElementById('message').textContent !== ''")
    assert "could not be read" in page_text(browser, "message")
    assert "two_exits" not in page_text(browser, "town-name")


def colours_of_the_window():
    """The car states' colours from the native renderer's table, 0..255."""
    with open(os.path.join(SOURCE, "render/scene.h"), encoding="utf-8") as f:
        table = re.search(r"CAR_STATE_COLOURS\[TALLY_SLOTS\]\[3\] = \{(.*?)\};", f.read(), re.S)
    triples = re.findall(r"\{([\d.]+)f, ([\d.]+)f, ([\d.]+)f\}", table.group(1))
    return [tuple(round(float(c) * 255) for c in t) for t in triples]


def builtin_cells(chars):
    """Cells (x, y from the bottom) of the built-in town file whose character is in chars."""
    with open(os.path.join(SOURCE, "data/towns/builtin.town"), encoding="utf-8") as f:
        rows = f.read().split("grid\n", 1)[1].splitlines()
    rows = [r for r in rows if r and not r.startswith("#")][:30]
    return [(x, len(rows) - 1 - y) for y, r in enumerate(rows) for x, c in enumerate(r) if c in chars]


def test_screenshot_shows_the_map_the_cars_and_the_legend(browser):
    from PIL import Image
    open_page(browser)

    def canvas_shot():
        png = browser.find_element("id", "town").screenshot_as_png
        return Image.open(io.BytesIO(png)).convert("RGB")

    def toggle_states():
        browser.find_element("id", "show-states").click()
        browser.execute_script("window.marovel.draw()")

    toggle_states()  # off: the map and the parked cars' sprites only
    plain = canvas_shot()
    toggle_states()
    tinted = canvas_shot()
    w, h = plain.size
    s = min(w / 40, h / 30)
    ox, oy = (w - 40 * s) / 2, (h - 30 * s) / 2

    def at(image, cell):
        return image.getpixel((int(ox + (cell[0] + 0.5) * s), int(oy + (30 - cell[1] - 0.5) * s)))

    # Road cells, empty at launch, show the painted map at that place.
    with Image.open(os.path.join(SOURCE, "data/map.bmp")) as m:
        picture = m.convert("RGB").resize((round(40 * s), round(30 * s)), Image.BILINEAR)
    roads = builtin_cells("+-|")
    off = [max(abs(a - b) for a, b in zip(at(plain, c), picture.getpixel(
        (int((c[0] + 0.5) * s), int((30 - c[1] - 0.5) * s))))) for c in roads]
    assert sum(d <= 40 for d in off) >= 0.9 * len(roads)
    # Every house's waiting cars are tinted blue at the window's overlay alpha.
    blue = colours_of_the_window()[0]
    houses = builtin_cells("SNEW")
    assert houses
    for c in houses:
        expected = [0.6 * b + 0.4 * p for b, p in zip(blue, at(plain, c))]
        assert max(abs(a - e) for a, e in zip(at(tinted, c), expected)) <= 8, c
    # The legend's swatches are the window's six colours, in the tally's order.
    shot = Image.open(io.BytesIO(browser.get_screenshot_as_png())).convert("RGB")
    swatches = browser.find_elements("css selector", "#counts .swatch")
    assert len(swatches) == 6
    for swatch, colour in zip(swatches, colours_of_the_window()):
        r = swatch.rect
        pixel = shot.getpixel((int(r["x"] + r["width"] / 2), int(r["y"] + r["height"] / 2)))
        assert max(abs(a - b) for a, b in zip(pixel, colour)) <= 3
