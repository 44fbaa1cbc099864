#!/usr/bin/python3
"""Smoke check of the built page in headless Chromium: opens
build-web/site/index.html from its folder (file://) and from a static web
server, gives it the bundled example, applies it and compares the download
with what the CLI writes.
   web/smoke.py [--screenshot FILE] [--cli build/bin/hexmend]"""
import argparse
import functools
import http.server
import pathlib
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

ROOT = pathlib.Path(__file__).resolve().parent.parent


def browser(downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--window-size=1000,1480", "--user-data-dir=" + tempfile.mkdtemp()):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads)})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def apply_example(driver, url, downloads, screenshot):
    """The page at url applies the example; returns the downloaded target."""
    driver.get(url)
    driver.find_element(By.ID, "patch-file").send_keys(str(ROOT / "examples/example.patch"))
    driver.find_element(By.ID, "files").send_keys(str(ROOT / "examples/firmware.bin"))
    wait = WebDriverWait(driver, 30)
    wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#blocks [data-line]")) == 5)
    driver.find_element(By.ID, "apply").click()
    wait.until(lambda d: d.find_element(By.ID, "console").get_attribute("data-exit") is not None)
    console = driver.find_element(By.ID, "console")
    print(url)
    print(console.get_attribute("textContent"), end="")
    print("exit", console.get_attribute("data-exit"))
    if screenshot:
        driver.execute_script("window.scrollTo(0, 0)")
        driver.save_screenshot(screenshot)
    target = downloads / "firmware-patched.bin"
    target.unlink(missing_ok=True)
    driver.find_element(By.ID, "download").click()
    for _ in range(100):
        if target.exists():
            break
        time.sleep(0.1)
    for entry in driver.get_log("browser"):
        print("browser:", entry["level"], entry["message"], file=sys.stderr)
    return target.read_bytes() if target.exists() else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--screenshot")
    parser.add_argument("--cli", default=str(ROOT / "build/bin/hexmend"))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        (work / "bin").mkdir()
        (work / "build/example").mkdir(parents=True)
        (work / "bin/example.patch").write_bytes((ROOT / "examples/example.patch").read_bytes())
        (work / "bin/firmware.bin").write_bytes((ROOT / "examples/firmware.bin").read_bytes())
        subprocess.run([args.cli, str(work / "bin/example.patch")], check=True,
                       stdout=subprocess.DEVNULL)
        expected = (work / "build/example/firmware-patched.bin").read_bytes()

    site = ROOT / "build-web/site"
    handler = functools.partial(QuietHandler, directory=str(site))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    downloads = pathlib.Path(tempfile.mkdtemp())
    driver = browser(downloads)
    failed = 0
    try:
        for url, screenshot in (((site / "index.html").as_uri(), args.screenshot),
                                ("http://127.0.0.1:%d/index.html" % server.server_port, None)):
            if apply_example(driver, url, downloads, screenshot) != expected:
                print("the page's download differs from the CLI's target", file=sys.stderr)
                failed = 1
    finally:
        driver.quit()
        server.shutdown()
    if not failed:
        print("the downloads equal the CLI's target")
    return failed


if __name__ == "__main__":
    sys.exit(main())
