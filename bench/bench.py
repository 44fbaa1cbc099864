#!/usr/bin/env python3
"""hexmend benchmark: wall time, cost per block and peak memory, each against
a baseline measured in the same run on the same machine.

    bench/bench.py --hexmend PATH [--hexmend-diff PATH] [--site DIR] [--work DIR]
                   [--size-mib 1024] [--repeat 3] [--only 123456789 | --only 1,10,13]

Rows 1, 3 and 5 to 8 use one source of --size-mib MiB (default 1 GiB) with
10,000 patches of mixed actions in both styles. Their baseline is a durable
copy of that source on the same file system, dd bs=1M conv=fsync, measured
beside hexmend in every repeat. Every timed command, hexmend or dd, starts
with nothing waiting to be written and the source in the page cache.

1. A new target on the file system of --work. Goal: at most 1.0x dd.
2. 50,000, 100,000, 200,000 and 400,000 blocks on a 64 MiB source: the
   processor time a block adds, from 50,000 to 100,000 blocks and from
   200,000 to 400,000, each run the least of --repeat. Goal: flat (linear
   growth), the second at most 1.5 times the first, both above 0.
3. Peak resident set of a new target, a check and an in-place run, on the
   large source and on a sparse one of 2 GiB - 1 bytes (the largest hexmend
   takes), as GNU time reports it. Goal: at most 32 MiB plus the patch
   file's size.
4. replace_zlib of a 64 MiB text, in each style, against zlib's one-call
   compression of the same two texts at the default level: compress2() in
   bench/zlib_baseline.c, built with $CC (default cc), or Python's
   zlib.compress where there is no C compiler. The ratio is taken against
   the plain call, as any caller gets it; zlib's work alone (buffers in
   large pages and touched beforehand) is shown beside it. Goal: within 1.1
   times.
5. Row 1 on XFS with reflink, a loop image made and mounted for it (needs
   root and mkfs.xfs; skipped otherwise). Goal: at most 0.05x dd there.
6. inplace=true with 10 of the patches. Goal: at most 0.03x dd.
7. inplace=true with all 10,000. Goal: at most 0.3x dd.
   The in-place rows put the source's old bytes back after every run.
8. check=true. Goal: at most 0.05x dd.
9. hexmend-diff over two files of --size-mib MiB that differ in 10,000
   places, against reading both (cat OLD NEW > /dev/null) just before.
   Goal: at most 1.5x.

10. to 13. The page (--site, the built site's folder) in headless chromium:
   see bench/page_bench.py.

--only names rows by their digits (rows 1 to 9) or as a list with commas.
Each time is the median of --repeat runs (row 2: the fastest); peak memory
is taken from one run of each kind. A time counts only for a run whose
output is right: every target, in-place file and patch file is compared
(sha256) with the bytes the patches must make, worked out here from the
value notation's rules, and, where the kernel can tell (cachestat) and the
file system is not in memory, none of its pages may still wait to be
written; a check must pass. A wrong output ends the benchmark. The exit code
is 1 when a row misses its goal. Files go to a fresh folder in --work (default: the system's
temporary folder) that is removed at the end; the 1 GiB source needs about
3.5 GiB of free space there.
"""

import argparse
import concurrent.futures
import contextlib
import ctypes
import hashlib
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

def run_measured(command, stdout=None, cwd=None):
    """Runs command (in the folder cwd); returns (seconds, peak resident set
    in bytes, processor seconds, user and system). Its output goes to stdout
    (a file), else to a scratch file that is shown when the command fails."""
    with tempfile.TemporaryFile() as scratch:
        start = time.perf_counter()
        proc = subprocess.Popen(command, stdout=stdout or scratch, stderr=scratch, cwd=cwd)
        _, status, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        if code != 0:
            scratch.seek(0)
            tail = scratch.read()[-2000:].decode("latin-1")
            sys.exit("%s failed (exit code %d):\n%s" % (" ".join(command), code, tail))
    return seconds, usage.ru_maxrss * 1024, usage.ru_utime + usage.ru_stime


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def hexmend_run(hexmend, patch, target, expected, what, figure=0):
    """Seconds of a run of patch that writes target anew, which must then
    hold the bytes whose sha256 is expected: the wall time, or with figure 2
    the processor time."""
    remove(target)
    seconds = run_measured([hexmend, patch])[figure]
    verify(target, expected, what)
    return seconds


