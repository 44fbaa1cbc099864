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

    bool ok() const { return !failed_; }
    const std::string& message() const { return message_; }

  private:
    Status() = default;
    explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}

    bool failed_ = false;
    std::string message_;
};

}  // namespace hexmend
