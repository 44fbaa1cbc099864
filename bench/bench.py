#!/usr/bin/env python3
"""hexmend benchmark: wall time, cost per block and peak memory, each against
a baseline measured in the same run on the same machine.

    bench/bench.py --hexmend PATH [--hexmend-diff PATH] [--work DIR]
                   [--size-mib 1024] [--repeat 3] [--only 12345]

1. A source of --size-mib MiB with 10,000 patches of mixed actions in both
   styles, against a durable copy of the same file made just before
   (dd bs=1M conv=fsync) and, for reference, a plain copy (cat src > dst).
   Goal: at most 1.3 times the durable copy.
2. 1,000, 10,000 and 100,000 blocks on a 64 MiB source: time per block,
   (t(N) - t(0 blocks)) / N. Goal: flat (linear growth).
3. Peak resident set of run 1. Goal: at most the source's size + 64 MiB.
4. replace_zlib of a 64 MiB text, in each style, against zlib's one-call
   compression of the same two texts at the default level: compress2() in
   bench/zlib_baseline.c, built with $CC (default cc), or Python's
   zlib.compress where there is no C compiler. The ratio is taken against
   the plain call, as any caller gets it; zlib's work alone (buffers in
   large pages and touched beforehand) is shown beside it. Goal: within 1.1
   times.
5. hexmend-diff over two files of --size-mib MiB that differ in 10,000
   places, writing its patch file, against reading both files
   (cat OLD NEW > /dev/null). Goal: at most 1.5 times the reading.

Each figure is the median of --repeat runs. Files go to a fresh folder in
--work (default: the system's temporary folder) that is removed at the end;
the 1 GiB run needs about 3.5 GiB of free space there (run 5: 2 GiB).
"""

import argparse
import concurrent.futures
import ctypes
import multiprocessing
import os
import platform
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

MIB = 1024 * 1024


# ---- running and measuring ----

def run_measured(command, stdout=None):
    """Runs command; returns (seconds, peak resident set in bytes). Its
    output goes to stdout (a file), else to a scratch file that is shown
    when the command fails."""
    with tempfile.TemporaryFile() as scratch:
        start = time.perf_counter()
        proc = subprocess.Popen(command, stdout=stdout or scratch, stderr=scratch)
        _, status, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        if code != 0:
            scratch.seek(0)
            tail = scratch.read()[-2000:].decode("latin-1")
            sys.exit("%s failed (exit code %d):\n%s" % (" ".join(command), code, tail))
    return seconds, usage.ru_maxrss * 1024


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def hexmend_run(hexmend, patch, target):
    remove(target)
    seconds, rss = run_measured([hexmend, patch])
    return seconds, rss


def dd_copy(src, dst):
    remove(dst)
    return run_measured(["dd", "if=" + src, "of=" + dst, "bs=1M", "conv=fsync",
                         "status=none"])[0]


def cat_copy(src, dst):
    remove(dst)
    with open(dst, "wb") as out:
        return run_measured(["cat", src], stdout=out)[0]


# ---- patch files ----

