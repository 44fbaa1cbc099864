// A host for unit tests: everything goes to the wrapped host (the platform's
// by default), except the console: standard output and standard error are
// captured in strings, with "<14>" and "<7>" marking the colour changes, and
// lines end in "\n" on every platform.
#pragma once

#include <string>

#include "forwarding_host.h"

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
    void SetTextAttribute(int attribute) override {
        stdoutText += "<" + std::to_string(attribute) + ">";
    }
    void WriteStderr(std::string_view text) override { stderrText.append(text); }
    std::string_view LineEnd() const override { return "\n"; }
};

}  // namespace hexmend::testing
