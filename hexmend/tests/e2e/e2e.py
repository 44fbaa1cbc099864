#!/usr/bin/env python3
"""End-to-end tests for hexmend: run the real program on real files.

Each case lays out files in a fresh temporary folder, runs the program and
compares its standard output, exit code and the resulting files exactly.

    e2e.py --program PATH [--platform posix|windows] [--wrapper CMD]
           [--helper PATH] CASEFILE...

The Windows build runs under an emulator (--wrapper wine) and brings a helper
program (--helper, windows_helper.cpp) that cases have hold files open while
the program runs. Under CTest one wine server serves the whole run
(wine_prefix.sh).

A case file is a Python module with a list CASES of Case objects. Text in
file contents, arguments and expected output may use the placeholders {dir}
(the case's folder in the program's own path form, without a trailing
separator), {sep} (the program's folder separator), and in arguments and
expected output {progdir} (the program's folder) and {fromprog} (the case's
folder relative to the program's folder). Expected output is a
list of lines; the runner adds the platform's line ends.
"""

import argparse
import importlib.util
import os
import shlex
import shutil
import subprocess
import sys
import tempfile


class Platform:
    """How the program under test sees paths and lines."""

    def __init__(self, name):
        self.name = name
        self.windows = name == "windows"
        self.sep = "\\" if self.windows else "/"
        self.line_end = b"\r\n" if self.windows else b"\n"

    def render(self, host_path):
        """A path of this machine as the program under test writes it."""
        if self.windows:
            return "Z:" + host_path.replace("/", "\\")
        return host_path


def substitute(text, platform, folder, program=None):
    text = text.replace("{dir}", platform.render(folder)).replace("{sep}", platform.sep)
    if program is not None:
        progdir = os.path.dirname(program)
        rel = os.path.relpath(folder, progdir).replace("/", platform.sep)
        text = text.replace("{progdir}", platform.render(progdir)).replace("{fromprog}", rel)
    return text


