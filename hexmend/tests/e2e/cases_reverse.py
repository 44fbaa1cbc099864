"""reverse=true: the run undoes a patch file. One patch file with every
action of both styles, whose forward run is known, is applied forward and
undone; check mode tells a patched file from the original; patches the
reverse run cannot undo are refused.

A small model holds each patch as the byte runs hexmend compares and writes
forward (old, new); undoing checks new and writes old's first len(new)
bytes back, blocks and patches from the last to the first.
"""

import random
import struct
import sys
import zlib

from e2e import Case, HEADER, patch_case

BANNER = "hexmend 0.3"
PROCESSING = "  processing ..."


def escape(content):
    """content as an escaped patch text: printable ASCII stays, the rest
    (and the backslash, the backquote and the brace of placeholders) as
    \\xHH."""
    return "".join(chr(b) if 0x20 <= b < 0x7f and b not in b"\\`{" else "\\x%02X" % b
                   for b in content)


def xor(content, key):
    return bytes(b ^ (key or 0x80) for b in content)


def slots(text):
    return b"".join(c.encode("utf-8").ljust(4, b"\0") for c in text)


def double(value):
    return struct.pack("<d", value)


def hexbytes(data):
    return " ".join("%02X" % b for b in data)


class Patch:
    """lines: the patch's lines in its block; old, new: what hexmend compares
    and writes forward at pos."""

    def __init__(self, pos, old, new, lines):
        self.pos, self.old, self.new, self.lines = pos, old, new, lines


class Block:
    def __init__(self, style, name, patches):
        self.style, self.name, self.patches = style, name, patches

    def text(self):
        if self.style == "regular":
            head = ["name=" + self.name, "enabled=true"]
        else:
            head = ["patch_name = " + self.name, "patch_enable = `yes`"]
        lines = head + [line for p in self.patches for line in p.lines]
        return "<patch>\n" + "".join(line + "\n" for line in lines) + "</patch>\n"

    def header(self, line):
        if self.style == "regular":
            return "%d: (regular patch) %s" % (line, self.name)
        return "%d: (zq-style patch)  %s" % (line, self.name)


def reg(action, pos, old_text, new_text, old, new):
    return Patch(pos, old, new, ["action=" + action, "position=%X" % pos,
                                 "olddata=" + old_text, "newdata=" + new_text])


def zq(key, pos, old_text, new_text, old, new, quoted=True):
    form = "%s = %X, `%s`, `%s`" if quoted else "%s = %X, %s, %s"
    return Patch(pos, old, new, [form % (key, pos, old_text, new_text)])


class Layout:
    """The original source, built up with the old bytes of each patch."""

    def __init__(self):
        self.data = bytearray(b"RV\x00\xff")

    def put(self, old, after=b"\xa5\xa5"):
        pos = len(self.data)
        self.data += old + after
        return pos


def zlib_pair(old_text, new_text):
    old_stream = zlib.compress(old_text)
    new_stream = zlib.compress(new_text)
    assert len(new_stream) <= len(old_stream)
    return old_stream, new_stream.ljust(len(old_stream), b"\0")


ZOLD = b"<body>The quick brown fox jumps over the lazy dog.</body>\n" * 6
ZNEW = b"<body>Patched.</body>\n"

L = Layout()
P = {}
for key, old in [("hello", b"Hello"), ("short", b"abcdef"), ("digits", b"0123456789"),
                 ("xor5a", xor(b"ab\x00", 0x5A)), ("xordnc", xor(b"DONOTCHECK", 0x20)),
                 ("bytes", b"\xde\xad\xbe\xef"), ("int", b"\xc8"), ("float", double(1.5)),
                 ("utf8", slots("a\u00e9")), ("zlib", zlib.compress(ZOLD)), ("file", b"file!"),
                 ("pair", b"abc"), ("zhello", b"Hello"), ("zxor", xor(b"ab", 0x20)),
                 ("zdnc", zlib.compress(b"DONOTCHECK")), ("zbytes", b"\x11\x22\x33"),
                 ("zint", b"\x00"), ("zfloat", double(1.5)), ("zutf8", slots("ab")),
                 ("shared", b"Hello")]:
    P[key] = L.put(old)
ORIGINAL = bytes(L.data)

