"""Crashes the real launcher on purpose (the stand-in's PLINTH_CRASH) and
checks from outside how its crash handler dealt with it.

    crash_test.py --launcher PATH [--run-with PREFIX] MODE SIGNAL

MODE:
  console          the setting is off: message, quoted demangled frames, a
                   pause of five seconds, then handleCrash() (exit code 70)
  console-thread   the same for a crash on a second thread
  monitor          a crash monitor listens: it gets the crashing thread's id
                   and answers; the process then ends by the signal's default
                   action when the fault recurs, and prints nothing
  monitor-thread   the same for a crash on a second thread
  no-monitor       the setting is on but nobody listens: same outcome
  monitor-silent   the monitor closes without answering: same outcome
  no-socket        the setting is on but no socket can be made: console path
  descriptor-zero  the socket gets descriptor 0: console path, the monitor
                   gets a connection but no thread id

Under user-mode emulation (an ARM build run by qemu-arm) the launcher's
threads are threads of the host and its sockets host sockets: the kernel
thread id and the abstract address (length 17) reach the monitor unchanged,
and the monitor cases check the same as natively. The emulator ends the
process by the same signal when the target dies of one, after reporting it
on standard error, a line that harness.Run leaves out. What ARM itself does
differently: integer division by zero does not trap, so SIGFPE is raised
once and does not recur (fault_recurs), and backtraces end where the unwind
tables end (early_end).
"""

import re
import sys

import harness
import unwind_tables
from crash_monitor import CrashMonitor

SIGNALS = {"ILL": 4, "ABRT": 6, "BUS": 7, "FPE": 8, "SEGV": 11, "STKFLT": 16, "PIPE": 13}

# The stand-in function in which each real fault happens.
FAULTING_FUNCTION = {
    "SEGV": "plinth::writeThroughNullPointer()",
    "ILL": "plinth::executeIllegalInstruction()",
    "BUS": "plinth::readPastTruncatedMapping()",
    "FPE": "plinth::divideByZero()",
    "PIPE": "plinth::writeToPipeWithoutReader()",
}

CRASH_EXIT_CODE = 70
PAUSE_SECONDS = 5.0
MAX_FRAMES = 50
ANNOUNCEMENT = re.compile(r"^plinth: crashing thread (\d+)$")
# A frame line of backtrace_symbols without a name that demangles.
WHOLE_LINE = re.compile(r"^.*\(.*\) \[0x[0-9a-f]+\]$")


def fault_recurs(launcher, name):
    """True if the fault happens again once the handler returns, so that the
    restored default action ends the process. A signal that is only raised,
    and a broken pipe, happen once: the stand-in then survives. Integer
    division by zero traps on x86 only; elsewhere SIGFPE is raised."""
    if name == "FPE":
        return harness.traps_on_integer_division_by_zero(launcher.path)
    return name in ("SEGV", "ILL", "BUS", "ABRT")


def crash(launcher, name, **extra):
    controls = {"PLINTH_CRASH": name}
    controls.update(extra)
    return launcher.start(controls)


def crashing_thread(run):
    ids = [int(m.group(1)) for m in (ANNOUNCEMENT.match(line) for _, line in run.lines) if m]
    harness.check(len(ids) == 1, f"expected one crash announcement, stderr: {run.text()}")
    return ids[0]


# Frame lines of raise(), which glibc also exports as gsignal.
RAISE = re.compile(r"^.*\((raise|gsignal)\+0x[0-9a-f]+\) \[0x[0-9a-f]+\]$")


