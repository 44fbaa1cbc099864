"""Files as an administrator meets them (POSIX): special files as target or
input, symbolic links that lead nowhere or in a circle, owners, groups and
access control lists, requests to end the run (signals) and the file-size
limit. Cases that need root say so and are skipped otherwise."""

import grp
import os
import pwd
import resource
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import time

from e2e import Case, HEADER

BANNER = "hexmend 0.3"
LOADING = ["loading {dir}/p.txt", "loading source file: {dir}/src.bin"]
SAVED = ["saving {dir}/out.bin", "Everything is ok!"]
SOURCE = b"\x00\x01source bytes\xff\r\n"
POSIX = ["posix"]
# A case that has to wait on a pipe fails in this time instead of hanging.
QUICK = 30


def posix(name, **kwargs):
    kwargs.setdefault("platforms", POSIX)
    kwargs.setdefault("timeout", QUICK)
    return Case(name, **kwargs)


def run(name, patch=HEADER, stdout=None, rc=0, args=(), **kwargs):
    """p.txt over src.bin into out.bin."""
    files = {"p.txt": patch, "src.bin": SOURCE}
    files.update(kwargs.pop("files", {}))
    return posix(name, files=files, args=["{dir}/p.txt"] + list(args), stdout=stdout, rc=rc,
                 **kwargs)


def refused(rel):
    return "hexmend: not a regular file: {dir}/" + rel


# ---- Making special files in the case's folder ----

def steps(*actions):
    def setup(folder):
        for action in actions:
            action(folder)
    return setup


def fifo(rel):
    return lambda folder: os.mkfifo(os.path.join(folder, rel))


def unix_socket(rel):
    def make(folder):
        with socket.socket(socket.AF_UNIX) as s:
            s.bind(os.path.join(folder, rel))
    return make


def node(rel, major, minor):
    """A character device node (needs root), never one of the real /dev."""
    return lambda folder: os.mknod(os.path.join(folder, rel), stat.S_IFCHR | 0o666,
                                   os.makedev(major, minor))


def link(rel, to):
    return lambda folder: os.symlink(to.replace("{dir}", folder), os.path.join(folder, rel))


def is_kind(rel, test, what):
    def check(folder):
        st = os.lstat(os.path.join(folder, rel))
        if not test(st.st_mode):
            return "%s is no longer %s" % (rel, what)
    return check


def checks(*tests):
    def check(folder):
        for test in tests:
            problem = test(folder)
            if problem:
                return problem
    return check


def links_kept(*pairs):
    def check(folder):
        for rel, to in pairs:
            path = os.path.join(folder, rel)
            if not os.path.islink(path) or os.readlink(path) != to.replace("{dir}", folder):
                return "%s is no longer a link to %s" % (rel, to)
    return check


# ---- Owners, groups, attributes ----

NOBODY = pwd.getpwnam("nobody")
NOGROUP = NOBODY.pw_gid
USERS = grp.getgrnam("users").gr_gid


def own(rel, uid, gid, mode):
    def setup(folder):
        path = os.path.join(folder, rel)
        os.chown(path, uid, gid)
        os.chmod(path, mode)
    return setup


def owned(rel, uid, gid, mode):
    def check(folder):
        st = os.stat(os.path.join(folder, rel))
        got = (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode))
        if got != (uid, gid, mode):
            return "%s has owner, group, mode %d, %d, %o; expected %d, %d, %o" % (
                (rel,) + got + (uid, gid, mode))
    return check


def as_nobody(groups):
    """Runs the program as nobody, with groups as its supplementary groups."""
    def preexec():
        os.setgroups(groups)
        os.setgid(NOGROUP)
        os.setuid(NOBODY.pw_uid)
    return preexec


def nobody_can_run():
    """None when nobody can start a program in the temporary folder; where the
    machine's top folder is private (a bare chroot) nobody can start none."""
    temp = tempfile.gettempdir()
    if os.stat(temp).st_mode & 0o001 == 0:
        return "the user nobody cannot enter %s" % temp
    try:
        subprocess.run(["true"], preexec_fn=as_nobody([]), check=True, timeout=QUICK)
    except (OSError, subprocess.SubprocessError) as error:
        return "the user nobody cannot start programs here: %s" % error
    return None


