// Run-time failures: the faults the run does not check for (a file that
// exists but cannot be opened, a target that cannot be written, a failed
// console write, a zlib error). One is thrown where it happens and caught by
// the entry only, which prints its description on standard error and ends
// the process with exit code 1. An interruption (a request to end the
// program, see InterruptionCatcher) unwinds the run the same way, as a
// RunInterrupted, which the entry ends by that request instead.
#pragma once

#include <stdexcept>
#include <string>

#include "host/host.h"
#include "host/status.h"

namespace hexmend {

class RunTimeFailure : public std::runtime_error {
  public:
    explicit RunTimeFailure(const std::string& description) : std::runtime_error(description) {}
};

class RunInterrupted : public RunTimeFailure {
  public:
    explicit RunInterrupted(const Status& status) : RunTimeFailure(status.message()) {}
};

// Turns a failed host call into a run-time failure, and an interrupted one
// into RunInterrupted. No safe point: for the pieces of one console line.
inline void ThrowIfFailed(const Status& status) {
    if (status.interruption() != 0) {
        throw RunInterrupted(status);
    }
    if (!status.ok()) {
        throw RunTimeFailure(status.message());
    }
}

// As ThrowIfFailed, and a safe point: a recorded request to end the program
// throws RunInterrupted, whatever the call's own result.
inline void Check(const Status& status) {
    const Status pending = PendingInterruption();
    if (!pending.ok()) {
        throw RunInterrupted(pending);
    }
    ThrowIfFailed(status);
}

}  // namespace hexmend
