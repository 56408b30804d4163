#!/usr/bin/env python3
"""The service console's page in a real browser (headless Chromium through
Selenium): search, watch a waving value change, the plot drawn, the unit
switch, a preview and its confirmation, a refusal, the table and the lint
page.

usage: browser_test.py KORVEX SAMPLE_MACHINE WORK
"""
import os
import shutil
import sys
import tempfile

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from console import Console  # noqa: E402

korvex, sample, work = sys.argv[1:4]
console = Console(korvex, sample, os.path.join(work, "machine-run"),
                  script="sim wave XParkPos 0 sine 2000 100000 300000\nsim table TDiaD 10",
                  serve_args=["--writable", "TDiaD", "--writable", "YParkPos", "--interval", "100"])

profile = tempfile.mkdtemp(prefix="korvex-chromium-")
options = webdriver.ChromeOptions()
for argument in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1280,1000", "--user-data-dir=" + profile]:
    options.add_argument(argument)
options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                          options=options)
checks, failures = 0, []


def wait(what, condition, timeout=20):
    """Waits for condition(driver) to hold: the page answers events, not a clock."""
    global checks
    checks += 1
    try:
        # The page redraws lists as answers come: an element seen may be gone.
        return WebDriverWait(driver, timeout, poll_frequency=0.1,
                             ignored_exceptions=[StaleElementReferenceException]).until(condition)
    except TimeoutException:
        failures.append(what)
        return None


def css(selector):
    return driver.find_elements(By.CSS_SELECTOR, selector)


def text_of(selector):
    found = css(selector)
    return found[0].text if found else ""


try:
    # Opened with a value watched: it shows, it moves, and the plot draws it.
    driver.get(console.url + "?watch=XParkPos,YParkPos")
    waving = "#watchlist tbody tr[data-name='XParkPos'] td.value"
    wait("the watched value shows", lambda d: text_of(waving) not in ("", "…"))
    first = text_of(waving)
    wait("the waving value changes", lambda d: text_of(waving) not in ("", "…", first))
    wait("the unit shows", lambda d: text_of("#watchlist tbody tr td:nth-child(4)") == "[mm]")
    wait("the plot draws a canvas", lambda d: css("#plot canvas"))
    wait("the plot's legend names the value", lambda d: "XParkPos" in text_of("#plot"))

    # Pause holds the plot still; the values keep coming.
    css("#plot-pause")[0].click()
    wait("pause", lambda d: text_of("#plot-pause") == "Resume")
    css("#plot-pause")[0].click()

    # Search as you type, then watch a table value from the results.
    box = css("#search")[0]
    box.clear()
    box.send_keys("tdia")
    wait("the search finds TDiaD", lambda d: css("#results li[data-name='TDiaD']"))
    wait("the search says how many", lambda d: "matching *tdia*" in text_of("#search-summary"))
    css("#results li[data-name='TDiaD'] button.table")[0].click()
    wait("the table view lists the elements", lambda d: len(css("#table-view tbody tr")) == 10)
    css("#results li[data-name='TDiaD'] button.watch")[0].click()
    wait("TDiaD is watched", lambda d: css("#watchlist tbody tr[data-name='TDiaD']"))

    # A preview names the controller line and sends nothing; the send does.
    css("#watchlist tbody tr[data-name='TDiaD'] .row-actions button")[0].click()
    index = css("#input-index")[0]
    index.clear()
    index.send_keys("4")
    css("#input-text")[0].send_keys("1.2")
    css("#preview-btn")[0].click()
    wait("the preview names the line", lambda d: text_of("#preview-lines") == "T5D1.2")
    wait("the send waits for the preview", lambda d: css("#confirm-btn")[0].is_enabled())
    css("#confirm-btn")[0].click()
    wait("the send reports its line", lambda d: "Sent: 1 line" in text_of("#input-result"))

    # A value written directly: the watched value changes after the send.
    css("#watchlist tbody tr[data-name='YParkPos'] .row-actions button")[0].click()
    css("#input-text")[0].send_keys("2.5")
    css("#preview-btn")[0].click()
    wait("a second preview", lambda d: css("#confirm-btn")[0].is_enabled())
    wait("nothing changes before the send",
         lambda d: text_of("#watchlist tbody tr[data-name='YParkPos'] td.value").strip() == "0.000")
    css("#confirm-btn")[0].click()
    wait("the watched value shows the input",
         lambda d: text_of("#watchlist tbody tr[data-name='YParkPos'] td.value").strip() == "2.500")

    # A handle that is not writable is refused, and says so.
    css("#watchlist tbody tr[data-name='XParkPos'] .row-actions button")[0].click()
    css("#input-text")[0].send_keys("5")
    css("#preview-btn")[0].click()
    wait("a refusal", lambda d: "Direct access not allowed!" in text_of("#input-result")
         and "HTTP 403" in text_of("#input-result"))
    wait("no send after a refusal", lambda d: not css("#confirm-btn")[0].is_enabled())

    # Inch: the watched values change their unit.
    css("#unit-switch")[0].click()
    wait("the unit switch", lambda d: text_of("#watchlist tbody tr[data-name='XParkPos'] td:nth-child(4)") == "[inch]")
    css("#unit-switch")[0].click()
    wait("back to metric", lambda d: text_of("#watchlist tbody tr[data-name='XParkPos'] td:nth-child(4)") == "[mm]")

    # The lint page.
    css("#tab-lint")[0].click()
    wait("the lint page", lambda d: "finding" in text_of("#lint-summary") or "No findings" in text_of("#lint-summary"))

    # A narrow screen (a tablet held upright) puts the panels in one column.
    driver.set_window_size(700, 1000)
    css("#tab-values")[0].click()
    wait("one column on a narrow screen",
         lambda d: css("#plot-panel")[0].location["x"] == css("#search-panel")[0].location["x"])
    if os.environ.get("KORVEX_SCREENSHOT"):
        driver.save_screenshot(os.environ["KORVEX_SCREENSHOT"])
finally:
    browser_log = []
    try:
        # Script errors count; answers the test asks for (a 403) do not.
        browser_log = [entry["message"] for entry in driver.get_log("browser")
                       if entry["level"] == "SEVERE" and "Failed to load resource" not in entry["message"]]
    except Exception:  # noqa: BLE001 - the log is a help, not a check
        pass
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)
    code = console.stop()

for message in browser_log:
    print("browser:", message)
if browser_log:
    failures.append("the page logged errors")
for failure in failures:
    print("FAIL:", failure)
print("%d passed, %d failed" % (checks - len(failures), len(failures)))
sys.exit(1 if failures or code != 130 else 0)
