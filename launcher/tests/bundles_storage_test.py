#!/usr/bin/env python3
"""How the launcher executable stores its two resource bundles.

Reads the bundles' tables out of the executable file (it needs the symbol
table) and compares every entry with the asset file it was made from, as named
by the collection files that rcc read:

    bundles_storage_test.py --launcher build/bin/launcher \
        --collection build/launcher/bundles/resources.qrc \
        --collection build/launcher/bundles/certificates.qrc
"""

import os
import re
import sys
import xml.etree.ElementTree as ElementTree
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bundles_rcc as rcc  # noqa: E402
import harness  # noqa: E402
from harness import check  # noqa: E402

ZSTD_MAGIC = b"\x28\xb5\x2f\xfd"
ZLIB_DEFAULT_LEVEL = 6
THRESHOLD_PERCENT = 70

parser = harness.argument_parser(__doc__.split("\n\n")[0])
parser.add_argument("--collection", action="append", required=True,
                    help="a collection file that rcc compiled (alias = path, text = source)")
parser.add_argument("case", nargs="?", help="run only this case")
args = parser.parse_args()

def read_source(path):
    with open(path, "rb") as f:
        return f.read()


def bundles():
    tables = rcc.bundle_tables(ELF)
    check(set(tables) == {"resources", "certificates"},
          "bundles in the executable: %s" % ", ".join(sorted(tables)))
    return {name: rcc.entries(*tables[name]) for name in tables}


def unpacked(entry):
    return zlib.decompress(entry.stored[4:]) if entry.flags & rcc.COMPRESSED else entry.stored


def rcc_would_compress(data):
    """rcc's rule: compressed when that saves at least the threshold, in whole percent."""
    packed = len(zlib.compress(data, ZLIB_DEFAULT_LEVEL)) + 4
    return int(100.0 * (len(data) - packed) / len(data)) >= THRESHOLD_PERCENT


def test_format_version_1_with_default_locale():
    for name, (files, nodes) in BUNDLES.items():
        tree = rcc.bundle_tables(ELF)[name][0]
        # Every node of the table is reached through 14-byte nodes; format 2
        # would add a timestamp to each.
        check(nodes * rcc.NODE_SIZE_V1 == len(tree.rstrip(b"\0")) or
              nodes * rcc.NODE_SIZE_V1 == len(tree),
              "%s: %d nodes do not fill the %d-byte tree table" % (name, nodes, len(tree)))
        for entry in files:
            check((entry.language, entry.country) == (rcc.QT_LOCALE_C, rcc.QT_ANY_COUNTRY),
                  "%s: %s has language %d, country %d" % (name, entry.path, entry.language,
                                                         entry.country))


def test_entries_hold_their_files():
    for name, (files, _) in BUNDLES.items():
        stored = {entry.path: entry for entry in files}
        check(set(stored) == set(SOURCES[name]),
              "%s: paths differ from the collection file: missing %s, extra %s" % (
                  name, sorted(set(SOURCES[name]) - set(stored))[:5],
                  sorted(set(stored) - set(SOURCES[name]))[:5]))
        for path, entry in stored.items():
            check(unpacked(entry) == read_source(SOURCES[name][path]),
                  "%s: %s differs from %s" % (name, path, SOURCES[name][path]))


def test_compressed_exactly_when_it_saves_the_threshold():
    for name, (files, _) in BUNDLES.items():
        for entry in files:
            data = read_source(SOURCES[name][entry.path])
            check(bool(entry.flags & rcc.COMPRESSED) == rcc_would_compress(data),
                  "%s: %s is stored %s" % (name, entry.path, "compressed" if entry.flags &
                                           rcc.COMPRESSED else "as is"))


def test_compressed_entries_are_qcompress_zlib_streams():
    found = 0
    for name, (files, _) in BUNDLES.items():
        for entry in (e for e in files if e.flags & rcc.COMPRESSED):
            found += 1
            data = read_source(SOURCES[name][entry.path])
            length = int.from_bytes(entry.stored[:4], "big")
            check(length == len(data), "%s: length field %d, file %d bytes" %
                  (entry.path, length, len(data)))
            check(entry.stored[4:6] == b"\x78\x9c",
                  "%s: stream begins %s, not 78 9c" % (entry.path, entry.stored[4:6].hex(" ")))
            check(entry.stored[4:] == zlib.compress(data, ZLIB_DEFAULT_LEVEL),
                  "%s: not zlib's default-level stream of the file" % entry.path)
    check(found > 0, "no compressed entry at all")


