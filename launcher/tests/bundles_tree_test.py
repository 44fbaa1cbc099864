#!/usr/bin/env python3
"""The files that the launcher's two resource bundles register under ":/".

Runs the launcher with the stand-in library's resource controls
(PLINTH_LIST_RESOURCES, PLINTH_DUMP_RESOURCE) and compares what it reads with
the bundles' layout and with the asset files named by the collection files:

    bundles_tree_test.py --launcher build/bin/launcher \
        --collection build/launcher/bundles/resources.qrc \
        --collection build/launcher/bundles/certificates.qrc
"""

import collections
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import check  # noqa: E402

# Files per folder of ":/", by suffix.
LAYOUT = {
    "": {"qss": 1, "txt": 1, "js": 2, "css": 2},
    "qss": {"qss": 23, "css": 1},
    "translations": {"qm": 10},
    "images": {"png": 2},
    "images/about": {"png": 7},
    "images/awards": {"png": 27},
    "images/book": {"png": 31},
    "images/defaultcover": {"png": 2},
    "images/dialogs": {"png": 83},
    "images/dogear": {"png": 2},
    "images/fte": {"png": 136},
    "images/help": {"png": 22, "jpg": 3},
    "images/home": {"png": 101, "mng": 4},
    "images/keyboard": {"png": 40},
    "images/library": {"png": 85, "mng": 1},
    "images/light": {"png": 19},
    "images/menu": {"png": 159},
    "images/navigation": {"png": 40},
    "images/reading": {"png": 282},
    "images/reading/settings": {"png": 24},
    "images/readinglife": {"png": 4},
    "images/search": {"png": 52, "gif": 1},
    "images/settings": {"png": 10},
    "images/social": {"png": 2},
    "images/spinner": {"mng": 11, "gif": 2},
    "images/statusbar": {"png": 251, "mng": 5},
    "images/usb": {"png": 70},
    "images/widgets": {"png": 88},
    "images/wireless": {"png": 17},
    "certificates": {"der": 164},
}
OUR_TOP_LEVELS = ("qss", "translations", "images", "certificates")
LANGUAGES = ["de_DE", "en_US", "es_ES", "fr_FR", "it_IT", "ja_JP", "nl_NL", "pt_BR", "pt_PT",
             "ru_RU"]
NAMED_CERTIFICATES = ["AddTrust_External_Root.der", "COMODOCertificationAuthority.der",
                      "COMODOHighAssuranceSecureServerCA.der",
                      "Equifax_Secure_Certificate_Authority.der", "UTN_DATACorp_SGC_Root_CA.der"]
STATES = ("hit", "off", "on", "disabled")
TIME_ZONE_LIST_SIZE = 169357

parser = harness.argument_parser(__doc__.split("\n\n")[0])
parser.add_argument("--collection", action="append", required=True,
                    help="a collection file that rcc compiled (alias = path, text = source)")
parser.add_argument("case", nargs="?", help="run only this case")
args = parser.parse_args()
launcher = harness.Launcher(args)

SOURCES = {}
for collection in args.collection:
    for entry in ElementTree.parse(collection).getroot().iter("file"):
        SOURCES[entry.get("alias")] = entry.text


def read_source(path):
    with open(SOURCES[path], "rb") as f:
        return f.read()


def listing(environment=None):
    """{path under ":/": size} of the bundles' files, as the launcher lists them."""
    result = launcher.run(dict(environment or {}, PLINTH_LIST_RESOURCES="1"))
    check(result.returncode == 0, "listing ended with %d: %r" % (result.returncode, result.stderr))
    files = {}
    for line in result.stdout.decode("utf-8").splitlines():
        path, _, size = line.partition("\t")
        check(path.startswith(":/") and size.isdigit(), "listing line %r" % line)
        path = path[2:]
        if "/" not in path or path.split("/")[0] in OUR_TOP_LEVELS:
            files[path] = int(size)
    return files


def dump(path, environment=None):
    result = launcher.run(dict(environment or {}, PLINTH_DUMP_RESOURCE=":/" + path))
    check(result.returncode == 0, "dump of %s ended with %d" % (path, result.returncode))
    return result.stdout, result.stderr


FILES = None


def files():
    global FILES
    if FILES is None:
        FILES = listing()
    return FILES


def folder_of(path):
    return path.rpartition("/")[0]


def test_files_per_folder_and_kind():
    found = collections.defaultdict(collections.Counter)
    for path in files():
        found[folder_of(path)][path.rpartition(".")[2]] += 1
    for folder in sorted(set(LAYOUT) | set(found)):
        check(found.get(folder) == collections.Counter(LAYOUT.get(folder, {})),
              "%s: %s, expected %s" % (folder or "(root)", dict(found.get(folder, {})),
                                       LAYOUT.get(folder, {})))
    resources = [p for p in files() if not p.startswith("certificates/")]
    check(len(resources) == 1623, "resources bundle holds %d files" % len(resources))


