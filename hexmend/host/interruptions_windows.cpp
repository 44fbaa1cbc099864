// Requests to end hexmend on Windows: Ctrl+C and Ctrl+Break, and closing the
// console, logging off and shutting down, through the console's control
// handler. The handler runs on a thread of its own and only records the
// request (as SIGINT for the keys, SIGTERM for the rest); the run notices it
// at its next checked host call and unwinds (see InterruptionCatcher).

#include <windows.h>

#include <csignal>

#include "host/interruptions.h"

namespace hexmend {
namespace {

// Set when the process is about to end by a request: a close, log-off or
// shutdown handler must not return before then, since the system ends the
// process as soon as it returns (and on its own after a few seconds).
HANDLE ending = nullptr;
bool installed = false;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            RecordInterruption(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            RecordInterruption(SIGTERM);
            if (ending != nullptr) {
                (void)::WaitForSingleObject(ending, INFINITE);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void InstallInterruptionHandlers() {
    if (ending == nullptr) {
        ending = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    if (!installed) {
        installed = ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
    }
}

void RemoveInterruptionHandlers() {
    if (installed) {
        (void)::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
        installed = false;
    }
}

// Ends the process as Windows ends a console program on Ctrl+C; a handler
// still waiting lets go with it.
void EndByInterruption(int signal) {
    (void)signal;
    if (ending != nullptr) {
        (void)::SetEvent(ending);
    }
    ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace hexmend
