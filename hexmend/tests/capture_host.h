// A host for unit tests: everything goes to the wrapped host (the platform's
// by default), except the console: standard output and standard error are
// captured in strings, with "<14>" and "<7>" marking the error label and the normal text that
// follows it, and
// lines end in "\n" on every platform.
#pragma once

#include <string>

#include "forwarding_host.h"
#include "host/platform.h"

namespace hexmend::testing {

class CaptureHost : public ForwardingHost {
  public:
    explicit CaptureHost(Host& base = PlatformHost()) : ForwardingHost(base) {}

    std::string stdoutText;
    std::string stderrText;

    void FetchConsole() override {}
    Status WriteStdout(std::string_view text) override {
        stdoutText.append(text);
        return Status::Ok();
    }
    Status FlushStdout() override { return Status::Ok(); }
    void SetConsoleRole(ConsoleRole role) override {
        stdoutText += role == ConsoleRole::kErrorLabel ? "<14>" : "<7>";
    }
    void WriteStderr(std::string_view text) override { stderrText.append(text); }
    std::string_view LineEnd() const override { return "\n"; }
};

}  // namespace hexmend::testing
