"""What the Windows build does of its own: a patch file found from the
program's folder, drive letters and the colon, "/" taken as "\\", CR LF line
ends, the 259-character limit of the ANSI file calls, the sharing modes, and
the console colours.

These cases run under wine, which maps the drive Z: to "/" and C: to the
wine prefix's drive_c.
"""

import os
import shutil
import tempfile

from e2e import Case, HEADER

BANNER = "hexmend 0.3"
LOADING = ["loading {dir}\\p.txt", "loading source file: {dir}\\src.bin"]
SAVED = ["saving {dir}\\out.bin", "Everything is ok!"]
SOURCE = b"MZ\x00\x01source bytes\xff\r\n"
W = ["windows"]

# A case folder is tempfile's folder plus "/hexmend-e2e-" and eight random
# characters; as the program sees it, it is "Z:" and that path.
CASE_DIR_LENGTH = len("Z:" + os.path.join(tempfile.gettempdir(), "hexmend-e2e-12345678"))
# The longest full path the program takes.
MAX_PATH_LENGTH = 259


def run(name, patch, stdout, rc=0, target=SOURCE, args=(), **kwargs):
    """p.txt over src.bin with the whole expected output given."""
    files = {"p.txt": patch, "src.bin": SOURCE}
    files.update(kwargs.pop("files", {}))
    expect = {"out.bin": target if rc == 0 else None}
    expect.update(kwargs.pop("expect", {}))
    return Case(name, files=files, args=["{dir}\\p.txt"] + list(args), stdout=stdout, rc=rc,
                expect=expect, platforms=W, **kwargs)


def name_for_length(total):
    """A file name that makes the case folder, "\\" and the name total long."""
    return "n" * (total - CASE_DIR_LENGTH - 1)


# ---- C: is the wine prefix's drive_c ----

DRIVE_C_FOLDER = "hexmend-e2e-drive-c"


def drive_c(*parts):
    return os.path.join(os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine")), "drive_c",
                        DRIVE_C_FOLDER, *parts)


def clear_drive_c(folder):
    shutil.rmtree(drive_c(), ignore_errors=True)


def written_on_drive_c(folder):
    path = drive_c("new", "out.bin")
    try:
        with open(path, "rb") as f:
            if f.read() != SOURCE:
                return "C:\\%s\\new\\out.bin does not hold the source's bytes" % DRIVE_C_FOLDER
    except OSError:
        return "C:\\%s\\new\\out.bin was not written (looked for %s)" % (DRIVE_C_FOLDER, path)
    finally:
        clear_drive_c(folder)


# ---- Attributes ----

def make_read_only(rel):
    # Wine keeps the read-only attribute in the permission bits.
    return lambda folder: os.chmod(os.path.join(folder, rel), 0o444)


def writable(rel):
    def check(folder):
        if not os.stat(os.path.join(folder, rel)).st_mode & 0o200:
            return "%s is read-only" % rel
    return check


# ---- The console ----

def wine_console_text(raw):
    """What wine's console drew on the terminal, as the characters and
    colour changes the program made: wine hides the cursor around every
    character, draws a blank by clearing and moving right, and ends a line
    with extra CRs."""
    out = raw.replace(b"\x1b[?25l", b"").replace(b"\x1b[?25h", b"")
    out = out.replace(b"\x1b[K\x1b[1C", b" ")
    while b"\r\r\n" in out:
        out = out.replace(b"\r\r\n", b"\r\n")
    return out


def raw_output_is(expected):
    def check(folder):
        with open(os.path.join(folder, "stdout.txt"), "rb") as f:
            got = f.read()
        if got != expected.replace(b"{dir}", ("Z:" + folder.replace("/", "\\")).encode()):
            return "standard output is %r" % got
    return check


