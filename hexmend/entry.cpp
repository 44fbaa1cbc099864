#include "entry.h"

#include <new>

#include "file_io.h"
#include "host/host.h"
#include "patch_text.h"
#include "processor.h"
#include "reporter.h"
#include "run_failure.h"
#include "run_state.h"

namespace hexmend {
namespace {

int Run(const std::vector<std::string>& arguments) {
    WriteConsoleLine("hexmend 0.3");
    RunState run;
    if (OptionIsOn(arguments, "silent")) {
        run.SilentMode = true;
    } else if (OptionIsOn(arguments, "verbatim")) {
        run.VerbatimMode = true;
    }
    run.CheckMode = OptionIsOn(arguments, "check");
    run.InPlaceMode = OptionIsOn(arguments, "inplace");
    if (arguments.size() < 2) {
        WriteConsoleLine("USAGE: hexmend FILENAME [verbatim=true]");
        WriteConsoleLine("\"FILENAME\" refers to the configuration file");
        return 2;
    }
    // A relative FILENAME is taken from the program's own folder, not from
    // the working folder.
    const std::string patchPath = ResolvePath(FolderPart(arguments[0]), arguments[1]);
    if (!ProcessPatchFile(run, patchPath)) {
        return 1;
    }
    if (!run.SilentMode) {
        WriteConsoleLine("Everything is ok!");
    }
    return 0;
}

}  // namespace

std::string OptionValue(const std::vector<std::string>& arguments, std::string_view name) {
    for (const std::string& argument : arguments) {
        const std::size_t eq = argument.find('=');
        if (eq != std::string::npos &&
            EqualsIgnoringCase(std::string_view(argument).substr(0, eq), name)) {
            return argument.substr(eq + 1);
        }
    }
    return std::string();
}

bool OptionIsOn(const std::vector<std::string>& arguments, std::string_view name) {
    return EqualsIgnoringCase(OptionValue(arguments, name), "true");
}

int RunHexmend(const std::vector<std::string>& arguments) {
    Host& host = CurrentHost();
    InterruptionCatcher interruptions;
    int exitCode = 1;
    try {
        exitCode = Run(arguments);
        ThrowIfFailed(host.FlushStdout());
    } catch (const RunInterrupted&) {
        // The run has unwound: what it wrote is removed or rolled back. It
        // ends by the request below, with no word of its own.
        (void)host.FlushStdout();
    } catch (const RunTimeFailure& failure) {
        (void)host.FlushStdout();
        host.WriteStderr(std::string(failure.what()) + "\n");
        exitCode = 1;
    } catch (const std::bad_alloc&) {
        (void)host.FlushStdout();
        host.WriteStderr("hexmend: out of memory\n");
        exitCode = 1;
    }
    interruptions.EndIfInterrupted();
    return exitCode;
}

}  // namespace hexmend
