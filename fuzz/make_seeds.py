#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the end-to-end cases.

    fuzz/make_seeds.py

Every case that runs p.txt over src.bin becomes an input of the run target
(patch text, a zero byte, source bytes; its other files named data.bin, the
one extra file the run target provides). The values of its block lines
become inputs of the value notation and triple targets, together with the
hand-picked values below. Existing seeds are replaced; regressions/ is left
alone.
"""

import glob
import hashlib
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.join(HERE, "..", "hexmend", "tests", "e2e")
MAX_SEED = 16 * 1024

VALUES = [
    "0", "1A2B", "1a2b", "7FFFFFFF", "80000000", "FFFFFFFF", "$FFFFFFFF", "0x7fffffff",
    "-2147483648", "2147483647", "2147483648", " +12", "--1", "$", "0x", "x1F",
    "\\x41", "a\\\\b", "\\x4", "\\", "\\N", "\\'\\\"\\a\\b\\f\\n\\r\\t\\v", "DONOTCHECK",
    "DE AD be ef", "DEADBEE", "0x12", "0a0B", "   ",
    "200", "$C8", "0xC8", " 200", "256", "-1", "200 ",
    "1.5", "1,5", "-2", "1,000.5", "1 000", "1e400", "-1e-320", "  +3,25E+2  ", "nan", "inf",
    "ab", "A\xc3\xa9\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xc3", "\xe2\x82", "\xed\xa0\x80",
]
TRIPLES = [
    " 10, `Hello`, `Howdy`", " 0, `a`, `b`", " 7FFFFFFF, `a`, `b`", " 80000000, `a`, `b`",
    " 1, `b` , `B` ", " 1, `x`, `\\x60`", " 1 , `a`, `b`", "`1`, `a`, `b`, `c`",
    "10, 1.5, 2.5", "10, 1,5, 2,5", "10, 255, 0", " 0 , DE AD , BE EF ", "0x10, 1, 2", "1,,2",
]


def load_cases():
    sys.path.insert(0, E2E)
    import e2e  # noqa: E402
    cases = []
    for path in sorted(glob.glob(os.path.join(E2E, "cases_*.py"))):
        cases += e2e.load_cases(path)
    return cases


def as_bytes(content):
    if isinstance(content, str):
        return content.replace("{dir}", "/p").replace("{sep}", "/").encode("latin-1")
    return content


def write_corpus(name, seeds):
    folder = os.path.join(HERE, "corpus", name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    unique = {s for s in seeds if 0 < len(s) <= MAX_SEED}
    for seed in unique:
        with open(os.path.join(folder, hashlib.sha1(seed).hexdigest()[:16]), "wb") as f:
            f.write(seed)
    print("%-15s %4d seeds, %6d bytes" % (name, len(unique), sum(map(len, unique))))


def main():
    runs, values, triples = [], [v.encode("latin-1") for v in VALUES], [
        t.encode("latin-1") for t in TRIPLES]
    for case in load_cases():
        files = case.files
        if not isinstance(files.get("p.txt"), (str, bytes)) or not isinstance(
                files.get("src.bin"), bytes):
            continue
        patch = as_bytes(files["p.txt"])
        for other, content in files.items():
            if other not in ("p.txt", "src.bin") and isinstance(content, bytes):
                patch = patch.replace(other.encode("latin-1"), b"data.bin")
        runs.append(patch + b"\0" + files["src.bin"])
        for line in re.split(rb"\r\n|\r|\n", patch):
            line = line.lstrip(b" \t")
            key, eq, value = line.partition(b"=")
            if not eq:
                continue
            if key.startswith(b"replace_"):
                triples.append(value)
            elif key in (b"olddata", b"newdata", b"oldpart", b"newpart", b"position"):
                values.append(value)
    write_corpus("run", runs)
    write_corpus("value_notation", values)
    write_corpus("triple", triples)


if __name__ == "__main__":
    main()
