#!/usr/bin/env python3
"""Tests of the page (build-web/site/index.html) in headless chromium or Firefox.

    web_tests.py --site DIR --hexmend PATH [--hexmend-diff PATH] [-k TEXT]
                 [--browser chromium|firefox]

1. The end-to-end corpus through the page and through hexmend: every case a
   page can run (corpus.py says which and why not) gives the same console
   text, exit code and target bytes in both, the case's folder standing for
   the page's own.
2. Block switches: each switch changes its block's enable line in the saved
   patch file and nothing else, and the run follows the switched text.
3. A patch file made in the page, applied by hexmend, gives NEW.
4. After the page has loaded it makes no request, served over http or
   opened from file:// (the browser's own network log is read in chromium;
   in Firefox only the server's log is).
5. A source of 2 GiB - 1 bytes is patched without being read whole: the
   browser's resident memory grows by far less than the file.
"""

import argparse
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
from browser import PAGE_FOLDER, Browser, PeakResident  # noqa: E402

MIB = 1024 * 1024
MAX_SOURCE = 2 ** 31 - 1


class Failure(Exception):
    pass


def expect(condition, problem):
    if not condition:
        raise Failure(problem)


def show(text):
    return "\n        " + "\n        ".join(repr(line) for line in text.split("\n"))


# ---- running a patch file both ways ----

def run_cli(hexmend, patch, args):
    """hexmend's run: (stdout and stderr as one text, exit code, target bytes
    or None) with the patch file's folder written {dir}."""
    folder = os.path.dirname(patch)
    proc = subprocess.run([hexmend, patch] + args, cwd=folder, capture_output=True, timeout=600)
    out = proc.stdout.decode("latin-1")
    target = None
    saved = re.findall(r"^saving (.*)$", out, re.M)
    if proc.returncode == 0 and saved and os.path.isfile(saved[-1]):
        with open(saved[-1], "rb") as f:
            target = (os.path.basename(saved[-1]), f.read())
    return in_folder(out + proc.stderr.decode("latin-1"), folder), proc.returncode, target


def in_folder(text, folder):
    """text with folder written {dir}, and the length of a path given in a
    message counted without it."""
    text = re.sub(r"path too long \((\d+) characters",
                  lambda m: "path too long (%d characters" % (int(m.group(1)) - len(folder)), text)
    return text.replace(folder, "{dir}")


def run_page(browser, url, patch, others, button, verbatim=False):
    """The page's run of the same: (console text with the page's folder
    written {dir}, exit code, (offered name, bytes) or None). With no url
    the page is the one open already."""
    if url:
        browser.open(url)
    browser.choose("#patch-file", [patch])
    if others:
        browser.choose("#files", others)
    if verbatim:
        browser.set_checkbox("#verbatim", True)
    text, code = browser.run(button)
    target = None
    name = browser.offered("#download")
    if name is not None:
        target = (name, browser.download_bytes("#download"))
    return in_folder(text, PAGE_FOLDER), code, target


def compare(page, cli):
    (page_text, page_code, page_target), (cli_text, cli_code, cli_target) = page, cli
    problems = []
    if page_text != cli_text:
        problems.append("console differs:\n    --- hexmend%s\n    --- page%s" % (
            show(cli_text), show(page_text)))
    if page_code != cli_code:
        problems.append("exit code %d, hexmend's %d" % (page_code, cli_code))
    if (page_target is None) != (cli_target is None):
        problems.append("the page %s a download, hexmend %s a target" % (
            "offers" if page_target else "offers no", "saved" if cli_target else "saved no"))
    elif page_target and page_target[0] != cli_target[0]:
        problems.append("the download is named %r, hexmend's target %r" % (
            page_target[0], cli_target[0]))
    elif page_target and page_target[1] != cli_target[1]:
        problems.append("the download differs from hexmend's target: %r... (%d bytes), "
                        "hexmend %r... (%d bytes)" % (page_target[1][:48], len(page_target[1]),
                                                       cli_target[1][:48], len(cli_target[1])))
    if problems:
        raise Failure("\n".join(problems))