class PatchWriter:
    """Plants values into a source buffer and writes the blocks that change
    them, in both styles and with every action of that style."""

    REGULAR = ["string", "bytes", "xor", "int", "float", "utf8", "zlib", "file"]
    ZQ = ["string", "bytes", "xor", "int", "float", "utf8", "zlib"]

    def __init__(self, buffer, rng):
        self.buffer = buffer
        self.rng = rng
        self.blocks = []
        self.count = 0

    def _word(self, n):
        return "".join(self.rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(n))

    def _values(self, kind, position):
        """Plants the old value of kind at position; returns (old, new) texts
        in the value notation of that kind."""
        buf = self.buffer
        if kind == "string":
            old, new = self._word(8), self._word(8)
            buf[position:position + 8] = old.encode()
        elif kind == "bytes":
            old = bytes(buf[position:position + 16]).hex()
            new = self.rng.randbytes(16).hex()
        elif kind == "xor":
            old, new = self._word(8), self._word(6)
            buf[position:position + 8] = bytes(c ^ 0x5A for c in old.encode())
        elif kind == "int":
            old, new = str(buf[position]), str(self.rng.randrange(256))
        elif kind == "float":
            value = self.rng.randrange(1, 10 ** 6) / 4
            buf[position:position + 8] = struct.pack("<d", value)
            old, new = repr(value), "2.5"
        elif kind == "utf8":
            old, new = "A\u00e9\u20ac", "B\u00fc\u00a5"
            slots = b"".join(c.encode() + b"\0" * (4 - len(c.encode())) for c in old)
            buf[position:position + len(slots)] = slots
        elif kind == "zlib":
            old = " ".join(self._word(5) for _ in range(40))
            new = old.upper()[:100]
            stream = zlib.compress(old.encode())
            buf[position:position + len(stream)] = stream
        elif kind == "file":
            old, new = "DONOTCHECK", "data.bin"
        return old, new

    def regular(self, kind, position):
        old, new = self._values(kind, position)
        action = "replace_xor_5A" if kind == "xor" else "replace_" + kind.replace(
            "utf8", "utf8chars")
        self.blocks.append(
            "<patch>\nname=r%d\nenabled=true\naction=%s\nposition=%X\nolddata=%s\nnewdata=%s\n"
            "</patch>\n" % (self.count, action, position, old, new))
        self.count += 1

    def zq(self, kinds_positions):
        lines = ["<patch>", "patch_name = z%d" % self.count, "patch_enable = `yes`"]
        for kind, position in kinds_positions:
            old, new = self._values(kind, position)
            key = "replace_xor_5A " if kind == "xor" else "replace_%s " % kind.replace(
                "utf8", "utf8chars")
            if kind in ("int", "float", "bytes"):
                lines.append("%s= %X, %s, %s" % (key, position, old, new))
            else:
                lines.append("%s= %X, `%s`, `%s`" % (key, position, old, new))
            self.count += 1
        self.blocks.append("\n".join(lines + ["</patch>"]) + "\n")

    def text(self, target, source):
        return "targetfile=%s\nsourcefile=%s\n" % (target, source) + "".join(self.blocks)


def mixed_patches(buffer, patches, rng):
    """Half the patches as regular blocks (one patch each), half as zq-style
    blocks of ten lines, spread evenly over buffer, every action of each
    style in turn."""
    writer = PatchWriter(buffer, rng)
    stride = len(buffer) // max(patches, 1)
    assert stride >= 512, "source too small for that many patches"
    regular = patches // 2
    for i in range(regular):
        writer.regular(PatchWriter.REGULAR[i % len(PatchWriter.REGULAR)], i * stride)
    pending = []
    for i in range(regular, patches):
        pending.append((PatchWriter.ZQ[i % len(PatchWriter.ZQ)], i * stride))
        if len(pending) == 10:
            writer.zq(pending)
            pending = []
    if pending:
        writer.zq(pending)
    return writer


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def median_of(repeat, measure):
    return statistics.median(measure() for _ in range(repeat))


# ---- making the files ----
#
# These run in a helper process: a child's peak resident set, as the kernel
# reports it, starts from the peak of the process that started it, so the
# process that starts hexmend must never hold large buffers itself.