def dd_copy(src, dst):
    remove(dst)
    return run_measured(["dd", "if=" + src, "of=" + dst, "bs=1M", "conv=fsync",
                         "status=none"])[0]


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
        # Where values were planted, in order.
        self.positions = []
        # What each block writes: [(position, new bytes)] per block.
        self.changes = []

    def _word(self, n):
        return "".join(self.rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(n))

    def _values(self, kind, position, changes):
        """Plants the old value of kind at position; returns (old, new) texts
        in the value notation of that kind. Appends to changes the bytes the
        patch is to write there, worked out here from the notation's rules."""
        buf = self.buffer
        self.positions.append(position)
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
        changes.append((position, self._written(kind, old, new)))
        return old, new

    @staticmethod
    def _written(kind, old, new):
        if kind == "string":
            return new.encode()
        if kind == "bytes":
            return bytes.fromhex(new)
        if kind == "xor":
            return bytes(c ^ 0x5A for c in new.encode()).ljust(len(old), b"\0")
        if kind == "int":
            return bytes([int(new)])
        if kind == "float":
            return struct.pack("<d", float(new))
        if kind == "utf8":
            return b"".join(c.encode().ljust(4, b"\0") for c in new)
        if kind == "zlib":
            return zlib.compress(new.encode()).ljust(len(zlib.compress(old.encode())), b"\0")
        return DATA

    def regular(self, kind, position):
        changes = []
        old, new = self._values(kind, position, changes)
        self.changes.append(changes)
        action = "replace_xor_5A" if kind == "xor" else "replace_" + kind.replace(
            "utf8", "utf8chars")
        self.blocks.append(
            "<patch>\nname=r%d\nenabled=true\naction=%s\nposition=%X\nolddata=%s\nnewdata=%s\n"
            "</patch>\n" % (self.count, action, position, old, new))
        self.count += 1

    def zq(self, kinds_positions):
        lines = ["<patch>", "patch_name = z%d" % self.count, "patch_enable = `yes`"]
        changes = []
        self.changes.append(changes)
        for kind, position in kinds_positions:
            old, new = self._values(kind, position, changes)
            key = "replace_xor_5A " if kind == "xor" else "replace_%s " % kind.replace(
                "utf8", "utf8chars")
            if kind in ("int", "float", "bytes"):
                lines.append("%s= %X, %s, %s" % (key, position, old, new))
            else:
                lines.append("%s= %X, `%s`, `%s`" % (key, position, old, new))
            self.count += 1
        self.blocks.append("\n".join(lines + ["</patch>"]) + "\n")

    def text(self, target, source, blocks=None):
        return "targetfile=%s\nsourcefile=%s\n" % (target, source) + "".join(
            self.blocks if blocks is None else blocks)


def mixed_patches(buffer, patches, rng):
    """Half the patches as regular blocks (one patch each, the first half of
    the blocks), half as zq-style blocks of ten lines, spread evenly over
    buffer, every action of each style in turn."""
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


# What replace_file writes (data.bin).
DATA = b"DATA"


def every(lists):
    return [item for items in lists for item in items]


def patched_digest(path, changes):
    """sha256 of the file at path with changes, [(position, bytes)] that do
    not overlap, laid over it: what a run that writes them must leave."""
    changes = sorted(changes)
    digest = hashlib.sha256()
    first = 0
    with open(path, "rb") as f:
        offset = 0
        while True:
            chunk = bytearray(f.read(8 * MIB))
            if not chunk:
                break
            end = offset + len(chunk)
            while first < len(changes) and changes[first][0] + len(changes[first][1]) <= offset:
                first += 1
            for position, data in changes[first:]:
                if position >= end:
                    break
                low, high = max(position, offset), min(position + len(data), end)
                chunk[low - offset:high - offset] = data[low - position:high - position]
            digest.update(chunk)
            offset = end
    return digest.hexdigest()


def file_digest(path):
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()