class Case:
    """One run of the program.

    files:   {relative path: bytes (taken as is) or str (placeholders filled,
             encoded as Latin-1)}; a value of None makes a folder.
    args:    command-line arguments after the program (placeholders filled).
    stdout:  expected lines, or None to skip the check.
    rc:      expected exit code.
    expect:  {relative path: expected bytes, None for "must not exist", or
             ... for "not checked"}.
    stderr:  a text that standard error must contain, or "" for "must be empty".
    env:     extra environment variables.
    setup / check: optional callables taking the case folder, for what the
             fields above cannot say.
    stdout_to: a file (taken in the case's folder) to send standard output to
             instead of a pipe (stdout is then not checked); "tty" runs the
             program on a pseudo-terminal.
    stdout_filter: a callable applied to the captured standard output (bytes)
             before it is compared.
    holds:   [(relative path, "read" or "write")]: files the helper holds open
             while the program runs (Windows build only).
    copy_program: a folder of the case to copy the program into and run it
             from; {progdir} is then that folder.
    preexec: a callable run in the child just before the program starts (to
             change its user or its limits).
    during:  a callable taking the running process and the case folder, called
             while the program runs (to send it a signal).
    needs_root: the case is skipped, and says so, unless the tests run as root.
    runnable: a callable that returns None when the case can run here, or
             why it cannot (the case is then skipped, saying so).
    timeout: seconds the program may run.
    """

    def __init__(self, name, files=None, args=None, stdout=None, rc=0, expect=None,
                 stderr="", env=None, cwd=None, setup=None, check=None, platforms=None,
                 stdout_to=None, stdout_filter=None, holds=None, copy_program=None,
                 preexec=None, during=None, needs_root=False, timeout=600, runnable=None):
        self.name = name
        self.files = files or {}
        self.args = args if args is not None else []
        self.stdout = stdout
        self.rc = rc
        self.expect = expect or {}
        self.stderr = stderr
        self.env = env or {}
        self.cwd = cwd
        self.setup = setup
        self.check = check
        self.platforms = platforms
        self.stdout_to = stdout_to
        self.stdout_filter = stdout_filter
        self.holds = holds or []
        self.copy_program = copy_program
        self.preexec = preexec
        self.during = during
        self.needs_root = needs_root
        self.runnable = runnable
        self.timeout = timeout

    def run(self, program, platform, wrapper, helper=None):
        folder = tempfile.mkdtemp(prefix="hexmend-e2e-")
        try:
            return self._run_in(folder, program, platform, wrapper, helper)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def _run_in(self, folder, program, platform, wrapper, helper):
        for rel, content in self.files.items():
            path = os.path.join(folder, rel)
            if content is None:
                os.makedirs(path, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if isinstance(content, str):
                content = substitute(content, platform, folder).encode("latin-1")
            with open(path, "wb") as f:
                f.write(content)
        if self.copy_program:
            copy = os.path.join(folder, self.copy_program, os.path.basename(program))
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copy2(program, copy)
            program = copy
        if self.setup:
            self.setup(folder)
        args = [substitute(a, platform, folder, program) for a in self.args]
        env = dict(os.environ)
        env.pop("NO_COLOR", None)
        env.update(self.env)
        cwd = os.path.join(folder, self.cwd) if self.cwd else folder
        problems = []
        holders = []
        try:
            for rel, mode in self.holds:
                if not helper:
                    return ["holds files open, but no --helper was given"]
                holder, problem = hold_file(wrapper, helper, mode,
                                            platform.render(os.path.join(folder, rel)))
                if problem:
                    return [problem]
                holders.append(holder)
            stdout_to = self.stdout_to
            if stdout_to and stdout_to != "tty":
                stdout_to = os.path.join(folder, stdout_to)
            proc = run_program(wrapper + [program] + args, cwd, env, stdout_to,
                               preexec=self.preexec, timeout=self.timeout,
                               during=(lambda p: self.during(p, folder)) if self.during else None)
        finally:
            for holder in holders:
                holder.stdin.close()
                holder.wait(timeout=600)
        if self.stdout_filter and proc.stdout is not None:
            proc.stdout = self.stdout_filter(proc.stdout)
        if proc.returncode != self.rc:
            problems.append("exit code %d, expected %d" % (proc.returncode, self.rc))
        if self.stdout is not None and proc.stdout is not None:
            want = b"".join(substitute(line, platform, folder, program).encode("latin-1")
                            + platform.line_end
                            for line in self.stdout)
            if proc.stdout != want:
                problems.append("stdout differs:\n--- expected\n%s\n--- actual\n%s" % (
                    want.decode("latin-1"), proc.stdout.decode("latin-1")))
        err = proc.stderr.decode("latin-1")
        if self.stderr == "" and err:
            problems.append("unexpected stderr: %r" % err)
        elif self.stderr and substitute(self.stderr, platform, folder) not in err:
            problems.append("stderr lacks %r: %r" % (self.stderr, err))
        for rel, content in self.expect.items():
            path = os.path.join(folder, rel)
            if content is ...:
                continue
            if content is None:
                if os.path.exists(path):
                    problems.append("%s exists but must not" % rel)
                continue
            if not os.path.isfile(path):
                problems.append("%s is missing" % rel)
                continue
            with open(path, "rb") as f:
                got = f.read()
            if got != content:
                problems.append("%s differs: %r... (%d bytes), expected %r... (%d bytes)" % (
                    rel, got[:64], len(got), content[:64], len(content)))
        for root, _, names in os.walk(folder):
            for n in names:
                if n.startswith(".hexmend-"):
                    problems.append("temporary file left behind: %s" % os.path.join(root, n))
                elif n.endswith(".hexmend-journal"):
                    problems.append("journal left behind: %s" % os.path.join(root, n))
        if self.check:
            problem = self.check(folder)
            if problem:
                problems.append(problem)
        return problems


def run_program(command, cwd, env, stdout_to, preexec=None, timeout=600, during=None):
    for _ in range(3):
        proc, wrote = run_once(command, cwd, env, stdout_to, preexec, timeout, during)
        if not started_nothing(command, proc, wrote):
            break
        print("note: wine did not start %s (exit code %d, no output); made again"
              % (os.path.basename(command[1]), proc.returncode), file=sys.stderr)
    return proc


def run_once(command, cwd, env, stdout_to, preexec, timeout, during):
    """One run; returns it and whether it wrote anything to standard output."""
    if during:
        proc = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                preexec_fn=preexec)
        try:
            during(proc)
            out, err = proc.communicate(timeout=timeout)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        return subprocess.CompletedProcess(command, proc.returncode, out, err), bool(out)
    if stdout_to == "tty":
        import pty
        import select
        master, slave = pty.openpty()
        proc = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=slave, stderr=subprocess.PIPE)
        # The slave stays open here until the program has ended and its
        # output is read: once the last slave closes, the system may report
        # the master as hung up before it hands over the last bytes written.
        chunks = []
        ended_quiet = 0
        while ended_quiet < 5:
            readable, _, _ = select.select([master], [], [], 0.1)
            if readable:
                chunks.append(os.read(master, 65536))
                ended_quiet = 0
            elif proc.poll() is not None:
                ended_quiet += 1
        os.close(slave)
        os.close(master)
        err = proc.stderr.read()
        proc.wait(timeout=600)
        # The terminal turns each line end into CR LF.
        out = b"".join(chunks).replace(b"\r\n", b"\n")
        return subprocess.CompletedProcess(command, proc.returncode, out, err), bool(out)
    if stdout_to:
        with open(stdout_to, "wb") as sink:
            proc = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                  stdout=sink, stderr=subprocess.PIPE, timeout=600)
        wrote = os.path.getsize(stdout_to) > 0
        return subprocess.CompletedProcess(command, proc.returncode, None, proc.stderr), wrote
    proc = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout, preexec_fn=preexec)
    return proc, bool(proc.stdout)


