#!/usr/bin/env python3
"""Durability of hexmend's writes, end to end: the real program on real files
(POSIX only).

    durability.py --program PATH [--wrapper CMD] kill|race|clone [--seed N]

kill   SIGKILL at random moments of in-place runs and of default runs (new
       target) on a 64 MiB file with thousands of patches and a 16 MiB range;
       the next run must find the file old or new, with no journal and no
       temporary file left.
race   two runs started together on one file, patching different bytes,
       in default and in in-place mode: both succeed and both patches end up
       in the file. Also two runs into two targets of one folder: neither
       removes the other's temporary file.
clone  on an XFS image made and loop-mounted here: a ~100 MiB file patched
       into a new target shares its unpatched extents with the source.
       Skipped (exit code 77) where no loop device or mount can be had.

--wrapper is the command that runs the program (an emulator such as
qemu-arm for a cross build).
"""

import argparse
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
MIB = 1 << 20


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def leftovers(folder):
    """Temporary files and journals in folder."""
    return sorted(n for n in os.listdir(folder)
                  if n.startswith(".hexmend-") or n.endswith(".hexmend-journal"))


def block(action, position, old, new):
    return ("<patch>\nname=p\nenabled=true\naction=%s\nposition=%X\nolddata=%s\nnewdata=%s\n"
            "</patch>\n" % (action, position, old, new))


