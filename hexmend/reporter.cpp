#include "reporter.h"

#include "host/host.h"
#include "run_failure.h"
#include "run_state.h"

namespace hexmend {
namespace {

// Console attributes: the "ERROR:" prefix, and everything after it.
constexpr int kPrefixAttribute = 14;
constexpr int kTextAttribute = 7;

void Check(const Status& status) {
    if (!status.ok()) {
        throw RunTimeFailure(status.message());
    }
}

}  // namespace

void WriteConsoleLine(std::string_view text) {
    Host& host = CurrentHost();
    std::string line(text);
    line += host.LineEnd();
    Check(host.WriteStdout(line));
}

void ReportMessage(std::string_view text, bool isError) {
    if (SilentMode) {
        return;
    }
    Host& host = CurrentHost();
    if (isError) {
        // The flushes make the colour changes fall exactly on the prefix,
        // although standard output is buffered.
        host.SetTextAttribute(kPrefixAttribute);
        Check(host.WriteStdout("ERROR:"));
        Check(host.FlushStdout());
        host.SetTextAttribute(kTextAttribute);
        Check(host.WriteStdout(" "));
        Check(host.FlushStdout());
    }
    WriteConsoleLine(text);
}

}  // namespace hexmend