CASES = [
    # ---- FILENAME and the program's folder ----
    Case("a relative FILENAME with backslashes and .. is taken from the program's folder",
         copy_program="tool/bin",
         files={"patches/p.txt": HEADER, "patches/src.bin": SOURCE,
                # What the working folder would give: must stay unread.
                "other/patches/p.txt": "targetfile=decoy.bin\nsourcefile=src.bin\n",
                "other/patches/src.bin": SOURCE, "other/one/two": None},
         args=["..\\..\\patches\\.\\p.txt"], cwd="other/one/two",
         stdout=[BANNER, "loading {dir}\\patches\\p.txt",
                 "loading source file: {dir}\\patches\\src.bin",
                 "saving {dir}\\patches\\out.bin", "Everything is ok!"],
         expect={"patches/out.bin": SOURCE, "other/patches/decoy.bin": None}, platforms=W),
    Case("a relative FILENAME written with / is taken the same way",
         copy_program="tool/bin", files={"p.txt": HEADER, "src.bin": SOURCE, "work": None},
         args=["../../p.txt"], cwd="work", stdout=[BANNER] + LOADING + SAVED,
         expect={"out.bin": SOURCE}, platforms=W),
    Case("a patch file's full path as the only argument, as dropping it on the program gives",
         copy_program="Program Files/hexmend",
         files={"my patches/p.txt": HEADER, "my patches/src.bin": SOURCE, "home": None},
         args=["{dir}\\my patches\\p.txt"], cwd="home",
         stdout=[BANNER, "loading {dir}\\my patches\\p.txt",
                 "loading source file: {dir}\\my patches\\src.bin",
                 "saving {dir}\\my patches\\out.bin", "Everything is ok!"],
         expect={"my patches/out.bin": SOURCE}, platforms=W),
    Case("a FILENAME naming no file, from the program's folder",
         copy_program="bin", args=["missing.txt"],
         stdout=[BANNER, "ERROR: cannot find {dir}\\bin\\missing.txt"], rc=1, platforms=W),

    # ---- Drives and the colon ----
    run("absolute names with a drive letter are used as written, / taken as \\",
        "targetfile={dir}/t/../out.bin\nsourcefile={dir}\\src.bin\n",
        [BANNER, "loading {dir}\\p.txt", "loading source file: {dir}\\src.bin",
         "saving {dir}\\t\\..\\out.bin", "Everything is ok!"],
        files={"t": None}),
    Case("a target on C: gets its folders made under the drive",
         files={"p.txt": "targetfile=C:\\" + DRIVE_C_FOLDER + "\\new\\out.bin\n"
                         "sourcefile=src.bin\n",
                "src.bin": SOURCE},
         args=["{dir}\\p.txt"],
         stdout=[BANNER] + LOADING + ["saving C:\\" + DRIVE_C_FOLDER + "\\new\\out.bin",
                                      "Everything is ok!"],
         setup=clear_drive_c, check=written_on_drive_c, platforms=W),
    run("a drive-relative target is taken from the working folder on that drive",
        "targetfile=Z:out.bin\nsourcefile=src.bin\n",
        [BANNER] + LOADING + ["saving Z:out.bin", "Everything is ok!"]),
    Case("a drive-relative FILENAME: its folder is the drive, so names in it start at the root",
         files={"p.txt": HEADER, "src.bin": SOURCE}, args=["Z:p.txt"],
         stdout=[BANNER, "loading Z:p.txt", "ERROR: cannot find Z:\\src.bin"], rc=1,
         expect={"out.bin": None}, platforms=W),

    # ---- Line ends ----
    run("every console line ends in CR LF, the verbatim echo too", HEADER, None,
        args=["verbatim=true"], stdout_to="stdout.txt",
        check=raw_output_is(b"hexmend 0.3\r\nloading {dir}\\p.txt\r\n"
                            b"loading source file: {dir}\\src.bin\r\n"
                            b">>>1:targetfile=out.bin\r\n>>>2:sourcefile=src.bin\r\n"
                            b"saving {dir}\\out.bin\r\nEverything is ok!\r\n")),
    run("a failed write to standard output is a run-time failure", HEADER, None, rc=1,
        stdout_to="/dev/full", stderr="hexmend: cannot write to standard output: "),

    # ---- The path limit ----
    run("a target path of 259 characters is written",
        "targetfile=" + name_for_length(MAX_PATH_LENGTH) + "\nsourcefile=src.bin\n",
        [BANNER] + LOADING + ["saving {dir}\\" + name_for_length(MAX_PATH_LENGTH),
                              "Everything is ok!"],
        expect={name_for_length(MAX_PATH_LENGTH): SOURCE, "out.bin": None}),
    run("a target path of 260 characters is a run-time failure",
        "targetfile=" + name_for_length(MAX_PATH_LENGTH + 1) + "\nsourcefile=src.bin\n",
        [BANNER, "loading {dir}\\p.txt"], rc=1,
        stderr="hexmend: path too long (260 characters, at most 259): {dir}\\" +
               name_for_length(MAX_PATH_LENGTH + 1)),
    run("a sourcefile climbing out beyond the limit is a run-time failure, not cut short",
        "targetfile=out.bin\nsourcefile=" + "d\\..\\" * 60 + "src.bin\n",
        [BANNER, "loading {dir}\\p.txt"], rc=1, stderr="hexmend: path too long ("),
    Case("a relative FILENAME beyond the limit is a run-time failure",
         args=["p" * 300 + ".txt"], stdout=[BANNER], rc=1,
         stderr="hexmend: path too long (", platforms=W),
    run("a target whose temporary file would pass the limit is a run-time failure",
        "targetfile=" + "f" * (250 - CASE_DIR_LENGTH - 1) + "\\out.bin\nsourcefile=src.bin\n",
        [BANNER] + LOADING + ["saving {dir}\\" + "f" * (250 - CASE_DIR_LENGTH - 1) + "\\out.bin"],
        rc=1, files={"f" * (250 - CASE_DIR_LENGTH - 1): None},
        stderr="hexmend: cannot create {dir}\\" + "f" * (250 - CASE_DIR_LENGTH - 1) + "\\out.bin: "),

    # ---- Sharing: others may read what hexmend reads, but not write it ----
    run("a source another program reads is read all the same", HEADER,
        [BANNER] + LOADING + SAVED, holds=[("src.bin", "read")]),
    run("a source another program has open for writing is a run-time failure", HEADER,
        [BANNER] + LOADING, rc=1, holds=[("src.bin", "write")],
        stderr="hexmend: cannot open {dir}\\src.bin: "),
    run("a patch file another program has open for writing is a run-time failure", HEADER,
        [BANNER, "loading {dir}\\p.txt"], rc=1, holds=[("p.txt", "write")],
        stderr="hexmend: cannot open {dir}\\p.txt: "),
    run("a target another program holds open keeps its content; no temporary file stays",
        HEADER, [BANNER] + LOADING + ["saving {dir}\\out.bin"], rc=1,
        files={"out.bin": b"old"}, expect={"out.bin": b"old"}, holds=[("out.bin", "read")],
        stderr="hexmend: cannot replace {dir}\\out.bin: "),

    # ---- Attributes ----
    run("the target made from a read-only source is not read-only", HEADER,
        [BANNER] + LOADING + SAVED, setup=make_read_only("src.bin"), check=writable("out.bin")),

    # ---- The console's colours ----
    run("on a console ERROR: alone is bright yellow, and the rest light grey",
        "sourcefile=src.bin\n",
        [BANNER, "loading {dir}\\p.txt", "\x1b[93mERROR:\x1b[m no target file specified"],
        rc=1, stdout_to="tty", stdout_filter=wine_console_text),
    run("NO_COLOR leaves the console's colours alone",
        "sourcefile=src.bin\n",
        [BANNER, "loading {dir}\\p.txt", "ERROR: no target file specified"],
        rc=1, stdout_to="tty", stdout_filter=wine_console_text, env={"NO_COLOR": "1"}),
]