BLOCKS = [
    Block("regular", "r", [
        reg("replace_string", P["hello"], "Hello", "Howdy", b"Hello", b"Howdy"),
        # A shorter new value overwrites, and so restores, only its bytes.
        reg("replace_string", P["short"], "abcdef", "XY", b"abcdef", b"XY"),
        # A new value of DONOTCHECK is compared like any other when undone.
        reg("replace_string", P["digits"], "0123456789", "DONOTCHECK", b"0123456789",
            b"DONOTCHECK"),
        reg("replace_xor_5A", P["xor5a"], r"ab\x00", "c", xor(b"ab\x00", 0x5A),
            xor(b"c", 0x5A) + b"\0\0"),
        # Masked, DONOTCHECK is compared forward, so it can be undone.
        reg("replace_xor_20", P["xordnc"], "DONOTCHECK", "0123456789", xor(b"DONOTCHECK", 0x20),
            xor(b"0123456789", 0x20)),
        reg("replace_bytes", P["bytes"], "DE AD BE EF", "01 02", b"\xde\xad\xbe\xef",
            b"\x01\x02"),
        reg("replace_int", P["int"], "200", "$10", b"\xc8", b"\x10"),
        reg("replace_float", P["float"], "1,5", "-2.25", double(1.5), double(-2.25)),
        reg("replace_utf8chars", P["utf8"], "a\xc3\xa9", "\xe2\x82\xacb", slots("a\u00e9"),
            slots("\u20acb")),
        reg("replace_zlib", P["zlib"], escape(ZOLD), escape(ZNEW), *zlib_pair(ZOLD, ZNEW)),
        reg("replace_file", P["file"], "file!", "new.bin", b"file!", b"NEWF"),
        # Two patches over the same bytes: the second sees the first's.
        reg("replace_string", P["pair"], "abc", "xyz", b"abc", b"xyz"),
        reg("replace_string", P["pair"] + 1, "yz", "YZ", b"yz", b"YZ"),
    ]),
    Block("zq", "z", [
        zq("replace_string", P["zhello"], "Hello", "Jelly", b"Hello", b"Jelly"),
        zq("replace_xor_20", P["zxor"], "ab", "c", xor(b"ab", 0x20), xor(b"c", 0x20) + b"\0"),
        # The old TEXT DONOTCHECK is compressed and compared like any text.
        zq("replace_zlib", P["zdnc"], "DONOTCHECK", "x", *zlib_pair(b"DONOTCHECK", b"x")),
        zq("replace_bytes", P["zbytes"], "11 22 33", "44 55 66", b"\x11\x22\x33",
           b"\x44\x55\x66", quoted=False),
        zq("replace_int", P["zint"], "0", "255", b"\x00", b"\xff", quoted=False),
        zq("replace_float", P["zfloat"], "1.5", "2.5", double(1.5), double(2.5), quoted=False),
        zq("replace_utf8chars", P["zutf8"], "ab", "cd", slots("ab"), slots("cd")),
    ]),
    # Two blocks over the same bytes: the last applied forward is undone first.
    Block("regular", "first", [
        reg("replace_string", P["shared"], "Hello", "Howdy", b"Hello", b"Howdy")]),
    Block("zq", "second", [
        zq("replace_string", P["shared"], "Howdy", "Hiya!", b"Howdy", b"Hiya!")]),
]
FILES = {"new.bin": b"NEWF"}


def block_lines(blocks):
    """The patch file's blocks and the line each opens on (after HEADER)."""
    text, lines, line = "", [], 3
    for block in blocks:
        lines.append(line)
        chunk = block.text()
        text += chunk
        line += chunk.count("\n")
    return text, lines


TEXT, STARTS = block_lines(BLOCKS)


def forward(data, blocks):
    data = bytearray(data)
    for block in blocks:
        for p in block.patches:
            assert data[p.pos:p.pos + min(len(p.old), len(p.new))] == p.old[:len(p.new)]
            data[p.pos:p.pos + len(p.new)] = p.new
    return bytes(data)


def reverse(data, blocks, starts, check):
    """Undoes blocks over data as hexmend does: returns the report and the
    bytes, or None for the bytes when a block failed."""
    data = bytearray(data)
    report, failed = [], 0
    for block, start in reversed(list(zip(blocks, starts))):
        report += [block.header(start), PROCESSING]
        for p in reversed(block.patches):
            n = len(p.new)
            if data[p.pos:p.pos + n] != p.new:
                report.append("ERROR: olddata starting with %02X does not match" % p.pos)
                if check:
                    report += ["  expected: " + hexbytes(p.new[:32]),
                               "  found:    " + hexbytes(data[p.pos:p.pos + min(n, 32)])]
                    if data[p.pos:p.pos + n] == p.old[:n]:
                        report.append("  already undone")
                failed += 1
                break
            data[p.pos:p.pos + n] = p.old[:n]
        if failed and not check:
            return report, None
    if failed:
        report.append("ERROR: check failed: %d of %d" % (failed, len(blocks)))
        return report, None
    return report, bytes(data)


