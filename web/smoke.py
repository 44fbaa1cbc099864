#!/usr/bin/python3
"""Smoke check of the built page in headless Chromium: opens
build-web/site/index.html from its folder (file://), gives it the bundled
example, applies it and compares the download with what the CLI writes.
   web/smoke.py [--screenshot FILE] [--cli build/bin/hexmend]"""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
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
                 "--window-size=1100,1500", "--user-data-dir=" + tempfile.mkdtemp()):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads)})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--screenshot")
    parser.add_argument("--cli", default=str(ROOT / "build/bin/hexmend"))
    args = parser.parse_args()
    downloads = pathlib.Path(tempfile.mkdtemp())
    driver = browser(downloads)
    try:
        driver.get((ROOT / "build-web/site/index.html").as_uri())
        driver.find_element(By.ID, "patch-file").send_keys(str(ROOT / "examples/example.patch"))
        driver.find_element(By.ID, "files").send_keys(str(ROOT / "examples/firmware.bin"))
        wait = WebDriverWait(driver, 30)
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#blocks [data-line]")) == 5)
        driver.find_element(By.ID, "apply").click()
        wait.until(lambda d: d.find_element(By.ID, "console").get_attribute("data-exit") is not None)
        console = driver.find_element(By.ID, "console")
        print(console.get_attribute("textContent"), end="")
        print("exit", console.get_attribute("data-exit"))
        driver.find_element(By.ID, "download").click()
        target = downloads / "firmware-patched.bin"
        for _ in range(100):
            if target.exists():
                break
            time.sleep(0.1)
        if args.screenshot:
            driver.save_screenshot(args.screenshot)
        logs = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
        for entry in logs:
            print("browser:", entry["message"], file=sys.stderr)
    finally:
        driver.quit()
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        (work / "bin").mkdir()
        (work / "build/example").mkdir(parents=True)
        (work / "bin/example.patch").write_bytes((ROOT / "examples/example.patch").read_bytes())
        (work / "bin/firmware.bin").write_bytes((ROOT / "examples/firmware.bin").read_bytes())
        subprocess.run([args.cli, str(work / "bin/example.patch")], check=True,
                       stdout=subprocess.DEVNULL)
        expected = (work / "build/example/firmware-patched.bin").read_bytes()
    if not target.exists() or target.read_bytes() != expected:
        print("the page's download differs from the CLI's target", file=sys.stderr)
        return 1
    print("the download equals the CLI's target")
    return 0


if __name__ == "__main__":
    sys.exit(main())
