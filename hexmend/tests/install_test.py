#!/usr/bin/env python3
"""Installs a build into a temporary prefix and checks what lands there.

    install_test.py [--cmake CMAKE] --build DIR [--config CONFIG] --bindir DIR
                    --mandir DIR [--exe-suffix SUFFIX] [--wrapper CMD]
                    --programs NAME...

Runs `cmake --install` into a fresh prefix and checks that exactly the
programs named and their manual pages (section 1) are installed and nothing
else, that the installed hexmend runs, that every page renders without a
warning (groff -man -ww), that the page of hexmend describes every option its
--help lists, and, where man-db is installed, that `man -w` finds the page
through MANPATH.
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, timeout=600, **kwargs)


def check_prefix(opts, prefix):
    """Yields the problems with the installation in prefix."""
    command = [opts.cmake, "--install", opts.build, "--prefix", prefix]
    if opts.config:
        command += ["--config", opts.config]
    proc = run(command)
    if proc.returncode != 0:
        yield "%s failed: %s" % (" ".join(command), proc.stderr.decode(errors="replace"))
        return

    mandir = os.path.join(opts.mandir, "man1")
    expected = {os.path.join(opts.bindir, name + opts.exe_suffix) for name in opts.programs}
    expected |= {os.path.join(mandir, name + ".1") for name in opts.programs}
    installed = {os.path.relpath(os.path.join(root, name), prefix)
                 for root, _, names in os.walk(prefix) for name in names}
    if installed != expected:
        yield "installed %s, expected %s" % (sorted(installed), sorted(expected))
        return

    program = os.path.join(prefix, opts.bindir, "hexmend" + opts.exe_suffix)
    if not os.access(program, os.X_OK):
        yield "%s is not executable" % program
    # Made again when the emulator (wine) failed to start the program: --help
    # always writes.
    for _ in range(3):
        help_text = run(shlex.split(opts.wrapper) + [program, "--help"]).stdout.decode("latin-1")
        if help_text:
            break
    options = re.findall(r"^  (\w+)=true ", help_text, re.MULTILINE)
    if not options:
        yield "the installed hexmend's --help lists no option: %r" % help_text

    groff = shutil.which("groff")
    if groff is None:
        yield "groff is missing (Debian package groff-base; scripts/install-deps.sh)"
        return
    for name in opts.programs:
        page = os.path.join(prefix, mandir, name + ".1")
        proc = run([groff, "-man", "-ww", "-z", page])
        if proc.returncode != 0 or proc.stderr:
            yield "%s does not render cleanly: %s" % (page, proc.stderr.decode(errors="replace"))
        if name == "hexmend":
            text = run([groff, "-man", "-Tascii", "-P-cbou", page]).stdout.decode("ascii")
            for option in options + ["--help", "--version", "NO_COLOR"]:
                # A tagged paragraph: the option at the start of a line.
                if not re.search(r"^ {7}%s(=true)?(,|$)" % re.escape(option), text, re.MULTILINE):
                    yield "the manual page does not describe %s" % option

    if shutil.which("man") is not None:
        env = dict(os.environ, MANPATH=os.path.join(prefix, opts.mandir))
        found = run(["man", "-w", "hexmend"], env=env).stdout.decode().strip()
        if found != os.path.join(prefix, mandir, "hexmend.1"):
            yield "man -w hexmend found %r" % found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--build", required=True)
    parser.add_argument("--config", default="")
    parser.add_argument("--bindir", required=True)
    parser.add_argument("--mandir", required=True)
    parser.add_argument("--exe-suffix", default="")
    parser.add_argument("--programs", nargs="+", required=True)
    parser.add_argument("--wrapper", default="", help="command that runs the program (e.g. wine)")
    opts = parser.parse_args()
    # A program that the build does not make comes as an empty argument.
    opts.programs = [name for name in opts.programs if name]
    prefix = tempfile.mkdtemp(prefix="hexmend-install-")
    try:
        problems = list(check_prefix(opts, prefix))
    finally:
        shutil.rmtree(prefix, ignore_errors=True)
    for problem in problems:
        print("FAIL " + problem)
    if not problems:
        print("ok   installed %s with their manual pages" % ", ".join(opts.programs))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
