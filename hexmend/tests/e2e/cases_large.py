"""Large inputs: the largest source hexmend takes and one byte more, the
highest positions in both styles, 100,000 blocks, a line of 10 MB and a
replace_zlib text of 100 MB.

The two sources of 2 GiB are sparse files, so they cost no disk space; the
run over the largest one still reads and writes 2 GiB. Set
HEXMEND_SKIP_2GIB=1 to leave those two runs out (the sanitizer build does,
where they take minutes).
"""

import os
import zlib

from e2e import Case

MAX_SOURCE = 2 ** 31 - 1
HEADER = "targetfile=out.bin\nsourcefile=src.bin\n"
START = ["hexmend 0.3", "loading {dir}{sep}p.txt", "loading source file: {dir}{sep}src.bin"]
SAVED = ["saving {dir}{sep}out.bin", "Everything is ok!"]


def regular(name, action, position, old, new):
    return ("<patch>\nname=%s\nenabled=true\naction=%s\nposition=%s\nolddata=%s\nnewdata=%s\n"
            "</patch>\n" % (name, action, position, old, new))


def zq(name, *lines):
    return "<patch>\npatch_name = %s\npatch_enable = `yes`\n%s</patch>\n" % (
        name, "".join(line + "\n" for line in lines))


def sparse_source(size, planted):
    """A setup that makes src.bin a sparse file of size bytes, holding the
    bytes of planted ({offset: bytes}) and zero bytes elsewhere."""
    def setup(folder):
        with open(os.path.join(folder, "src.bin"), "wb") as f:
            f.truncate(size)
            for offset, data in planted.items():
                f.seek(offset)
                f.write(data)
    return setup


def target_holds(size, expected):
    """A check that out.bin has size bytes and holds expected ({offset:
    bytes}) there, without reading all of it."""
    def check(folder):
        path = os.path.join(folder, "out.bin")
        if not os.path.isfile(path):
            return "out.bin is missing"
        if os.path.getsize(path) != size:
            return "out.bin has %d bytes, expected %d" % (os.path.getsize(path), size)
        with open(path, "rb") as f:
            for offset, data in expected.items():
                f.seek(offset)
                got = f.read(len(data))
                if got != data:
                    return "out.bin at %X holds %r, expected %r" % (offset, got, data)
        return None
    return check


# ---- The largest source, and one byte more ----

LAST = MAX_SOURCE - 1  # 7FFFFFFE, the offset of the last byte