def for_nobody(folder):
    """The case's folder and the program's copy in it open to nobody (the
    build's own program may lie in a folder nobody cannot enter)."""
    os.chown(folder, NOBODY.pw_uid, NOGROUP)
    os.chmod(folder, 0o755)


SAVED_ATTRIBUTES = {}


def attributes(path):
    return {name: os.getxattr(path, name) for name in sorted(os.listxattr(path))}


def with_acl_and_attribute(rel):
    def setup(folder):
        path = os.path.join(folder, rel)
        if shutil.which("setfacl") is None:
            raise RuntimeError("setfacl is missing: scripts/install-deps.sh installs it")
        subprocess.run(["setfacl", "-m", "u:nobody:r,g:users:rw", path], check=True)
        os.setxattr(path, "user.origin", b"firmware 2.1")
        SAVED_ATTRIBUTES[folder] = attributes(path)
    return setup


def same_attributes(rel):
    def check(folder):
        before = SAVED_ATTRIBUTES.pop(folder)
        after = attributes(os.path.join(folder, rel))
        if "system.posix_acl_access" not in before or after != before:
            return "extended attributes %r, expected %r" % (after, before)
    return check


# ---- Requests to end the run ----

def sparse(rel, size):
    def make(folder):
        with open(os.path.join(folder, rel), "wb") as f:
            f.truncate(size)
    return make


def filled(rel, size, byte):
    def make(folder):
        with open(os.path.join(folder, rel), "wb") as f:
            chunk = byte * (1 << 20)
            for _ in range(size >> 20):
                f.write(chunk)
    return make


def default_handling():
    """The program starts as from a terminal, whatever this runner ignores."""
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, signal.SIG_DFL)


def signal_when(appears, number, delay=0.0):
    """Sends number delay seconds after a file whose name starts with appears
    shows up in the case's folder: the run is then writing (a 256 MiB copy
    and its sync take a good tenth of a second even on a fast disk)."""
    def during(proc, folder):
        deadline = time.monotonic() + QUICK
        while time.monotonic() < deadline and proc.poll() is None:
            if any(name.startswith(appears) for name in os.listdir(folder)):
                time.sleep(delay)
                proc.send_signal(number)
                return
            time.sleep(0.001)
    return during


def absent(rel):
    def check(folder):
        if os.path.lexists(os.path.join(folder, rel)):
            return "%s was left behind" % rel
    return check


def zeros(rel, size):
    def check(folder):
        with open(os.path.join(folder, rel), "rb") as f:
            data = f.read()
        if len(data) != size or data.count(0) != size:
            return "%s is not its old self (%d bytes)" % (rel, len(data))
    return check


def limit_file_size(size):
    def preexec():
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return preexec


BIG = 256 << 20
INPLACE = 64 << 20
PROC = "/proc/version"


def proc_content():
    with open(PROC, "rb") as f:
        return f.read()


def regular(name, action, position, old, new):
    return ("<patch>\nname=%s\nenabled=true\naction=%s\nposition=%s\nolddata=%s\nnewdata=%s\n"
            "</patch>\n" % (name, action, position, old, new))


