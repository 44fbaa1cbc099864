"""hexmend-diff (run with --program pointing at it): what it prints, refuses
and leaves alone. That its patch files apply is diff_roundtrip.py's part."""

import os
import shutil

from e2e import Case

OLD = b"Hello, world!\x00\x01\x02 tail"
NEW = b"Howdy, world!\x00\xfe\x02 tail"
KEPT = b"an earlier patch file\n"
FILES = {"old.bin": OLD, "new.bin": NEW, "p.patch": KEPT}
USAGE = "USAGE: hexmend-diff OLD NEW [PATCHFILE]"


def refused(name, args, stderr, rc=1, files=None):
    """A run that writes nothing: an existing patch file keeps its content."""
    return Case(name, files=files or FILES, args=args, stdout=[], rc=rc, stderr=stderr,
                expect={"p.patch": KEPT, "old.bin": OLD})


# On Windows, OLD on another drive than the patch file (C:, the wine prefix's
# drive_c; the cases run on Z:) is named by its full path.
OTHER_DRIVE = "hexmend-diff-e2e"


def on_drive_c(folder):
    drive_c = os.path.join(os.environ.get("WINEPREFIX", ""), "drive_c")
    os.makedirs(os.path.join(drive_c, OTHER_DRIVE), exist_ok=True)
    with open(os.path.join(drive_c, OTHER_DRIVE, "old.bin"), "wb") as f:
        f.write(OLD)


def names_drive_c(folder):
    shutil.rmtree(os.path.join(os.environ.get("WINEPREFIX", ""), "drive_c", OTHER_DRIVE))
    with open(os.path.join(folder, "p.patch"), "rb") as f:
        lines = f.read().split(b"\r\n")
    want = ("sourcefile=C:\\%s\\old.bin" % OTHER_DRIVE).encode()
    if want not in lines:
        return "p.patch lacks the line %r" % want


CASES = [
    Case("diff: to standard output, named from the working folder",
         files={"sub/old.bin": OLD, "new.bin": NEW}, args=["sub{sep}old.bin", "new.bin"],
         stdout=["; Patch file made by hexmend-diff: it changes OLD into NEW, in place.",
                 ";   OLD: sub{sep}old.bin (21 bytes)",
                 ";   NEW: new.bin (21 bytes)",
                 "; Save it as PATCHFILE in {dir}, then",
                 "; check it:  hexmend {dir}{sep}PATCHFILE check=true",
                 "; apply it:  hexmend {dir}{sep}PATCHFILE",
                 "sourcefile=sub{sep}old.bin",
                 "targetfile=sub{sep}old.bin",
                 "",
                 "<patch>",
                 "name=change at 01",
                 "enabled=true",
                 "action=replace_string",
                 "position=01",
                 "olddata=ello",
                 "newdata=owdy",
                 "</patch>",
                 "<patch>",
                 "name=change at 0E",
                 "enabled=true",
                 "action=replace_bytes",
                 "position=0E",
                 "olddata=01",
                 "newdata=FE",
                 "</patch>"],
         stderr="hexmend-diff: 2 changed regions (5 bytes differ) written to standard output",
         expect={"sub/old.bin": OLD}),
    refused("diff: files of different lengths", ["old.bin", "short.bin", "p.patch"],
            "hexmend-diff: old.bin has 21 bytes and short.bin has 20: hexmend never changes "
            "a file's length; no patch file written",
            files=dict(FILES, **{"short.bin": NEW[:-1]})),
    refused("diff: identical files", ["old.bin", "same.bin", "p.patch"],
            "hexmend-diff: old.bin and same.bin are identical; no patch file written", rc=0,
            files=dict(FILES, **{"same.bin": OLD})),
    Case("diff: identical files, nothing on standard output",
         files={"old.bin": OLD, "same.bin": OLD}, args=["old.bin", "same.bin"], stdout=[],
         stderr="are identical; no patch file written"),
    refused("diff: no arguments", [], USAGE, rc=2),
    refused("diff: one argument", ["old.bin"], USAGE, rc=2),
    refused("diff: four arguments", ["old.bin", "new.bin", "p.patch", "x"], USAGE, rc=2),
    refused("diff: an empty argument", ["old.bin", "", "p.patch"], USAGE, rc=2),
    refused("diff: a missing file", ["old.bin", "missing.bin", "p.patch"],
            "hexmend-diff: cannot open missing.bin"),
    refused("diff: a folder", ["folder", "new.bin", "p.patch"],
            "hexmend-diff: cannot open folder", files=dict(FILES, folder=None)),
    refused("diff: the patch file would replace OLD", ["old.bin", "new.bin", "old.bin"],
            "hexmend-diff: the patch file old.bin would replace old.bin"),
    Case("diff: a patch file in a missing folder", files=FILES,
         args=["old.bin", "new.bin", "none{sep}p.patch"], stdout=[], rc=1,
         stderr="hexmend-diff: cannot create {dir}{sep}none{sep}p.patch",
         expect={"none": None}),
    Case("diff: OLD on another drive is named by its full path", files={"new.bin": NEW},
         args=["C:\\%s\\old.bin" % OTHER_DRIVE, "new.bin", "p.patch"], stdout=[],
         setup=on_drive_c, check=names_drive_c, platforms=["windows"],
         stderr="hexmend-diff: 2 changed regions (5 bytes differ) written to p.patch"),
]
