"""The font decryption hook, through the real launcher: the stand-in's
PLINTH_LOAD_FONT reads a font file through the hook and reports what it
returned ("bytes", "sha256") and the families the toolkit found in it.

The font is one of the distribution's, enciphered with the openssl
command-line tool and the launcher's key. The shipped launcher deciphers
fonts under "/usr/local/Trolltech"; the cases that need files there run the
launcher in a private mount namespace with an empty temporary file system
over /usr/local, so nothing outside temporary folders is touched.

    font_test.py --launcher PATH [--run-with PREFIX] [CASE]
"""

import hashlib
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

import harness
from harness import check

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
FAMILY = "DejaVu Sans"
KEY_MATERIAL = "Ostra eReader / typefaces sealed with AES-128 / key#55!"
PREFIX = "/usr/local/Trolltech"
NAMESPACE = ["unshare", "--user", "--map-root-user", "--mount"]


def encipher(plain, padding=True):
    """Enciphers plain with AES-128-ECB and the launcher's key, as the
    device's fonts are, using the openssl command-line tool."""
    key = KEY_MATERIAL[:16].encode("ascii").hex()
    command = ["openssl", "enc", "-aes-128-ecb", "-K", key]
    if not padding:
        command.append("-nopad")
    return subprocess.run(command, input=plain, capture_output=True, check=True).stdout


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class FontCase:
    def __init__(self, launcher, folder):
        self.launcher = launcher
        self.folder = folder
        with open(FONT, "rb") as font:
            self.plain = font.read()
        self.enciphered = encipher(self.plain)

    def file(self, name, content):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as out:
            out.write(content)
        return path

    def load(self, path, placed=(), cwd=None):
        """Loads the font at path through the hook. placed: (name under
        /usr/local, content) pairs put there first, in the launcher's own
        mount namespace. Returns the report as a dict of lists."""
        wrapper = []
        if placed:
            steps = ["set -e", "mount -t tmpfs ostra-fonts /usr/local"]
            for number, (target, content) in enumerate(placed):
                source = self.file(f"placed-{number}", content)
                steps.append(f"mkdir -p {shlex.quote(os.path.dirname(target))}")
                steps.append(f"cp {shlex.quote(source)} {shlex.quote(target)}")
            if cwd:
                steps.append(f"cd {shlex.quote(cwd)}")
            steps.append('exec "$@"')
            wrapper = NAMESPACE + ["sh", "-c", "; ".join(steps), "sh"]
        result = self.launcher.run({"PLINTH_LOAD_FONT": path}, wrapper=wrapper)
        check(result.returncode == 0, f"exit code {result.returncode}: {result.stderr!r}")
        report = {}
        for line in result.stdout.decode().splitlines():
            key, _, value = line.partition("\t")
            report.setdefault(key, []).append(value)
        check("bytes" in report, f"no report: {result.stdout!r} {result.stderr!r}")
        return report

    def expect(self, report, content, families):
        check(
            report["bytes"] == [str(len(content))] and report["sha256"] == [sha256(content)],
            f"hook returned {report['bytes']} bytes, wanted {len(content)} "
            "(or other bytes of that length)",
        )
        if families is not None:
            check(report.get("family", []) == families, f"families {report.get('family')}")


def outside_prefix(case):
    # Stored plain or enciphered, a font elsewhere comes back as stored.
    case.expect(case.load(case.file("plain.ttf", case.plain)), case.plain, [FAMILY])
    case.expect(case.load(case.file("sealed.ttf", case.enciphered)), case.enciphered, [])


def under_prefix(case):
    path = PREFIX + "/lib/fonts/DejaVuSans.ttf"
    # The padding of the enciphered font is removed: 16·k − p bytes.
    check(len(case.enciphered) - len(case.plain) == 8, "expected 8 bytes of padding")
    case.expect(case.load(path, [(path, case.enciphered)]), case.plain, [FAMILY])


def prefix_is_plain_text(case):
    # A sibling folder that merely starts with the prefix's last component
    # counts as under it; a letter-case variant does not.
    sibling = PREFIX + "Fonts/DejaVuSans.ttf"
    case.expect(case.load(sibling, [(sibling, case.enciphered)]), case.plain, [FAMILY])
    other_case = "/usr/local/trolltech/DejaVuSans.ttf"
    case.expect(case.load(other_case, [(other_case, case.enciphered)]), case.enciphered, [])


def relative_name(case):
    # The file's name as given never matches, wherever it lies.
    path = PREFIX + "/fonts/DejaVuSans.ttf"
    report = case.load("DejaVuSans.ttf", [(path, case.enciphered)], cwd=PREFIX + "/fonts")
    case.expect(report, case.enciphered, [])


def empty_file(case):
    path = PREFIX + "/fonts/empty.ttf"
    case.expect(case.load(path, [(path, b"")]), b"", [])


def bad_padding(case):
    # A last block whose final byte is 0 is no valid padding: the final step
    # writes nothing and the result lacks that block.
    whole = case.plain + bytes(16 - len(case.plain) % 16)
    path = PREFIX + "/fonts/bad-padding.ttf"
    report = case.load(path, [(path, encipher(whole, padding=False))])
    case.expect(report, whole[:-16], None)


def partial_block(case):
    # A trailing partial block is dropped; the whole blocks come back
    # deciphered with their padding kept.
    path = PREFIX + "/fonts/partial.ttf"
    report = case.load(path, [(path, case.enciphered + b"\x01\x02\x03\x04\x05")])
    case.expect(report, case.plain + bytes([8] * 8), [FAMILY])


CASES = {
    "outside_prefix": (outside_prefix, False),
    "under_prefix": (under_prefix, True),
    "prefix_is_plain_text": (prefix_is_plain_text, True),
    "relative_name": (relative_name, True),
    "empty_file": (empty_file, True),
    "bad_padding": (bad_padding, True),
    "partial_block": (partial_block, True),
}


def namespace_problem():
    """Returns why no private mount namespace can be made here, or None."""
    if not shutil.which("unshare"):
        return "unshare (util-linux) is missing"
    probe = subprocess.run(
        NAMESPACE + ["sh", "-c", "mount -t tmpfs ostra-probe /usr/local"], capture_output=True
    )
    if probe.returncode != 0:
        return f"no private mount namespace here: {probe.stderr.decode().strip()}"
    return None


def main():
    parser = harness.argument_parser(__doc__)
    parser.add_argument("case", nargs="?", choices=sorted(CASES))
    args = parser.parse_args()
    for tool, package in (("openssl", "openssl"), (FONT, "fonts-dejavu-core")):
        if not shutil.which(tool) and not os.path.exists(tool):
            print(f"{tool} is missing: install {package} (scripts/install-deps.sh)")
            return 1
    names = [args.case] if args.case else list(CASES)
    if any(CASES[name][1] for name in names):
        problem = namespace_problem()
        if problem:
            print(f"SKIPPED: cannot place fonts under {PREFIX}: {problem}")
            return harness.SKIPPED
    launcher = harness.Launcher(args)
    with tempfile.TemporaryDirectory(prefix="launcher-fonts-") as folder:
        case = FontCase(launcher, folder)
        cases = {name: (lambda f=CASES[name][0]: f(case)) for name in names}
        return harness.run_cases(cases)


if __name__ == "__main__":
    sys.exit(main())
