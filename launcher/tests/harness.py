"""Runs the real launcher, with the stand-in application library, for the
end-to-end tests.

Every test script takes the launcher's path and an optional command prefix
that runs it (for a cross build, the emulator):

    python3 startup_test.py --launcher build/bin/launcher \
        --run-with "qemu-arm -L /"

--run-with defaults to the environment variable OSTRA_RUN_WITH.
"""

import argparse
import os
import resource
import shlex
import subprocess
import sys
import tempfile
import threading
import time

# Exit code that CTest takes as "skipped" (SKIP_RETURN_CODE).
SKIPPED = 77

_LEAK_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")


def argument_parser(description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--launcher", required=True, help="path of the launcher to test")
    parser.add_argument(
        "--run-with",
        default=os.environ.get("OSTRA_RUN_WITH", ""),
        help="command prefix that runs the launcher, e.g. an emulator",
    )
    return parser


class Failure(Exception):
    pass


class Skipped(Exception):
    """A case that cannot run in this build or on this machine; says why."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def run_cases(cases, selected=None):
    """Runs the functions in cases (name -> function), or the one named
    selected, and returns the process exit code: 0 if all passed."""
    names = [selected] if selected else list(cases)
    failed = skipped = 0
    for name in names:
        if name not in cases:
            print(f"unknown case {name!r}; known: {', '.join(cases)}")
            return 2
        try:
            cases[name]()
        except Failure as failure:
            failed += 1
            print(f"FAIL {name}: {failure}")
        except Skipped as reason:
            skipped += 1
            print(f"SKIP {name}: {reason}")
        else:
            print(f"ok   {name}")
    print(f"{len(names) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    if failed:
        return 1
    return SKIPPED if skipped == len(names) else 0


def elf_machine(path):
    """Returns the ELF machine number of the program at path (62 x86-64,
    3 i386, 40 ARM, ...)."""
    with open(path, "rb") as program:
        header = program.read(20)
    byteorder = "little" if header[5] == 1 else "big"
    return int.from_bytes(header[18:20], byteorder)


def traps_on_integer_division_by_zero(path):
    return elf_machine(path) in (3, 62)


def _no_core_files():
    # The crash tests end processes by fatal signals on purpose.
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class Launcher:
    """The launcher under test, run in a clean environment: offscreen
    platform, a private runtime folder, no PLINTH_* control left over from
    the caller, and the sanitizers' own fatal-signal handling off so that the
    launcher's crash handler sees the signals."""

    def __init__(self, args):
        self.path = os.path.abspath(args.launcher)
        self.prefix = shlex.split(args.run_with)
        # The sanitizers the launcher was built with, as CMake's
        # OSTRA_SANITIZE says (e.g. "address,undefined").
        self.sanitizers = os.environ.get("OSTRA_SANITIZE", "").split(",")
        self._runtime = tempfile.TemporaryDirectory(prefix="launcher-runtime-")
        os.chmod(self._runtime.name, 0o700)

    def command(self, arguments=()):
        return self.prefix + [self.path] + list(arguments)

    def host_path(self, path):
        """Where an absolute path of the launcher's own file system is on
        this machine: under an emulator's root (qemu's -L) when that root
        holds it, as the emulator itself looks it up."""
        if "-L" in self.prefix[:-1]:
            rooted = self.prefix[self.prefix.index("-L") + 1] + path
            if os.path.lexists(rooted):
                return rooted
        return path

    def environment(self, controls):
        """The launcher's environment with controls added (None: removed)."""
        env = {k: v for k, v in os.environ.items() if not k.startswith("PLINTH_")}
        env.update(
            QT_QPA_PLATFORM="offscreen",
            XDG_RUNTIME_DIR=self._runtime.name,
            ASAN_OPTIONS="handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
            "handle_abort=0:allow_user_segv_handler=1",
            LSAN_OPTIONS=f"suppressions={_LEAK_SUPPRESSIONS}:print_suppressions=0",
            UBSAN_OPTIONS="print_stacktrace=1",
        )
        env.update(controls)
        return {k: v for k, v in env.items() if v is not None}

    def run(self, controls, arguments=(), timeout=60, cwd=None, wrapper=()):
        """Runs the launcher to its end, through the command prefix wrapper if
        one is given. Returns the CompletedProcess, with stdout and stderr as
        bytes."""
        try:
            return subprocess.run(
                list(wrapper) + self.command(arguments),
                env=self.environment(controls),
                stdin=subprocess.DEVNULL,
                capture_output=True,
                timeout=timeout,
                cwd=cwd,
                preexec_fn=_no_core_files,
            )
        except subprocess.TimeoutExpired as expired:
            raise Failure(f"launcher still running after {timeout} s: {expired.stderr!r}")

    def start(self, controls, arguments=()):
        """Starts the launcher and returns a Run that reads its standard
        error line by line as it comes."""
        process = subprocess.Popen(
            self.command(arguments),
            env=self.environment(controls),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            preexec_fn=_no_core_files,
        )
        return Run(process)


class Run:
    """A running launcher whose standard error lines are kept with the
    moment each was read."""

    def __init__(self, process):
        self.process = process
        self.lines = []  # (seconds since start, line without its end)
        self.duration = None  # seconds from start to end, once ended
        self._start = time.monotonic()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.process.stderr:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            # qemu-user reports the target's fatal signal itself.
            if line.startswith("qemu: uncaught target signal"):
                continue
            self.lines.append((time.monotonic() - self._start, line))

    def wait(self, timeout=60):
        """Waits for the end. Returns the exit status as subprocess gives it
        (negative: killed by that signal)."""
        try:
            self.process.wait(timeout)
            self.duration = time.monotonic() - self._start
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise Failure(f"launcher still running after {timeout} s; stderr: {self.text()}")
        self._reader.join()
        self.process.stdout.close()
        self.process.stderr.close()
        return self.process.returncode

    def text(self):
        return "\n".join(line for _, line in self.lines)

    def time_of(self, text):
        """Returns when the first line equal to text was read, or None."""
        for moment, line in self.lines:
            if line.rstrip() == text:
                return moment
        return None


if __name__ == "__main__":
    sys.exit("harness.py is a module of the launcher tests")