def test_named_files():
    names = set(files())
    for path in ["default.qss", "timezones.txt", "jquery-1.4.2.min.js", "pocket.css",
                 "qss/PocketAbout.css"]:
        check(path in names, "no %s" % path)
    catalogues = {p for p in names if p.startswith("translations/")}
    check(catalogues == {"translations/trans_%s.qm" % l for l in LANGUAGES},
          "catalogues: %s" % sorted(catalogues))
    certificates = {p.split("/")[1] for p in names if p.startswith("certificates/")}
    expected = {"ca-cert-%d.der" % n for n in range(1, 161) if n != 6} | set(NAMED_CERTIFICATES)
    check(certificates == expected, "certificates: missing %s, extra %s" %
          (sorted(expected - certificates), sorted(certificates - expected)))


def test_image_names():
    stems = [p.rpartition(".")[0].split("/")[-1] for p in files() if p.startswith("images/")]
    last = collections.Counter(stem.rpartition("_")[2] for stem in stems)
    # The generation words are the last words that most images share.
    generations = [word for word, count in last.most_common() if word not in STATES][:5]
    per_generation = [s for s in stems if s.rpartition("_")[2] in generations]
    check(all(last[g] >= 20 for g in generations) and len(generations) == 5,
          "five generation words expected; commonest last words: %s" % last.most_common(8))
    check(len(per_generation) * 2 > len(stems),
          "only %d of %d images end in a generation word" % (len(per_generation), len(stems)))
    for state in STATES:
        check(last[state] > 0, "no image ends in _%s" % state)
    splash = [s for s in stems if "splash" in s]
    retailers = {s.rpartition("_")[0] for s in splash}
    check(len(retailers) >= 2 and len(splash) == len(retailers) * 5 and
          all(s.rpartition("_")[2] in generations for s in splash),
          "splash images are not one per retailer and generation: %s" % sorted(splash))


def test_sizes_are_those_of_the_assets():
    check(set(files()) == set(SOURCES), "listed and collected files differ: %s" %
          sorted(set(files()) ^ set(SOURCES))[:5])
    wrong = [p for p, size in files().items() if size != os.path.getsize(SOURCES[p])]
    check(not wrong, "sizes differ from the assets: %s" % wrong[:5])


def test_time_zone_list_reads_back_whole():
    check(files().get("timezones.txt") == TIME_ZONE_LIST_SIZE,
          "listed size %s" % files().get("timezones.txt"))
    content, _ = dump("timezones.txt")
    check(len(content) == TIME_ZONE_LIST_SIZE, "read %d bytes" % len(content))
    check(content == read_source("timezones.txt"), "content differs from the asset")


def test_compressed_entries_read_back_whole():
    # The entries that rcc stores compressed: those that save 70% or more.
    packed = [p for p in sorted(SOURCES) if p in files() and
              int(100.0 * (1 - (len(zlib.compress(read_source(p))) + 4) /
                           len(read_source(p)))) >= 70]
    check(len(packed) == 19, "%d entries save 70%%: %s" % (len(packed), packed))
    for path in packed:
        content, _ = dump(path)
        check(content == read_source(path), "%s reads back as %d bytes of %d" %
              (path, len(content), len(read_source(path))))


def test_certificate_6_absent_and_160_present():
    content, error = dump("certificates/ca-cert-6.der")
    check(content == b"" and b"no resource file" in error, "ca-cert-6.der: %r %r" %
          (content[:20], error))
    content, _ = dump("certificates/ca-cert-160.der")
    check(content == read_source("certificates/ca-cert-160.der") and content[:1] == b"\x30",
          "ca-cert-160.der: %d bytes" % len(content))
    openssl = shutil.which("openssl")
    if openssl:
        with tempfile.NamedTemporaryFile(suffix=".der") as der:
            der.write(content)
            der.flush()
            result = subprocess.run([openssl, "x509", "-inform", "DER", "-in", der.name,
                                     "-noout", "-subject"], capture_output=True)
        check(result.returncode == 0, "openssl cannot read ca-cert-160.der: %r" % result.stderr)


def test_paths_do_not_depend_on_the_locale():
    for language in ("de_DE.UTF-8", "ja_JP.UTF-8", "pt_BR.UTF-8"):
        locale = {"LANG": language, "LC_ALL": language, "LANGUAGE": language.split(".")[0]}
        check(listing(locale) == files(), "%s lists other files" % language)
        content, _ = dump("translations/trans_ja_JP.qm", locale)
        check(content == read_source("translations/trans_ja_JP.qm"),
              "%s reads trans_ja_JP.qm differently" % language)


CASES = {name[len("test_"):]: case for name, case in sorted(globals().items())
         if name.startswith("test_")}

if __name__ == "__main__":
    sys.exit(harness.run_cases(CASES, args.case))
