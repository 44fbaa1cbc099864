// Interruptions in the page: nothing asks a run to end. A run is cancelled by
// ending the worker it runs in, which takes everything of it along.

#include "host/host.h"

namespace hexmend {

void InstallInterruptionHandlers() {}

void RemoveInterruptionHandlers() {}

void EndByInterruption(int signal) {
    (void)signal;
}

}  // namespace hexmend