class CacheStat(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint64) for name in (
        "cache", "dirty", "writeback", "evicted", "recently_evicted")]


CACHESTAT = 451
LIBC = ctypes.CDLL(None, use_errno=True)


def unwritten_pages(path):
    """How many pages of the file at path wait to be written (dirty or under
    writeback), by the cachestat system call (Linux 6.5); None where that
    cannot be told: an older kernel, or a memory file system, whose pages go
    nowhere."""
    if file_system(os.path.dirname(path)) in ("tmpfs", "ramfs"):
        return None
    whole = (ctypes.c_uint64 * 2)(0, 0)
    stat = CacheStat()
    with open(path, "rb") as f:
        if LIBC.syscall(CACHESTAT, f.fileno(), ctypes.byref(whole), ctypes.byref(stat), 0) != 0:
            return None
    return stat.dirty + stat.writeback


def verify(path, expected, what):
    """Exits unless the file at path is the expected bytes (sha256) and, where
    that can be told, none of them waits to be written: a time counts only
    for a run that did its work and made it durable."""
    waiting = unwritten_pages(path)
    if waiting:
        sys.exit("bench: %s: %d pages of %s are not written yet" % (what, waiting, path))
    if file_digest(path) != expected:
        sys.exit("bench: %s: %s is not what the run had to write" % (what, path))


def verify_check(stdout, target, what):
    """Exits unless a check run's standard output (a file) ends in its verdict
    that everything applies."""
    stdout.seek(0)
    lines = stdout.read().decode("latin-1").splitlines()
    if "check passed, not saved: " + target not in lines[-2:]:
        sys.exit("bench: %s: the check did not pass: %r" % (what, lines[-3:]))


def median_of(repeat, measure):
    return statistics.median(measure() for _ in range(repeat))


# ---- making the files ----
#
# These run in a helper process, so that the process that starts the timed
# commands never holds their large buffers.

