"""inplace=true: a file that is both source and target is written where it
is, under a journal, instead of being replaced by a patched copy. The run
reports exactly what an ordinary run reports; what differs is that the file
stays the same file. Anything else (another target, check=true) is an
ordinary run.

The runner fails every case that leaves a temporary file or a journal behind.
"""

import os

from e2e import Case

BANNER = "hexmend 0.3"
# Two blocks, one of each style, that write two separate ranges.
SOURCE = b"MZ\x00\x01Hello world, Hello there\xff\r\n" + bytes(range(256)) * 64
PATCHED = b"MZ\x00\x01Howdy world, Salut there\xff\r\n" + bytes(range(256)) * 64
BLOCKS = ("<patch>\nname=greet\nenabled=true\naction=replace_string\nposition=4\n"
          "olddata=Hello\nnewdata=Howdy\n</patch>\n"
          "<patch>\npatch_name = second\npatch_enable = `yes`\n"
          "replace_string = 11, `Hello`, `Salut`\n</patch>\n")
REPORT = ["3: (regular patch) greet", "  processing ...",
          "11: (zq-style patch)  second", "  processing ..."]
FAILING = ("<patch>\nname=bad\nenabled=true\naction=replace_string\nposition=12\n"
           "olddata=Hello\nnewdata=Salut\n</patch>\n")
SAME = "targetfile=f.bin\nsourcefile=f.bin\n"


def loading(source="f.bin"):
    return [BANNER, "loading {dir}{sep}p.txt", "loading source file: {dir}{sep}" + source]


def saved(source="f.bin", target="f.bin"):
    """What a run of BLOCKS that writes its target reports."""
    return loading(source) + REPORT + ["saving {dir}{sep}" + target, "Everything is ok!"]


class Identity:
    """Notes the file at rel before the run and tells afterwards whether it
    is still the same file (device and inode; under wine too, as the files
    are the emulator's host files), and with untouched=True, whether it was
    not even written (modification time)."""

    def __init__(self, rel, same=True, untouched=False):
        self.rel = rel
        self.same = same
        self.untouched = untouched
        self.before = None

    def _now(self, folder):
        st = os.stat(os.path.join(folder, self.rel))
        return (st.st_dev, st.st_ino), st.st_mtime_ns

    def setup(self, folder):
        self.before = self._now(folder)

    def check(self, folder):
        (identity, mtime), (identity_before, mtime_before) = self._now(folder), self.before
        if (identity == identity_before) != self.same:
            return "%s is %s file" % (self.rel, "another" if self.same else "still the same")
        if self.untouched and mtime != mtime_before:
            return "%s was written" % self.rel


def identity_case(name, identity, prepare=None, **kwargs):
    """A case that checks identity; prepare(folder) runs first."""
    def setup(folder):
        if prepare:
            prepare(folder)
        identity.setup(folder)
    return Case(name, setup=setup, check=identity.check, **kwargs)


def make_read_only(rel):
    # Under wine a file without write permission has the read-only attribute.
    return lambda folder: os.chmod(os.path.join(folder, rel), 0o444)


def hard_link(rel, to):
    def setup(folder):
        os.link(os.path.join(folder, to), os.path.join(folder, rel))
    return setup