PATCHED = forward(ORIGINAL, BLOCKS)
UNDONE, UNDONE_DATA = reverse(PATCHED, BLOCKS, STARTS, check=False)
assert UNDONE_DATA == ORIGINAL
ON_ORIGINAL, _ = reverse(ORIGINAL, BLOCKS, STARTS, check=True)
FAILED_ON_ORIGINAL, _ = reverse(ORIGINAL, BLOCKS, STARTS, check=False)
FORWARD = [line for block, start in zip(BLOCKS, STARTS)
           for line in (block.header(start), PROCESSING)]


def loading(source="src.bin"):
    return ["loading {dir}{sep}p.txt", "loading source file: {dir}{sep}" + source]


def run(name, source, args, stdout, rc=0, target=None, header=HEADER, text=TEXT, **kwargs):
    expect = {"out.bin": target}
    expect.update(kwargs.pop("expect", {}))
    return Case(name, files=dict(FILES, **{"p.txt": header + text, "src.bin": source}),
                args=["{dir}{sep}p.txt"] + list(args), stdout=[BANNER] + stdout, rc=rc,
                expect=expect, **kwargs)


SAVED = ["saving {dir}{sep}out.bin", "Everything is ok!"]


def refused(name, blocks, source, report):
    """A reverse run that must refuse: a good block last in the file is
    undone first, then the refusing block fails the run."""
    good = Block("regular", "good", [reg("replace_bytes", 0, "2A", "2B", b"*", b"+")])
    text, starts = block_lines(blocks + [good])
    return run(name, b"+" + source, ["reverse=true"],
               loading() + [good.header(starts[-1]), PROCESSING,
                            blocks[0].header(starts[0]), PROCESSING] + report,
               rc=1, text=text)


def cannot(name, position, why):
    return "ERROR: cannot undo %s (position=%02X): %s" % (name, position, why)


NOT_CHECKED = "the old bytes were not checked (DONOTCHECK)"
LONGER = "newdata is longer than olddata"

SMALL = [Block("regular", "one", [reg("replace_bytes", 0, "61", "41", b"a", b"A")]),
         Block("zq", "two", [zq("replace_bytes", 1, "62", "42", b"b", b"B", quoted=False)])]
SMALL_TEXT, SMALL_STARTS = block_lines(SMALL)

