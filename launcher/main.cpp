// The reader application launcher: prepares the process and hands control to
// the application object of the application library.

#include <csignal>
#include <cstring>

#include <QCoreApplication>

#include "crash_handler.h"
#include "font_hook.h"
#include "meta_types.h"
#include "plinth3application.h"
#include "qt_compat.h"

namespace {

// The signals treated as crashes, in the order their handler is installed.
const int kCrashSignals[] = {SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSTKFLT, SIGPIPE};

void installCrashSignalHandler() {
    // No flags: the handler stays installed after it runs, the signal being
    // handled is blocked meanwhile, and interrupted calls are not restarted.
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = crashSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int signum : kCrashSignals) {
        sigaction(signum, &action, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    fontDecryptHook() = decryptFontFile;
    registerMetaTypes();
    installCrashSignalHandler();
    QCoreApplication::setOrganizationName("Ostra");
    QCoreApplication::setApplicationName("Ostra eReader");

    int exitCode = 0;
    {
        Plinth3Application application(argc, argv);
        if (application.initialize()) {
            exitCode = QApplication::exec();
        }
    }
    return exitCode;
}