CASES = [
    # The pair shows the difference: the same output and bytes, but the
    # ordinary run moves a new file into place.
    identity_case("without inplace the same file as target is replaced by a new one",
                  Identity("f.bin", same=False),
                  files={"p.txt": SAME + BLOCKS, "f.bin": SOURCE}, args=["{dir}{sep}p.txt"],
                  stdout=saved(), expect={"f.bin": PATCHED}),
    identity_case("inplace=true writes the same file in place, reporting what a run reports",
                  Identity("f.bin"),
                  files={"p.txt": SAME + BLOCKS, "f.bin": SOURCE},
                  args=["{dir}{sep}p.txt", "inplace=true"],
                  stdout=saved(), expect={"f.bin": PATCHED}),
    identity_case("inplace=true through two names of one file (hard links) writes it in place",
                  Identity("a.bin"),
                  files={"p.txt": "targetfile=b.bin\nsourcefile=a.bin\n" + BLOCKS,
                         "a.bin": SOURCE},
                  prepare=hard_link("b.bin", "a.bin"),
                  args=["{dir}{sep}p.txt", "InPlace=TRUE"],
                  stdout=saved(source="a.bin", target="b.bin"),
                  expect={"a.bin": PATCHED, "b.bin": PATCHED}),
    identity_case("a failing block in inplace mode leaves the file untouched",
                  Identity("f.bin", untouched=True),
                  files={"p.txt": SAME + BLOCKS + FAILING, "f.bin": SOURCE},
                  args=["{dir}{sep}p.txt", "inplace=true"],
                  stdout=loading() + REPORT + ["16: (regular patch) bad", "  processing ...",
                                             "ERROR: olddata starting with 12 does not match"],
                  rc=1, expect={"f.bin": SOURCE}),
    identity_case("inplace=true with another target is an ordinary run",
                  Identity("src.bin", untouched=True),
                  files={"p.txt": "targetfile=out.bin\nsourcefile=src.bin\n" + BLOCKS,
                         "src.bin": SOURCE, "out.bin": b"old"},
                  args=["{dir}{sep}p.txt", "inplace=true"],
                  stdout=saved(source="src.bin", target="out.bin"),
                  expect={"src.bin": SOURCE, "out.bin": PATCHED}),
    identity_case("check=true inplace=true writes nothing",
                  Identity("f.bin", untouched=True),
                  files={"p.txt": SAME + BLOCKS, "f.bin": SOURCE},
                  args=["{dir}{sep}p.txt", "inplace=true", "check=true"],
                  stdout=loading() + REPORT + ["check passed, not saved: {dir}{sep}f.bin",
                                               "Everything is ok!"],
                  expect={"f.bin": SOURCE}),
    identity_case("a journal cut short by a crash is removed, and the run goes on",
                  Identity("f.bin"),
                  files={"p.txt": SAME + BLOCKS, "f.bin": SOURCE,
                         "f.bin.hexmend-journal": b"HXJRNL01 cut short"},
                  args=["{dir}{sep}p.txt", "inplace=true"],
                  stdout=saved(), expect={"f.bin": PATCHED}),
    Case("a file another program holds open for writing cannot be patched in place",
         files={"p.txt": SAME + BLOCKS, "f.bin": SOURCE},
         args=["{dir}{sep}p.txt", "inplace=true"],
         stdout=loading(), rc=1, expect={"f.bin": SOURCE},
         holds=[("f.bin", "write")], stderr="hexmend: cannot open {dir}{sep}f.bin: ",
         platforms=["windows"]),
]

# Permission bits do not stop root, and neither does the read-only attribute
# under wine, which keeps it in the permission bits and opens the file as
# root does. So as root the case runs as the user nobody on POSIX; under wine,
# whose prefix is root's own, it cannot run as another user and says so.
def read_only_case(platforms, setup=make_read_only("f.bin"), **kwargs):
    return Case("a read-only file in inplace mode cannot be opened; nothing is written",
                files={"p.txt": SAME + BLOCKS, "f.bin": SOURCE},
                args=["{dir}{sep}p.txt", "inplace=true"],
                stdout=loading(), rc=1, expect={"f.bin": SOURCE}, setup=setup,
                stderr="hexmend: cannot open {dir}{sep}f.bin: ", platforms=platforms, **kwargs)


if os.geteuid() != 0:
    CASES.append(read_only_case(None))
else:
    from cases_admin import as_nobody, for_nobody, nobody_can_run

    def for_nobody_read_only(folder):
        for_nobody(folder)
        make_read_only("f.bin")(folder)

    CASES += [
        read_only_case(["posix"], setup=for_nobody_read_only, preexec=as_nobody([]),
                       copy_program="bin", runnable=nobody_can_run),
        read_only_case(["windows"], runnable=lambda: "run as root, and wine runs in root's "
                       "prefix as root only, for whom no file is read-only"),
    ]
