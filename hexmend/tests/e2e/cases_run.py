"""The run as a whole: command line, options, the patch file's text, target
and source, the walk over the blocks and the saving of the target."""

import os
import stat

from e2e import Case, HEADER, patch_case

BANNER = "hexmend 0.3"
USAGE = ["USAGE: hexmend FILENAME [verbatim=true]", "\"FILENAME\" refers to the configuration file"]
LOADING = ["loading {dir}{sep}p.txt", "loading source file: {dir}{sep}src.bin"]
SAVED = ["saving {dir}{sep}out.bin", "Everything is ok!"]
SOURCE = b"\x00\x01source bytes\xff\r\n"
SKIPPED_BLOCK = "<patch>\nname=n\nenabled=false\n</patch>\n"


def run(name, patch, stdout, rc=0, target=SOURCE, args=(), **kwargs):
    """p.txt over src.bin with the whole expected output given."""
    files = {"p.txt": patch, "src.bin": SOURCE}
    files.update(kwargs.pop("files", {}))
    expect = {"out.bin": target if rc == 0 else None}
    expect.update(kwargs.pop("expect", {}))
    return Case(name, files=files, args=["{dir}{sep}p.txt"] + list(args), stdout=stdout, rc=rc,
                expect=expect, **kwargs)


def folder_exists(rel):
    def check(folder):
        if not os.path.isdir(os.path.join(folder, rel)):
            return "folder %s was not created" % rel
    return check


def mode_is(rel, mode):
    def check(folder):
        got = stat.S_IMODE(os.stat(os.path.join(folder, rel)).st_mode)
        if got != mode:
            return "%s has mode %o, expected %o" % (rel, got, mode)
    return check


def current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def make_mode(rel, mode):
    return lambda folder: os.chmod(os.path.join(folder, rel), mode)


def make_link(rel, to):
    return lambda folder: os.symlink(to, os.path.join(folder, rel))


def link_kept(rel, to, content):
    def check(folder):
        path = os.path.join(folder, rel)
        if not os.path.islink(path) or os.readlink(path) != to:
            return "%s is no longer a link to %s" % (rel, to)
        with open(os.path.join(folder, to), "rb") as f:
            if f.read() != content:
                return "the linked file does not hold the patched bytes"
    return check


