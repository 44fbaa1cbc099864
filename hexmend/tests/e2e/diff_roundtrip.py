#!/usr/bin/env python3
"""Round trip of hexmend-diff and hexmend over generated files.

    diff_roundtrip.py --program HEXMEND --diff-program HEXMEND_DIFF
                      [--platform posix|windows] [--wrapper CMD]
                      [--count 30] [--seed N]

Each trial makes OLD and NEW of one length (empty, one byte, text or binary;
changes at the first and last byte, 7 and 8 equal bytes apart, longer than
one set, across the pieces the files are read in, text values with blanks, backslashes and quotes at their ends, an
old text "DONOTCHECK"), runs the real hexmend-diff with the patch file beside
OLD, in a folder below or beside it, above the working folder, or on standard
output saved in the working folder; then `hexmend PATCH check=true` must pass
and leave OLD alone, `hexmend PATCH` must turn OLD into NEW exactly, and on
that result `hexmend PATCH check=true reverse=true` must pass and
`hexmend PATCH reverse=true` must give OLD back exactly. The
patch file's blocks must be the regions the merging rule gives (fewer than 8
equal bytes apart make one region), in sets of at most 4096 bytes, text as
replace_string and anything else as replace_bytes. The seed is printed; pass
it back with --seed to repeat a run.

One trial holds zlib streams of several kinds among plain bytes: changed
streams of zlib's default level (one with its header across two read
pieces), which must each come out as one replace_zlib block at the stream's
first byte whose oldpart and newpart lines are the two texts line by line;
and a level 9 stream, one of a text over 16 MiB, one inflating to more than
1024 times its size, a new stream that does not fit, one followed by bytes
that are not zero, and an unchanged one, which all stay bytes as above.

With --launcher the real case runs instead: a style sheet of the launcher's
resource bundle changed in a copy of the executable must come out as one
replace_zlib block in which the new style sheet can be read, and the patch
file must turn the executable into the copy.
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
import zlib

from e2e import Platform, run_program

GAP = 8
SET_BYTES = 4096
READ_PIECE = 65536
MAX_TEXT = 16 * 1024 * 1024
STREAM_SHAPE = 5
PRINTABLE = bytes(range(0x20, 0x7F))
ESCAPES = {"\\": 0x5C, "'": 0x27, '"': 0x22, "a": 7, "b": 8, "f": 12, "n": 10, "r": 13, "t": 9,
           "v": 11}


def changed(rng, byte, text):
    """A byte other than byte, printable when text."""
    while True:
        other = rng.choice(PRINTABLE) if text else rng.randrange(256)
        if other != byte:
            return other


def make_files(rng, shape):
    """OLD and NEW for one trial; shape picks a fixed case, else random."""
    text = shape in (2, 4) or (shape > 4 and rng.random() < 0.5)
    size = {0: 0, 1: 1, 2: 300, 3: 140000, 4: 400}.get(
        shape, rng.choice([0, 1, 2, rng.randrange(3, 64), rng.randrange(64, 20000)]))
    pool = b" \\'\"abcxyz=#" if text else None
    old = bytearray(rng.choice(pool) if text else rng.randrange(256) for _ in range(size))
    new = bytearray(old)
    spans = []
    if shape in (1, 2, 3):
        spans += [(0, 1), (size - 1, size)]
    if shape == 2:
        # Changes 7 and then 8 equal bytes apart.
        spans += [(100, 101), (108, 109), (117, 118)]
    if shape == 3:
        # Longer than two sets, and across the 64 KiB pieces the files are
        # read in, one region across and one up to the pieces' border.
        spans += [(1000, 1000 + 2 * SET_BYTES + 500), (65536 - 300, 65536 + 300),
                  (2 * 65536 - 5, 2 * 65536)]
    for _ in range(rng.randrange(0, 12) if shape > 4 and size else 0):
        start = rng.randrange(size)
        spans.append((start, min(size, start + rng.choice([1, 2, 7, 8, 30, 5000]))))
    for start, end in spans:
        for i in range(start, end):
            new[i] = changed(rng, old[i], text)
    if shape == 4:
        # Text values that start and end with blanks, backslashes, quotes,
        # and a set whose old text hexmend would not compare.
        old[10:20] = b" \\'\"ab\"'\\ "
        new[10:20] = b"\\ \"'ba'\" \\"
        old[200:210], new[200:210] = b"DONOTCHECK", b"donotcheck"
    return bytes(old), bytes(new)


def style_text(rng, lines):
    """Lines of a style sheet, with the bytes a value must escape."""
    words = ["QLabel", "color:", "#1a2b3c;", "margin:", "4px;", "font:", "\\", "'a b'", "\t"]
    out = []
    for i in range(lines):
        line = " ".join(rng.choice(words) for _ in range(rng.randrange(1, 8)))
        out.append((" " + line + " ") if i % 7 == 0 else line)
        out.append("\r\n" if i % 5 == 0 else "\n")
    return "".join(out).encode() + b"} no line end \x00\x01"


def edited(rng, text):
    """text with a line changed, three removed and one added."""
    lines = text.split(b"\n")
    at = rng.randrange(1, len(lines) - 4)
    lines[at] = b"color: 4px;"
    del lines[at + 1:at + 4]
    lines.insert(rng.randrange(1, len(lines)), b"margin: #1a2b3c;")
    return b"\n".join(lines)


def make_stream_files(rng):
    """OLD and NEW holding zlib streams of each kind among plain bytes, and
    the streams that must come out as replace_zlib: [(start, room, old text,
    new text)]."""
    old, new, expected = bytearray(), bytearray(), []

    def plain(n, changes):
        chunk = bytearray(rng.randbytes(n))
        old.extend(chunk)
        for _ in range(changes):
            chunk[rng.randrange(n)] ^= 0x5A
        new.extend(chunk)

    def stream(old_text, new_text, level=6, tail=b"", rewritten=False):
        old_stream = zlib.compress(old_text, level)
        new_stream = (zlib.compress(new_text, level) + tail)[:len(old_stream)]
        if rewritten:
            expected.append((len(old), len(old_stream), old_text, new_text))
        old.extend(old_stream)
        new.extend(new_stream.ljust(len(old_stream), b"\0"))

    def fitting(text):
        for _ in range(100):
            other = edited(rng, text)
            if len(zlib.compress(other)) <= len(zlib.compress(text)):
                return other
        raise AssertionError("no edit of the text fits its stream")

    plain(1000, 0)
    # A change three bytes before a stream stays a block of its own.
    new[-3] ^= 0xFF
    text = style_text(rng, 300)
    stream(text, fitting(text), rewritten=True)
    plain(5000, 3)
    text = style_text(rng, 200)
    stream(text, edited(rng, text), level=9)
    plain(300, 2)
    text = style_text(rng, 100)
    stream(text, text)
    plain(READ_PIECE - 1 - len(old), 1)
    # The header across the first two read pieces.
    text = style_text(rng, 400)
    stream(text, fitting(text), rewritten=True)
    plain(700, 0)
    text = style_text(rng, 50)
    stream(text, text + rng.randbytes(4000))
    plain(20, 0)
    text = style_text(rng, 60)
    other = fitting(text)
    shorter = len(zlib.compress(text)) - len(zlib.compress(other))
    stream(text, other, tail=b"\x01" * shorter if shorter else b"")
    if not shorter:
        expected.append(None)
    plain(64, 1)
    # 4 MiB of zeros compress to less than 1/1024 of their size.
    zeros = bytes(4 * 1024 * 1024)
    assert len(zeros) > 1024 * len(zlib.compress(zeros))
    stream(zeros, zeros[:-10] + b"x" + zeros[-9:])
    plain(100, 0)
    large = b"".join(rng.choice([b"abc ", b"de\n", b"fghij "]) for _ in range(MAX_TEXT // 4 + 8))
    assert len(large) > MAX_TEXT
    stream(large, large[:-30] + b"changed" + large[-23:])
    plain(3000, 4)
    return bytes(old), bytes(new), [e for e in expected if e]


def regions(old, new, streams=()):
    """[(start, end)] of the changes, fewer than GAP equal bytes apart joined;
    the bytes of streams (start, room) take no part."""
    found = []
    inside = set()
    for start, room in streams:
        inside.update(range(start, start + room))
    for i in (i for i in range(len(old)) if old[i] != new[i] and i not in inside):
        if found and i - found[-1][1] < GAP:
            found[-1][1] = i + 1
        else:
            found.append([i, i + 1])
    return [tuple(r) for r in found]


def unescape(text):
    out, i = bytearray(), 0
    while i < len(text):
        if text[i] != "\\":
            out.append(ord(text[i]))
            i += 1
        elif text[i + 1] == "x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(ESCAPES[text[i + 1]])
            i += 2
    return bytes(out)


def check_stream_block(block, start, room, old_text, new_text):
    """Problems with a replace_zlib block of the stream at start."""
    want_head = ["action=replace_zlib", "position=%02X" % start]
    if block[:2] != want_head or block[-1] != "combineparts":
        return ["stream block at %X: %s ... %s" % (start, block[:2], block[-1:])]
    parts = {"oldpart": [], "newpart": []}
    for line in block[2:-1]:
        key, value = line.split("=", 1)
        parts[key].append(unescape(value))
    for key, text in (("oldpart", old_text), ("newpart", new_text)):
        # Lines end after a line feed only; a CR alone stays in its line.
        if parts[key] != re.findall(rb"[^\n]*\n|[^\n]+$", text):
            return ["%s lines at %X are not the text's lines" % (key, start)]
    return []


def check_patch(patch, old, new, line_end, streams=()):
    """Problems with the patch file's text against the regions of old/new and
    the streams that must be replace_zlib blocks."""
    if re.search(rb"[\r\n]", patch.replace(line_end, b"")):
        return ["a line end other than %r" % line_end]
    lines = patch.decode("ascii").split(line_end.decode())
    blocks, block = [], None
    for line in lines:
        if line == "<patch>":
            block = []
        elif line == "</patch>":
            blocks.append(block)
            block = None
        elif block is not None:
            block.append(line)
        elif line and not line.startswith("; ") and not line.startswith(
                ("sourcefile=", "targetfile=")):
            return ["a line outside the blocks that is no comment: %r" % line[:80]]
    rooms = {start: (room, old_text, new_text) for start, room, old_text, new_text in streams}
    want = sorted(regions(old, new, [(s, r[0]) for s, r in rooms.items()]) +
                  [(s, s + r[0]) for s, r in rooms.items()])
    if len(blocks) != len(want):
        return ["%d blocks, expected the regions %s" % (len(blocks), want)]
    for block, (start, end) in zip(blocks, want):
        if block[:2] != ["name=change at %02X" % start, "enabled=true"]:
            return ["block %s does not start as expected for %X" % (block[:2], start)]
        if start in rooms:
            problems = check_stream_block(block[2:], start, *rooms[start])
            if problems:
                return problems
            continue
        at, action = start, None
        for line in block[2:]:
            key, value = line.split("=", 1)
            if key == "action":
                action = value
            elif key == "position":
                if int(value, 16) != at:
                    return ["set at %s, expected %X" % (value, at)]
            else:
                data = unescape(value) if action == "replace_string" else bytes.fromhex(value)
                source = old if key == "olddata" else new
                if data != source[at:at + len(data)] or not 0 < len(data) <= SET_BYTES:
                    return ["%s at %X is not the file's bytes: %s" % (key, at, value[:80])]
                text = all(0x20 <= b < 0x7F for b in old[at:at + len(data)] + new[at:at + len(data)])
                if action != ("replace_string" if text else "replace_bytes"):
                    return ["%s for %r" % (action, data[:40])]
                if key == "olddata" and data == b"DONOTCHECK":
                    return ["an old value DONOTCHECK at %X" % at]
                if key == "newdata":
                    at += len(data)
        if at != end:
            return ["block of %X ends at %X, expected %X" % (start, at, end)]
    return []


# Where the patch goes: (working folder, patch file or None for standard output,
# how OLD and NEW are named: "rel" from the working folder or "abs").
LAYOUTS = [("data", "p.patch", "rel"), ("data", "patches/p.patch", "rel"),
           ("", "other/p.patch", "abs"), ("data", "../p.patch", "rel"),
           ("data", None, "rel"), ("", None, "abs")]


def round_trip(opts, platform, wrapper, patch, old_path, old, new, cwd):
    """Problems of hexmend with patch, run in cwd on the file at old_path
    (holding old): forward on OLD, then undone on what is now NEW."""
    for extra, expected in ((["check=true"], old), ([], new),
                            (["check=true", "reverse=true"], new), (["reverse=true"], old)):
        proc = run_program(wrapper + [opts.program, platform.render(patch)] + extra, cwd,
                           dict(os.environ), None)
        got = open(old_path, "rb").read()
        if proc.returncode != 0 or got != expected:
            return ["hexmend %s: exit code %d, %s:\n%s" % (
                " ".join(extra), proc.returncode,
                "OLD as expected" if got == expected else "OLD not as expected",
                proc.stdout.decode("latin-1")[-1500:])]
    return []


def trial(opts, platform, wrapper, rng, shape, folder):
    streams = []
    if shape == STREAM_SHAPE:
        old, new, streams = make_stream_files(rng)
    else:
        old, new = make_files(rng, shape)
    cwd_rel, patch_rel, naming = rng.choice(LAYOUTS)
    cwd = os.path.join(folder, cwd_rel)
    data = os.path.join(folder, "data")
    os.makedirs(os.path.join(data, "patches"))
    os.makedirs(os.path.join(folder, "other"))
    for name, content in (("old.bin", old), ("new.bin", new)):
        with open(os.path.join(data, name), "wb") as f:
            f.write(content)

    def name(path):
        if naming == "abs":
            return platform.render(path)
        return os.path.relpath(path, cwd).replace("/", platform.sep)

    old_path, new_path = os.path.join(data, "old.bin"), os.path.join(data, "new.bin")
    args = [name(old_path), name(new_path)]
    patch = os.path.normpath(os.path.join(cwd, patch_rel or "p.patch"))
    if patch_rel:
        args.append(name(patch))
    proc = run_program(wrapper + [opts.diff_program] + args, cwd, dict(os.environ),
                       None if patch_rel else patch)
    where = "%d bytes, shape %d, %s %s" % (len(old), shape, args, "" if patch_rel else "> p.patch")
    if streams and "as zlib text" not in proc.stderr.decode("latin-1"):
        return ["%s: no stream written as zlib text" % where]
    err = proc.stderr.decode("latin-1")
    if proc.returncode != 0:
        return ["hexmend-diff (%s) exit code %d: %s" % (where, proc.returncode, err)]
    written = open(patch, "rb").read() if os.path.exists(patch) else b""
    if old == new:
        if written or "identical" not in err:
            return ["identical files (%s) gave %r / %r" % (where, written[:80], err)]
        return []
    problems = check_patch(written, old, new, platform.line_end, streams)
    problems += round_trip(opts, platform, wrapper, patch, old_path, old, new, cwd)
    leftovers = [n for _, _, names in os.walk(folder) for n in names if n.startswith(".hexmend-")]
    if leftovers:
        problems.append("temporary files left behind: %s" % leftovers)
    return ["%s: %s" % (where, p) for p in problems]


def style_sheet_stream(data):
    """(start, room, text) of the first zlib default-level stream in data
    that holds a style sheet (a line "Name {")."""
    at = data.find(b"\x78\x9c")
    while at >= 0:
        inflater = zlib.decompressobj()
        try:
            text = inflater.decompress(data[at:])
        except zlib.error:
            text = b""
        room = len(data) - at - len(inflater.unused_data)
        if (inflater.eof and re.search(rb"(?m)^[A-Za-z]+ \{$", text) and
                zlib.compress(text) == data[at:at + room]):
            return at, room, text
        at = data.find(b"\x78\x9c", at + 1)
    return None


def launcher_case(opts, platform, wrapper, folder):
    """The launcher with a colour of its style sheet changed."""
    with open(opts.launcher, "rb") as f:
        old = f.read()
    found = style_sheet_stream(old)
    if not found:
        return ["no style sheet stream in %s" % opts.launcher]
    start, room, text = found
    colour = re.search(rb"#[0-9a-fA-F]{6}\b", text)
    new_text = text[:colour.start()] + b"#ff0000" + text[colour.end():]
    # Lines off the end until the new stream fits the old one's room.
    while len(zlib.compress(new_text)) > room:
        new_text = new_text[:new_text.rindex(b"\n", 0, len(new_text) - 1) + 1]
    new = old[:start] + zlib.compress(new_text).ljust(room, b"\0") + old[start + room:]
    old_path, new_path, patch = (os.path.join(folder, n) for n in ("old", "new", "p.patch"))
    for path, content in ((old_path, old), (new_path, new)):
        with open(path, "wb") as f:
            f.write(content)
    proc = run_program(wrapper + [opts.diff_program, "old", "new", "p.patch"], folder,
                       dict(os.environ), None)
    if proc.returncode != 0:
        return ["hexmend-diff exit code %d: %s" % (proc.returncode, proc.stderr.decode("latin-1"))]
    written = open(patch, "rb").read()
    problems = check_patch(written, old, new, platform.line_end, [(start, room, text, new_text)])
    lines = written.decode("ascii").split(platform.line_end.decode())
    changed = [line for line in lines if line.startswith("newpart=") and "#ff0000" in line]
    if len(changed) != 1 or not any(line.startswith("; + ") and "#ff0000" in line
                                    for line in lines):
        problems.append("the new colour cannot be read in the patch file:\n%s" %
                        "\n".join(line for line in lines if line.startswith(";")))
    return problems + round_trip(opts, platform, wrapper, patch, old_path, old, new, folder)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="hexmend")
    parser.add_argument("--diff-program", required=True, help="hexmend-diff")
    parser.add_argument("--platform", choices=["posix", "windows"], default="posix")
    parser.add_argument("--wrapper", default="", help="command that runs the programs (wine)")
    parser.add_argument("--count", type=int, default=30)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--launcher", default=None, help="the launcher: run the real case only")
    opts = parser.parse_args()
    opts.program = os.path.abspath(opts.program)
    opts.diff_program = os.path.abspath(opts.diff_program)
    seed = opts.seed if opts.seed is not None else random.SystemRandom().randrange(10 ** 9)
    print("seed %d (repeat with --seed %d)" % (seed, seed), flush=True)
    platform = Platform(opts.platform)
    wrapper = shlex.split(opts.wrapper)
    if opts.launcher:
        folder = tempfile.mkdtemp(prefix="hexmend-diff-")
        try:
            problems = launcher_case(opts, platform, wrapper, folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        for p in problems:
            print("FAIL " + p.replace("\n", "\n    "))
        print("launcher style sheet: %s" % ("FAIL" if problems else "ok"))
        return 1 if problems else 0
    failed = 0
    for i in range(opts.count):
        folder = tempfile.mkdtemp(prefix="hexmend-diff-")
        try:
            problems = trial(opts, platform, wrapper, random.Random(seed + i), i, folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        print("%s trial %d" % ("FAIL" if problems else "ok  ", i))
        for p in problems:
            print("    " + p.replace("\n", "\n    "))
        failed += bool(problems)
    print("%d passed, %d failed (seed %d)" % (opts.count - failed, failed, seed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