CASES = [
    # ---- Special files as target: refused before anything is written ----
    run("a pipe as target is refused and stays a pipe", stdout=[BANNER, "loading {dir}/p.txt"],
        rc=1, stderr=refused("out.bin"), setup=fifo("out.bin"),
        check=is_kind("out.bin", stat.S_ISFIFO, "a pipe")),
    run("a socket as target is refused and stays a socket", stdout=[BANNER, "loading {dir}/p.txt"],
        rc=1, stderr=refused("out.bin"), setup=unix_socket("out.bin"),
        check=is_kind("out.bin", stat.S_ISSOCK, "a socket")),
    run("a device node as target is refused and stays the node",
        stdout=[BANNER, "loading {dir}/p.txt"], rc=1, stderr=refused("out.bin"),
        setup=node("out.bin", 1, 7), check=is_kind("out.bin", stat.S_ISCHR, "a device node"),
        needs_root=True),
    run("a link to a pipe is refused in check mode too, named as the target",
        stdout=[BANNER, "loading {dir}/p.txt"], rc=1, args=["check=true"],
        stderr=refused("out.bin"), setup=steps(fifo("pipe"), link("out.bin", "pipe")),
        check=is_kind("pipe", stat.S_ISFIFO, "a pipe")),

    # ---- Links that lead nowhere or in a circle ----
    run("a link to a file not yet there creates it, with its folders, and stays a link",
        stdout=[BANNER] + LOADING + SAVED, setup=link("out.bin", "made/deeper/real.bin"),
        expect={"made/deeper/real.bin": SOURCE, "out.bin": SOURCE},
        check=links_kept(("out.bin", "made/deeper/real.bin"))),
    run("a chain of links ending nowhere creates the file at its end",
        stdout=[BANNER] + LOADING + SAVED,
        setup=steps(link("out.bin", "second"), link("second", "{dir}/real.bin")),
        expect={"real.bin": SOURCE},
        check=links_kept(("out.bin", "second"), ("second", "{dir}/real.bin"))),
    run("a loop of links is a run-time failure naming it",
        stdout=[BANNER, "loading {dir}/p.txt"], rc=1,
        stderr="hexmend: cannot follow {dir}/out.bin: Too many levels of symbolic links",
        setup=steps(link("out.bin", "second"), link("second", "out.bin")),
        check=links_kept(("out.bin", "second"), ("second", "out.bin"))),

    # ---- Inputs that are not regular files ----
    posix("a pipe as source is refused at once", files={"p.txt": HEADER},
          args=["{dir}/p.txt"], stdout=[BANNER] + LOADING, rc=1, stderr=refused("src.bin"),
          setup=fifo("src.bin"), expect={"out.bin": None}),
    posix("a pipe as patch file is refused at once", args=["{dir}/p.txt"],
          stdout=[BANNER, "loading {dir}/p.txt"], rc=1, stderr=refused("p.txt"),
          setup=fifo("p.txt")),
    run("a pipe as replace_file is refused at once",
        HEADER + regular("from a pipe", "replace_file", "0", "DONOTCHECK", "pipe"),
        stdout=[BANNER] + LOADING + ["3: (regular patch) from a pipe", "  processing ..."], rc=1,
        stderr=refused("pipe"), setup=fifo("pipe"), expect={"out.bin": None}),
    run("a device node as source is refused", stdout=[BANNER] + LOADING, rc=1,
        stderr=refused("src.bin"),
        setup=steps(lambda folder: os.remove(os.path.join(folder, "src.bin")),
                    node("src.bin", 1, 5)),
        expect={"out.bin": None}, needs_root=True),
    run("a file under /proc as source is read to its end, though its size says 0",
        "targetfile=out.bin\nsourcefile=" + PROC + "\n",
        stdout=[BANNER, "loading {dir}/p.txt", "loading source file: " + PROC] + SAVED,
        check=lambda folder: None if open(os.path.join(folder, "out.bin"), "rb").read() ==
        proc_content() else "out.bin does not hold " + PROC),
    run("a file under /proc as replace_file is read to its end",
        HEADER + regular("from proc", "replace_file", "0", "DONOTCHECK", PROC),
        stdout=[BANNER] + LOADING + ["3: (regular patch) from proc", "  processing ..."] + SAVED,
        files={"src.bin": b"." * 4096},
        expect={"out.bin": proc_content() + b"." * (4096 - len(proc_content()))}),

    # ---- Owners, groups and attributes of a replaced target ----
    run("root keeps another user's target theirs, set-id bits included",
        stdout=[BANNER] + LOADING + SAVED, files={"out.bin": b"old"},
        setup=own("out.bin", NOBODY.pw_uid, NOGROUP, 0o6750),
        expect={"out.bin": SOURCE}, check=owned("out.bin", NOBODY.pw_uid, NOGROUP, 0o6750),
        needs_root=True),
    run("access control lists and extended attributes are kept",
        stdout=[BANNER] + LOADING + SAVED, files={"out.bin": b"old"},
        setup=with_acl_and_attribute("out.bin"), expect={"out.bin": SOURCE},
        check=same_attributes("out.bin")),
    run("a user keeps the target's group when it is one of theirs",
        stdout=[BANNER] + LOADING + SAVED, files={"out.bin": b"old"},
        setup=steps(for_nobody, own("out.bin", NOBODY.pw_uid, USERS, 0o640)),
        preexec=as_nobody([USERS]), expect={"out.bin": SOURCE}, copy_program="bin",
        runnable=nobody_can_run,
        check=owned("out.bin", NOBODY.pw_uid, USERS, 0o640), needs_root=True),
    run("a group that is not the user's is not kept, and the run goes on",
        stdout=[BANNER] + LOADING + SAVED, files={"out.bin": b"old"},
        setup=steps(for_nobody, own("out.bin", NOBODY.pw_uid, 0, 0o640)),
        preexec=as_nobody([]), expect={"out.bin": SOURCE}, copy_program="bin",
        runnable=nobody_can_run,
        check=owned("out.bin", NOBODY.pw_uid, NOGROUP, 0o640), needs_root=True),
]

