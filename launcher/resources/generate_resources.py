#!/usr/bin/env python3
"""Writes stand-in assets for every file of the resources bundle.

    generate_resources.py --qrc resources.qrc --out DIR --lrelease PATH
                          [--pnmtojpeg PATH --pamtogif PATH --gifsicle PATH]

Each file that the collection file lists gets content valid for its kind:
grey-scale PNG, JPEG, GIF and MNG images (JPEG and GIF encoded by netpbm and
gifsicle), widget style sheets and CSS, scripts, translation catalogues
compiled by lrelease, and the time-zone list made from the system's time-zone
database. The content depends only on the file's path
(fixed seeds), so every run writes the same bytes.

The entries that the bundle stores compressed are given redundant content and
all others content that does not shrink by the resource compiler's threshold;
the run checks both and fails otherwise.
"""

import argparse
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zlib

from standin import images, scripts, stylesheets, timezones, translations

GENERATIONS = ["pearl", "coral", "amber", "jade", "onyx"]
TIMEZONE_LIST_SIZE = 169357

# Entries that save at least THRESHOLD of their size when compressed, and so are
# stored compressed; everything else must stay below it.
COMPRESSED = {
    "default.qss", "pocket.css", "timezones.txt", "highlight.js",
    "qss/LibraryView.qss", "qss/ReadingView.qss", "qss/SettingsView.qss",
    "translations/trans_de_DE.qm", "translations/trans_en_US.qm",
    "translations/trans_es_ES.qm", "translations/trans_fr_FR.qm",
    "translations/trans_it_IT.qm", "translations/trans_nl_NL.qm",
    "translations/trans_pt_BR.qm", "translations/trans_pt_PT.qm",
    "translations/trans_ru_RU.qm",
    "images/background.png", "images/defaultcover/defaultcover_landscape.png",
    "images/defaultcover/defaultcover_portrait.png",
}
THRESHOLD = 0.70
# Distance kept from the threshold, so that another zlib build cannot tip an entry over.
MARGIN = 0.05


class GenerationError(Exception):
    pass


def seeded(path):
    return random.Random(int.from_bytes(hashlib.sha256(path.encode("utf-8")).digest()[:8], "big"))


def saving(data):
    """The share of its size that an entry saves in the toolkit's qCompress framing."""
    return 1.0 - (len(zlib.compress(data)) + 4) / len(data)


def image(path, rng, encoders):
    name = os.path.basename(path)
    extension = name.rsplit(".", 1)[1]
    if path in COMPRESSED:
        # Large flat pictures saved without compression of their own.
        width, height = (160, 120) if "landscape" in name or "background" in name else (120, 160)
        return images.png(images.flat(rng.randrange(180, 256), width, height), level=0)
    if extension == "png":
        large = any(word in name for word in ("splash", "page", "background", "photo", "usb_"))
        width = rng.randrange(40, 64) if large else rng.randrange(12, 40)
        height = rng.randrange(40, 64) if large else rng.randrange(12, 40)
        return images.png(images.pattern(rng, width, height))
    if extension == "jpg":
        return encoders.jpeg(images.photo(rng, 48, 36))
    if extension == "gif":
        return encoders.gif(images.spinner(rng, rng.choice([16, 24]), 8), delay_cs=8)
    if extension == "mng":
        return images.mng(images.spinner(rng, rng.choice([16, 24, 32]), rng.choice([4, 8, 12])))
    raise GenerationError("no stand-in for image %s" % path)