CASES = [
    run("forward: the patch file's known forward run", ORIGINAL, [],
        loading() + FORWARD + SAVED, target=PATCHED),
    run("reverse: every action of both styles undone, byte for byte", PATCHED,
        ["reverse=true"], loading() + UNDONE + SAVED, target=ORIGINAL),
    run("reverse in place: the source itself gets its old bytes back", PATCHED,
        ["reverse=true", "inplace=true"],
        loading() + UNDONE + ["saving {dir}{sep}src.bin", "Everything is ok!"],
        header="targetfile=src.bin\nsourcefile=src.bin\n", expect={"src.bin": ORIGINAL}),
    run("check reverse: the patched file holds the patch file in full", PATCHED,
        ["check=true", "reverse=true"],
        loading() + UNDONE + ["check passed, not saved: {dir}{sep}out.bin", "Everything is ok!"]),
    run("check reverse: the original does not, every block shown", ORIGINAL,
        ["check=true", "reverse=true"], loading() + ON_ORIGINAL, rc=1),
    run("reverse on the original: the first mismatch stops the run", ORIGINAL,
        ["REVERSE=True"], loading() + FAILED_ON_ORIGINAL, rc=1),
    run("the whole file is walked first: the echo, then the blocks from the last",
        b"AB", ["verbatim=true", "reverse=true"],
        loading() + [">>>%d:%s" % (i + 1, line)
                     for i, line in enumerate((HEADER + SMALL_TEXT).splitlines())] +
        [SMALL[1].header(SMALL_STARTS[1]), PROCESSING, SMALL[0].header(SMALL_STARTS[0]),
         PROCESSING] + SAVED,
        text=SMALL_TEXT, target=b"ab"),
    run("a block of neither style stops the walk before anything is undone",
        b"AB", ["reverse=true"],
        loading() + ["ERROR: %d: There is a problem. Check the first lines of this patch!" % (
            SMALL_STARTS[1] + SMALL[1].text().count("\n"))],
        rc=1, text=SMALL_TEXT + "<patch>\nnothing=here\n</patch>\n"),
    run("a shorter new value restores only its own bytes", b"XYzzzz", ["reverse=true"],
        loading() + ["3: (regular patch) s", PROCESSING] + SAVED, target=b"abzzzz",
        text=Block("regular", "s", [reg("replace_string", 0, "abcdef", "XY", b"", b"")]).text()),
    run("a new value of DONOTCHECK is compared when undone", b"0123456789", ["reverse=true"],
        loading() + ["3: (regular patch) d", PROCESSING,
                     "ERROR: olddata starting with 00 does not match"],
        rc=1, text=Block("regular", "d", [reg("replace_string", 0, "0123456789", "DONOTCHECK",
                                               b"", b"")]).text()),

    refused("refused: replace_string with an old value of DONOTCHECK",
            [Block("regular", "s", [reg("replace_string", 1, "DONOTCHECK", "xy", b"", b"")])],
            b"xy", [cannot("s", 1, NOT_CHECKED)]),
    refused("refused: replace_bytes whose old value decodes to DONOTCHECK",
            [Block("regular", "b", [reg("replace_bytes", 1, "44 4F 4E 4F 54 43 48 45 43 4B",
                                        "00", b"", b"")])],
            b"\x00", [cannot("b", 1, NOT_CHECKED)]),
    refused("refused: replace_file with an old value of DONOTCHECK",
            [Block("regular", "f", [reg("replace_file", 1, "DONOTCHECK", "new.bin", b"", b"")])],
            b"NEWF", [cannot("f", 1, NOT_CHECKED)]),
    refused("refused: replace_xor_ with a wrong key leaves DONOTCHECK unmasked",
            [Block("zq", "x", [zq("replace_xor_G1", 1, "DONOTCHECK", "0123456789", b"", b"")])],
            b"0123456789",
            ["ERROR: ERROR: wrong key value (replace_xor_G1 ) in  x (position=01)",
             cannot(" x", 1, NOT_CHECKED)]),
    refused("refused: replace_string with a longer new value",
            [Block("regular", "s", [reg("replace_string", 1, "bc", "WXYZ", b"", b"")])],
            b"WXYZ", [cannot("s", 1, LONGER)]),
    refused("refused: replace_xor_ with a longer new value, after the later patch was undone",
            [Block("zq", "x", [zq("replace_xor_20", 1, "a", "bc", b"", b""),
                               zq("replace_string", 3, "q", "Q", b"", b"")])],
            b"BCQ", [cannot(" x", 1, LONGER)]),
]


# ---- Random patch files: forward, undone, and checked ----

LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
CHARS = LETTERS + "\u00e9\u00fc\u00df\u20ac\u6f22\uffe5"


def slot_char(data, pos):
    """The character in the 4-byte slot at pos, when it is one of CHARS."""
    for c in CHARS:
        if data[pos:pos + 4] == slots(c):
            return c
    return None


def random_patch(rnd, data, style, sites, files):
    """A patch of a random action that applies to data at a random
    position, or None when the draw does not fit there."""
    action = rnd.choice(["string", "xor", "bytes", "int", "float", "utf8", "zlib"] +
                        (["file"] if style == "regular" else []))
    n = {"int": 1, "float": 8, "file": rnd.randint(1, 4)}.get(action, rnd.randint(1, 12))
    pos = rnd.randrange(len(data) - n + 1)
    old = bytes(data[pos:pos + n])
    m = n if style == "zq" and action in ("string", "utf8") else rnd.randint(1, n)
    new = rnd.randbytes(m)
    make = reg if style == "regular" else zq
    if old == b"DONOTCHECK":
        return None
    if action == "string":
        return make("replace_string", pos, escape(old), escape(new), old, new)
    if action == "xor":
        key = rnd.randrange(256)
        return make("replace_xor_" + rnd.choice(["%02X", "%02x"]) % key, pos,
                    escape(xor(old, key)), escape(new), old, xor(new, key).ljust(n, b"\0"))
    if action == "bytes":
        return make("replace_bytes", pos, " ".join("%02x" % b for b in old), new.hex(), old, new,
                    quoted=False) if style == "zq" else \
            make("replace_bytes", pos, hexbytes(old), new.hex(), old, new)
    if action == "int":
        plain = {} if style == "regular" else {"quoted": False}
        return make("replace_int", pos, str(old[0]), "0x%02X" % new[0], old, new[:1], **plain)
    if action == "float":
        values = [struct.unpack("<d", b)[0] for b in (old, rnd.randbytes(8))]
        if not all(abs(v) >= sys.float_info.min and abs(v) <= sys.float_info.max
                   for v in values):
            return None
        texts = [repr(v) if style == "zq" else repr(v).replace(".", ",") for v in values]
        plain = {} if style == "regular" else {"quoted": False}
        return make("replace_float", pos, texts[0], texts[1], old, double(values[1]), **plain)
    if action == "utf8":
        starts = [at for at in range(len(data) - 3) if slot_char(data, at)]
        if not starts:
            return None
        pos = rnd.choice(starts)
        chars = []
        while len(chars) < 4 and slot_char(data, pos + 4 * len(chars)):
            chars.append(slot_char(data, pos + 4 * len(chars)))
        if not chars:
            return None
        chars = chars[:rnd.randint(1, len(chars))]
        new_chars = "".join(rnd.choice(CHARS) for _ in
                            range(len(chars) if style == "zq" else rnd.randint(1, len(chars))))
        return make("replace_utf8chars", pos, "".join(chars).encode("utf-8").decode("latin-1"),
                    new_chars.encode("utf-8").decode("latin-1"), slots("".join(chars)),
                    slots(new_chars))
    if action == "zlib":
        if not sites:
            return None
        pos, content = rnd.choice(sorted(sites.items()))
        old = zlib.compress(content)
        text = "".join(rnd.choice(LETTERS) for _ in range(rnd.randint(1, len(content))))
        new = zlib.compress(text.encode())
        if len(new) > len(old):
            return None
        sites[pos] = text.encode()
        return make("replace_zlib", pos, escape(content), text, old, new.ljust(len(old), b"\0"))
    if any(b in old for b in b"\r\n\0{"):
        return None
    name = "d%d.bin" % len(files)
    files[name] = new
    return make("replace_file", pos, old.decode("latin-1"), name, old, new)


