#include "core/reporter.h"

#include <string>

#include "host/host.h"
#include "core/run_failure.h"

namespace hexmend {

void WriteConsoleLine(std::string_view text) {
    Host& host = CurrentHost();
    std::string line(text);
    line += host.LineEnd();
    ThrowIfFailed(host.WriteStdout(line));
}

void ReportMessage(const RunState& run, std::string_view text, bool isError) {
    if (run.SilentMode) {
        return;
    }
    Host& host = CurrentHost();
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
    WriteConsoleLine(text);
}

}  // namespace hexmend
