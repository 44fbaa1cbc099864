"""Check mode (check=true): everything is applied in memory, nothing is
written, and every failing block is listed."""

from e2e import Case, HEADER

BANNER = "hexmend 0.3"
LOADING = ["loading {dir}{sep}p.txt", "loading source file: {dir}{sep}src.bin"]
SOURCE = b"Hello world, 0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF!"


def regular(name, position, old, new, action="replace_string"):
    return ("<patch>\nname=%s\nenabled=true\naction=%s\nposition=%s\nolddata=%s\nnewdata=%s\n"
            "</patch>\n" % (name, action, position, old, new))


def check(name, blocks, report, rc, args=("check=true",), header=HEADER, **kwargs):
    files = {"p.txt": header + blocks, "src.bin": SOURCE}
    files.update(kwargs.pop("files", {}))
    expect = {"out.bin": None}
    expect.update(kwargs.pop("expect", {}))
    return Case(name, files=files, args=["{dir}{sep}p.txt"] + list(args),
                stdout=[BANNER] + LOADING + report, rc=rc, expect=expect, **kwargs)


def absent(rel):
    import os

    def test(folder):
        if os.path.exists(os.path.join(folder, rel)):
            return "%s was created" % rel
    return test


GOOD = regular("good", "0", "Hello", "Howdy")
PROCESSING = "  processing ..."
LOST = "<patch>\nname=lost\n"

CASES = [
    check("a patch file that applies: passed, nothing written, no folder made",
          GOOD, ["3: (regular patch) good", PROCESSING,
                 "check passed, not saved: {dir}{sep}made{sep}out.bin", "Everything is ok!"],
          rc=0, header="targetfile=made/out.bin\nsourcefile=src.bin\n", check=absent("made")),
    check("the value true in any letter case switches it on", GOOD,
          ["3: (regular patch) good", PROCESSING,
           "check passed, not saved: {dir}{sep}out.bin", "Everything is ok!"],
          rc=0, args=["CHECK=True"]),
    Case("check=yes leaves it off: the target is written",
         files={"p.txt": HEADER + GOOD, "src.bin": SOURCE}, args=["{dir}{sep}p.txt", "check=yes"],
         stdout=[BANNER] + LOADING + ["3: (regular patch) good", PROCESSING,
                                      "saving {dir}{sep}out.bin", "Everything is ok!"],
         expect={"out.bin": b"Howdy" + SOURCE[5:]}),
    check("every failing block is listed and counted, an existing target kept",
          regular("wrong old", "0", "Hellx", "Howdy") + GOOD +
          regular("bad value", "2", "1", "256", action="replace_int") +
          "<patch>\npatch_name = zq\npatch_enable = `yes`\nreplace_bytes = 6, 77 6F, 57 4F\n</patch>\n",
          ["3: (regular patch) wrong old", PROCESSING,
           "ERROR: olddata starting with 00 does not match",
           "  expected: 48 65 6C 6C 78",
           "  found:    48 65 6C 6C 6F",
           "11: (regular patch) good", PROCESSING,
           "19: (regular patch) bad value", PROCESSING,
           "ERROR(a): wrong value in bad value (position=02)",
           "27: (zq-style patch)  zq", PROCESSING,
           "ERROR: check failed: 2 of 4"],
          rc=1, files={"out.bin": b"keep"}, expect={"out.bin": b"keep"}),
    check("bytes that already hold the new value are shown as already applied",
          regular("twice", "0", "Hello", "Howdy") + regular("twice", "0", "Hello", "Howdy"),
          ["3: (regular patch) twice", PROCESSING,
           "11: (regular patch) twice", PROCESSING,
           "ERROR: olddata starting with 00 does not match",
           "  expected: 48 65 6C 6C 6F",
           "  found:    48 6F 77 64 79",
           "  already applied",
           "ERROR: check failed: 1 of 2"], rc=1),
    check("at most 32 compared bytes are shown",
          regular("long", "0D", "x" * 40, "y" * 40),
          ["3: (regular patch) long", PROCESSING,
           "ERROR: olddata starting with 0D does not match",
           "  expected: " + " ".join(["78"] * 32),
           "  found:    " + " ".join("%02X" % b for b in SOURCE[13:45]),
           "ERROR: check failed: 1 of 1"], rc=1),
    check("a range beyond the end of the file is named",
          regular("tail", "3D", "!", "?!"),
          ["3: (regular patch) tail", PROCESSING,
           "  beyond the end: 2 bytes at 3D, the file has 62 bytes",
           "ERROR: check failed: 1 of 1"], rc=1),
    check("misplaced tags are counted and the walk goes on",
          "</patch>\n<patch>\nname=dropped\n" + GOOD + "<patch>\nnothing=here\n</patch>\n",
          ["ERROR: unexpected tag </patch> in line 3",
           "ERROR: unexpected tag <patch> in line 6",
           "6: (regular patch) good", PROCESSING,
           "ERROR: 14: There is a problem. Check the first lines of this patch!",
           "ERROR: check failed: 3 of 4"], rc=1),
    Case("a zero byte before the end is noted after the patch file's loading line",
         files={"p.txt": HEADER + GOOD + "\x00" + LOST, "src.bin": SOURCE},
         args=["{dir}{sep}p.txt", "check=true"],
         stdout=[BANNER, LOADING[0],
                 "  note: the text ends at a zero byte at offset %d; %d bytes after it are not read"
                 % (len(HEADER + GOOD), len(LOST)),
                 LOADING[1], "3: (regular patch) good", PROCESSING,
                 "check passed, not saved: {dir}{sep}out.bin", "Everything is ok!"],
         expect={"out.bin": None}),
    check("a last block never closed is noted at the end of the walk",
          GOOD + "<patch>\nname=open\nenabled=true\naction=replace_string\n",
          ["3: (regular patch) good", PROCESSING,
           "  note: the block from line 11 is never closed and is dropped",
           "check passed, not saved: {dir}{sep}out.bin", "Everything is ok!"], rc=0),
    Case("silent check mode tells by its exit code alone",
         files={"p.txt": HEADER + regular("wrong old", "0", "Hellx", "Howdy"), "src.bin": SOURCE},
         args=["{dir}{sep}p.txt", "check=true", "silent=true"], stdout=[BANNER], rc=1,
         expect={"out.bin": None}),
]