def test_the_compressed_entries():
    resources, _ = BUNDLES["resources"]
    compressed = sorted(e.path for e in resources if e.flags & rcc.COMPRESSED)
    check(len(compressed) == 19, "%d compressed entries: %s" % (len(compressed), compressed))
    translations = ["translations/trans_%s.qm" % language for language in (
        "de_DE", "en_US", "es_ES", "fr_FR", "it_IT", "nl_NL", "pt_BR", "pt_PT", "ru_RU")]
    for path in ["default.qss", "pocket.css", "timezones.txt"] + translations:
        check(path in compressed, "%s is not compressed" % path)
    check("translations/trans_ja_JP.qm" not in compressed, "trans_ja_JP.qm is compressed")
    root = [p for p in compressed if "/" not in p]
    check(len(root) == 4 and "jquery-1.4.2.min.js" not in root,
          "compressed at the root: %s" % root)
    for folder, count in (("qss/", 3), ("images/", 3)):
        inside = [p for p in compressed if p.startswith(folder)]
        check(len(inside) == count, "compressed in %s: %s" % (folder, inside))
    certificates, _ = BUNDLES["certificates"]
    packed = [e.path for e in certificates if e.flags & rcc.COMPRESSED]
    check(not packed, "compressed certificates: %s" % packed)


def test_no_zstd_anywhere():
    for name, (files, _) in BUNDLES.items():
        for entry in files:
            check(not entry.flags & rcc.COMPRESSED_ZSTD, "%s: %s has the zstd flag" %
                  (name, entry.path))
            check(not entry.stored.startswith(ZSTD_MAGIC) and
                  not entry.stored[4:].startswith(ZSTD_MAGIC),
                  "%s: %s holds a zstd frame" % (name, entry.path))
    imported = {symbol[0].split("@")[0] for symbol in ELF.symbols(".dynsym")}
    check("qt_resourceFeatureZstd" not in imported, "the executable asks for zstd support")
    check("qt_resourceFeatureZlib" in imported, "the executable does not ask for zlib support")


def test_registration_functions_and_order():
    functions = {name for name, _, _, kind in ELF.symbols() if kind == 2}
    for bundle in ("resources", "certificates"):
        for verb in ("qInitResources", "qCleanupResources"):
            name = "%s_%s" % (verb, bundle)
            check("_Z%d%sv" % (len(name), name) in functions, "no function %s()" % name)
    # Static initialisers run in the order of .init_array.
    # (Sanitizer builds add initialisers with a priority, _GLOBAL__sub_I_00099_0_...)
    # (ARM marks Thumb code by the lowest address bit, in symbols and pointers alike.)
    initialisers = {value & ~1: name for name, value, _, kind in ELF.symbols()
                    if kind == 2 and re.match(r"_GLOBAL__sub_I_(?!\d{5}_)", name)}
    order = [initialisers[a & ~1] for a in ELF.pointers(".init_array") if a & ~1 in initialisers]
    ours = ["_GLOBAL__sub_I_qrc_resources.cpp", "_GLOBAL__sub_I_qrc_certificates.cpp"]
    check(order[-2:] == ours, "static initialisation order: %s" % order)


CASES = {name[len("test_"):]: case for name, case in sorted(globals().items())
         if name.startswith("test_")}

if __name__ == "__main__":
    try:
        with open(args.launcher, "rb") as program:
            ELF = rcc.Elf(program.read())
        SOURCES = {}
        for collection in args.collection:
            bundle = os.path.splitext(os.path.basename(collection))[0]
            files = ElementTree.parse(collection).getroot().iter("file")
            SOURCES[bundle] = {f.get("alias"): f.text for f in files}
        BUNDLES = bundles()
    except (OSError, ElementTree.ParseError, rcc.FormatError, harness.Failure) as error:
        sys.exit("cannot read the bundles: %s" % error)
    sys.exit(harness.run_cases(CASES, args.case))