two_gib_cases = [
    Case("largest source (2^31 - 1 bytes): the last bytes patched in both styles",
         files={"p.txt": HEADER
                + regular("head", "replace_string", "0", "BEGIN", "start")
                + regular("tail", "replace_string", "%X" % LAST, "D", "!")
                + zq("top", "replace_bytes = %X, 45 4E, 65 6E" % (LAST - 2),
                     "replace_int = %X, 51, 99" % (LAST - 3))},
         setup=sparse_source(MAX_SOURCE, {0: b"BEGIN", LAST - 3: b"3END"}),
         args=["{dir}{sep}p.txt"],
         stdout=START + ["3: (regular patch) head", "  processing ...",
                         "11: (regular patch) tail", "  processing ...",
                         "19: (zq-style patch)  top", "  processing ..."] + SAVED,
         check=target_holds(MAX_SOURCE, {0: b"start", LAST - 3: b"cen!",
                                         MAX_SOURCE // 2: b"\0" * 64})),
    Case("largest source: position 7FFFFFFF is one past the last byte",
         files={"p.txt": HEADER + regular("past", "replace_bytes", "7FFFFFFF", "00", "01"),
                "out.bin": b"old target"},
         setup=sparse_source(MAX_SOURCE, {}),
         args=["{dir}{sep}p.txt"],
         stdout=START + ["3: (regular patch) past", "  processing ..."], rc=1,
         expect={"out.bin": b"old target"}),
]

refused_case = Case(
    "a source of 2^31 bytes is refused before it is read",
    files={"p.txt": HEADER, "out.bin": b"old target"},
    setup=sparse_source(MAX_SOURCE + 1, {}),
    args=["{dir}{sep}p.txt"],
    stdout=START, rc=1,
    stderr="the file has 2147483648 bytes, more than the 2147483647 bytes hexmend can patch",
    expect={"out.bin": b"old target"})

# ---- Positions 7FFFFFFF and 80000000 on a small source ----

positions = [
    Case("position 7FFFFFFF beyond a small source, zq style",
         files={"p.txt": HEADER + zq("z", "replace_bytes = 7FFFFFFF, 00, 01"),
                "src.bin": b"\0" * 16},
         args=["{dir}{sep}p.txt"],
         stdout=START + ["3: (zq-style patch)  z", "  processing ..."], rc=1,
         expect={"out.bin": None}),
    Case("position 80000000 is invalid in the regular style",
         files={"p.txt": HEADER + regular("r", "replace_bytes", "80000000", "00", "01"),
                "src.bin": b"\0" * 16},
         args=["{dir}{sep}p.txt"],
         stdout=START + ["3: (regular patch) r", "  processing ...",
                         "ERROR: There was some problem in r"], rc=1,
         expect={"out.bin": None}),
    Case("position 80000000 is invalid in the zq style",
         files={"p.txt": HEADER + zq("z", "replace_bytes = 80000000, 00, 01",
                                     "replace_string = 80000000, `a`, `b`"),
                "src.bin": b"\0" * 16},
         args=["{dir}{sep}p.txt"],
         stdout=START + ["3: (zq-style patch)  z", "  processing ...",
                         "ERROR(b): wrong value in  z (position=FFFFFFFF)"], rc=1,
         expect={"out.bin": None}),
]

# ---- 100,000 blocks ----


def many_blocks(count):
    source = bytearray(os.urandom(count * 8))
    target = bytearray(source)
    blocks, lines = [], []
    line = 3
    for i in range(count):
        position = i * 8
        old, new = source[position], (source[position] + 1) % 256
        target[position] = new
        if i % 2:
            block = regular("r%d" % i, "replace_int", "%X" % position, old, new)
            lines += ["%d: (regular patch) r%d" % (line, i), "  processing ..."]
        else:
            block = zq("z%d" % i, "replace_bytes = %X, %02x, %02X" % (position, old, new))
            lines += ["%d: (zq-style patch)  z%d" % (line, i), "  processing ..."]
        blocks.append(block)
        line += block.count("\n")
    return Case("%d blocks in one patch file, both styles" % count,
                files={"p.txt": HEADER + "".join(blocks), "src.bin": bytes(source)},
                args=["{dir}{sep}p.txt"], stdout=START + lines + SAVED,
                expect={"out.bin": bytes(target)})


# ---- A line of 10 MB ----


def long_lines():
    size = 10 * 1000 * 1000
    source = bytearray(os.urandom(3 * size))
    old_text = bytes(b % 26 + 97 for b in os.urandom(size))
    new_text = old_text.upper()
    source[0:size] = old_text
    hex_old = source[size:size + size // 3].hex(" ")  # 10 MB of "xx " pairs
    new_bytes = os.urandom(size // 3)
    target = bytearray(source)
    target[0:size] = new_text
    target[size:size + size // 3] = new_bytes
    patch = (HEADER + "a comment of 10 MB: " + "x" * size + "\n"
             + regular("text", "replace_string", "0", old_text.decode(), new_text.decode())
             + zq("hex", "replace_bytes = %X, %s, %s" % (size, hex_old, new_bytes.hex(" "))))
    return Case("lines of 10 MB: a comment, a regular text and a zq byte list",
                files={"p.txt": patch, "src.bin": bytes(source)},
                args=["{dir}{sep}p.txt"],
                stdout=START + ["4: (regular patch) text", "  processing ...",
                                "12: (zq-style patch)  hex", "  processing ..."] + SAVED,
                expect={"out.bin": bytes(target)})


# ---- A replace_zlib text of 100 MB ----


def zlib_100mb():
    size = 100 * 1000 * 1000
    words = [bytes(b % 26 + 97 for b in os.urandom(2 + i % 7)) for i in range(4000)]
    picks = os.urandom(400000)
    # A megabyte of words, repeated: deflate looks back 32 KiB only, so the
    # repetition compresses no better than new text would.
    chunk = b" ".join(words[(picks[i] << 8 | picks[i + 1]) % len(words)]
                      for i in range(0, len(picks), 2))[:1000 * 1000]
    old = bytearray(chunk * (size // len(chunk)))
    # Line ends now and then, written as \n in the patch file.
    for i in range(100, size, 6000):
        j = old.find(b" ", i)
        if j >= 0:
            old[j] = 10
    old = bytes(old)
    new = old[:size - 100000].upper()
    old_stream, new_stream = zlib.compress(old), zlib.compress(new)
    source = b"head" + old_stream + b"tail"
    target = b"head" + new_stream + b"\0" * (len(old_stream) - len(new_stream)) + b"tail"
    patch = (HEADER.encode() + b"<patch>\nname=z\nenabled=true\naction=replace_zlib\nposition=4\n"
             + b"olddata=" + old.replace(b"\n", b"\\n") + b"\nnewdata="
             + new.replace(b"\n", b"\\n") + b"\n</patch>\n")
    return Case("replace_zlib of a 100 MB text with line ends",
                files={"p.txt": patch, "src.bin": source},
                args=["{dir}{sep}p.txt"],
                stdout=START + ["3: (regular patch) z", "  processing ..."] + SAVED,
                expect={"out.bin": target})


class Lazy(Case):
    """A case whose files are made only when it runs, so that loading the
    case file stays cheap and the memory is freed after the case."""

    def __init__(self, name, make):
        super().__init__(name)
        self.make = make

    def run(self, *args, **kwargs):
        self.__dict__.update(self.make().__dict__)
        try:
            return super().run(*args, **kwargs)
        finally:
            self.files, self.expect = {}, {}


CASES = positions + [refused_case]
if os.environ.get("HEXMEND_SKIP_2GIB"):
    print("skip: the runs over a 2 GiB source (HEXMEND_SKIP_2GIB is set)")
else:
    CASES += two_gib_cases
CASES += [
    Lazy("100000 blocks in one patch file, both styles", lambda: many_blocks(100000)),
    Lazy("lines of 10 MB: a comment, a regular text and a zq byte list", long_lines),
    Lazy("replace_zlib of a 100 MB text with line ends", zlib_100mb),
]
