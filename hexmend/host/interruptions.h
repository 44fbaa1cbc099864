// Requests to end the program: the process-wide record that the platform's
// signal or console handlers write and that checked host calls read. It is
// the one piece of state a handler can reach, so it lives here rather than
// in a host object; each platform installs its handlers in its own file
// (interruptions_posix.cpp, interruptions_windows.cpp, interruptions_web.cpp).
#pragma once

#include "host/status.h"

namespace hexmend {

// While an InterruptionCatcher lives, the requests to end the program
// (SIGINT, SIGTERM and SIGHUP; Ctrl+C and closing the console on Windows)
// are only recorded, unless the program was started with them ignored. The
// run notices a recorded one at its next safe point (a checked host call, or
// a long host call between two of its steps) and unwinds through the owners
// of what it began, which remove or roll back what it wrote; the entry then
// ends the process by the request, as if it had never been caught.
class InterruptionCatcher {
  public:
    InterruptionCatcher();
    // Gives the requests back their earlier handling.
    ~InterruptionCatcher();
    InterruptionCatcher(const InterruptionCatcher&) = delete;
    InterruptionCatcher& operator=(const InterruptionCatcher&) = delete;

    // Ends the process by the recorded request; returns when there is none.
    void EndIfInterrupted();
};

// Status::Interrupted(signal) when a request to end has been recorded and no
// InterruptionHold is in force; Ok otherwise. Async-signal-safe to record,
// cheap to ask.
Status PendingInterruption();

// Records a request to end (the platforms' handlers call it). The first one
// counts.
void RecordInterruption(int signal);

// Cleanup that must run to its end whatever happens (a rollback) holds
// interruptions: PendingInterruption() reports none while one lives.
class InterruptionHold {
  public:
    InterruptionHold();
    ~InterruptionHold();
    InterruptionHold(const InterruptionHold&) = delete;
    InterruptionHold& operator=(const InterruptionHold&) = delete;
};

// The platform's part of InterruptionCatcher (interruptions_posix.cpp,
// interruptions_windows.cpp): installing and removing the handlers, and
// ending the process by a recorded request.
void InstallInterruptionHandlers();
void RemoveInterruptionHandlers();
void EndByInterruption(int signal);

}  // namespace hexmend
