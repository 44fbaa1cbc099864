#!/usr/bin/env python3
"""The generators of the stand-in assets: the same bytes on every run, and a
missing tool named without touching the tree of an earlier run.

    bundles_standin_test.py --standin build/launcher/bundles/standin \
        --resources-qrc launcher/resources/resources.qrc \
        --certificates-qrc launcher/certificates/certificates.qrc \
        --lrelease PATH --pnmtojpeg PATH --pamtogif PATH --gifsicle PATH --openssl PATH

--standin is the build's folder of generated stand-ins; the test generates
them again, at another time, into temporary folders and compares.
"""

import argparse
import filecmp
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402
from harness import check  # noqa: E402

LAUNCHER = os.path.dirname(HERE)
RESOURCES_GENERATOR = os.path.join(LAUNCHER, "resources", "generate_resources.py")
CERTIFICATES_GENERATOR = os.path.join(LAUNCHER, "certificates", "generate_certificates.py")

parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
parser.add_argument("--standin", required=True, help="the build's generated stand-ins")
parser.add_argument("--resources-qrc", required=True)
parser.add_argument("--certificates-qrc", required=True)
for tool in ("lrelease", "pnmtojpeg", "pamtogif", "gifsicle", "openssl"):
    parser.add_argument("--" + tool, default=tool)
parser.add_argument("case", nargs="?", help="run only this case")
args = parser.parse_args()


def generate_resources(out, **tools):
    chosen = {t: getattr(args, t) for t in ("lrelease", "pnmtojpeg", "pamtogif", "gifsicle")}
    chosen.update(tools)
    command = [sys.executable, RESOURCES_GENERATOR, "--qrc", args.resources_qrc, "--out", out]
    for tool, path in chosen.items():
        command += ["--" + tool, path]
    return subprocess.run(command, capture_output=True, text=True)


def generate_certificates(out, openssl=None):
    return subprocess.run([sys.executable, CERTIFICATES_GENERATOR, "--qrc", args.certificates_qrc,
                           "--out", out, "--openssl", openssl or args.openssl],
                          capture_output=True, text=True)


def files(root):
    return sorted(os.path.relpath(os.path.join(folder, name), root)
                  for folder, _, names in os.walk(root) for name in names)


def check_same_tree(built, again):
    check(files(built) == files(again), "other files: %s against %s"
          % (sorted(set(files(built)) ^ set(files(again)))[:5], built))
    differ = [p for p in files(built)
              if not filecmp.cmp(os.path.join(built, p), os.path.join(again, p), shallow=False)]
    check(not differ, "%d files differ from the build's, e.g. %s" % (len(differ), differ[:5]))


def test_certificates_come_out_the_same():
    with tempfile.TemporaryDirectory() as temporary:
        out = os.path.join(temporary, "certificates")
        result = generate_certificates(out)
        check(result.returncode == 0, "generator failed: %s" % result.stderr.strip())
        check_same_tree(os.path.join(args.standin, "certificates"), out)


def test_resources_come_out_the_same():
    with tempfile.TemporaryDirectory() as temporary:
        out = os.path.join(temporary, "resources")
        result = generate_resources(out)
        check(result.returncode == 0, "generator failed: %s" % result.stderr.strip())
        check_same_tree(os.path.join(args.standin, "resources"), out)


def check_failure_keeps_tree(generate, tool, package):
    """generate(out) runs with tool missing: it must fail naming the tool and
    leave the folder of an earlier run, and no scratch folder, behind."""
    with tempfile.TemporaryDirectory() as temporary:
        out = os.path.join(temporary, "out")
        os.makedirs(out)
        with open(os.path.join(out, "earlier"), "w") as f:
            f.write("an earlier run\n")
        result = generate(out, os.path.join(temporary, "no-such-" + tool))
        check(result.returncode != 0, "succeeded without %s" % tool)
        message = result.stderr.strip()
        check("cannot run %s" % tool in message and message.count("\n") == 0,
              "message: %r" % message)
        if package:
            check("Debian package %s" % package in message, "no package named: %r" % message)
        check(os.listdir(temporary) == ["out"] and os.listdir(out) == ["earlier"],
              "left behind: %s, out: %s" % (os.listdir(temporary), os.listdir(out)))


def test_a_missing_tool_is_named_and_the_earlier_tree_kept():
    check_failure_keeps_tree(lambda out, tool: generate_certificates(out, openssl=tool),
                             "openssl", None)
    check_failure_keeps_tree(lambda out, tool: generate_resources(out, gifsicle=tool),
                             "gifsicle", "gifsicle")
    check_failure_keeps_tree(lambda out, tool: generate_resources(out, pnmtojpeg=tool),
                             "pnmtojpeg", "netpbm")


CASES = {name[len("test_"):]: case for name, case in sorted(globals().items())
         if name.startswith("test_")}

if __name__ == "__main__":
    sys.exit(harness.run_cases(CASES, args.case))