def early_end(launcher, name, on_second_thread):
    """Where the backtrace ends when the unwind tables of the libraries that
    the launcher loads end it before the crash's whole call chain (on ARM;
    see unwind_tables), as (regular expression of the outermost frame, why);
    None when it reaches the event loop (main thread) or the thread's start."""
    if harness.elf_machine(launcher.path) != unwind_tables.EM_ARM:
        return None
    libraries = unwind_tables.loaded_libraries(launcher)
    if name == "ABRT" and not unwind_tables.unwinds_through(libraries["libc.so.6"], "abort"):
        return RAISE, "abort() of this C library has no unwind entry: it ends after raise()"
    toolkit = libraries["libQt5Widgets.so.5"]
    if not on_second_thread and not unwind_tables.has_unwind_tables(toolkit):
        return (
            re.compile(re.escape("QObject::event(QEvent*)")),
            f"{toolkit} has no unwind tables: it ends at QObject::event(), called by "
            "QApplication::notify()",
        )
    return None


def check_console_path(launcher, run, status, name, on_second_thread):
    text = run.text()
    harness.check(
        status == CRASH_EXIT_CODE,
        f"expected exit code {CRASH_EXIT_CODE} from handleCrash(), got {status}; stderr:\n{text}",
    )
    lines = [line.rstrip() for _, line in run.lines]
    harness.check("OH THE HUMANITY!" in lines, f"no crash message; stderr:\n{text}")
    harness.check(lines[-1] == "plinth: handleCrash", f"handleCrash() not last; stderr:\n{text}")
    start = lines.index("OH THE HUMANITY!")
    frames = lines[start + 1 : -1]
    harness.check(
        3 <= len(frames) <= MAX_FRAMES, f"{len(frames)} frame lines; stderr:\n{text}"
    )
    for frame in frames:
        harness.check(
            len(frame) >= 2 and frame[0] == '"' and frame[-1] == '"',
            f"frame line not quoted: {frame!r}",
        )
    names = [frame[1:-1] for frame in frames]
    # A sanitizer's interceptor of backtrace() adds its own frame on top.
    while names and "/libasan.so" in names[0]:
        names.pop(0)
    # Innermost first: the handler's own frames, demangled names alone.
    harness.check(
        names[:3] == ["backtraceLines()", "printBacktrace()", "crashSignalHandler(int)"],
        f"innermost frames: {names[:3]}",
    )
    harness.check(
        any(WHOLE_LINE.match(n) for n in names),
        f"no frame kept as the whole line: {names}",
    )
    if name in FAULTING_FUNCTION:
        harness.check(
            FAULTING_FUNCTION[name] in names, f"{FAULTING_FUNCTION[name]} not in {names}"
        )
    stand_in_frame = any(n.startswith("plinth::") for n in names)
    main_loop = "QCoreApplication::exec()" in names
    end = early_end(launcher, name, on_second_thread)
    if end is None:
        harness.check(stand_in_frame, f"no stand-in frame in {names}")
        if on_second_thread:
            harness.check(
                not main_loop, f"second thread's backtrace shows the event loop: {names}"
            )
        else:
            harness.check(main_loop, f"main thread's backtrace lacks the event loop: {names}")
    else:
        outermost, why = end
        harness.check(outermost.match(names[-1]), f"{why}; the backtrace: {names}")
        if outermost is not RAISE:
            harness.check(stand_in_frame, f"no stand-in frame in {names}")

    # The whole run is timed exactly: the pause lies inside it. The lines are
    # timed as read, which a loaded machine can delay by seconds, so their
    # gap only has to show that the pause comes between them.
    harness.check(run.duration >= PAUSE_SECONDS, f"run ended after {run.duration:.2f} s")
    pause = run.time_of("plinth: handleCrash") - run.time_of("OH THE HUMANITY!")
    harness.check(pause >= PAUSE_SECONDS / 2, f"only {pause:.2f} s between message and end")


def check_monitor_outcome(launcher, run, status, name):
    """The monitor path prints nothing: the process ends by the restored
    default action when the fault recurs, or survives a one-time signal."""
    lines = [line for _, line in run.lines if not ANNOUNCEMENT.match(line)]
    if fault_recurs(launcher, name):
        harness.check(
            status == -SIGNALS[name],
            f"expected the end by SIG{name}, got status {status}; stderr:\n{run.text()}",
        )
        harness.check(lines == [], f"the monitor path printed: {lines}")
    else:
        harness.check(status == 0, f"expected survival, got status {status}; {run.text()}")
        harness.check(lines == [f"plinth: survived SIG{name}"], f"stderr: {lines}")