def content(path, tree, rng, tools, work):
    """The stand-in bytes of one entry."""
    folder, name = os.path.split(path)
    if path.startswith("images/"):
        return image(path, rng, tools.encoders)
    if path == "timezones.txt":
        return timezones.timezone_list(TIMEZONE_LIST_SIZE).encode("utf-8")
    if path == "default.qss":
        return stylesheets.default_sheet(GENERATIONS).encode("utf-8")
    if path == "pocket.css":
        return stylesheets.pocket_css(GENERATIONS).encode("utf-8")
    if path == "book.css":
        return stylesheets.book_css().encode("utf-8")
    if path == "qss/PocketAbout.css":
        return stylesheets.pocket_about_css().encode("utf-8")
    if path == "highlight.js":
        return scripts.highlight_js(GENERATIONS).encode("utf-8")
    if path == "jquery-1.4.2.min.js":
        return scripts.jquery_standin().encode("utf-8")
    if folder == "qss" and name.endswith(".qss"):
        class_name = name[:-len(".qss")]
        if class_name not in stylesheets.IMAGE_FOLDERS:
            raise GenerationError("no image folder known for style sheet %s" % path)
        image_folder = stylesheets.IMAGE_FOLDERS[class_name]
        names = [os.path.basename(p) for p in tree if os.path.dirname(p) == image_folder]
        return stylesheets.widget_sheet(rng, class_name, names, GENERATIONS,
                                        complete=path in COMPRESSED).encode("utf-8")
    if folder == "translations" and name.startswith("trans_") and name.endswith(".qm"):
        language = name[len("trans_"):-len(".qm")]
        contexts = sorted(stylesheets.IMAGE_FOLDERS)
        source = os.path.join(work, language + ".ts")
        compiled = os.path.join(work, language + ".qm")
        with open(source, "w", encoding="utf-8") as ts:
            ts.write(translations.ts_file(rng, language, contexts))
        try:
            result = subprocess.run([tools.lrelease, "-silent", source, "-qm", compiled],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        except OSError as error:
            raise GenerationError("cannot run lrelease (%s): %s"
                                  % (tools.lrelease, error.strerror)) from None
        if result.returncode != 0 or not os.path.isfile(compiled):
            raise GenerationError("lrelease ended with %d on %s: %s"
                                  % (result.returncode, path, result.stdout.strip()))
        with open(compiled, "rb") as qm:
            return qm.read()
    raise GenerationError("no stand-in for %s" % path)


class Tools:
    """The programs that the generation calls."""

    def __init__(self, lrelease, encoders):
        self.lrelease = lrelease
        self.encoders = encoders


def generate(qrc, out, args):
    try:
        tree = [f.text for f in ElementTree.parse(qrc).getroot().iter("file")]
    except (OSError, ElementTree.ParseError) as error:
        raise GenerationError("cannot read %s: %s" % (qrc, error)) from None
    if any(not p or p.startswith("/") or ".." in p.split("/") for p in tree):
        raise GenerationError("%s lists a path outside its tree" % qrc)
    missing = COMPRESSED - set(tree)
    if missing:
        raise GenerationError("%s lacks %s" % (qrc, ", ".join(sorted(missing))))
    # Build beside the target and swap it in, so a failed run leaves no half tree.
    parent = os.path.dirname(os.path.abspath(out))
    os.makedirs(parent, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".resources-", dir=parent)
    try:
        scratch = os.path.join(work, ".ts")
        os.makedirs(scratch)
        tools = Tools(args.lrelease, images.Encoders(args.pnmtojpeg, args.pamtogif, args.gifsicle,
                                                     scratch=scratch))
        tree_root = os.path.join(work, "tree")
        wrong = []
        for path in tree:
            data = content(path, tree, seeded(path), tools, scratch)
            ratio = saving(data)
            if (path in COMPRESSED) != (ratio >= THRESHOLD) or abs(ratio - THRESHOLD) < MARGIN:
                wrong.append("%s saves %.1f%%" % (path, 100 * ratio))
            target = os.path.join(tree_root, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
        if wrong:
            raise GenerationError("compression does not fall as intended (%d%% threshold, %d "
                                  "points margin):\n  %s" % (100 * THRESHOLD, 100 * MARGIN,
                                                             "\n  ".join(wrong)))
        shutil.rmtree(out, ignore_errors=True)
        os.rename(tree_root, out)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--qrc", required=True, help="collection file listing the bundle's files")
    parser.add_argument("--out", required=True, help="folder to fill (replaced as a whole)")
    parser.add_argument("--lrelease", default="lrelease", help="the toolkit's lrelease")
    parser.add_argument("--pnmtojpeg", default="pnmtojpeg", help="netpbm's JPEG encoder")
    parser.add_argument("--pamtogif", default="pamtogif", help="netpbm's GIF encoder")
    parser.add_argument("--gifsicle", default="gifsicle", help="gifsicle, for GIF animations")
    args = parser.parse_args()
    try:
        generate(args.qrc, args.out, args)
    except (GenerationError, images.EncoderError, timezones.TimeZoneError, OSError) as error:
        sys.exit("generate_resources.py: %s" % error)


if __name__ == "__main__":
    main()
