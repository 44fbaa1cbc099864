// The stand-in's application object. It is a test double: what it does is
// chosen by environment variables that only it reads (see initialize()).

#include "plinth3application.h"

#include <cstdio>

#include <QTimer>
#include <QWidget>

#include "crash_simulation.h"
#include "diagnostics.h"
#include "font_loader.h"
#include "main_window.h"

namespace {

bool isSet(const char* name) {
    return qEnvironmentVariableIsSet(name);
}

QByteArray valueOf(const char* name) {
    return qgetenv(name);
}

bool tracing() {
    return qgetenv("PLINTH_TRACE") == "1";
}

}  // namespace

Plinth3Application::Plinth3Application(int& argc, char** argv) : QApplication(argc, argv) {
    if (tracing()) {
        plinth::traceConstruction();
    }
}

Plinth3Application::~Plinth3Application() {
    if (tracing()) {
        plinth::traceEvent("destroyed");
    }
}

// Stand-in controls. PLINTH_TRACE=1 reports construction (see
// plinth::traceConstruction()), this call and destruction on standard error.
// The others are checked in this order:
//   PLINTH_INITIALIZE=false    decline to start
//   PLINTH_PRINT_NAMES=1       print the organization and application names
//   PLINTH_DUMP_METATYPES=1    print the 25 meta-type names with their ids
//   PLINTH_LIST_RESOURCES=1    print every file under ":/" with its size
//   PLINTH_DUMP_RESOURCE=:/p   print one resource's decompressed content
//   PLINTH_LOAD_FONT=path      load a font file through the decryption hook
// each of which then declines to start, and, for a running event loop:
//   PLINTH_CRASH=NAME          produce signal SIGNAME (PLINTH_CRASH_THREAD=1:
//                              on a second thread; PLINTH_CRASH_CLOSE_STDIN=1:
//                              close descriptor 0 first;
//                              PLINTH_CRASH_NO_DESCRIPTORS=1: allow no more
//                              open descriptors first)
//   PLINTH_EXIT_CODE=N         leave the event loop with N
// Without any, a main window runs until it is closed.
bool Plinth3Application::initialize() {
    if (tracing()) {
        plinth::traceEvent("initialize");
    }
    if (valueOf("PLINTH_INITIALIZE") == "false") {
        return false;
    }
    if (valueOf("PLINTH_PRINT_NAMES") == "1") {
        plinth::printNames();
        return false;
    }
    if (valueOf("PLINTH_DUMP_METATYPES") == "1") {
        plinth::dumpMetaTypes();
        return false;
    }
    if (valueOf("PLINTH_LIST_RESOURCES") == "1") {
        plinth::listResources();
        return false;
    }
    if (isSet("PLINTH_DUMP_RESOURCE")) {
        plinth::dumpResource(QString::fromLocal8Bit(valueOf("PLINTH_DUMP_RESOURCE")));
        return false;
    }
    if (isSet("PLINTH_LOAD_FONT")) {
        plinth::loadFontFile(QString::fromLocal8Bit(valueOf("PLINTH_LOAD_FONT")));
        return false;
    }
    if (isSet("PLINTH_CRASH")) {
        plinth::CrashPlan plan;
        plan.name = valueOf("PLINTH_CRASH");
        plan.signum = plinth::crashSignalNumber(plan.name);
        if (plan.signum == 0) {
            std::fprintf(stderr,
                         "plinth: PLINTH_CRASH must be one of ILL ABRT BUS FPE SEGV STKFLT PIPE, "
                         "not '%s'\n",
                         plan.name.constData());
            return false;
        }
        plan.onSecondThread = valueOf("PLINTH_CRASH_THREAD") == "1";
        plan.closeStandardInput = valueOf("PLINTH_CRASH_CLOSE_STDIN") == "1";
        plan.withoutDescriptors = valueOf("PLINTH_CRASH_NO_DESCRIPTORS") == "1";
        QTimer::singleShot(0, this, [plan]() {
            plinth::crashOnPurpose(plan);
            QCoreApplication::exit(0);
        });
        return true;
    }
    if (isSet("PLINTH_EXIT_CODE")) {
        bool ok = false;
        const int exitCode = valueOf("PLINTH_EXIT_CODE").toInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "plinth: PLINTH_EXIT_CODE must be an integer, not '%s'\n",
                         valueOf("PLINTH_EXIT_CODE").constData());
            return false;
        }
        QTimer::singleShot(0, this, [exitCode]() { QCoreApplication::exit(exitCode); });
        return true;
    }
    plinth::createMainWindow()->show();
    return true;
}