def make_large(work, size_mib, seed):
    rng = random.Random(seed)
    # Random bytes; a 64 MiB run of them repeated is random enough here.
    block = rng.randbytes(min(size_mib, 64) * MIB)
    buffer = bytearray(block * (size_mib * MIB // len(block)))
    writer = mixed_patches(buffer, 10000, rng)
    write_file(os.path.join(work, "big.bin"), buffer)
    write_file(os.path.join(work, "data.bin"), b"DATA")
    write_file(os.path.join(work, "big.txt"),
               writer.text("big-out.bin", "big.bin").encode("utf-8"))
    return writer.count


def make_blocks(work, blocks, seed):
    """blocks blocks of one patch each, every other one zq-style, on a
    64 MiB source."""
    rng = random.Random(seed)
    buffer = bytearray(random.Random(seed).randbytes(64 * MIB))
    writer = PatchWriter(buffer, rng)
    stride = len(buffer) // max(blocks, 1)
    for i in range(blocks):
        if i % 2:
            writer.regular("string", i * stride)
        else:
            writer.zq([("bytes", i * stride)])
    write_file(os.path.join(work, "mid.bin"), buffer)
    write_file(os.path.join(work, "mid.txt"),
               writer.text("mid-out.bin", "mid.bin").encode("utf-8"))


def zlib_text(rng, size):
    words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randrange(2, 9)))
             for _ in range(5000)]
    text = " ".join(rng.choices(words, k=size // 5))
    while len(text) < size:
        text += " " + " ".join(rng.choices(words, k=size // 50))
    return text[:size]


def zlib_texts(seed):
    old = zlib_text(random.Random(seed), 64 * MIB).encode()
    # Shorter, so that its stream is sure to fit into the old one's room.
    return old, old[:-64 * 1024].upper()


ZLIB_POSITION = 4096


def make_zlib(work, seed):
    old, new = zlib_texts(seed)
    write_file(os.path.join(work, "old.txt"), old)
    write_file(os.path.join(work, "new.txt"), new)
    write_file(os.path.join(work, "z.bin"), b"\x00" * ZLIB_POSITION + zlib.compress(old)
               + b"\xff" * 4096)
    write_file(os.path.join(work, "zr.txt"),
               b"targetfile=z-out.bin\nsourcefile=z.bin\n<patch>\nname=z\nenabled=true\n"
               b"action=replace_zlib\nposition=%X\nolddata=%s\nnewdata=%s\n</patch>\n"
               % (ZLIB_POSITION, old, new))
    write_file(os.path.join(work, "zq.txt"),
               b"targetfile=z-out.bin\nsourcefile=z.bin\n<patch>\npatch_name = z\n"
               b"patch_enable = `yes`\nreplace_zlib = %X, `%s`, `%s`\n</patch>\n"
               % (ZLIB_POSITION, old, new))


def zlib_baseline_python(seed, repeat):
    """Seconds for Python's zlib.compress of both texts (median)."""
    old, new = zlib_texts(seed)

    def once():
        start = time.perf_counter()
        zlib.compress(old)
        zlib.compress(new)
        return time.perf_counter() - start

    return median_of(repeat, once)


def zlib_baseline(helper, work, repeat):
    """{"strict": s, "plain": s, "what": text}: zlib's one-call compression
    of both texts by the C program beside this script (median of each of its
    two figures), or Python's zlib.compress where no C compiler is at hand."""
    program = os.path.join(work, "zlib_baseline")
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zlib_baseline.c")
    compiler = os.environ.get("CC", "cc")
    if shutil.which(compiler) and subprocess.run(
            [compiler, "-O2", "-o", program, source, "-lz"]).returncode == 0:
        texts = [os.path.join(work, n) for n in ("old.txt", "new.txt")]
        runs = [[float(x) for x in subprocess.run(
            [program] + texts, check=True, capture_output=True, text=True).stdout.split()]
            for _ in range(repeat)]
        return {"plain": statistics.median(r[0] for r in runs),
                "strict": statistics.median(r[1] for r in runs), "what": "compress2 x2 (C)"}
    seconds = helper.submit(zlib_baseline_python, 3, repeat).result()
    return {"plain": seconds, "strict": seconds, "what": "zlib.compress x2 (Python)"}


def fresh_memory_cost():
    """Seconds to fill 1 GiB of newly allocated memory, and to fill it again:
    what first touching memory costs on this machine, which hexmend pays for
    its whole-file buffer and a copy with a small buffer does not."""
    start = time.perf_counter()
    buffer = bytearray(b"\x01") * (1024 * MIB)
    first = time.perf_counter() - start
    address = (ctypes.c_char * len(buffer)).from_buffer(buffer)
    start = time.perf_counter()
    ctypes.memset(address, 2, len(buffer))
    again = time.perf_counter() - start
    del address
    return first, again


def make_pair(work, size_mib, seed):
    """OLD and NEW of size_mib MiB that differ in 10,000 places, evenly
    spread, each 1 to 16 bytes long; returns how many places."""
    rng = random.Random(seed)
    block = rng.randbytes(min(size_mib, 64) * MIB)
    old = block * (size_mib * MIB // len(block))
    new = bytearray(old)
    stride = len(new) // 10000
    for i in range(10000):
        at = i * stride + rng.randrange(stride - 16)
        length = rng.randrange(1, 17)
        new[at:at + length] = bytes(b ^ 0xFF for b in new[at:at + length])
    write_file(os.path.join(work, "old.bin"), old)
    write_file(os.path.join(work, "new.bin"), new)
    return 10000


# ---- the measurements ----

def bench_large(helper, hexmend, work, size_mib, repeat):
    src, dst, target, patch = (os.path.join(work, n)
                               for n in ("big.bin", "copy.bin", "big-out.bin", "big.txt"))
    patches = helper.submit(make_large, work, size_mib, 1).result()
    times, cats, copies, peaks = [], [], [], []
    for _ in range(repeat):
        copies.append(dd_copy(src, dst))
        seconds, rss = hexmend_run(hexmend, patch, target)
        times.append(seconds)
        peaks.append(rss)
        cats.append(cat_copy(src, dst))
    for path in (dst, target, src, patch):
        remove(path)
    return {
        "patches": patches,
        "hexmend": statistics.median(times),
        "dd": statistics.median(copies),
        "cat": statistics.median(cats),
        "rss": max(peaks),
        "size": size_mib * MIB,
    }


def bench_blocks(helper, hexmend, work, repeat):
    """Seconds per run for 0, 1,000, 10,000 and 100,000 blocks."""
    src, patch, target = (os.path.join(work, n) for n in ("mid.bin", "mid.txt", "mid-out.bin"))
    results = {}
    for blocks in (0, 1000, 10000, 100000):
        helper.submit(make_blocks, work, blocks, 2).result()
        results[blocks] = median_of(repeat, lambda: hexmend_run(hexmend, patch, target)[0])
    for path in (src, patch, target):
        remove(path)
    return results


def bench_zlib(helper, hexmend, work, repeat):
    helper.submit(make_zlib, work, 3).result()
    target = os.path.join(work, "z-out.bin")
    results = zlib_baseline(helper, work, repeat)
    for style, name in (("regular", "zr.txt"), ("zq", "zq.txt")):
        patch = os.path.join(work, name)
        results[style] = median_of(repeat, lambda: hexmend_run(hexmend, patch, target)[0])
    for name in ("z.bin", "z-out.bin", "zr.txt", "zq.txt", "old.txt", "new.txt"):
        remove(os.path.join(work, name))
    return results


def bench_diff(helper, hexmend_diff, work, size_mib, repeat):
    old, new, patch = (os.path.join(work, n) for n in ("old.bin", "new.bin", "diff.patch"))
    places = helper.submit(make_pair, work, size_mib, 4).result()
    times, cats = [], []
    for _ in range(repeat):
        with open(os.devnull, "wb") as null:
            cats.append(run_measured(["cat", old, new], stdout=null)[0])
        remove(patch)
        times.append(run_measured([hexmend_diff, old, new, patch])[0])
    with open(patch, "rb") as f:
        blocks = sum(1 for line in f if line == b"<patch>\n")
    if blocks != places:
        sys.exit("hexmend-diff wrote %d blocks for %d places" % (blocks, places))
    for path in (old, new, patch):
        remove(path)
    return {"diff": statistics.median(times), "cat": statistics.median(cats), "places": places}


# ---- report ----

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hexmend", required=True, help="the hexmend program to measure")
    parser.add_argument("--hexmend-diff", default=None,
                        help="the hexmend-diff program to measure (default: beside hexmend)")
    parser.add_argument("--work", default=None, help="folder for the files (default: temp)")
    parser.add_argument("--size-mib", type=int, default=1024, help="size of run 1's source")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure (median)")
    parser.add_argument("--only", default="12345", help="which measurements to make")
    opts = parser.parse_args()
    hexmend = os.path.abspath(opts.hexmend)
    hexmend_diff = os.path.abspath(opts.hexmend_diff or os.path.join(
        os.path.dirname(hexmend), "hexmend-diff" + os.path.splitext(hexmend)[1]))
    work = tempfile.mkdtemp(prefix="hexmend-bench-", dir=opts.work)
    # Part 2 measures the walk over the blocks: in memory when the machine
    # has a memory file system, so that the disk's noise stays out of it.
    fast = tempfile.mkdtemp(prefix="hexmend-bench-", dir="/dev/shm") if os.path.isdir(
        "/dev/shm") else work
    helper = concurrent.futures.ProcessPoolExecutor(
        max_workers=1, mp_context=multiprocessing.get_context("fork"))
    rows = []
    try:
        print("machine: %s, %d cores, Python %s, zlib %s" % (
            platform.processor() or platform.machine(), os.cpu_count(),
            platform.python_version(), zlib.ZLIB_RUNTIME_VERSION), flush=True)
        first, again = helper.submit(fresh_memory_cost).result()
        print("filling 1 GiB of new memory: %.2f s the first time, %.2f s again" % (first, again),
              flush=True)
        if "1" in opts.only or "3" in opts.only:
            r = bench_large(helper, hexmend, work, opts.size_mib, opts.repeat)
            ratio = r["hexmend"] / r["dd"]
            size = "%d MiB" % (r["size"] // MIB)
            rows.append(("1. %s source, %d patches, both styles" % (size, r["patches"]),
                         "%.2f s" % r["hexmend"],
                         "dd conv=fsync %.2f s (cat %.2f s)" % (r["dd"], r["cat"]),
                         "%.2fx" % ratio, "<= 1.3x", ratio <= 1.3))
            limit = r["size"] + 64 * MIB
            rows.append(("3. peak resident set of run 1", "%d MiB" % (r["rss"] // MIB),
                         "source %s" % size, "+%d MiB" % ((r["rss"] - r["size"]) // MIB),
                         "<= +64 MiB", r["rss"] <= limit))
        if "2" in opts.only:
            t = bench_blocks(helper, hexmend, fast, opts.repeat)
            per = {n: (t[n] - t[0]) / n for n in (1000, 10000, 100000)}
            ratio = per[100000] / per[1000]
            rows.append(("2. blocks on a 64 MiB source (0 blocks: %.3f s)" % t[0],
                         " / ".join("%d: %.1f us" % (n, per[n] * 1e6) for n in per),
                         "per block at 1,000 blocks", "%.2fx" % ratio, "flat",
                         ratio <= 1.5))
        if "4" in opts.only:
            z = bench_zlib(helper, hexmend, work, opts.repeat)
            for style in ("regular", "zq"):
                ratio = z[style] / z["plain"]
                rows.append(("4. replace_zlib of a 64 MiB text, %s style" % style,
                             "%.2f s" % z[style],
                             "%s %.2f s (zlib's work alone %.2f s: %.2fx)" % (
                                 z["what"], z["plain"], z["strict"], z[style] / z["strict"]),
                             "%.2fx" % ratio, "<= 1.1x", ratio <= 1.1))
        if "5" in opts.only:
            d = bench_diff(helper, hexmend_diff, work, opts.size_mib, opts.repeat)
            ratio = d["diff"] / d["cat"]
            rows.append(("5. hexmend-diff, two %d MiB files, %s differences" % (
                opts.size_mib, format(d["places"], ",")), "%.3f s" % d["diff"],
                "cat OLD NEW > /dev/null %.3f s" % d["cat"], "%.2fx" % ratio, "<= 1.5x",
                ratio <= 1.5))
    finally:
        helper.shutdown()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(fast, ignore_errors=True)

    print()
    print("| Measurement | hexmend | Baseline | Ratio | Goal | Met |")
    print("|---|---|---|---|---|---|")
    for name, value, baseline, ratio, goal, met in rows:
        print("| %s | %s | %s | %s | %s | %s |" % (name, value, baseline, ratio, goal,
                                                  "yes" if met else "NO"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