CASES = [
    # ---- Command line and options ----
    Case("no arguments: banner and usage, exit 2", stdout=[BANNER] + USAGE, rc=2),
    Case("silent=true alone is FILENAME and silences the failure",
         args=["silent=true"], stdout=[BANNER], rc=1),
    Case("verbatim=true alone is FILENAME and switches verbatim on",
         args=["verbatim=true"], stdout=[BANNER, "ERROR: cannot find {progdir}{sep}verbatim=true"],
         rc=1),
    run("SILENT=True after FILENAME runs silently, no final line",
        HEADER, [BANNER], args=["SILENT=True"]),
    run("silent wins over verbatim given first", HEADER, [BANNER],
        args=["verbatim=true", "silent=true"]),
    run("verbatim=yes leaves verbatim off", HEADER, [BANNER] + LOADING + SAVED,
        args=["verbatim=yes"]),
    run("silent= true with a blank leaves silent off", HEADER, [BANNER] + LOADING + SAVED,
        args=["silent= true"]),
    run("the first argument carrying an option decides it", HEADER, [BANNER] + LOADING + SAVED,
        args=["Verbatim=no", "verbatim=true"]),
    Case("a relative FILENAME is taken from the program's folder, whatever the working folder",
         files={"p.txt": HEADER, "src.bin": SOURCE, "elsewhere": None},
         args=["{fromprog}{sep}elsewhere{sep}..{sep}.{sep}p.txt"], cwd="elsewhere",
         stdout=[BANNER] + LOADING + SAVED, expect={"out.bin": SOURCE}),
    Case("a missing patch file", args=["{dir}{sep}nope.txt"],
         stdout=[BANNER, "ERROR: cannot find {dir}{sep}nope.txt"], rc=1),
    Case("a folder is not a patch file", files={"sub": None}, args=["{dir}{sep}sub"],
         stdout=[BANNER, "ERROR: cannot find {dir}{sep}sub"], rc=1),

    # ---- Target and source ----
    run("no blocks: the target is a copy of the source", HEADER, [BANNER] + LOADING + SAVED),
    run("an empty source gives an empty target", HEADER, [BANNER] + LOADING + SAVED,
        target=b"", files={"src.bin": b""}),
    Case("target and source naming the same file rewrite it in place",
         files={"p.txt": "targetfile=f.bin\nsourcefile=f.bin\n", "f.bin": SOURCE},
         args=["{dir}{sep}p.txt"],
         stdout=[BANNER, "loading {dir}{sep}p.txt", "loading source file: {dir}{sep}f.bin",
                 "saving {dir}{sep}f.bin", "Everything is ok!"],
         expect={"f.bin": SOURCE}),
    run("an existing target is replaced whole", HEADER, [BANNER] + LOADING + SAVED,
        files={"out.bin": b"old content that is longer than the source"}),
    run("a missing targetfile key", "sourcefile=src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt", "ERROR: no target file specified"], rc=1),
    run("an empty targetfile value counts as missing", "targetfile=\nsourcefile=src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt", "ERROR: no target file specified"], rc=1),
    run("blanks around the = hide the key", "targetfile = out.bin\nsourcefile=src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt", "ERROR: no target file specified"], rc=1),
    run("a blank after the = belongs to the value",
        "targetfile= out.bin\nsourcefile=src.bin\n",
        [BANNER] + LOADING + ["saving {dir}{sep} out.bin", "Everything is ok!"],
        expect={" out.bin": SOURCE, "out.bin": None}),
    run("keys in mixed letter case are found", "TargetFile=out.bin\nSOURCEFILE=src.bin\n",
        [BANNER] + LOADING + SAVED),
    run("a targetfile line inside a block before the top-level one wins",
        "<patch>\ntargetfile=first.bin\nname=n\nenabled=no\n</patch>\n"
        "targetfile=out.bin\nsourcefile=src.bin\n",
        [BANNER] + LOADING + ["1: (regular patch) n", "  skipped",
                              "saving {dir}{sep}first.bin", "Everything is ok!"],
        expect={"first.bin": SOURCE, "out.bin": None}),
    run("the target's folders are created, outermost first",
        "targetfile=a/b/c/out.bin\nsourcefile=src.bin\n",
        [BANNER] + LOADING + ["saving {dir}{sep}a{sep}b{sep}c{sep}out.bin", "Everything is ok!"],
        expect={"a/b/c/out.bin": SOURCE, "out.bin": None}),
    run("a target folder that cannot be created",
        "targetfile=f/x/out.bin\nsourcefile=src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt",
         "cannot create target directory for: {dir}{sep}f{sep}x{sep}out.bin"],
        rc=1, files={"f": b"a file, not a folder"}),
    run("a missing sourcefile key stops after the target folder was made",
        "targetfile=made/out.bin\n",
        [BANNER, "loading {dir}{sep}p.txt", "ERROR: no source file specified"], rc=1,
        check=folder_exists("made")),
    run("a missing source file stops after the target folder was made",
        "targetfile=made/out.bin\nsourcefile=gone.bin\n",
        [BANNER, "loading {dir}{sep}p.txt", "ERROR: cannot find {dir}{sep}gone.bin"], rc=1,
        check=folder_exists("made")),
    run("a relative sourcefile climbing out with .. is taken from the patch file's folder",
        "targetfile=out.bin\nsourcefile=x/../d/./src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt", "loading source file: {dir}{sep}d{sep}src.bin"] + SAVED,
        files={"d/src.bin": SOURCE}),
    Case("names in the patch file are taken from its folder, climbing out with ..",
         files={"pf/p.txt": "targetfile=..\\out.bin\nsourcefile=../src.bin\n", "src.bin": SOURCE},
         args=["{dir}{sep}pf{sep}p.txt"],
         stdout=[BANNER, "loading {dir}{sep}pf{sep}p.txt", "loading source file: {dir}{sep}src.bin",
                 "saving {dir}{sep}out.bin", "Everything is ok!"],
         expect={"out.bin": SOURCE}),
    run("an absolute sourcefile is used as written",
        "targetfile=out.bin\nsourcefile={dir}{sep}d{sep}..{sep}src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt",
         "loading source file: {dir}{sep}d{sep}..{sep}src.bin"] + SAVED,
        files={"d": None}),
    run("backslashes in file names are folder separators",
        "targetfile=t\\out.bin\nsourcefile=.\\src.bin\n",
        [BANNER] + LOADING + ["saving {dir}{sep}t{sep}out.bin", "Everything is ok!"],
        expect={"t/out.bin": SOURCE, "out.bin": None}),

    # ---- The patch file's text ----
    run("CR, LF and CR LF line ends", "targetfile=out.bin\rsourcefile=src.bin\r\n" + SKIPPED_BLOCK,
        [BANNER] + LOADING + ["3: (regular patch) n", "  skipped"] + SAVED),
    run("LF CR ends two lines (the empty one counts)",
        "targetfile=out.bin\n\rsourcefile=src.bin\n\r<patch>\nname=n\nenabled=false\n</patch>",
        [BANNER] + LOADING + ["5: (regular patch) n", "  skipped"] + SAVED),
    run("a UTF-8 byte-order mark is not part of the first key",
        "\xef\xbb\xbftargetfile=out.bin\nsourcefile=src.bin\n", [BANNER] + LOADING + SAVED),
    run("a first line of just the mark keeps its last byte and is ignored",
        "\xef\xbb\xbf\ntargetfile=out.bin\nsourcefile=src.bin\n", [BANNER] + LOADING + SAVED),
    run("a zero byte ends the text", HEADER + "\x00" + "<patch>\n<patch>\n",
        [BANNER] + LOADING + SAVED),
    run("UTF-16 text ends at its first zero byte",
        "t\x00a\x00r\x00g\x00e\x00t\x00f\x00i\x00l\x00e\x00=\x00o\x00\n\x00",
        [BANNER, "loading {dir}{sep}p.txt", "ERROR: no target file specified"], rc=1),
    run("indented lines and tags read as if not indented",
        "  \ttargetfile=out.bin\n\t sourcefile=src.bin\n  <PATCH>\n\tname=n\n  enabled=x\n\t</Patch>\n",
        [BANNER] + LOADING + ["3: (regular patch) n", "  skipped"] + SAVED),
    run("a tag followed by a blank is an ordinary line",
        HEADER + "<patch>\nname=n\nenabled=false\n</patch> \n",
        [BANNER] + LOADING + SAVED),
    run("an unfinished block at the end is dropped silently",
        HEADER + "<patch>\nname=n\nenabled=true\naction=replace_string\n",
        [BANNER] + LOADING + SAVED),
    run("two opening tags in a row", HEADER + "\n<patch>\n<patch>\n</patch>\n",
        [BANNER] + LOADING + ["ERROR: unexpected tag <patch> in line 5"], rc=1),
    run("a closing tag before any opening tag", HEADER + "text\n</patch>\n",
        [BANNER] + LOADING + ["ERROR: unexpected tag </patch> in line 4"], rc=1),
    run("a block of neither style", HEADER + "\n<patch>\nsomething=else\n</patch>\n",
        [BANNER] + LOADING + ["ERROR: 4: There is a problem. Check the first lines of this patch!"],
        rc=1),
    run("an empty enabled value with name and patch_name makes a zq block",
        HEADER + "<patch>\nenabled=\nname=n\npatch_name = zq\n</patch>\n",
        [BANNER] + LOADING + ["3: (zq-style patch)  zq", "  skipped"] + SAVED),
    run("enabled=false still makes a block regular",
        HEADER + SKIPPED_BLOCK + "<patch>\npatch_name =z\n</patch>\n",
        [BANNER] + LOADING + ["3: (regular patch) n", "  skipped",
                              "7: (zq-style patch) z", "  skipped"] + SAVED),
    run("patch_name without the blank before = is neither style",
        HEADER + "<patch>\npatch_name=z\n</patch>\n",
        [BANNER] + LOADING + ["ERROR: 3: There is a problem. Check the first lines of this patch!"],
        rc=1),
    run("text outside blocks is a comment", "comment line\n" + HEADER + "name=x\nenabled=true\n",
        [BANNER] + LOADING + SAVED),

    # ---- Verbatim ----
    run("verbatim echoes every line, the failing one before its error, none after",
        "targetfile=out.bin\nsourcefile=src.bin\n\n</patch>\nafter\n",
        [BANNER] + LOADING + [">>>1:targetfile=out.bin", ">>>2:sourcefile=src.bin", ">>>3:",
                              ">>>4:</patch>", "ERROR: unexpected tag </patch> in line 4"],
        rc=1, args=["verbatim=TRUE"]),
    run("verbatim shows the lines as trimmed",
        HEADER + "  <patch>\n\tname=n\nenabled=no \n</patch>\n",
        [BANNER] + LOADING + [">>>1:targetfile=out.bin", ">>>2:sourcefile=src.bin",
                              ">>>3:<patch>", ">>>4:name=n", ">>>5:enabled=no ", ">>>6:</patch>",
                              "3: (regular patch) n", "  skipped"] + SAVED,
        args=["verbatim=true"]),

    # ---- Files as the user has them ----
    run("an existing target keeps its permission bits", HEADER, [BANNER] + LOADING + SAVED,
        files={"out.bin": b"old"}, setup=make_mode("out.bin", 0o640),
        check=mode_is("out.bin", 0o640), platforms=["posix"]),
    run("a new target gets the permissions of any new file", HEADER, [BANNER] + LOADING + SAVED,
        check=mode_is("out.bin", 0o666 & ~current_umask()), platforms=["posix"]),
    run("a target that is a link: the linked file is replaced, the link kept",
        HEADER, [BANNER] + LOADING + SAVED, target=None,
        files={"real.bin": b"old"}, setup=make_link("out.bin", "real.bin"),
        expect={"out.bin": SOURCE}, check=link_kept("out.bin", "real.bin", SOURCE),
        platforms=["posix"]),

    # ---- Run-time failures ----
    run("a target that is a folder is refused before anything is written, the folder untouched",
        HEADER, [BANNER, "loading {dir}{sep}p.txt"], rc=1,
        files={"out.bin": None, "out.bin/keep": b"k"}, expect={"out.bin/keep": b"k", "out.bin": ...},
        stderr="hexmend: not a regular file: {dir}{sep}out.bin"),
    run("a path beyond the platform's limit is a run-time failure",
        "targetfile=" + "x" * 5000 + "\nsourcefile=src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt"], rc=1, stderr="hexmend: path too long",
        platforms=["posix"]),
    run("a failed write to standard output is a run-time failure", HEADER, None, rc=1,
        stdout_to="/dev/full", stderr="hexmend: cannot write to standard output: ",
        platforms=["posix"]),

    # ---- The ERROR: prefix on a terminal ----
    run("on a terminal ERROR: is bright yellow",
        "sourcefile=src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt", "\x1b[93mERROR:\x1b[0m no target file specified"],
        rc=1, stdout_to="tty", platforms=["posix"]),
    run("NO_COLOR keeps the terminal output plain",
        "sourcefile=src.bin\n",
        [BANNER, "loading {dir}{sep}p.txt", "ERROR: no target file specified"],
        rc=1, stdout_to="tty", env={"NO_COLOR": "1"}, platforms=["posix"]),
]
