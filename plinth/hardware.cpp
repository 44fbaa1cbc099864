#include "hardware.h"

#include <unistd.h>

namespace {

// Stand-in: a crash ends the process with this exit code.
const int kCrashExitCode = 70;

class StandInHardware : public Hardware {
  public:
    StandInHardware() = default;

    bool handleCrash() override {
        static const char message[] = "plinth: handleCrash\n";
        if (write(STDERR_FILENO, message, sizeof(message) - 1) < 0) {
            // Nothing left to report to.
        }
        // No exit handlers: the process has crashed and its state is unknown.
        _exit(kCrashExitCode);
    }
};

}  // namespace

Hardware::Hardware() = default;

Hardware::~Hardware() = default;

bool Hardware::handleCrash() {
    return false;
}

Hardware* HardwareFactory::sharedInstance() {
    static StandInHardware hardware;
    return &hardware;
}
