"""The command line: --help and --version, and a relative FILENAME found in
the working folder when the program's folder does not hold it."""

from e2e import Case, HEADER

BANNER = "hexmend 0.3"
HELP = [
    "USAGE: hexmend FILENAME [OPTION=true]...",
    "  verbatim=true  echo each line of the patch file as >>>N:line while reading it",
    "  silent=true    write nothing but the banner; the exit code tells the result",
    "  check=true     tell whether the patch file applies and why not; write nothing",
    "  inplace=true   target is the source: write only the patched bytes, crash-safe",
    "  reverse=true   undo what the patch file does: check new bytes, write old back",
]
# Each line fits a console of 80 columns.
assert all(len(line) <= 79 for line in HELP)

SOURCE = b"\x00\x01source bytes\xff\r\n"
DECOY = "targetfile=decoy.bin\nsourcefile=src.bin\n"


def ran(folder):
    """The output of a run of {folder}/p.txt over {folder}/src.bin."""
    return [BANNER, "loading %s{sep}p.txt" % folder, "loading source file: %s{sep}src.bin" % folder,
            "saving %s{sep}out.bin" % folder, "Everything is ok!"]


CASES = [
    # ---- --help, --version ----
    Case("--help alone: the usage and one line per option, exit 0", args=["--help"],
         stdout=[BANNER] + HELP),
    Case("-h alone is --help", args=["-h"], stdout=[BANNER] + HELP),
    Case("/? alone is --help on Windows", args=["/?"], stdout=[BANNER] + HELP,
         platforms=["windows"]),
    Case("/? elsewhere is a file name like any other", args=["/?"],
         stdout=[BANNER, "ERROR: cannot find /?"], rc=1, platforms=["posix"]),
    Case("--version alone: the banner, once, exit 0", args=["--version"], stdout=[BANNER]),
    Case("--help after FILENAME is an argument without an option, as before",
         files={"p.txt": HEADER, "src.bin": SOURCE}, args=["{dir}{sep}p.txt", "--help"],
         stdout=ran("{dir}"), expect={"out.bin": SOURCE}),
    Case("--help with more arguments is FILENAME, as before",
         files={"p.txt": HEADER, "src.bin": SOURCE}, args=["--help", "{dir}{sep}p.txt"],
         stdout=[BANNER, "ERROR: cannot find {progdir}{sep}--help"], rc=1,
         expect={"out.bin": None}),

    # ---- The program's folder first, then the working folder ----
    Case("a relative FILENAME that the program's folder lacks is taken from the working folder",
         copy_program="bin", cwd="work/here",
         files={"work/sub/p.txt": HEADER, "work/sub/src.bin": SOURCE, "work/here": None},
         args=["..{sep}sub{sep}.{sep}p.txt"], stdout=ran("{dir}{sep}work{sep}sub"),
         expect={"work/sub/out.bin": SOURCE}),
    Case("a relative FILENAME in both folders is taken from the program's folder",
         copy_program="bin", cwd="work",
         files={"bin/p.txt": HEADER, "bin/src.bin": SOURCE, "work/p.txt": DECOY,
                "work/src.bin": SOURCE},
         args=["p.txt"], stdout=ran("{progdir}"),
         expect={"bin/out.bin": SOURCE, "work/decoy.bin": None}),
    Case("a relative FILENAME in neither folder is reported in the program's folder",
         copy_program="bin", cwd="work", files={"work/sub": None}, args=["p.txt"],
         stdout=[BANNER, "ERROR: cannot find {progdir}{sep}p.txt"], rc=1),
]
