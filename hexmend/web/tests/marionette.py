"""Firefox driven through its own remote protocol (Marionette), with the few
calls of a selenium driver that browser.py makes: Debian packages Firefox
but no WebDriver server for it.

The protocol: each message is its length in decimal, a colon, then JSON;
a command is [0, id, name, parameters], its answer [1, id, error, result],
and the names are those of WebDriver ("WebDriver:Navigate", ...).
"""

import json
import os
import socket
import subprocess
import time

from selenium.common.exceptions import (NoSuchElementException,
                                        StaleElementReferenceException, WebDriverException)

FIREFOX = "/usr/bin/firefox-esr"
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
ERRORS = {"no such element": NoSuchElementException,
          "stale element reference": StaleElementReferenceException}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Element:
    def __init__(self, driver, ref):
        self.driver, self.ref = driver, ref

    def _call(self, command, **params):
        return self.driver.call(command, id=self.ref, **params)

    def click(self):
        self._call("WebDriver:ElementClick")

    def send_keys(self, text):
        self._call("WebDriver:ElementSendKeys", text=text)

    def is_displayed(self):
        return self._call("WebDriver:IsElementDisplayed")

    def is_selected(self):
        return self._call("WebDriver:IsElementSelected")

    def get_attribute(self, name):
        return self._call("WebDriver:GetElementAttribute", name=name)


class MarionetteDriver:
    """A headless Firefox with a fresh profile in folder; its downloads go
    to download_folder without asking."""

    def __init__(self, folder, download_folder):
        port = free_port()
        profile = os.path.join(folder, "profile")
        os.makedirs(profile)
        prefs = {
            "marionette.port": port,
            "browser.download.folderList": 2,
            "browser.download.dir": download_folder,
            "browser.download.useDownloadDir": True,
            "browser.download.always_ask_before_handling_new_types": False,
            "browser.shell.checkDefaultBrowser": False,
            "browser.aboutwelcome.enabled": False,
            "datareporting.policy.dataSubmissionEnabled": False,
            "toolkit.telemetry.reportingpolicy.firstRun": False,
            "app.update.disabledForTesting": True,
            "network.connectivity-service.enabled": False,
            "network.captive-portal-service.enabled": False,
        }
        with open(os.path.join(profile, "user.js"), "w") as f:
            for key, value in prefs.items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(key), json.dumps(value)))
        self.process = subprocess.Popen(
            [FIREFOX, "--headless", "--marionette", "--no-remote", "--profile", profile],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = self.process.pid
        end = time.monotonic() + 60
        while True:
            try:
                self.socket = socket.create_connection(("127.0.0.1", port))
                break
            except OSError:
                if time.monotonic() > end or self.process.poll() is not None:
                    self.process.kill()
                    raise WebDriverException("Firefox does not answer on port %d" % port)
                time.sleep(0.1)
        self.buffer = b""
        self.last = 0
        self._receive()  # the greeting
        self.call("WebDriver:NewSession", capabilities={})

    def _receive(self):
        while b":" not in self.buffer:
            self._more()
        length, rest = self.buffer.split(b":", 1)
        self.buffer = rest
        while len(self.buffer) < int(length):
            self._more()
        message, self.buffer = self.buffer[:int(length)], self.buffer[int(length):]
        return json.loads(message)

    def _more(self):
        data = self.socket.recv(1 << 20)
        if not data:
            raise WebDriverException("Firefox closed the connection")
        self.buffer += data

    def call(self, command, **params):
        self.last += 1
        data = json.dumps([0, self.last, command, params]).encode()
        self.socket.sendall(b"%d:%s" % (len(data), data))
        while True:
            kind, ident, error, result = self._receive()
            if kind == 1 and ident == self.last:
                break
        if error:
            raise ERRORS.get(error.get("error"), WebDriverException)(error.get("message"))
        return result.get("value") if isinstance(result, dict) else result

    def set_script_timeout(self, seconds):
        self.call("WebDriver:SetTimeouts", script=int(seconds * 1000))

    def get(self, url):
        self.call("WebDriver:Navigate", url=url)

    def execute_script(self, script, *args):
        return self.call("WebDriver:ExecuteScript", script=script, args=list(args))

    def execute_async_script(self, script, *args):
        return self.call("WebDriver:ExecuteAsyncScript", script=script, args=list(args))

    def find_element(self, by, selector):
        found = self.call("WebDriver:FindElement", using=by, value=selector)
        return Element(self, found[ELEMENT])

    def get_log(self, kind):
        return []

    def quit(self):
        try:
            self.call("WebDriver:DeleteSession")
        except (OSError, WebDriverException):
            pass
        self.socket.close()
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
