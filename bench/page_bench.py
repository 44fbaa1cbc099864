"""The page's rows of the benchmark (10 to 13), in headless chromium:

10. The source of rows 1 and 3 (--size-mib MiB, 10,000 patches): the
    page's Apply, from the click until the download is offered, against
    the browser's own floor in the same run: the faster of reading each
    patched range (512 bytes at each patch) with FileReaderSync in a worker
    and reading the whole file in 16 MiB pieces. Goal: at most 1.5x.
11. The browser's resident memory growth (all its processes, sampled
    every 50 ms) during that Apply. Goal: at most 64 MiB plus 4 times the patch file. Shown beside
    it: the growth while the floor reads the file whole, and while a worker
    makes a Blob of the file with each patched range replaced (slices of
    the file and the new bytes, as the page's download is made); its time
    is shown beside row 10.
12. A sparse source of 2 GiB - 1 bytes with 10 patches: the page's Apply
    against hexmend's new-target run. Goal: under 0.1x.
13. A patch file made in the page from two files of 256 MiB (at most
    --size-mib) that differ in 10,000 places, from the click until it is
    offered, against hexmend-diff on the same files. Goal: at most 3x.
    Shown beside it: the browser's floor for reading both files whole.

Before a time counts, what the page gave is checked against hexmend's:
the download's SHA-256 against the target's, the made patch file's against
hexmend-diff's (the folder named in its comments aside).
"""

import hashlib
import os
import random
import statistics
import struct
import sys
import time

import bench

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hexmend",
                                "web", "tests"))

from browser import PAGE_FOLDER, Browser, PeakResident  # noqa: E402

MIB = bench.MIB
PIECE = 16 * MIB

FLOOR_PAGE = """<!doctype html>
<meta charset="utf-8"><title>FileReaderSync floor</title>
<input type="file" id="file">
<script id="worker" type="text/plain">
onmessage = (e) => {
  const { file, ranges, piece, slices } = e.data;
  const reader = new FileReaderSync();
  const start = performance.now();
  let bytes = 0;
  if (slices) {
    // The file with each range replaced: slices of it and the new bytes.
    const parts = [];
    let done = 0;
    for (let i = 0; i < slices.length; i += 2) {
      parts.push(file.slice(done, slices[i]), new Uint8Array(slices[i + 1]));
      done = slices[i] + slices[i + 1];
    }
    parts.push(file.slice(done));
    bytes = new Blob(parts).size;
  } else if (ranges) {
    for (let i = 0; i < ranges.length; i += 2)
      bytes += reader.readAsArrayBuffer(file.slice(ranges[i], ranges[i] + ranges[i + 1])).byteLength;
  } else {
    for (let at = 0; at < file.size; at += piece)
      bytes += reader.readAsArrayBuffer(file.slice(at, at + piece)).byteLength;
  }
  postMessage({ seconds: (performance.now() - start) / 1000, bytes });
};
</script>
<script>
const workerUrl = URL.createObjectURL(new Blob(
  [document.getElementById("worker").textContent], { type: "text/javascript" }));
function measure(ranges, piece, slices, done) {
  const worker = new Worker(workerUrl);
  worker.onmessage = (e) => { worker.terminate(); done(e.data); };
  worker.postMessage({ file: document.getElementById("file").files[0], ranges, piece, slices });
}
</script>
"""


TIMED_CLICK = """
const [button, link, console_, done] = arguments;
const offered = () => {
  const l = document.querySelector(link);
  return l !== null && l.getAttribute('href') && l.getClientRects().length > 0;
};
const ended = () => {
  const shown = document.querySelector(console_);
  const code = shown.getAttribute('data-exit');
  return (code !== null && code !== '0') ||
    ['cancelled', 'failed'].includes(shown.getAttribute('data-state'));
};
const start = performance.now();
const observer = new MutationObserver(() => {
  if (offered() || ended()) {
    observer.disconnect();
    done((performance.now() - start) / 1000);
  }
});
observer.observe(document.body, { subtree: true, attributes: true, childList: true });
document.querySelector(button).click();
"""


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            chunk = f.read(16 * MIB)
            if not chunk:
                return digest.hexdigest()
            digest.update(chunk)


def patched_ranges(saved):
    """(position, length) of every patch, from make_large's big.orig."""
    ranges = []
    with open(saved, "rb") as f:
        while True:
            head = f.read(8)
            if not head:
                return ranges
            ranges.append((struct.unpack("<Q", head)[0], bench.WINDOW))
            f.seek(bench.WINDOW, os.SEEK_CUR)