def differential(t, run):
    folder = tempfile.mkdtemp(prefix="hexmend-web-case-")
    try:
        patch, others = run.lay_out(folder)
        page = run_page(t.browser, t.url, patch, others, run.button, run.verbatim)
        # hexmend runs second: its target may replace a file the page read.
        compare(page, run_cli(t.hexmend, patch, run.args))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ---- block switches ----

def enable_lines(text):
    """{line of a block's opening tag: line of its enable key}."""
    lines, found, start = text.split("\n"), {}, None
    for number, line in enumerate(lines, 1):
        key = line.strip().lower()
        if key == "<patch>":
            start = number
        elif start and (key.startswith("enabled=") or key.startswith("patch_enable")):
            found.setdefault(start, number)
    return found


def block_switches(t):
    case = next(c for c in corpus.corpus()[0] if c.name.startswith("forward:"))
    folder = tempfile.mkdtemp(prefix="hexmend-web-blocks-")
    try:
        patch, others = case.lay_out(folder)
        with open(patch, "rb") as f:
            original = f.read()
        t.browser.open(t.url)
        t.browser.choose("#patch-file", [patch])
        t.browser.choose("#files", others)
        enables = enable_lines(original.decode("latin-1"))
        shown = t.browser.wait(lambda: t.browser.js(
            "return [...document.querySelectorAll('#blocks [data-line]')].map("
            "b => [+b.dataset.line, b.querySelector('input[type=checkbox]').checked])"),
            "the blocks are listed")
        expect([line for line, _ in shown] == sorted(enables),
               "blocks listed at lines %s, the patch file opens them at %s" % (
                   [line for line, _ in shown], sorted(enables)))
        expect(all(on for _, on in shown), "a switch of an enabled block is off")
        # One block of each style off: the first and the last.
        switched = [shown[0][0], shown[-1][0]]
        for line in switched:
            t.browser.switch('#blocks [data-line="%d"] input[type=checkbox]' % line)
        saved = t.browser.download_bytes("#save-patch")
        before, after = original.split(b"\n"), saved.split(b"\n")
        expect(len(before) == len(after), "the saved patch file has %d lines, the original %d" % (
            len(after), len(before)))
        changed = [n for n, (a, b) in enumerate(zip(before, after), 1) if a != b]
        expect(changed == [enables[line] for line in switched],
               "the saved patch file differs on lines %s, the switched blocks' enable lines "
               "are %s" % (changed, [enables[line] for line in switched]))
        # The page runs the switched text: hexmend given the saved file agrees.
        text, code = t.browser.run("#apply")
        name = t.browser.offered("#download")
        page = (in_folder(text, PAGE_FOLDER), code,
                (name, t.browser.download_bytes("#download")) if name else None)
        with open(patch, "wb") as f:
            f.write(saved)
        compare(page, run_cli(t.hexmend, patch, []))
        expect("skipped" in text, "no block was skipped after switching two off")
        # Switched back on, the patch file is the original again.
        for line in switched:
            t.browser.switch('#blocks [data-line="%d"] input[type=checkbox]' % line)
        expect(t.browser.download_bytes("#save-patch") == original,
               "switching both back on does not give the original patch file")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ---- a patch file made in the page ----