class Patch:
    """A patch file over the bytes old: count 4-byte replace_bytes patches at
    distinct places and, with big, one replace_file of big bytes (DONOTCHECK)
    from big.bin. new() is what a run makes of old."""

    def __init__(self, rng, old, count, big=0):
        self.ranges = []
        taken = set()
        if big:
            start = len(old) // 8 + 123
            self.ranges.append((start, rng.randbytes(big)))
            taken.update(range(start // 16, (start + big) // 16 + 1))
        while len(self.ranges) < count + (1 if big else 0):
            slot = rng.randrange(len(old) // 16)
            if slot in taken:
                continue
            taken.add(slot)
            at = slot * 16 + rng.randrange(12)
            self.ranges.append((at, bytes(b ^ 0xA5 for b in old[at:at + 4])))
        self.old = old
        self.big = big

    def text(self, target, source):
        out = ["targetfile=%s\nsourcefile=%s\n" % (target, source)]
        for i, (at, new) in enumerate(self.ranges):
            if self.big and i == 0:
                out.append(block("replace_file", at, "DONOTCHECK", "big.bin"))
            else:
                out.append(block("replace_bytes", at, self.old[at:at + 4].hex(" "), new.hex(" ")))
        return "".join(out)

    def write(self, folder, name, target, source):
        write(os.path.join(folder, name), self.text(target, source).encode("latin-1"))
        if self.big:
            write(os.path.join(folder, "big.bin"), self.ranges[0][1])

    def new(self):
        data = bytearray(self.old)
        for at, new in self.ranges:
            data[at:at + len(new)] = new
        return bytes(data)


# program below is the command that starts hexmend: the wrapper, if any, and
# the program's path.

def run(program, *args, **kwargs):
    return subprocess.run(program + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=120, **kwargs)


# ---- kill ----

def kill_runs(program, folder, rng, inplace, kills):
    """Kills runs of p.txt at random moments; after each, the next run must
    find the target old or new. Returns a line of figures."""
    size = 64 * MIB
    source = rng.randbytes(size)
    patch = Patch(rng, source, 3000, big=16 * MIB)
    new = patch.new()
    src = os.path.join(folder, "src.bin")
    target = src if inplace else os.path.join(folder, "out.bin")
    old = source if inplace else b"the target as it was\n" * 1000
    patch.write(folder, "p.txt", os.path.basename(target), "src.bin")
    p = os.path.join(folder, "p.txt")
    args = [p, "inplace=true"] if inplace else [p]
    write(src, source)

    def reset():
        if inplace:
            write(src, source)
        else:
            write(target, old)

    # One whole run: how long a run takes, and that it makes new.
    reset()
    began = time.monotonic()
    whole = run(program, *args)
    took = time.monotonic() - began
    check(whole.returncode == 0, "the uninterrupted run failed: %r" % whole.stderr)
    check(read(target) == new, "the uninterrupted run did not write the patches")
    tally = {"old": 0, "new": 0, "journal left": 0, "temporary left": 0, "rolled back": 0}
    for _ in range(kills):
        reset()
        delay = rng.uniform(0, took * 1.1)
        proc = subprocess.Popen(program + args, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(delay)
        proc.kill()
        proc.wait(timeout=120)
        left = leftovers(folder)
        tally["journal left"] += any(n.endswith("-journal") for n in left)
        tally["temporary left"] += any(not n.endswith("-journal") for n in left)
        if inplace:
            # The next run: a check, which rolls back first.
            after = run(program, p, "check=true")
            check(after.stderr == b"", "the check after a kill failed: %r" % after.stderr)
            if b"rolled back an interrupted run: " + target.encode() in after.stdout:
                tally["rolled back"] += 1
        got = read(target)
        check(got in (old, new), "after a kill %.3f s in, %s is neither old nor new"
              % (delay, os.path.basename(target)))
        tally["old" if got == old else "new"] += 1
        if not inplace:
            after = run(program, p)
            check(after.returncode == 0, "the run after a kill failed: %r" % after.stderr)
        check(leftovers(folder) == [], "left behind: %s" % leftovers(folder))
        check(inplace or read(src) == source, "the source changed")
    return "%s: %d kills in %.2f s runs: %s" % (
        "inplace=true" if inplace else "new target", kills, took,
        ", ".join("%d %s" % (n, what) for what, n in tally.items()))


def kill_test(program, seed):
    rng = random.Random(seed)
    for inplace in (True, False):
        folder = tempfile.mkdtemp(prefix="hexmend-kill-")
        try:
            print(kill_runs(program, folder, rng, inplace, 20), flush=True)
        finally:
            shutil.rmtree(folder, ignore_errors=True)


# ---- race ----

def run_together(program, folder, names, extra):
    """Starts one run per patch file at once and waits for all. Returns the
    finished processes (outputs in .out) and whether the runs overlapped:
    the first ended after the last had started."""
    procs = []
    for name in names:
        out = tempfile.TemporaryFile()
        proc = subprocess.Popen(program + [os.path.join(folder, name)] + extra,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        proc.out = out
        procs.append(proc)
    all_started = time.monotonic()
    first_end = None
    deadline = all_started + 120
    while any(proc.poll() is None for proc in procs):
        if first_end is None and any(proc.poll() is not None for proc in procs):
            first_end = time.monotonic()
        check(time.monotonic() < deadline, "the runs did not end")
        time.sleep(0.001)
    if first_end is None:
        first_end = time.monotonic()
    for proc in procs:
        proc.out.seek(0)
        proc.out = proc.out.read()
    return procs, first_end > all_started


def race_test(program, seed):
    rng = random.Random(seed)
    repeats = 10
    for mode in ("default", "inplace", "two targets"):
        folder = tempfile.mkdtemp(prefix="hexmend-race-")
        try:
            overlapped = 0
            began = time.monotonic()
            source = rng.randbytes(32 * MIB)
            for _ in range(repeats):
                one = Patch(rng, source, 50)
                two = Patch(rng, source, 50)
                # Different bytes: none of two's patches near one of one's.
                two.ranges = [r for r in two.ranges
                              if all(abs(r[0] - at) >= 8 for at, _ in one.ranges)]
                write(os.path.join(folder, "f.bin"), source)
                targets = ("out1.bin", "out2.bin") if mode == "two targets" else ("f.bin",) * 2
                one.write(folder, "p1.txt", targets[0], "f.bin")
                two.write(folder, "p2.txt", targets[1], "f.bin")
                procs, together = run_together(program, folder, ["p1.txt", "p2.txt"],
                                               ["inplace=true"] if mode == "inplace" else [])
                overlapped += together
                for proc in procs:
                    check(proc.returncode == 0, "%s: a run failed: %r" % (mode, proc.out[-300:]))
                if mode == "two targets":
                    check(read(os.path.join(folder, "out1.bin")) == one.new() and
                          read(os.path.join(folder, "out2.bin")) == two.new(),
                          "two targets: a target is wrong")
                else:
                    both = Patch(rng, source, 0)
                    both.ranges = one.ranges + two.ranges
                    got = read(os.path.join(folder, "f.bin"))
                    check(got == both.new(),
                          "%s: %s" % (mode, "one run's patches were lost"
                                      if got in (one.new(), two.new()) else "f.bin is wrong"))
                check(leftovers(folder) == [], "%s: left behind: %s" % (mode, leftovers(folder)))
            print("%s: %d pairs of runs started together (%d overlapped), every patch kept, "
                  "%.1f s" % (mode, repeats, overlapped, time.monotonic() - began), flush=True)
        finally:
            shutil.rmtree(folder, ignore_errors=True)


# ---- clone ----

class Skip(Exception):
    pass


def tool(*command, what):
    try:
        result = subprocess.run(list(command), capture_output=True, timeout=120)
    except FileNotFoundError:
        raise Skip("%s: %s is not installed" % (what, command[0]))
    if result.returncode != 0:
        raise Skip("%s: %s" % (what, result.stderr.decode("latin-1").strip()))
    return result.stdout.decode("latin-1")


def shared_blocks(path):
    """(shared blocks, all blocks) of the file at path, from filefrag -v."""
    report = subprocess.run(["filefrag", "-v", path], capture_output=True, check=True,
                            timeout=120).stdout.decode("latin-1")
    total = int(re.search(r"\((\d+) blocks? of \d+ bytes\)", report).group(1))
    shared = 0
    # "ext: logical: physical: length: [expected:] flags", the expected
    # column only where an extent does not follow on from the one before.
    for line in report.splitlines():
        fields = line.split(":")
        if re.match(r"\s*\d+$", fields[0]) and len(fields) >= 5 and \
                "shared" in fields[-1].strip().split(","):
            shared += int(fields[3])
    return shared, total


def clone_test(program, seed):
    if sys.platform != "linux":
        raise Skip("loop-mounted XFS images need Linux")
    if os.geteuid() != 0:
        raise Skip("mounting an image needs root")
    folder = tempfile.mkdtemp(prefix="hexmend-clone-")
    image = os.path.join(folder, "xfs.img")
    mount = os.path.join(folder, "mnt")
    os.mkdir(mount)
    device = None
    mounted = False
    try:
        with open(image, "wb") as f:
            f.truncate(400 * MIB)
        tool("mkfs.xfs", "-q", "-m", "reflink=1", image, what="mkfs.xfs")
        device = tool("losetup", "--find", "--show", image, what="no loop device").strip()
        tool("mount", device, mount, what="cannot mount %s" % device)
        mounted = True
        rng = random.Random(seed)
        source = rng.randbytes(100 * MIB)
        write(os.path.join(mount, "src.bin"), source)
        patch = Patch(rng, source, 5)
        patch.write(mount, "p.txt", "out.bin", "src.bin")
        result = run(program, os.path.join(mount, "p.txt"))
        check(result.returncode == 0, "the run failed: %r" % result.stderr)
        target = os.path.join(mount, "out.bin")
        check(read(target) == patch.new(), "out.bin does not hold the patched bytes")
        shared, total = shared_blocks(target)
        # Every block but the five patched ones stays shared with the source.
        check(shared >= total - 5, "only %d of %d blocks of out.bin are shared" % (shared, total))
        print("clone: %d of %d blocks of the 100 MiB target shared with the source"
              % (shared, total), flush=True)
    finally:
        if mounted:
            subprocess.run(["umount", mount], timeout=120)
        if device:
            subprocess.run(["losetup", "-d", device], timeout=120)
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--wrapper", default="", help="command that runs the program")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("test", choices=["kill", "race", "clone"])
    opts = parser.parse_args()
    seed = opts.seed if opts.seed is not None else random.randrange(1 << 32)
    print("seed %d (--seed %d repeats this run)" % (seed, seed), flush=True)
    test = {"kill": kill_test, "race": race_test, "clone": clone_test}[opts.test]
    began = time.monotonic()
    try:
        test(shlex.split(opts.wrapper) + [os.path.abspath(opts.program)], seed)
    except Skip as skip:
        print("SKIPPED: %s" % skip)
        return SKIP
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    print("passed in %.1f s" % (time.monotonic() - began))
    return 0


if __name__ == "__main__":
    sys.exit(main())