class Page:
    def __init__(self, site, work):
        self.url = "file://" + os.path.join(os.path.abspath(site), "index.html")
        self.floor_url = "file://" + os.path.join(work, "floor.html")
        with open(os.path.join(work, "floor.html"), "w") as f:
            f.write(FLOOR_PAGE)
        self.browser = Browser()

    def close(self):
        self.browser.quit()

    def floor(self, source, ranges=None):
        """{"whole": seconds for reading source whole in 16 MiB pieces,
        "growth": the browser's resident growth meanwhile; when ranges are
        given, "ranges": seconds for reading each range, "slices" and
        "slices_growth": seconds and growth for a Blob of source with each
        range replaced (slices of it and the new bytes)}, with
        FileReaderSync in a worker."""
        b = self.browser
        b.open(self.floor_url, ready="#file")
        b.choose("#file", [source])
        figures = {}

        def measure(name, want, ranges=None, slices=None):
            with PeakResident(b) as memory:
                r = b.driver.execute_async_script(
                    "measure(arguments[0], arguments[1], arguments[2], arguments[3])",
                    ranges, PIECE, slices)
            if r["bytes"] != want:
                sys.exit("the floor read %d bytes, not %d" % (r["bytes"], want))
            figures[name] = r["seconds"]
            figures[name + "_growth"] = memory.growth

        if ranges:
            flat = [n for r in ranges for n in r]
            measure("ranges", sum(n for _, n in ranges), ranges=flat)
            measure("slices", os.path.getsize(source), slices=flat)
        measure("whole", os.path.getsize(source))
        return figures

    def apply(self, patch, files):
        """(seconds from the click until the download is offered, peak
        resident growth in bytes); the page stays open for the download."""
        b = self.browser
        b.open(self.url)
        b.choose("#patch-file", [patch])
        b.choose("#files", files)
        b.wait(lambda: b.enabled("#apply"), "Apply can be clicked")
        with PeakResident(b) as memory:
            seconds = self.timed_click("#apply", "#download", "#console")
        text, code = b.result()
        if code != 0:
            sys.exit("the page's run failed (exit code %d):\n%s" % (code, text))
        return seconds, memory.growth

    def diff(self, old, new):
        b = self.browser
        b.open(self.url)
        b.choose("#diff-old", [old])
        b.choose("#diff-new", [new])
        b.wait(lambda: b.enabled("#diff"), "the patch file can be made")
        seconds = self.timed_click("#diff", "#diff-download", "#diff-console")
        text, code = b.js("var c = document.querySelector('#diff-console');"
                          "return [c.textContent, c.getAttribute('data-exit')]")
        if code != "0":
            sys.exit("the page's patch maker failed (exit code %s):\n%s" % (code, text))
        return seconds

    def timed_click(self, button, link, console):
        """Seconds from clicking button until link is offered, or until the
        run ends without it, timed in the page itself as the floors are:
        the driver's own round trips stay out of the figure."""
        return self.browser.driver.execute_async_script(TIMED_CLICK, button, link, console)

    def downloaded_sha256(self, selector, normalise=None):
        path = self.browser.download(selector)
        if normalise:
            with open(path, "rb") as f:
                data = normalise(f.read())
            os.remove(path)
            return hashlib.sha256(data).hexdigest()
        digest = sha256(path)
        os.remove(path)
        return digest


def cli_target(hexmend, patch, target):
    """SHA-256 of hexmend's new target for patch (removed after)."""
    bench.remove(target)
    bench.run_measured([hexmend, patch])
    digest = sha256(target)
    bench.remove(target)
    return digest


def check_same(what, page, cli):
    if page != cli:
        sys.exit("%s: the page's output (SHA-256 %s) is not hexmend's (%s)" % (what, page, cli))


def bench_many(page, hexmend, work, size_mib, repeat):
    """Rows 10 and 11."""
    patch, src, data, target = (os.path.join(work, n)
                                for n in ("big.txt", "big.bin", "data.bin", "big-out.bin"))
    want = cli_target(hexmend, patch, target)
    ranges = patched_ranges(os.path.join(work, "big.orig"))
    times, floors, growths = [], [], []
    for i in range(repeat):
        floors.append(page.floor(src, ranges))
        seconds, grew = page.apply(patch, [src, data])
        if i == 0:
            check_same("row 10", page.downloaded_sha256("#download"), want)
        times.append(seconds)
        growths.append(grew)
    detail = {key: statistics.median(f[key] for f in floors) for key in floors[0]}
    return {"page": statistics.median(times),
            "floor": statistics.median(min(f["ranges"], f["whole"]) for f in floors),
            "detail": detail, "growth": statistics.median(growths), "floor_growth": detail["whole_growth"], "patch": os.path.getsize(patch),
            "size_mib": size_mib, "patches": len(ranges)}


def make_largest10(work, seed):
    """huge.bin, sparse, of the largest size hexmend takes, and huge10.txt
    with 10 regular blocks spread over it."""
    buffer = bench.SparseBuffer(bench.MAX_SOURCE)
    writer = bench.mixed_patches(buffer, 10000, random.Random(seed))
    buffer.write(os.path.join(work, "huge.bin"))
    bench.write_file(os.path.join(work, "data.bin"), b"DATA")
    step = writer.count // 2 // 10 + 1
    bench.write_file(os.path.join(work, "huge10.txt"), writer.text(
        "huge-out.bin", "huge.bin", [writer.blocks[i * step] for i in range(10)]).encode("utf-8"))


