"""The end-to-end cases (hexmend/tests/e2e) that a page can run: a patch file
and other files given by name (the page finds a file at the path the patch
file names by its file name), with the options the page has.

Each case of the corpus either becomes a PageRun or is skipped with the
reason, so that the differential test can say what it left out and why.
"""

import os
import sys

E2E = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                   "e2e")
sys.path.insert(0, E2E)

import e2e  # noqa: E402

POSIX = e2e.Platform("posix")

# The case files of hexmend's runs; hexmend-diff's, in-place, Windows and
# administrator cases are about what a page has no part in.
CASE_FILES = ["cases_run.py", "cases_regular.py", "cases_zq.py", "cases_zlib.py",
              "cases_check.py", "cases_reverse.py", "cases_large.py", "cases_cli.py"]

# The page's three runs and its verbatim switch, as the arguments they stand
# for on the command line.
BUTTONS = {"check=true": "#check", "reverse=true": "#undo"}
VERBATIM = "verbatim=true"

# Larger cases are left to the large-file test.
MAX_BYTES = 32 * 1024 * 1024


class PageRun:
    """A case as the page runs it: the patch file, the other files, which
    button and whether verbatim is on; args are the command line that does
    the same run."""

    def __init__(self, case, patch, button, verbatim):
        self.case, self.patch, self.button, self.verbatim = case, patch, button, verbatim
        self.args = [a for a, b in BUTTONS.items() if b == button] + (
            [VERBATIM] if verbatim else [])

    @property
    def name(self):
        return self.case.name

    def lay_out(self, folder):
        """Writes the case's files into folder; returns (patch file, other
        files) as paths."""
        others = []
        for rel, content in self.case.files.items():
            if isinstance(content, str):
                content = e2e.substitute(content, POSIX, folder).encode("latin-1")
            path = os.path.join(folder, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)
            if rel != self.patch:
                others.append(path)
        return os.path.join(folder, self.patch), others


def why_not(case):
    """None when the page can run case, else why it cannot."""
    if case.platforms and "posix" not in case.platforms:
        return "another platform's"
    for attribute, why in (("setup", "prepares its files in code"),
                           ("preexec", "changes the process"),
                           ("during", "signals the process"),
                           ("holds", "holds files open"),
                           ("copy_program", "moves the program"),
                           ("stdout_to", "redirects standard output"),
                           ("stdout_filter", "filters standard output"),
                           ("env", "sets the environment"),
                           ("cwd", "depends on the working folder"),
                           ("needs_root", "needs root"),
                           ("runnable", "depends on the machine")):
        if getattr(case, attribute):
            return why
    if not case.args:
        return "no patch file"
    first, options = case.args[0], case.args[1:]
    for prefix in ("{dir}{sep}", "{dir}/"):
        if first.startswith(prefix):
            patch = first[len(prefix):]
            break
    else:
        return "the patch file is not named by its folder"
    if patch not in case.files or case.files[patch] is None:
        return "no such patch file"
    if "/" in patch:
        return "the patch file is in a folder"
    names = [os.path.basename(rel) for rel in case.files]
    if len(set(names)) != len(names):
        return "two files of one name"
    for rel, content in case.files.items():
        if content is None:
            return "makes a folder"
        if isinstance(content, str) and "{dir}" in content:
            return "names a file by its full path"
    if sum(len(c) for c in case.files.values()) > MAX_BYTES:
        return "large"
    wanted = [o.lower() for o in options]
    if any(o not in BUTTONS and o != VERBATIM for o in wanted) or len(set(wanted)) != len(wanted):
        return "an option the page does not have"
    if sum(o in BUTTONS for o in wanted) > 1:
        return "check and reverse together"
    return None


def page_run(case):
    first, options = case.args[0], [o.lower() for o in case.args[1:]]
    patch = first.replace("{dir}{sep}", "").replace("{dir}/", "")
    button = next((BUTTONS[o] for o in options if o in BUTTONS), "#apply")
    return PageRun(case, patch, button, VERBATIM in options)


def corpus():
    """(runs, skipped): the PageRuns, and {reason: [case names]}."""
    runs, skipped = [], {}
    for name in CASE_FILES:
        for case in e2e.load_cases(os.path.join(E2E, name)):
            reason = why_not(case)
            if reason:
                skipped.setdefault(reason, []).append(case.name)
            else:
                runs.append(page_run(case))
    return runs, skipped


if __name__ == "__main__":
    found, left = corpus()
    print("%d cases run in a page" % len(found))
    for why, names in sorted(left.items()):
        print("%4d skipped: %s" % (len(names), why))