def made_patch(t):
    folder = tempfile.mkdtemp(prefix="hexmend-web-diff-")
    try:
        old = bytes(range(256)) * 64 + b"Hello, world" + bytes(300)
        new = bytearray(old)
        new[5:9] = b"WXYZ"
        new[256 * 64:256 * 64 + 5] = b"Howdy"
        new[-1] = 0x7F
        paths = {n: os.path.join(folder, n) for n in ("old.bin", "new.bin")}
        for n, content in (("old.bin", old), ("new.bin", bytes(new))):
            with open(paths[n], "wb") as f:
                f.write(content)
        t.browser.open(t.url)
        t.browser.choose("#diff-old", [paths["old.bin"]])
        t.browser.choose("#diff-new", [paths["new.bin"]])
        t.browser.click("#diff")
        t.browser.wait(lambda: t.browser.offered("#diff-download"), "the patch file is offered")
        made = os.path.join(folder, t.browser.offered("#diff-download") or "made.patch")
        shutil.move(t.browser.download("#diff-download"), made)
        proc = subprocess.run([t.hexmend, made], cwd=folder, capture_output=True, timeout=600)
        expect(proc.returncode == 0, "hexmend on the page's patch file: exit code %d:%s" % (
            proc.returncode, show((proc.stdout + proc.stderr).decode("latin-1"))))
        with open(paths["old.bin"], "rb") as f:
            expect(f.read() == bytes(new), "hexmend with the page's patch file does not give NEW")
        if t.hexmend_diff:
            # hexmend-diff given the same names, in the folder of the files,
            # makes the same patch file, but for the folder it names.
            with open(made, "rb") as f:
                ours = f.read().replace(PAGE_FOLDER.encode(), folder.encode())
            os.remove(made)
            with open(paths["old.bin"], "wb") as f:
                f.write(old)
            proc = subprocess.run([t.hexmend_diff, "old.bin", "new.bin", os.path.basename(made)],
                                  cwd=folder, capture_output=True, timeout=600)
            with open(made, "rb") as f:
                expect(f.read() == ours, "the patch file differs from hexmend-diff's")
            summary = proc.stderr.decode("latin-1")
            shown = t.browser.js("return document.querySelector('#diff-console').textContent")
            expect(shown == summary, "the page shows %r, hexmend-diff %r" % (shown, summary))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ---- no requests ----

class LoggedServer:
    """The site on a local http server that keeps the path of every request."""

    def __init__(self, site):
        requests = self.requests = []

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=site, **kwargs)

            def log_message(self, *args):
                pass

            def log_request(self, code="-", size="-"):
                requests.append(self.path)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/index.html" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def requests_in(log):
    """URLs the browser asked for in these performance log entries, other
    than the page's own blob: and data: URLs."""
    import json
    urls = []
    for entry in log:
        message = json.loads(entry["message"])["message"]
        if message.get("method") == "Network.requestWillBeSent":
            url = message["params"]["request"]["url"]
            if not url.startswith(("blob:", "data:")):
                urls.append(url)
    return urls


def some_work(t, url):
    """A run with a download, a saved patch file and a made one."""
    case = next(c for c in corpus.corpus()[0] if c.name.startswith("forward:"))
    folder = tempfile.mkdtemp(prefix="hexmend-web-quiet-")
    try:
        patch, others = case.lay_out(folder)
        text, code, target = run_page(t.browser, url, patch, others, "#apply")
        expect(code == 0 and target, "the run did not succeed:%s" % show(text))
        t.browser.download_bytes("#save-patch")
        pair = []
        for name, content in (("a.bin", b"old bytes"), ("b.bin", b"new bytes")):
            pair.append(os.path.join(folder, name))
            with open(pair[-1], "wb") as f:
                f.write(content)
        t.browser.choose("#diff-old", pair[:1])
        t.browser.choose("#diff-new", pair[1:])
        t.browser.click("#diff")
        t.browser.wait(lambda: t.browser.offered("#diff-download"), "the patch file is offered")
        t.browser.download_bytes("#diff-download")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def no_requests(t):
    server = LoggedServer(t.site)
    try:
        t.browser.open(server.url)
        csp = t.browser.js("var m = document.querySelector("
                           "'meta[http-equiv=\"Content-Security-Policy\"]'); "
                           "return m ? m.content : ''")
        expect("connect-src 'none'" in csp, "no Content-Security-Policy with connect-src 'none': "
               "%r" % csp)
        t.browser.network_log()
        loaded = list(server.requests)
        expect(loaded, "the server saw no request for the page")
        some_work(t, None)
        expect(server.requests == loaded, "requests after the page loaded: %s" % (
            server.requests[len(loaded):]))
    finally:
        server.close()
    asked = requests_in(t.browser.network_log())
    expect(not asked, "the browser asked for %s after the page loaded" % asked)
    # Straight from its folder, no server.
    t.browser.open(t.url)
    t.browser.network_log()
    some_work(t, None)
    asked = requests_in(t.browser.network_log())
    expect(not asked, "from file:// the browser asked for %s after the page loaded" % asked)


# ---- a large source ----

