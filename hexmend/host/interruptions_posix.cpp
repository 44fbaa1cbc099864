// Requests to end hexmend on POSIX systems: SIGINT, SIGTERM and SIGHUP. The
// handler only records the request; the run notices it at its next checked
// host call and unwinds (see InterruptionCatcher), and the entry then ends
// the process by the same signal.

#include <signal.h>

#include <cstddef>
#include <cstring>
#include <iterator>

#include "host/interruptions.h"

namespace hexmend {
namespace {

// The requests to end the program that a run catches, and how they were
// handled before.
constexpr int kEndRequests[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction earlierHandling[std::size(kEndRequests)];
bool caught[std::size(kEndRequests)] = {};

void OnEndRequest(int signal) {
    RecordInterruption(signal);
}

}  // namespace

void InstallInterruptionHandlers() {
    for (std::size_t i = 0; i < std::size(kEndRequests); ++i) {
        // A request the program was started with ignored (nohup) stays so.
        struct sigaction now;
        if (caught[i] || ::sigaction(kEndRequests[i], nullptr, &now) != 0 ||
            ((now.sa_flags & SA_SIGINFO) == 0 && now.sa_handler == SIG_IGN)) {
            continue;
        }
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = OnEndRequest;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a wait (for a lock, or on a full pipe) returns at
        // once, and the run ends.
        action.sa_flags = 0;
        caught[i] = ::sigaction(kEndRequests[i], &action, &earlierHandling[i]) == 0;
    }
}

void RemoveInterruptionHandlers() {
    for (std::size_t i = 0; i < std::size(kEndRequests); ++i) {
        if (caught[i]) {
            (void)::sigaction(kEndRequests[i], &earlierHandling[i], nullptr);
            caught[i] = false;
        }
    }
}

// The default action of the request: the parent sees the process end by it.
void EndByInterruption(int signal) {
    ::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    (void)::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    (void)::raise(signal);
}

}  // namespace hexmend
