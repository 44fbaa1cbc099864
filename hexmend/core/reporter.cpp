#include "core/reporter.h"

#include <string>

#include "core/host_call.h"
#include "host/host.h"

namespace hexmend {

void WriteConsoleLine(Console& console, std::string_view text) {
    std::string line(text);
    line += console.LineEnd();
    ThrowIfFailed(console.WriteStdout(line));
}

void ReportMessage(const RunState& run, std::string_view text, bool isError) {
    if (run.SilentMode) {
        return;
    }
    Console& host = run.host;
    if (isError) {
        // The flushes make the colour changes fall exactly on the prefix,
        // although standard output is buffered.
        host.SetConsoleRole(ConsoleRole::kErrorLabel);
        ThrowIfFailed(host.WriteStdout("ERROR:"));
        ThrowIfFailed(host.FlushStdout());
        host.SetConsoleRole(ConsoleRole::kNormalText);
        ThrowIfFailed(host.WriteStdout(" "));
        ThrowIfFailed(host.FlushStdout());
    }
    WriteConsoleLine(host, text);
}

}  // namespace hexmend