def random_patch_file(seed):
    """A random source with zlib streams and UTF-8 slots planted in it, and
    random blocks of both styles over it, overlapping one another."""
    rnd = random.Random(seed)
    data = bytearray(rnd.randbytes(rnd.randint(200, 400)))
    sites = {}
    for _ in range(4):
        text = "".join(rnd.choice(LETTERS) for _ in range(rnd.randint(8, 40))).encode()
        pos = rnd.randrange(len(data) - 60)
        sites = {at: t for at, t in sites.items()
                 if at + len(zlib.compress(t)) <= pos or pos + 60 <= at}
        data[pos:pos + len(zlib.compress(text))] = zlib.compress(text)
        sites[pos] = text
        chars = slots("".join(rnd.choice(CHARS) for _ in range(6)))
        at = rnd.randrange(len(data) - len(chars))
        data[at:at + len(chars)] = chars
        sites = {s: t for s, t in sites.items() if s + len(zlib.compress(t)) <= at or at + 24 <= s}
    original = bytes(data)
    blocks, files = [], {}
    for number in range(rnd.randint(6, 12)):
        style = rnd.choice(["regular", "zq"])
        patches, count = [], rnd.randint(1, 4)
        while len(patches) < count:
            patch = random_patch(rnd, data, style, sites, files)
            if patch is None:
                continue
            end = patch.pos + len(patch.new)
            data[patch.pos:end] = patch.new
            sites = {s: t for s, t in sites.items()
                     if s == patch.pos and patch.lines[0].startswith(("action=replace_zlib",
                                                                     "replace_zlib"))
                     or s + len(zlib.compress(t)) <= patch.pos or end <= s}
            patches.append(patch)
        blocks.append(Block(style, "b%d" % number, patches))
    return original, blocks, files


for seed in range(6):
    source, blocks, files = random_patch_file(seed)
    text, starts = block_lines(blocks)
    patched = forward(source, blocks)
    undone, back = reverse(patched, blocks, starts, check=False)
    assert back == source
    headers = [line for block, start in zip(blocks, starts)
               for line in (block.header(start), PROCESSING)]
    name = "random patch file %d: " % seed
    CASES += [
        Case(name + "forward", files=dict(files, **{"p.txt": HEADER + text, "src.bin": source}),
             args=["{dir}{sep}p.txt"], stdout=[BANNER] + loading() + headers + SAVED,
             expect={"out.bin": patched}),
        Case(name + "undone", files=dict(files, **{"p.txt": HEADER + text, "src.bin": patched}),
             args=["{dir}{sep}p.txt", "reverse=true"],
             stdout=[BANNER] + loading() + undone + SAVED, expect={"out.bin": source}),
        Case(name + "check reverse passes on the forward result",
             files=dict(files, **{"p.txt": HEADER + text, "src.bin": patched}),
             args=["{dir}{sep}p.txt", "check=true", "reverse=true"],
             stdout=[BANNER] + loading() + undone +
             ["check passed, not saved: {dir}{sep}out.bin", "Everything is ok!"],
             expect={"out.bin": None}),
    ]
