"""The page in a real headless browser: Debian's chromium, driven through
chromium-driver by selenium, or Debian's Firefox (marionette.py), through
the page's stable hooks (#patch-file, #files, #blocks, #verbatim, #check,
#apply, #undo, #console, #download, #save-patch, #diff-old, #diff-new,
#diff, #diff-download).

Downloads are real ones: the link is clicked and the file read from the
folder the browser saved it in.
"""

import os
import shutil
import tempfile
import time

from selenium import webdriver
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

from marionette import MarionetteDriver

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# The folder the page's core sees the user's files in.
PAGE_FOLDER = "/hexmend"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"]


class PageError(Exception):
    pass


class Browser:
    """One browser ("chromium" or "firefox") with a fresh profile; its
    downloads land in one folder, emptied before each download."""

    def __init__(self, timeout=600, kind="chromium"):
        self.timeout = timeout
        self.scratch = tempfile.mkdtemp(prefix="hexmend-web-")
        self.download_folder = os.path.join(self.scratch, "downloads")
        os.makedirs(self.download_folder)
        if kind == "firefox":
            self.driver = MarionetteDriver(self.scratch, self.download_folder)
            self.root_pid = self.driver.pid
        else:
            options = webdriver.ChromeOptions()
            options.binary_location = CHROMIUM
            for flag in FLAGS:
                options.add_argument(flag)
            options.add_argument("--user-data-dir=" + os.path.join(self.scratch, "profile"))
            options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
            self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
            self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                        {"behavior": "allow",
                                         "downloadPath": self.download_folder})
            self.root_pid = self.driver.service.process.pid
        self.driver.set_script_timeout(timeout)

    def quit(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.scratch, ignore_errors=True)

    # ---- the page ----

    def open(self, url, ready="#apply"):
        """Loads url and waits until the element ready is there."""
        self.driver.get(url)
        self.wait(lambda: self.js("return document.readyState") == "complete", "the page loads")
        self.wait(lambda: self.js("return !!document.querySelector(arguments[0])", ready),
                  "the page shows %s" % ready)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait(self, condition, what, timeout=None):
        end = time.monotonic() + (timeout or self.timeout)
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > end:
                raise PageError("timed out waiting until %s; %s" % (what, self.state()))
            time.sleep(0.02)

    def state(self):
        """What the page shows and logged, for a failure's message."""
        try:
            shown = self.js("return [...document.querySelectorAll('#console, #run-status, "
                            "#files-summary')].map(e => '#' + e.id + ': ' + e.textContent)")
            logged = [e["message"] for e in self.driver.get_log("browser")]
        except Exception as problem:  # noqa: BLE001 - the page may be gone
            return "the page cannot be asked: %s" % problem
        return "the page shows %r; it logged %r" % (shown, logged)

    def element(self, selector):
        try:
            return self.driver.find_element(By.CSS_SELECTOR, selector)
        except NoSuchElementException:
            return None

    def choose(self, selector, paths):
        """Gives the file input selector these files, as a user choosing them."""
        self.element(selector).send_keys("\n".join(os.path.abspath(p) for p in paths))

    def enabled(self, selector):
        return self.js("var e = document.querySelector(arguments[0]); return !!e && !e.disabled",
                       selector)

    def click(self, selector):
        """Clicks the control once it can be clicked: the page disables its
        controls while its worker is busy, and may make them anew."""
        for _ in range(10):
            self.wait(lambda: self.enabled(selector), "%s can be clicked" % selector)
            try:
                self.element(selector).click()
                return
            except StaleElementReferenceException:
                continue
        raise PageError("%s keeps being made anew" % selector)

    def switch(self, selector):
        """Clicks a block's switch and waits until the page has taken it in
        (its controls are disabled until then)."""
        self.click(selector)
        self.wait(lambda: self.enabled(selector), "the page takes %s" % selector)

    def set_checkbox(self, selector, on):
        if self.element(selector).is_selected() != on:
            self.click(selector)

    def run(self, button):
        """Clicks #check, #apply or #undo; returns (console text, exit code)
        once the run has ended."""
        self.click(button)
        return self.result()

    def result(self):
        exit_code = self.wait(lambda: self.js(
            "return document.querySelector('#console').getAttribute('data-exit')"),
            "the run ends")
        return self.js("return document.querySelector('#console').textContent"), int(exit_code)

    def offered(self, selector):
        """The file name a download link offers, or None when it is absent
        or hidden."""
        link = self.element(selector)
        if link is None or not link.is_displayed() or not link.get_attribute("href"):
            return None
        return link.get_attribute("download")

    def download(self, selector):
        """Clicks the download link; returns the path of the saved file (the
        browser may tidy the offered name, so it is not looked for)."""
        folder = self.download_folder
        for name in os.listdir(folder):
            os.remove(os.path.join(folder, name))
        if not self.offered(selector):
            raise PageError("%s offers nothing to download" % selector)
        self.element(selector).click()

        def saved():
            # The browser writes into a temporary name and renames it when done.
            names = os.listdir(folder)
            if len(names) == 1 and not names[0].endswith((".crdownload", ".part")):
                return os.path.join(folder, names[0])
        return self.wait(saved, "%s is downloaded" % selector)

    def download_bytes(self, selector):
        path = self.download(selector)
        with open(path, "rb") as f:
            data = f.read()
        os.remove(path)
        return data

    # ---- what the browser did ----

    def network_log(self):
        """The performance log's entries since the last call."""
        return self.driver.get_log("performance")

    def process_ids(self):
        """The browser's processes: the browser and all it started."""
        root = self.root_pid
        children = {}
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/stat" % pid) as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            children.setdefault(parent, []).append(int(pid))
        found, todo = [], list(children.get(root, []))
        while todo:
            pid = todo.pop()
            found.append(pid)
            todo += children.get(pid, [])
        return found

    def resident(self):
        """Bytes resident in the browser's processes together."""
        total = 0
        for pid in self.process_ids():
            try:
                with open("/proc/%d/status" % pid) as f:
                    for line in f:
                        if line.startswith("VmRSS:"):
                            total += int(line.split()[1]) * 1024
            except OSError:
                pass
        return total


class PeakResident:
    """Samples the browser's resident memory while the block runs:
    baseline is the figure at the start, peak the largest seen."""

    def __init__(self, browser, interval=0.05):
        self.browser, self.interval = browser, interval
        self.baseline = self.peak = 0

    def __enter__(self):
        import threading
        self.baseline = self.peak = self.browser.resident()
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._sample, daemon=True)
        self.thread.start()
        return self

    def _sample(self):
        while not self.done.wait(self.interval):
            self.peak = max(self.peak, self.browser.resident())

    def __exit__(self, *exc):
        self.done.set()
        self.thread.join()
        self.peak = max(self.peak, self.browser.resident())

    @property
    def growth(self):
        return self.peak - self.baseline