def console(launcher, name, on_second_thread=False):
    extra = {"PLINTH_CRASH_THREAD": "1"} if on_second_thread else {}
    run = crash(launcher, name, **extra)
    status = run.wait()
    thread = crashing_thread(run)
    harness.check(
        (thread != run.process.pid) == on_second_thread,
        f"crash on thread {thread} in process {run.process.pid}",
    )
    check_console_path(launcher, run, status, name, on_second_thread)


def monitor(launcher, name, on_second_thread=False):
    extra = {"PLINTH_USE_MARIGOLD": "true"}
    if on_second_thread:
        extra["PLINTH_CRASH_THREAD"] = "1"
    with CrashMonitor() as listener:
        run = crash(launcher, name, **extra)
        status = run.wait()
    thread = crashing_thread(run)
    harness.check(
        listener.thread_ids() == [thread],
        f"monitor got {listener.received}, crashing thread was {thread}",
    )
    harness.check(
        (thread != run.process.pid) == on_second_thread,
        f"crash on thread {thread} in process {run.process.pid}",
    )
    check_monitor_outcome(launcher, run, status, name)


def no_monitor(launcher, name):
    run = crash(launcher, name, PLINTH_USE_MARIGOLD="true")
    check_monitor_outcome(launcher, run, run.wait(), name)


def monitor_silent(launcher, name):
    with CrashMonitor(answer=False) as listener:
        run = crash(launcher, name, PLINTH_USE_MARIGOLD="true")
        status = run.wait()
    harness.check(
        listener.thread_ids() == [crashing_thread(run)], f"monitor got {listener.received}"
    )
    check_monitor_outcome(launcher, run, status, name)


def no_socket(launcher, name):
    if "undefined" in launcher.sanitizers:
        # The undefined-behaviour sanitizer's check of virtual calls probes
        # memory through a pipe; with no descriptors left it reports the
        # crash handler's Device as an invalid object and ends the process.
        raise harness.Skipped("the undefined-behaviour sanitizer needs descriptors")
    run = crash(launcher, name, PLINTH_USE_MARIGOLD="true", PLINTH_CRASH_NO_DESCRIPTORS="1")
    status = run.wait()
    crashing_thread(run)
    check_console_path(launcher, run, status, name, on_second_thread=False)


def descriptor_zero(launcher, name):
    with CrashMonitor() as listener:
        run = crash(launcher, name, PLINTH_USE_MARIGOLD="true", PLINTH_CRASH_CLOSE_STDIN="1")
        status = run.wait()
    crashing_thread(run)
    check_console_path(launcher, run, status, name, on_second_thread=False)
    harness.check(listener.received == [b""], f"monitor got {listener.received}")


MODES = {
    "console": console,
    "console-thread": lambda launcher, name: console(launcher, name, on_second_thread=True),
    "monitor": monitor,
    "monitor-thread": lambda launcher, name: monitor(launcher, name, on_second_thread=True),
    "no-monitor": no_monitor,
    "monitor-silent": monitor_silent,
    "no-socket": no_socket,
    "descriptor-zero": descriptor_zero,
}


def main():
    parser = harness.argument_parser(__doc__)
    parser.add_argument("mode", choices=sorted(MODES))
    parser.add_argument("signal", choices=sorted(SIGNALS))
    args = parser.parse_args()
    launcher = harness.Launcher(args)
    case = f"{args.mode} SIG{args.signal}"
    return harness.run_cases({case: lambda: MODES[args.mode](launcher, args.signal)})


if __name__ == "__main__":
    sys.exit(main())