def started_nothing(command, proc, wrote):
    """True when wine failed to start the program at all. Both programs
    write something on every run (hexmend its banner first), so a failure
    without a byte of output is wine's, which a loaded machine sometimes
    shows; the run is then made again."""
    return (os.path.basename(command[0]) == "wine" and proc.returncode != 0 and not wrote
            and not proc.stderr)


def hold_file(wrapper, helper, mode, path):
    """Starts the helper holding path open; returns it once the file is open."""
    holder = subprocess.Popen(wrapper + [helper, "hold", mode, path], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if holder.stdout.readline().strip() != b"ready":
        holder.stdin.close()
        err = holder.stderr.read().decode("latin-1")
        holder.wait(timeout=600)
        return None, "the helper could not hold %s open: %s" % (path, err)
    return holder, None


# ---- Helpers for the common shape: p.txt patches src.bin into out.bin ----

HEADER = "targetfile=out.bin\nsourcefile=src.bin\n"


def patch_case(name, blocks, source, report, target=None, rc=None, header=HEADER,
               extra_args=(), **kwargs):
    """A run of p.txt (header + blocks) over src.bin.

    report: the lines the blocks report. With target given the run must
    succeed and write it to out.bin; without, it must fail and write nothing.
    """
    ok = target is not None
    lines = ["hexmend 0.3", "loading {dir}{sep}p.txt", "loading source file: {dir}{sep}src.bin"]
    lines += report
    if ok:
        lines += ["saving {dir}{sep}out.bin", "Everything is ok!"]
    files = {"p.txt": header + blocks, "src.bin": source}
    files.update(kwargs.pop("files", {}))
    return Case(name, files=files, args=["{dir}{sep}p.txt"] + list(extra_args), stdout=lines,
                rc=(0 if ok else 1) if rc is None else rc,
                expect={"out.bin": target, **kwargs.pop("expect", {})}, **kwargs)


def load_cases(path):
    spec = importlib.util.spec_from_file_location(os.path.splitext(os.path.basename(path))[0], path)
    module = importlib.util.module_from_spec(spec)
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    spec.loader.exec_module(module)
    return module.CASES


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--platform", choices=["posix", "windows"], default="posix")
    parser.add_argument("--wrapper", default="", help="command that runs the program (e.g. wine)")
    parser.add_argument("--helper", default="", help="the Windows build's windows_helper.exe")
    parser.add_argument("-k", dest="pattern", default="", help="run only cases whose name has this")
    parser.add_argument("casefiles", nargs="+")
    opts = parser.parse_args()
    platform = Platform(opts.platform)
    wrapper = shlex.split(opts.wrapper)
    helper = os.path.abspath(opts.helper) if opts.helper else None
    passed, failed = run_cases(opts, platform, wrapper, helper)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


def run_cases(opts, platform, wrapper, helper):
    passed = failed = 0
    for casefile in opts.casefiles:
        for case in load_cases(casefile):
            if opts.pattern not in case.name:
                continue
            if case.platforms and platform.name not in case.platforms:
                continue
            if case.needs_root and os.geteuid() != 0:
                print("skip %s (needs root)" % case.name)
                continue
            why_not = case.runnable() if case.runnable else None
            if why_not:
                print("skip %s (%s)" % (case.name, why_not))
                continue
            try:
                problems = case.run(os.path.abspath(opts.program), platform, wrapper, helper)
            except subprocess.TimeoutExpired:
                problems = ["still running after %d seconds" % case.timeout]
            if problems:
                failed += 1
                print("FAIL %s" % case.name)
                for p in problems:
                    print("    " + p.replace("\n", "\n    "))
            else:
                passed += 1
                print("ok   %s" % case.name)
    return passed, failed


if __name__ == "__main__":
    sys.exit(main())
