"""replace_zlib in both block styles: whole zlib streams inside a source,
made here by Python's zlib module at the default level, replaced by their
uncompressed content and read back with a real decompressor.

p.txt starts with the two header lines, so its first block opens on line 3.
"""

import os
import random
import zlib

from e2e import patch_case

PROCESSING = "  processing ..."
PREFIX = b"RES\x00\x01\x02\xff"
SUFFIX = b"\xfe\x00after the stream"
OLD = b"<html>\n<body>The quick brown fox jumps over the lazy dog.</body>\n</html>\n" * 8
NEW = b"<html>\n<body>Patched, with `backquotes`, commas\tand tabs.</body>\n</html>\n"
MORE = bytes(range(256)) * 2


def escape(content):
    """content as an escaped patch value: printable ASCII stays, the rest
    (and the backslash and backquote) as \\xHH."""
    out = []
    for b in content:
        if 0x20 <= b < 0x7f and b not in b"\\`":
            out.append(chr(b))
        else:
            out.append("\\x%02X" % b)
    return "".join(out)


def stream(content, level=-1):
    return zlib.compress(content, level)


def replaced(content, old_content):
    """The new stream as hexmend writes it over the old one: zero-padded."""
    new_stream = stream(content)
    return new_stream + b"\x00" * (len(stream(old_content)) - len(new_stream))


def block(*lines):
    return "<patch>\n" + "".join(line + "\n" for line in lines) + "</patch>\n"


def regular(*lines, name="z"):
    return block("name=" + name, "enabled=true", "action=replace_zlib", *lines)


def zq(*lines):
    return block("patch_name = n", "patch_enable = `yes`", *lines)


REGULAR = ["3: (regular patch) z", PROCESSING]
ZQ = ["3: (zq-style patch)  n", PROCESSING]


def error(text):
    return "ERROR: " + text


def inflates_to(position, content, tail):
    """A check: out.bin holds, at position, a zlib stream of content, and
    exactly tail after the stream's end."""
    def check(folder):
        with open(os.path.join(folder, "out.bin"), "rb") as f:
            data = f.read()
        reader = zlib.decompressobj()
        try:
            got = reader.decompress(data[position:])
        except zlib.error as e:
            return "out.bin at %X is no zlib stream: %s" % (position, e)
        if not reader.eof:
            return "the stream at %X does not end" % position
        if got != content:
            return "the stream at %X holds %r..., expected %r..." % (position, got[:40],
                                                                     content[:40])
        if reader.unused_data != tail:
            return "after the stream: %r, expected %r" % (reader.unused_data[:40], tail[:40])
    return check


P = len(PREFIX)
POS = "%X" % P
SOURCE = PREFIX + stream(OLD) + SUFFIX
PADDING = len(stream(OLD)) - len(stream(NEW))
SECOND = P + len(stream(OLD)) + len(SUFFIX)
TWO_STREAMS = SOURCE + stream(MORE) + SUFFIX

# Bytes that do not compress: a stream longer than the compressor's 64 KiB
# output buffer, replaced by a shorter one.
BIG = random.Random(20).randbytes(70000)
BIG_NEW = BIG[:50000]

assert stream(b"") == b"\x78\x9c\x03\x00\x00\x00\x00\x01"
assert stream(OLD, 9)[:2] == b"\x78\xda" and stream(OLD)[:2] == b"\x78\x9c"
assert PADDING > 0 and len(stream(BIG)) > 65536

