"""Start-up of the real launcher with the stand-in application library: exit
codes, the names, what is in place before the application object exists, the
arguments passed on, and the 25 meta-type names with their ids.

    startup_test.py --launcher PATH [--run-with PREFIX] [CASE]
"""

import sys

import harness
from harness import check

META_TYPE_NAMES = [
    "Activity",
    "Configuration",
    "UpgradeCheckResult",
    "ContentKey",
    "Device",
    "Publication",
    "Shortcover",
    "Tab",
    "Tab&",
    "User",
    "Volume",
    "VolumeShortcover",
    "QNetworkProxy",
    "QNetworkReply::NetworkError",
    "const QList<Bookmark>",
    "const QList<Volume>",
    "const QList<Shortcover>",
    "QTouchEvent::TouchPoint",
    "QList<QTouchEvent::TouchPoint>",
    "QSemaphore *",
    "QList<int>",
    "QString &",
    "QPointer<QObject>",
    "QPointer<InternetProvider>",
    "QImage &",
]
TYPEDEFS = {"QString &": 10, "QImage &": 70}


def trace(result):
    return [
        line
        for line in result.stderr.decode("utf-8", "replace").splitlines()
        if line.startswith("plinth: ")
    ]


def exit_code_of_event_loop(launcher):
    for code in (0, 3, 255):
        result = launcher.run({"PLINTH_EXIT_CODE": str(code), "PLINTH_TRACE": "1"})
        check(result.returncode == code, f"exit code {result.returncode}, wanted {code}")
        lines = trace(result)
        check(lines[-2:] == ["plinth: initialize", "plinth: destroyed"], f"trace: {lines}")


def declined_start(launcher):
    # Nothing would end a running event loop here: the run ends only because
    # exec() is never called. The exit code of the loop never matters.
    result = launcher.run(
        {"PLINTH_INITIALIZE": "false", "PLINTH_EXIT_CODE": "3", "PLINTH_TRACE": "1"},
        timeout=30,
    )
    check(result.returncode == 0, f"exit code {result.returncode}")
    lines = trace(result)
    check(lines[-2:] == ["plinth: initialize", "plinth: destroyed"], f"trace: {lines}")


def names(launcher):
    result = launcher.run({"PLINTH_PRINT_NAMES": "1"})
    check(result.returncode == 0, f"exit code {result.returncode}")
    check(result.stdout == b"Ostra\nOstra eReader\n", f"names: {result.stdout!r}")


def prepared_before_application(launcher):
    lines = trace(launcher.run({"PLINTH_INITIALIZE": "false", "PLINTH_TRACE": "1"}))
    expected = [
        "plinth: organization 'Ostra', application 'Ostra eReader'",
        "plinth: font hook set",
        "plinth: meta types known 25 of 25",
        "plinth: crash handler on ILL ABRT BUS FPE SEGV STKFLT PIPE",
    ]
    check(lines[:4] == expected, f"at construction: {lines}")


def arguments_passed_on(launcher):
    # No QT_QPA_PLATFORM: the toolkit takes its own option from the
    # arguments, and the application object keeps the rest.
    result = launcher.run(
        {"PLINTH_INITIALIZE": "false", "PLINTH_TRACE": "1", "QT_QPA_PLATFORM": None},
        arguments=["-platform", "offscreen", "--library", "a b"],
    )
    check(result.returncode == 0, f"exit code {result.returncode}: {result.stderr!r}")
    arguments = [line for line in trace(result) if line.startswith("plinth: arguments ")]
    check(
        len(arguments) == 1 and arguments[0].endswith(" --library a b"),
        f"arguments: {arguments}",
    )
    check("-platform" not in arguments[0], f"toolkit option left over: {arguments}")


def meta_types(launcher):
    result = launcher.run({"PLINTH_DUMP_METATYPES": "1"})
    check(result.returncode == 0, f"exit code {result.returncode}")
    rows = [line.split("\t") for line in result.stdout.decode().splitlines()]
    check([row[0] for row in rows] == META_TYPE_NAMES, f"names: {rows}")
    ids = {name: int(value) for name, value in rows}
    for name, alias_of in TYPEDEFS.items():
        check(ids[name] == alias_of, f"{name!r} has id {ids[name]}, wanted {alias_of}")
    # Every type registration makes a new id, in the order of the calls;
    # "Tab&" is one of them, not an alias of "Tab".
    registered = [ids[name] for name in META_TYPE_NAMES if name not in TYPEDEFS]
    check(all(i > 0 for i in registered), f"unknown names: {ids}")
    check(
        all(a < b for a, b in zip(registered, registered[1:])),
        f"ids not in registration order: {registered}",
    )


CASES = {
    "exit_code_of_event_loop": exit_code_of_event_loop,
    "declined_start": declined_start,
    "names": names,
    "prepared_before_application": prepared_before_application,
    "arguments_passed_on": arguments_passed_on,
    "meta_types": meta_types,
}


def main():
    parser = harness.argument_parser(__doc__)
    parser.add_argument("case", nargs="?", choices=sorted(CASES))
    args = parser.parse_args()
    launcher = harness.Launcher(args)
    cases = {name: (lambda f=f: f(launcher)) for name, f in CASES.items()}
    return harness.run_cases(cases, args.case)


if __name__ == "__main__":
    sys.exit(main())