def large_source(t):
    folder = tempfile.mkdtemp(prefix="hexmend-web-large-")
    try:
        planted = {0: b"head", MAX_SOURCE // 2: b"middle", MAX_SOURCE - 4: b"tail"}
        blocks = "".join(
            "<patch>\nname=p%d\nenabled=true\naction=replace_string\nposition=%X\n"
            "olddata=%s\nnewdata=%s\n</patch>\n" % (i, at, old.decode(), old.decode().upper())
            for i, (at, old) in enumerate(planted.items()))
        patch = os.path.join(folder, "p.txt")
        with open(patch, "w") as f:
            f.write("targetfile=out.bin\nsourcefile=src.bin\n" + blocks)
        source = os.path.join(folder, "src.bin")
        with open(source, "wb") as f:
            f.truncate(MAX_SOURCE)
            for at, data in planted.items():
                f.seek(at)
                f.write(data)
        t.browser.open(t.url)
        t.browser.choose("#patch-file", [patch])
        t.browser.choose("#files", [source])
        with PeakResident(t.browser) as memory:
            text, code = t.browser.run("#apply")
        expect(code == 0 and t.browser.offered("#download"),
               "the run on 2 GiB - 1 bytes did not succeed (exit code %d):%s" % (code, show(text)))
        print("    the browser's resident memory grew by %.0f MiB over the run" % (
            memory.growth / MIB))
        expect(memory.growth < 256 * MIB,
               "the browser's resident memory grew by %.0f MiB: the source was read whole" % (
                   memory.growth / MIB))
        saved = t.browser.download("#download")
        expect(os.path.getsize(saved) == MAX_SOURCE, "the download has %d bytes" % (
            os.path.getsize(saved)))
        with open(saved, "rb") as f:
            for at, data in planted.items():
                f.seek(at)
                expect(f.read(len(data)) == data.upper(), "the download at %X is not patched" % at)
        os.remove(saved)
        # One byte more is the CLI's refusal.
        with open(source, "r+b") as f:
            f.truncate(MAX_SOURCE + 1)
        compare(run_page(t.browser, t.url, patch, [source], "#apply"),
                run_cli(t.hexmend, patch, []))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# ---- running ----

class Tests:
    def __init__(self, opts):
        self.site = os.path.abspath(opts.site)
        self.url = "file://" + os.path.join(self.site, "index.html")
        self.hexmend = os.path.abspath(opts.hexmend)
        self.hexmend_diff = opts.hexmend_diff and os.path.abspath(opts.hexmend_diff)
        self.browser = Browser(timeout=60, kind=opts.browser)
        self.passed = self.failed = 0

    def check(self, name, test, *args):
        try:
            test(self, *args)
        except Exception as problem:  # noqa: BLE001 - a test's failure of any kind is shown
            self.failed += 1
            print("FAIL %s" % name)
            detail = str(problem) if isinstance(problem, Failure) else traceback.format_exc()
            print("    " + detail.replace("\n", "\n    "))
        else:
            self.passed += 1
            print("ok   %s" % name)
        sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--site", required=True, help="the built site's folder")
    parser.add_argument("--hexmend", required=True)
    parser.add_argument("--hexmend-diff", default=None)
    parser.add_argument("-k", dest="pattern", default="", help="only tests whose name has this")
    parser.add_argument("--browser", choices=("chromium", "firefox"), default="chromium")
    opts = parser.parse_args()
    t = Tests(opts)
    skipped = 0
    try:
        runs, left = corpus.corpus()
        for reason, names in sorted(left.items()):
            print("skip %d corpus cases: %s" % (len(names), reason))
            skipped += len(names)
        for run in runs:
            name = "corpus: " + run.name
            if opts.pattern in name:
                t.check(name, differential, run)
        for name, test in (("block switches", block_switches),
                           ("a patch file made in the page", made_patch),
                           ("no request after the page loaded", no_requests),
                           ("a source of 2 GiB - 1 bytes", large_source)):
            if opts.pattern in name:
                t.check(name, test)
    finally:
        t.browser.quit()
    print("%s: %d passed, %d failed, %d skipped" % (opts.browser, t.passed, t.failed, skipped))
    return 1 if t.failed or not t.passed else 0


if __name__ == "__main__":
    sys.exit(main())
