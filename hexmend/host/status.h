// The result of a host-layer call: success, or a description of what failed
// that names the file and gives the system's reason.
#pragma once

#include <string>
#include <utility>

namespace hexmend {

class [[nodiscard]] Status {
  public:
    static Status Ok() { return Status(); }
    static Status Error(std::string message) { return Status(std::move(message)); }
    // A call cut short because the program was asked to end by signal
    // (see PendingInterruption in host.h).
    static Status Interrupted(int signal) {
        Status status("interrupted by signal " + std::to_string(signal));
        status.signal_ = signal;
        return status;
    }

    bool ok() const { return !failed_; }
    const std::string& message() const { return message_; }
    // The signal that interrupted the call, or 0.
    int interruption() const { return signal_; }

  private:
    Status() = default;
    explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}

    bool failed_ = false;
    std::string message_;
    int signal_ = 0;
};

}  // namespace hexmend
