#!/usr/bin/python3
"""The page's speed in headless Chromium on this machine:

  ticks a second of the built-in town with drawing off (scenario 1 at each
  error level, 2000 ticks from a reset, over and over);
  milliseconds a frame (a tick and the drawing of the town) at 1280 x 720;
  the single-file page's size, and the time from navigation to its first frame.

  bench/web_bench.py [build/web/marovel.html]
"""

import os
import statistics
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

TICK_TARGET = 50000   # ticks a second
FRAME_TARGET = 16.0   # ms
SIZE_TARGET = 3 << 20  # bytes
FIRST_FRAME_TARGET = 1000.0  # ms


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1280,720"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 720, "deviceScaleFactor": 1, "mobile": False})
    return driver


def open_page(driver, url):
    driver.get(url)
    while driver.execute_script("return window.marovel === undefined"):
        time.sleep(0.01)
    return driver.execute_script("return window.marovelFirstFrame")


def main():
    page = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/web/marovel.html")
    url = "file://" + page
    driver = browser()
    try:
        first = [open_page(driver, url) for _ in range(5)]
        ticks_per_second = driver.execute_script("""
            const api = window.marovel.api;
            let ticks = 0, ms = 0;
            for (let round = 0; round < 5; ++round)
              for (const error of ['low', 'moderate', 'high']) {
                window.marovel.M.ccall('marovel_set_error', 'number', ['string'], [error]);
                api.set_seed(1);
                api.rebuild(0);
                const t0 = performance.now();
                api.tick(2000);
                ms += performance.now() - t0;
                ticks += 2000;
              }
            return ticks / (ms / 1000);""")
        frames = driver.execute_script("""
            const m = window.marovel, out = [];
            m.M.ccall('marovel_set_error', 'number', ['string'], ['low']);
            m.api.rebuild(0);
            for (let i = 0; i < 400; ++i) {
              const t0 = performance.now();
              m.frame();
              out.push(performance.now() - t0);
            }
            return out;""")
        size = driver.execute_script(
            "const c = document.getElementById('town'); return [c.width, c.height]")
    finally:
        driver.quit()
    frames.sort()
    rows = [
        ("ticks a second, drawing off", f"{ticks_per_second:,.0f}", f">= {TICK_TARGET:,}",
         ticks_per_second >= TICK_TARGET),
        (f"ms a frame at {size[0]} x {size[1]} (mean, 95th percentile)",
         f"{statistics.mean(frames):.2f}, {frames[int(0.95 * len(frames))]:.2f}",
         f"<= {FRAME_TARGET:g}", frames[int(0.95 * len(frames))] <= FRAME_TARGET),
        ("page size, bytes", f"{os.path.getsize(page):,}", f"<= {SIZE_TARGET:,}",
         os.path.getsize(page) <= SIZE_TARGET),
        ("ms to the first frame (median of 5 loads)", f"{statistics.median(first):.0f}",
         f"<= {FIRST_FRAME_TARGET:g}", statistics.median(first) <= FIRST_FRAME_TARGET),
    ]
    for name, value, target, ok in rows:
        print(f"{name:<52} {value:>16}  {target:<10} {'ok' if ok else 'MISSED'}")
    return 0 if all(r[3] for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