CASES = [
    # ---- regular style ----
    patch_case("regular: a shorter new stream is zero-padded to the old length",
               regular("position=" + POS, "olddata=" + escape(OLD), "newdata=" + escape(NEW)),
               SOURCE, REGULAR,
               target=PREFIX + replaced(NEW, OLD) + SUFFIX,
               check=inflates_to(P, NEW, b"\x00" * PADDING + SUFFIX)),
    patch_case("regular: two streams in one block",
               regular("position=" + POS, "olddata=" + escape(OLD), "newdata=" + escape(NEW),
                       "position=%X" % SECOND, "olddata=" + escape(MORE), "newdata=short"),
               TWO_STREAMS, REGULAR,
               target=PREFIX + replaced(NEW, OLD) + SUFFIX + replaced(b"short", MORE) + SUFFIX,
               check=inflates_to(SECOND, b"short",
                                 b"\x00" * (len(stream(MORE)) - len(stream(b"short"))) +
                                 SUFFIX)),
    patch_case("regular: the same text again writes the same stream",
               regular("position=" + POS, "olddata=" + escape(OLD), "newdata=" + escape(OLD)),
               SOURCE, REGULAR, target=SOURCE),
    patch_case("regular: empty texts compress to the empty stream",
               regular("position=2", "olddata=", "newdata="),
               b"--" + stream(b"") + b"--", REGULAR, target=b"--" + stream(b"") + b"--"),
    patch_case("regular: an empty new text",
               regular("position=" + POS, "olddata=" + escape(OLD), "newdata="),
               SOURCE, REGULAR, target=PREFIX + replaced(b"", OLD) + SUFFIX,
               check=inflates_to(P, b"", b"\x00" * (len(stream(OLD)) - 8) + SUFFIX)),
    patch_case("regular: a stream longer than the compressor's buffer",
               regular("position=" + POS, "olddata=" + escape(BIG), "newdata=" + escape(BIG_NEW)),
               PREFIX + stream(BIG) + SUFFIX, REGULAR,
               target=PREFIX + replaced(BIG_NEW, BIG) + SUFFIX,
               check=inflates_to(P, BIG_NEW,
                                 b"\x00" * (len(stream(BIG)) - len(stream(BIG_NEW))) + SUFFIX)),
    patch_case("regular: a new stream longer than the old one",
               regular("position=" + POS, "olddata=" + escape(NEW), "newdata=" + escape(OLD)),
               PREFIX + stream(NEW) + SUFFIX,
               REGULAR + [error("size of data differs (olddata=%dbyte, newdata=%dbyte) in z "
                                "(position=%02X)" % (len(stream(NEW)), len(stream(OLD)), P))]),
    patch_case("regular: a stream made at another level never matches",
               regular("position=" + POS, "olddata=" + escape(OLD), "newdata=" + escape(NEW)),
               PREFIX + stream(OLD, 9) + SUFFIX,
               REGULAR + [error("olddata starting with %02X does not match" % P)]),
    patch_case("regular: part of the content as old text does not match",
               regular("position=" + POS, "olddata=" + escape(OLD[:-10]), "newdata=x"),
               SOURCE, REGULAR + [error("olddata starting with %02X does not match" % P)]),
    patch_case("regular: a position inside the stream does not match",
               regular("position=%X" % (P + 1), "olddata=" + escape(OLD), "newdata=x"),
               SOURCE, REGULAR + [error("olddata starting with %02X does not match" % (P + 1))]),
    patch_case("regular: DONOTCHECK is compressed and compared",
               regular("position=" + POS, "olddata=DONOTCHECK", "newdata=x"),
               SOURCE, REGULAR + [error("olddata starting with %02X does not match" % P)]),
    patch_case("regular: a stream that ends on the last byte",
               regular("position=" + POS, "olddata=" + escape(OLD), "newdata=" + escape(NEW)),
               PREFIX + stream(OLD), REGULAR, target=PREFIX + replaced(NEW, OLD),
               check=inflates_to(P, NEW, b"\x00" * PADDING)),
    patch_case("regular: a stream cut short by the end of the file fails without a message",
               regular("position=" + POS, "olddata=" + escape(OLD), "newdata=" + escape(NEW)),
               PREFIX + stream(OLD)[:-1], REGULAR),
    patch_case("regular: a malformed escape",
               regular("position=" + POS, "olddata=" + escape(OLD), r"newdata=\x0"),
               SOURCE,
               REGULAR + [error("cannot unescape something in z (PatchData.position=%02X)" % P)]),

    # ---- zq style ----
    patch_case("zq: a shorter new stream is zero-padded to the old length",
               zq("replace_zlib = %s, `%s`, `%s`" % (POS, escape(OLD), escape(NEW))),
               SOURCE, ZQ, target=PREFIX + replaced(NEW, OLD) + SUFFIX,
               check=inflates_to(P, NEW, b"\x00" * PADDING + SUFFIX)),
    patch_case("zq: two streams, one line each",
               zq("replace_zlib = %s, `%s`, `%s`" % (POS, escape(OLD), escape(NEW)),
                  "replace_zlib = %x, `%s`, `short`" % (SECOND, escape(MORE))),
               TWO_STREAMS, ZQ,
               target=PREFIX + replaced(NEW, OLD) + SUFFIX + replaced(b"short", MORE) + SUFFIX),
    patch_case("zq: the same text again writes the same stream",
               zq("replace_zlib = %s, `%s`, `%s`" % (POS, escape(OLD), escape(OLD))),
               SOURCE, ZQ, target=SOURCE),
    patch_case("zq: a new stream longer than the old one",
               zq("replace_zlib = %s, `%s`, `%s`" % (POS, escape(NEW), escape(OLD))),
               PREFIX + stream(NEW) + SUFFIX,
               ZQ + [error("size of data differs (olddata=%dbyte, newdata=%dbyte) in  n "
                           "(position=%02X)" % (len(stream(NEW)), len(stream(OLD)), P))]),
    patch_case("zq: a stream made at another level never matches",
               zq("replace_zlib = %s, `%s`, `%s`" % (POS, escape(OLD), escape(NEW))),
               PREFIX + stream(OLD, 9) + SUFFIX,
               ZQ + [error("olddata starting with %02X does not match" % P)]),
    patch_case("zq: DONOTCHECK is compressed and compared",
               zq("replace_zlib = %s, `DONOTCHECK`, `x`" % POS),
               SOURCE, ZQ + [error("olddata starting with %02X does not match" % P)]),
    patch_case("zq: an empty old text cannot be processed",
               zq("replace_zlib = 2, ``, `x`"),
               b"--" + stream(b"") + b"--", ZQ + [
                   "  unable to process: replace_zlib = 2, ``, `x`"]),
    patch_case("zq: a malformed escape",
               zq("replace_zlib = %s, `%s`, `abc\\`" % (POS, escape(OLD))),
               SOURCE,
               ZQ + [error("cannot unescape something in  n (PatchData.position=%02X)" % P)]),
]
