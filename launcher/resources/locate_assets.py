#!/usr/bin/env python3
"""Writes the collection file that the resource compiler reads for one bundle.

    locate_assets.py --qrc MANIFEST.qrc --root DIR --output OUT.qrc

MANIFEST.qrc lists the bundle's files by their paths under ":/". OUT.qrc lists
the same paths, each taken from DIR/<path>, so that the assets can live in any
folder with the tree of ":/": the generated stand-ins or the device's own.
Every listed file must exist there; the run names the ones that do not.
"""

import argparse
import os
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from xml.sax.saxutils import escape, quoteattr

SHOWN_MISSING = 20


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--qrc", required=True, help="the bundle's collection file")
    parser.add_argument("--root", required=True, help="folder with the tree of \":/\"")
    parser.add_argument("--output", required=True, help="collection file to write")
    args = parser.parse_args()

    try:
        manifest = ElementTree.parse(args.qrc).getroot()
    except (OSError, ElementTree.ParseError) as error:
        sys.exit("locate_assets.py: cannot read %s: %s" % (args.qrc, error))
    root = os.path.abspath(args.root)
    lines = ["<!DOCTYPE RCC>", '<RCC version="1.0">']
    missing = []
    for resource in manifest.iter("qresource"):
        attributes = "".join(" %s=%s" % (k, quoteattr(v)) for k, v in sorted(resource.items()))
        lines.append("<qresource%s>" % attributes)
        for entry in resource.iter("file"):
            path = (entry.text or "").strip()
            if not path or path.startswith("/") or ".." in path.split("/"):
                sys.exit("locate_assets.py: %s lists %r, not a path inside the tree"
                         % (args.qrc, path))
            source = os.path.join(root, path)
            if not os.path.isfile(source):
                missing.append(path)
            lines.append("    <file alias=%s>%s</file>" % (quoteattr(path), escape(source)))
        lines.append("</qresource>")
    lines.append("</RCC>")
    if missing:
        shown = "\n  ".join(missing[:SHOWN_MISSING])
        more = "\n  ... and %d more" % (len(missing) - SHOWN_MISSING) if len(missing) > SHOWN_MISSING else ""
        sys.exit("locate_assets.py: %d of the files that %s lists are missing in %s:\n  %s%s"
                 % (len(missing), os.path.basename(args.qrc), root, shown, more))

    # Written whole or not at all.
    folder = os.path.dirname(os.path.abspath(args.output))
    os.makedirs(folder, exist_ok=True)
    handle, temporary = tempfile.mkstemp(prefix=".qrc-", dir=folder)
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")
        os.chmod(temporary, 0o644)
        os.replace(temporary, args.output)
    except OSError as error:
        os.unlink(temporary)
        sys.exit("locate_assets.py: cannot write %s: %s" % (args.output, error))


if __name__ == "__main__":
    main()