# ---- Requests to end the run: it removes what it wrote and ends by them ----
# At once, as the temporary file is made, and a moment later, while it is
# filled.
for number, delay in ((signal.SIGINT, 0.0), (signal.SIGTERM, 0.02), (signal.SIGHUP, 0.02)):
    CASES.append(run(
        "%s while the new target is written: no temporary, the target old" % number.name,
        stdout=[BANNER] + LOADING + ["saving {dir}/out.bin"], rc=-number,
        files={"out.bin": b"old", "src.bin": b""}, setup=sparse("src.bin", BIG),
        preexec=default_handling, during=signal_when(".hexmend-", number, delay),
        expect={"out.bin": b"old"}))

CASES += [
    posix("SIGTERM while an in-place run writes: the file old, no journal",
          files={"p.txt": "targetfile=f.bin\nsourcefile=f.bin\n" +
                 regular("big", "replace_file", "0", "DONOTCHECK", "new.bin")},
          args=["{dir}/p.txt", "inplace=true"],
          stdout=[BANNER, "loading {dir}/p.txt", "loading source file: {dir}/f.bin",
                  "3: (regular patch) big", "  processing ...", "saving {dir}/f.bin"],
          rc=-signal.SIGTERM, setup=steps(sparse("f.bin", INPLACE),
                                          filled("new.bin", INPLACE, b"\xab")),
          preexec=default_handling, during=signal_when("f.bin.hexmend-journal", signal.SIGTERM),
          check=checks(zeros("f.bin", INPLACE), absent("f.bin.hexmend-journal"))),
    run("the file-size limit (ulimit -f) fails the write with its reason, no temporary",
        stdout=[BANNER] + LOADING + ["saving {dir}/out.bin"], rc=1,
        files={"src.bin": b""}, setup=sparse("src.bin", 4 << 20),
        preexec=limit_file_size(1 << 20),
        stderr="hexmend: cannot write {dir}/out.bin: File too large", expect={"out.bin": None}),
    posix("the file-size limit stops an in-place run at its last write: the file old, no journal",
          files={"p.txt": "targetfile=f.bin\nsourcefile=f.bin\n" +
                 "".join(regular("p%d" % i, "replace_string", at, "DONOTCHECK", "patched")
                         for i, at in enumerate(("100", "180000", "300000")))},
          args=["{dir}/p.txt", "inplace=true"],
          stdout=[BANNER, "loading {dir}/p.txt", "loading source file: {dir}/f.bin"] +
          [line for i in range(3)
           for line in ("%d: (regular patch) p%d" % (3 + 8 * i, i), "  processing ...")] +
          ["saving {dir}/f.bin"], rc=1, setup=sparse("f.bin", 4 << 20),
          preexec=limit_file_size(3 << 20),
          stderr="hexmend: cannot write {dir}/f.bin: File too large",
          check=checks(zeros("f.bin", 4 << 20), absent("f.bin.hexmend-journal"))),
]
