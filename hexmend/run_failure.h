// Run-time failures: the faults the run does not check for (a file that
// exists but cannot be opened, a target that cannot be written, a failed
// console write, a zlib error). One is thrown where it happens and caught by
// the entry only, which prints its description on standard error and ends
// the process with exit code 1.
#pragma once

#include <stdexcept>
#include <string>

#include "host/status.h"

namespace hexmend {

class RunTimeFailure : public std::runtime_error {
  public:
    explicit RunTimeFailure(const std::string& description) : std::runtime_error(description) {}
};

// Turns a failed host call into a run-time failure.
inline void Check(const Status& status) {
    if (!status.ok()) {
        throw RunTimeFailure(status.message());
    }
}

}  // namespace hexmend