def bench_largest(helper, page, hexmend, work, repeat):
    """Row 12."""
    helper.submit(make_largest10, work, 5).result()
    patch, src, data, target = (os.path.join(work, n)
                                for n in ("huge10.txt", "huge.bin", "data.bin", "huge-out.bin"))
    want = cli_target(hexmend, patch, target)
    times, cli = [], []
    for i in range(repeat):
        bench.remove(target)
        bench.settle(src)
        cli.append(bench.timed([hexmend, patch]))
        bench.remove(target)
        seconds, _ = page.apply(patch, [src, data])
        if i == 0:
            check_same("row 12", page.downloaded_sha256("#download"), want)
        times.append(seconds)
    for path in (patch, src, data):
        bench.remove(path)
    return {"page": statistics.median(times), "cli": statistics.median(cli)}


def bench_made(helper, page, hexmend_diff, work, size_mib, repeat):
    """Row 13. hexmend-diff runs in the work folder with the files' names,
    writing its patch file under the name the page gives it."""
    old, new = (os.path.join(work, n) for n in ("old.bin", "new.bin"))
    places = helper.submit(bench.make_pair, work, size_mib, 6).result()
    times, cli, floors, patch = [], [], [], None
    for i in range(repeat):
        floors.append(page.floor(old)["whole"] + page.floor(new)["whole"])
        times.append(page.diff(old, new))
        if i == 0:
            name = page.browser.offered("#diff-download")
            patch = os.path.join(work, name)
            # The page names its own folder where hexmend-diff names the work folder.
            made = page.downloaded_sha256(
                "#diff-download", lambda text: text.replace(PAGE_FOLDER.encode(), work.encode()))
        bench.remove(patch)
        cli.append(bench.run_measured([hexmend_diff, "old.bin", "new.bin", name], cwd=work)[0])
    check_same("row 13", made, sha256(patch))
    for path in (old, new, patch):
        bench.remove(path)
    return {"page": statistics.median(times), "cli": statistics.median(cli), "places": places,
            "floor": statistics.median(floors)}


def page_rows(helper, hexmend, hexmend_diff, site, work, size_mib, repeat, only):
    """Rows 10 to 13 (those in only)."""
    rows = []
    page = Page(site, work)
    try:
        if "10" in only or "11" in only:
            patches = helper.submit(bench.make_large, work, size_mib, 1).result()["patches"]
            r = bench_many(page, hexmend, work, size_mib, repeat)
            for name in ("big.bin", "big.txt", "big-inplace.txt", "big-inplace10.txt",
                         "big.orig", "data.bin"):
                bench.remove(os.path.join(work, name))
            source = "%d MiB source, %d patches" % (size_mib, patches)
            if "10" in only:
                ratio = r["page"] / r["floor"]
                rows.append(("10. %s, the page's Apply to download offered" % source,
                             "%.3f s" % r["page"],
                             "browser floor %.3f s (FileReaderSync: ranges %.3f s, whole in "
                             "16 MiB %.3f s; a Blob of the file's slices around the patches "
                             "alone: %.3f s)" % (r["floor"], r["detail"]["ranges"],
                                                 r["detail"]["whole"], r["detail"]["slices"]),
                             "%.2fx" % ratio, "<= 1.5x", ratio <= 1.5))
            if "11" in only:
                goal = 64 * MIB + 4 * r["patch"]
                rows.append(("11. %s, the browser's resident memory growth" % source,
                             "%.0f MiB" % (r["growth"] / MIB),
                             "patch file %.1f MiB (the floor's whole read: %.0f MiB; a Blob "
                             "of the file's slices around the patches alone: %.0f MiB)" % (
                                 r["patch"] / MIB, r["floor_growth"] / MIB,
                                 r["detail"]["slices_growth"] / MIB),
                             "%.2fx the goal" % (r["growth"] / goal),
                             "<= 64 MiB + 4x patch file (%.0f MiB)" % (goal / MIB),
                             r["growth"] <= goal))
        if "12" in only:
            r = bench_largest(helper, page, hexmend, work, repeat)
            ratio = r["page"] / r["cli"]
            rows.append(("12. 2 GiB - 1 source (sparse), 10 patches, the page's Apply",
                         "%.3f s" % r["page"], "hexmend new target %.3f s" % r["cli"],
                         "%.3fx" % ratio, "< 0.1x", ratio < 0.1))
        if "13" in only:
            mib = min(size_mib, 256)
            r = bench_made(helper, page, hexmend_diff, work, mib, repeat)
            ratio = r["page"] / r["cli"]
            rows.append(("13. a patch file made in the page, two %d MiB files, %s differences"
                         % (mib, format(r["places"], ",")), "%.3f s" % r["page"],
                         "hexmend-diff %.3f s (the browser reading both whole in 16 MiB: %.3f s)"
                         % (r["cli"], r["floor"]), "%.2fx" % ratio, "<= 3x",
                         ratio <= 3))
    finally:
        page.close()
    return rows
