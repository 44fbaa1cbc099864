// Host calls whose failure is a run-time failure.
#pragma once

#include "core/run_failure.h"
#include "host/interruptions.h"
#include "host/status.h"

namespace hexmend {

// Turns a failed host call into a run-time failure, and an interrupted one
// into RunInterrupted. No safe point: for the pieces of one console line.
inline void ThrowIfFailed(const Status& status) {
    if (status.interruption() != 0) {
        throw RunInterrupted(status.message());
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
        throw RunInterrupted(pending.message());
    }
    ThrowIfFailed(status);
}

}  // namespace hexmend