def make_blocks(work, blocks, seed):
    """blocks blocks of one patch each, every other one zq-style, on a
    64 MiB source: midN.bin and midN.txt, which writes midN-out.bin (N the
    count); returns the sha256 of what that must hold."""
    rng = random.Random(seed)
    buffer = bytearray(random.Random(seed).randbytes(64 * MIB))
    writer = PatchWriter(buffer, rng)
    stride = len(buffer) // max(blocks, 1)
    for i in range(blocks):
        if i % 2:
            writer.regular("string", i * stride)
        else:
            writer.zq([("bytes", i * stride)])
    stem = os.path.join(work, "mid%d" % blocks)
    write_file(stem + ".bin", buffer)
    write_file(stem + ".txt", writer.text("mid%d-out.bin" % blocks,
                                          "mid%d.bin" % blocks).encode("utf-8"))
    return patched_digest(stem + ".bin", every(writer.changes))


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
    """The replace_zlib source and patch files; returns the sha256 of what
    they must make of the source."""
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
    stream = zlib.compress(new).ljust(len(zlib.compress(old)), b"\0")
    return patched_digest(os.path.join(work, "z.bin"), [(ZLIB_POSITION, stream)])


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
    its large buffers (a whole replace_zlib text is one)."""
    start = time.perf_counter()
    buffer = bytearray(b"\x01") * (1024 * MIB)
    first = time.perf_counter() - start
    address = (ctypes.c_char * len(buffer)).from_buffer(buffer)
    start = time.perf_counter()
    ctypes.memset(address, 2, len(buffer))
    again = time.perf_counter() - start
    del address
    return first, again


# ---- per block and replace_zlib (rows 2 and 4) ----

# Row 2's block counts: two doublings, far enough apart and large enough
# that what the blocks add to a run stands well clear of the run's noise.
BLOCK_COUNTS = (50000, 100000, 200000, 400000)


def bench_blocks(helper, hexmend, work, repeat):
    """Processor seconds per run for each of BLOCK_COUNTS blocks, which
    other programs on the machine disturb far less than the wall time: the
    least of repeat runs, the counts taken in turn, so that a busy spell of
    the machine does not fall on one count alone."""
    expected = {n: helper.submit(make_blocks, work, n, 2).result() for n in BLOCK_COUNTS}
    results = {n: float("inf") for n in BLOCK_COUNTS}
    for _ in range(repeat):
        for n in BLOCK_COUNTS:
            stem = os.path.join(work, "mid%d" % n)
            results[n] = min(results[n], hexmend_run(hexmend, stem + ".txt", stem + "-out.bin",
                                                     expected[n], "%d blocks" % n, 2))
    for n in BLOCK_COUNTS:
        for suffix in (".bin", ".txt", "-out.bin"):
            remove(os.path.join(work, "mid%d%s" % (n, suffix)))
    return results


def blocks_row(t):
    """Row 2: the cost of a block, from the time the blocks of each doubling
    add, at the low counts and at the high ones; flat when they agree."""
    low, high = ((t[b] - t[a]) / (b - a) for a, b in (BLOCK_COUNTS[0:2], BLOCK_COUNTS[2:4]))
    ratio = high / low if low > 0 else float("inf")
    return ("2. blocks on a 64 MiB source (%s blocks: %s s of processor time)" % (
                "/".join("%dk" % (n // 1000) for n in BLOCK_COUNTS),
                "/".join("%.3f" % t[n] for n in BLOCK_COUNTS)),
            "%.2f us per block from %dk to %dk" % (high * 1e6, BLOCK_COUNTS[2] // 1000,
                                                   BLOCK_COUNTS[3] // 1000),
            "%.2f us from %dk to %dk" % (low * 1e6, BLOCK_COUNTS[0] // 1000,
                                         BLOCK_COUNTS[1] // 1000),
            "%.2fx" % ratio, "flat (<= 1.5x)", low > 0 and high > 0 and ratio <= 1.5)


def bench_zlib(helper, hexmend, work, repeat):
    expected = helper.submit(make_zlib, work, 3).result()
    target = os.path.join(work, "z-out.bin")
    results = zlib_baseline(helper, work, repeat)
    for style, name in (("regular", "zr.txt"), ("zq", "zq.txt")):
        patch = os.path.join(work, name)
        results[style] = median_of(repeat, lambda: hexmend_run(
            hexmend, patch, target, expected, "replace_zlib, %s style" % style))
    for name in ("z.bin", "z-out.bin", "zr.txt", "zq.txt", "old.txt", "new.txt"):
        remove(os.path.join(work, name))
    return results


# ---- one large source: a new target, in place, check, peak memory ----
#
# Every timed command, hexmend or dd, starts from the same state: nothing
# waiting to be written (sync) and the source in the page cache (read through
# just before). dd's copy and hexmend's target are new files, removed before
# and after each run; the baseline is measured beside hexmend in every repeat.

# What a patch of mixed_patches changes at its position, at most (the patches
# are further apart than this).
WINDOW = 512
# Largest source hexmend takes.
MAX_SOURCE = 2 ** 31 - 1


def make_large(work, size_mib, seed):
    """big.bin with 10,000 patches of mixed actions; big.txt writes them to a
    new target, big-inplace.txt into big.bin itself, big-inplace10.txt ten
    of them (regular blocks spread over the file, every action of that
    style). The bytes each patch may change go to big.orig, to undo in-place
    runs."""
    rng = random.Random(seed)
    # Random bytes; a 64 MiB run of them repeated is random enough here.
    block = rng.randbytes(min(size_mib, 64) * MIB)
    buffer = bytearray(block * (size_mib * MIB // len(block)))
    writer = mixed_patches(buffer, 10000, rng)
    write_file(os.path.join(work, "big.bin"), buffer)
    write_file(os.path.join(work, "data.bin"), DATA)
    write_file(os.path.join(work, "big.txt"),
               writer.text("big-out.bin", "big.bin").encode("utf-8"))
    write_file(os.path.join(work, "big-inplace.txt"),
               writer.text("big.bin", "big.bin").encode("utf-8"))
    step = writer.count // 2 // 10 + 1
    write_file(os.path.join(work, "big-inplace10.txt"),
               writer.text("big.bin", "big.bin",
                           [writer.blocks[i * step] for i in range(10)]).encode("utf-8"))
    write_file(os.path.join(work, "big.orig"), b"".join(
        struct.pack("<Q", p) + buffer[p:p + WINDOW] for p in writer.positions))
    src = os.path.join(work, "big.bin")
    writer.buffer = buffer = None
    return {"patches": writer.count, "all": patched_digest(src, every(writer.changes)),
            "ten": patched_digest(src, every(writer.changes[i * step] for i in range(10)))}


class SparseBuffer:
    """Stands in for the bytearray of a source too large to build in memory:
    all zero bytes, what is planted kept aside and written into a sparse
    file. Each position is read and planted once."""

    def __init__(self, size):
        self.size = size
        self.planted = {}

    def __len__(self):
        return self.size

    def __getitem__(self, key):
        return bytes(key.stop - key.start) if isinstance(key, slice) else 0

    def __setitem__(self, key, value):
        self.planted[key.start] = bytes(value)

    def write(self, path):
        with open(path, "wb") as f:
            f.truncate(self.size)
            for position, value in self.planted.items():
                f.seek(position)
                f.write(value)


def make_largest(work, seed):
    """huge.bin, a sparse source of the largest size hexmend takes, with
    10,000 patches: huge.txt to a new target, huge-inplace.txt in place.
    Returns the sha256 of what they must make of it."""
    buffer = SparseBuffer(MAX_SOURCE)
    writer = mixed_patches(buffer, 10000, random.Random(seed))
    buffer.write(os.path.join(work, "huge.bin"))
    write_file(os.path.join(work, "data.bin"), DATA)
    write_file(os.path.join(work, "huge.txt"),
               writer.text("huge-out.bin", "huge.bin").encode("utf-8"))
    write_file(os.path.join(work, "huge-inplace.txt"),
               writer.text("huge.bin", "huge.bin").encode("utf-8"))
    return patched_digest(os.path.join(work, "huge.bin"), every(writer.changes))


def undo_in_place(path, saved):
    """Writes the bytes saved by make_large back into path, durably."""
    with open(saved, "rb") as windows, open(path, "r+b") as f:
        while True:
            head = windows.read(8)
            if not head:
                break
            f.seek(struct.unpack("<Q", head)[0])
            f.write(windows.read(WINDOW))
        f.flush()
        os.fsync(f.fileno())


def settle(path):
    """Nothing waiting to be written, and path in the page cache."""
    os.sync()
    with open(path, "rb", buffering=0) as f:
        chunk = bytearray(MIB)
        while f.readinto(chunk):
            pass


def timed(command):
    return run_measured(command)[0]


def dd_in(folder):
    src, dst = os.path.join(folder, "big.bin"), os.path.join(folder, "copy.bin")
    remove(dst)
    settle(src)
    seconds = dd_copy(src, dst)
    remove(dst)
    return seconds


def bench_new_target(hexmend, folder, repeat, expected):
    """{"hexmend": s, "dd": s}: big.txt to a new target in folder, and dd's
    durable copy of big.bin there."""
    src, target, patch = (os.path.join(folder, n) for n in ("big.bin", "big-out.bin", "big.txt"))
    times, copies = [], []
    for _ in range(repeat):
        copies.append(dd_in(folder))
        remove(target)
        settle(src)
        times.append(timed([hexmend, patch]))
        verify(target, expected, "a new target")
        remove(target)
    return {"hexmend": statistics.median(times), "dd": statistics.median(copies)}


def bench_in_place(hexmend, work, patch_name, repeat, expected):
    """As bench_new_target, for patch_name with inplace=true; big.bin is put
    back after each run."""
    src, patch, saved = (os.path.join(work, n) for n in ("big.bin", patch_name, "big.orig"))
    times, copies = [], []
    for _ in range(repeat):
        copies.append(dd_in(work))
        settle(src)
        times.append(timed([hexmend, patch, "inplace=true"]))
        verify(src, expected, patch_name + " in place")
        undo_in_place(src, saved)
    return {"hexmend": statistics.median(times), "dd": statistics.median(copies)}


def bench_check(hexmend, work, repeat):
    src, patch = os.path.join(work, "big.bin"), os.path.join(work, "big.txt")
    times, copies = [], []
    for _ in range(repeat):
        copies.append(dd_in(work))
        settle(src)
        with tempfile.TemporaryFile() as stdout:
            times.append(run_measured([hexmend, patch, "check=true"], stdout)[0])
            verify_check(stdout, os.path.join(work, "big-out.bin"), "check=true")
    return {"hexmend": statistics.median(times), "dd": statistics.median(copies)}


class Skipped(Exception):
    pass


@contextlib.contextmanager
def xfs_with_reflink(work, size):
    """A fresh XFS with reflink on a loop image in work, mounted for the
    block; its folder. Raises Skipped, saying why, where that cannot be."""
    if os.geteuid() != 0:
        raise Skipped("needs root to mount")
    if not shutil.which("mkfs.xfs"):
        raise Skipped("no mkfs.xfs (xfsprogs)")
    image, folder = os.path.join(work, "xfs.img"), os.path.join(work, "xfs")
    with open(image, "wb") as f:
        f.truncate(size)
    os.makedirs(folder)
    try:
        for command in (["mkfs.xfs", "-q", "-m", "reflink=1", image],
                        ["mount", "-o", "loop", image, folder]):
            done = subprocess.run(command, capture_output=True, text=True)
            if done.returncode != 0:
                raise Skipped("%s failed: %s" % (command[0], done.stderr.strip()[:200]))
        try:
            yield folder
        finally:
            subprocess.run(["umount", folder], check=True)
    finally:
        remove(image)


def bench_reflink(hexmend, work, size, repeat, expected):
    """bench_new_target on XFS with reflink; big.bin, big.txt and data.bin
    are copied there."""
    with xfs_with_reflink(work, 3 * size + 512 * MIB) as folder:
        for name in ("big.bin", "big.txt", "data.bin"):
            shutil.copyfile(os.path.join(work, name), os.path.join(folder, name))
        return bench_new_target(hexmend, folder, repeat, expected)


GNU_TIME = "/usr/bin/time"


def peak_memory(command, stdout):
    """Peak resident set of command in bytes, as GNU time reports it. Not
    from wait4 here: a child's peak starts from that of the process that
    started it (the kernel carries it over exec), and GNU time is small."""
    with tempfile.NamedTemporaryFile() as report:
        run_measured([GNU_TIME, "-o", report.name, "-f", "%M"] + command, stdout)
        return int(report.read().split()[-1]) * 1024


def bench_memory(hexmend, folder, stem, expected, undo=None):
    """{mode: (peak bytes, patch file bytes)} of a new target (STEM.txt to
    STEM-out.bin, removed after), a check and an in-place run
    (STEM-inplace.txt), each of which must have written the bytes whose
    sha256 is expected; undo is called after the last."""
    new, in_place = (os.path.join(folder, stem + n) for n in (".txt", "-inplace.txt"))
    target, src = (os.path.join(folder, stem + n) for n in ("-out.bin", ".bin"))
    runs = {"new target": ([new], lambda out: verify(target, expected, "a new target")),
            "check": ([new, "check=true"], lambda out: verify_check(out, target, "check=true")),
            "in place": ([in_place, "inplace=true"],
                         lambda out: verify(src, expected, "in place"))}
    result = {}
    for mode, (arguments, check) in runs.items():
        with tempfile.TemporaryFile() as stdout:
            result[mode] = (peak_memory([hexmend] + arguments, stdout),
                            os.path.getsize(arguments[0]))
            check(stdout)
        remove(target)
    if undo:
        undo()
    return result


def memory_row(name, peaks):
    over = max(rss - patch for rss, patch in peaks.values())
    patch_mib = max(patch for _, patch in peaks.values()) / MIB
    return (name, "%.0f MiB (%s)" % (max(rss for rss, _ in peaks.values()) / MIB, ", ".join(
                "%s %.0f" % (mode, rss / MIB) for mode, (rss, _) in peaks.items())),
            "patch file %.1f MiB" % patch_mib, "patch file + %.1f MiB" % (over / MIB),
            "<= patch file + 32 MiB", over <= 32 * MIB)


def file_system(folder):
    found = subprocess.run(["findmnt", "-n", "-o", "FSTYPE", "-T", folder],
                           capture_output=True, text=True).stdout.strip()
    return found or "the work folder's file system"


def large_source_rows(helper, hexmend, work, size_mib, repeat, only):
    """Rows 1, 3, 5, 6, 7 and 8 (those in only), in the order they are
    measured."""
    rows = []
    size = size_mib * MIB

    def ratio_row(name, r, baseline, goal):
        ratio = r["hexmend"] / r["dd"]
        return (name, "%.3f s" % r["hexmend"], "%s %.3f s" % (baseline, r["dd"]),
                "%.3fx" % ratio, "<= %.2fx" % goal, ratio <= goal)

    made = helper.submit(make_large, work, size_mib, 1).result()
    source = "%d MiB source, %d patches" % (size_mib, made["patches"])
    if "1" in only:
        rows.append(ratio_row("1. %s, new target, %s" % (source, file_system(work)),
                              bench_new_target(hexmend, work, repeat, made["all"]), "dd conv=fsync",
                              1.0))
    if "6" in only:
        rows.append(ratio_row("6. %d MiB source, 10 patches, inplace=true" % size_mib,
                              bench_in_place(hexmend, work, "big-inplace10.txt", repeat,
                                             made["ten"]),
                              "dd conv=fsync", 0.03))
    if "7" in only:
        rows.append(ratio_row("7. %s, inplace=true" % source,
                              bench_in_place(hexmend, work, "big-inplace.txt", repeat,
                                             made["all"]),
                              "dd conv=fsync", 0.3))
    if "8" in only:
        rows.append(ratio_row("8. %s, check=true" % source, bench_check(hexmend, work, repeat),
                              "dd conv=fsync", 0.05))
    if "3" in only:
        if not os.access(GNU_TIME, os.X_OK):
            rows.append(("3. peak resident set", "skipped: no GNU time (package time)",
                         "", "", "", None))
        else:
            src = os.path.join(work, "big.bin")
            peaks = bench_memory(hexmend, work, "big", made["all"],
                                 lambda: undo_in_place(src, os.path.join(work, "big.orig")))
            rows.append(memory_row("3. peak resident set, %s" % source, peaks))
    if "5" in only:
        name = "5. %s, new target, XFS with reflink (loop image)" % source
        try:
            rows.append(ratio_row(name, bench_reflink(hexmend, work, size, repeat, made["all"]),
                                  "dd conv=fsync on it", 0.05))
        except Skipped as why:
            rows.append((name, "skipped: %s" % why, "", "", "<= 0.05x", None))
    for name in ("big.bin", "big.txt", "big-inplace.txt", "big-inplace10.txt", "big.orig",
                 "data.bin"):
        remove(os.path.join(work, name))
    if "3" in only and os.access(GNU_TIME, os.X_OK):
        expected = helper.submit(make_largest, work, 4).result()
        peaks = bench_memory(hexmend, work, "huge", expected)
        rows.append(memory_row("3. peak resident set, 2 GiB - 1 source (sparse), 10000 patches",
                               peaks))
        for name in ("huge.bin", "huge.txt", "huge-inplace.txt", "data.bin"):
            remove(os.path.join(work, name))
    return rows


# ---- report ----

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


def bench_diff(helper, hexmend, hexmend_diff, work, size_mib, repeat):
    """Every run must write the same patch file, which must turn OLD into NEW
    (hexmend applies it at the end)."""
    old, new, patch = (os.path.join(work, n) for n in ("old.bin", "new.bin", "diff.patch"))
    places = helper.submit(make_pair, work, size_mib, 4).result()
    times, cats, written = [], [], None
    for _ in range(repeat):
        with open(os.devnull, "wb") as null:
            cats.append(run_measured(["cat", old, new], stdout=null)[0])
        remove(patch)
        times.append(run_measured([hexmend_diff, old, new, patch])[0])
        written = written or file_digest(patch)
        verify(patch, written, "hexmend-diff")
    with open(patch, "rb") as f:
        blocks = sum(1 for line in f if line == b"<patch>\n")
    if blocks != places:
        sys.exit("hexmend-diff wrote %d blocks for %d places" % (blocks, places))
    run_measured([hexmend, patch])
    verify(old, file_digest(new), "hexmend-diff's patch file applied")
    for path in (old, new, patch):
        remove(path)
    return {"diff": statistics.median(times), "cat": statistics.median(cats), "places": places}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hexmend", required=True, help="the hexmend program to measure")
    parser.add_argument("--hexmend-diff", default=None,
                        help="the hexmend-diff program to measure (default: beside hexmend)")
    parser.add_argument("--work", default=None, help="folder for the files (default: temp)")
    parser.add_argument("--size-mib", type=int, default=1024,
                        help="size of the large source (rows 1, 3, 5 to 8)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure (median)")
    parser.add_argument("--site", default=None,
                        help="the page's built site (rows 10 to 13; left out without it)")
    parser.add_argument("--only", default=None,
                        help="which rows to measure: digits (123) or a list (1,10,13)")
    opts = parser.parse_args()
    if opts.only is None:
        opts.only = set(str(n) for n in range(1, 14 if opts.site else 10))
    else:
        opts.only = set(opts.only.split(",") if "," in opts.only else opts.only) - {""}
    if opts.only & {"10", "11", "12", "13"} and not opts.site:
        parser.error("rows 10 to 13 need --site")
    hexmend = os.path.abspath(opts.hexmend)
    hexmend_diff = os.path.abspath(opts.hexmend_diff or os.path.join(
        os.path.dirname(hexmend), "hexmend-diff" + os.path.splitext(hexmend)[1]))
    work = tempfile.mkdtemp(prefix="hexmend-bench-", dir=opts.work)
    # Row 2 measures the walk over the blocks: in memory when the machine
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
        print("load average at the start: %.2f %.2f %.2f" % os.getloadavg(), flush=True)
        first, again = helper.submit(fresh_memory_cost).result()
        print("filling 1 GiB of new memory: %.2f s the first time, %.2f s again" % (first, again),
              flush=True)
        if any(n in opts.only for n in "135678"):
            rows += large_source_rows(helper, hexmend, work, opts.size_mib, opts.repeat,
                                      opts.only)
        if "2" in opts.only:
            rows.append(blocks_row(bench_blocks(helper, hexmend, fast, opts.repeat)))
        if "4" in opts.only:
            z = bench_zlib(helper, hexmend, work, opts.repeat)
            for style in ("regular", "zq"):
                ratio = z[style] / z["plain"]
                rows.append(("4. replace_zlib of a 64 MiB text, %s style" % style,
                             "%.2f s" % z[style],
                             "%s %.2f s (zlib's work alone %.2f s: %.2fx)" % (
                                 z["what"], z["plain"], z["strict"], z[style] / z["strict"]),
                             "%.2fx" % ratio, "<= 1.1x", ratio <= 1.1))
        if "9" in opts.only:
            d = bench_diff(helper, hexmend, hexmend_diff, work, opts.size_mib, opts.repeat)
            ratio = d["diff"] / d["cat"]
            rows.append(("9. hexmend-diff, two %d MiB files, %s differences" % (
                opts.size_mib, format(d["places"], ",")), "%.3f s" % d["diff"],
                "cat OLD NEW > /dev/null %.3f s" % d["cat"], "%.2fx" % ratio, "<= 1.5x",
                ratio <= 1.5))
        if opts.only & {"10", "11", "12", "13"}:
            import page_bench
            rows += page_bench.page_rows(helper, hexmend, hexmend_diff, opts.site, work,
                                         opts.size_mib, opts.repeat, opts.only)
        print("load average at the end: %.2f %.2f %.2f" % os.getloadavg(), flush=True)
    finally:
        helper.shutdown()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(fast, ignore_errors=True)

    print()
    print("| Measurement | hexmend | Baseline | Ratio | Goal | Met |")
    print("|---|---|---|---|---|---|")
    rows.sort(key=lambda row: int(row[0].split(".")[0]))
    for name, value, baseline, ratio, goal, met in rows:
        print("| %s | %s | %s | %s | %s | %s |" % (
            name, value, baseline, ratio, goal, "-" if met is None else "yes" if met else "NO"))
    missed = [row[0].split(".")[0] for row in rows if row[5] is False]
    if missed:
        print("\ngoals missed in rows %s" % ", ".join(missed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
