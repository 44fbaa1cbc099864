#include "cli/entry.h"

#include <new>

#include "core/file_io.h"
#include "core/host_call.h"
#include "core/patch_text.h"
#include "core/processor.h"
#include "core/reporter.h"
#include "core/run_state.h"
#include "host/host.h"

namespace hexmend {
namespace {

constexpr std::string_view kBanner = "hexmend 0.3";

// What --help writes after the banner: the usage, then one line per option.
constexpr std::string_view kHelpLines[] = {
    "USAGE: hexmend FILENAME [OPTION=true]...",
    "  verbatim=true  echo each line of the patch file as >>>N:line while reading it",
    "  silent=true    write nothing but the banner; the exit code tells the result",
    "  check=true     tell whether the patch file applies and why not; write nothing",
    "  inplace=true   target is the source: write only the patched bytes, crash-safe",
    "  reverse=true   undo what the patch file does: check new bytes, write old back",
};

// The program's name before the description of a run-time failure.
constexpr std::string_view kProgram = "hexmend: ";

bool IsHelpWord(const Process& process, const std::string& argument) {
    for (const std::string& word : process.HelpWords()) {
        if (argument == word) {
            return true;
        }
    }
    return false;
}

// The full path of the patch file named on the command line. A relative name
// is taken from the program's own folder, and only when no file is there from
// the working folder; when neither holds it, the path in the program's folder
// is returned (and reported as missing).
std::string FindPatchFile(Host& host, const std::string& programPath, const std::string& name) {
    const std::string fromProgram = ResolvePath(host, FolderPart(host, programPath), name);
    if (host.FileExists(fromProgram) || !host.IsRelativePath(host.NativePath(name))) {
        return fromProgram;
    }
    const std::string workingFolder = host.CurrentFolder();
    if (workingFolder.empty()) {
        return fromProgram;
    }
    try {
        std::string fromWorking = ResolvePath(host, workingFolder, name);
        if (host.FileExists(fromWorking)) {
            return fromWorking;
        }
    } catch (const RunTimeFailure&) {
        // Too long for the platform's file calls: no file the run could open.
    }
    return fromProgram;
}

int Run(Host& host, const std::vector<std::string>& arguments) {
    WriteConsoleLine(host, kBanner);
    // The banner is the version: --version alone writes nothing more.
    if (arguments.size() == 2 && arguments[1] == "--version") {
        return 0;
    }
    if (arguments.size() == 2 && IsHelpWord(host, arguments[1])) {
        for (const std::string_view line : kHelpLines) {
            WriteConsoleLine(host, line);
        }
        return 0;
    }
    RunState run(host);
    if (OptionIsOn(arguments, "silent")) {
        run.SilentMode = true;
    } else if (OptionIsOn(arguments, "verbatim")) {
        run.VerbatimMode = true;
    }
    run.CheckMode = OptionIsOn(arguments, "check");
    run.InPlaceMode = OptionIsOn(arguments, "inplace");
    run.ReverseMode = OptionIsOn(arguments, "reverse");
    if (arguments.size() < 2) {
        WriteConsoleLine(host, "USAGE: hexmend FILENAME [verbatim=true]");
        WriteConsoleLine(host, "\"FILENAME\" refers to the configuration file");
        return 2;
    }
    if (!ProcessPatchFile(run, FindPatchFile(host, arguments[0], arguments[1]))) {
        return 1;
    }
    if (!run.SilentMode) {
        WriteConsoleLine(host, "Everything is ok!");
    }
    return 0;
}

}  // namespace

std::string OptionValue(const std::vector<std::string>& arguments, std::string_view name) {
    // Arguments are "key=value" texts like the patch file's lines.
    return LookupKey(arguments, name);
}

bool OptionIsOn(const std::vector<std::string>& arguments, std::string_view name) {
    return EqualsIgnoringCase(OptionValue(arguments, name), "true");
}

int RunHexmend(Host& host, const std::vector<std::string>& arguments) {
    InterruptionCatcher interruptions;
    int exitCode = 1;
    try {
        exitCode = Run(host, arguments);
        ThrowIfFailed(host.FlushStdout());
    } catch (const RunInterrupted&) {
        // The run has unwound: what it wrote is removed or rolled back. It
        // ends by the request below, with no word of its own.
        (void)host.FlushStdout();
    } catch (const RunTimeFailure& failure) {
        (void)host.FlushStdout();
        host.WriteStderr(std::string(kProgram) + failure.what() + "\n");
        exitCode = 1;
    } catch (const std::bad_alloc&) {
        (void)host.FlushStdout();
        host.WriteStderr(std::string(kProgram) + "out of memory\n");
        exitCode = 1;
    }
    interruptions.EndIfInterrupted();
    return exitCode;
}

}  // namespace hexmend
