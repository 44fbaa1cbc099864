#ifndef PLINTH_CRASH_SIMULATION_H
#define PLINTH_CRASH_SIMULATION_H

#include <QByteArray>

namespace plinth {

struct NamedSignal {
    const char* name;  // without "SIG"
    int number;
};

// The seven signals the launcher treats as crashes, in the order in which it
// installs its handler for them.
extern const NamedSignal kCrashSignals[7];

// Returns the number of the signal named name ("SEGV", "ILL", "ABRT", "BUS",
// "FPE", "STKFLT" or "PIPE"), or 0 for any other name.
int crashSignalNumber(const QByteArray& name);

struct CrashPlan {
    int signum = 0;  // as returned by crashSignalNumber()
    QByteArray name;
    bool onSecondThread = false;
    // Close descriptor 0 first, so that the next socket gets it.
    bool closeStandardInput = false;
    // Lower the limit of open descriptors to 0 first, so that no socket can
    // be made.
    bool withoutDescriptors = false;
};

// Announces "plinth: crashing thread TID" on standard error, prepares the
// descriptors as plan says, then makes the calling thread receive
// plan.signum, as a real fault where the platform has one. Returns only if
// the process survives the signal.
void produceCrashSignal(const CrashPlan& plan);

// Runs produceCrashSignal(plan) on the calling thread or on a thread of its
// own that it waits for. If control comes back, writes
// "plinth: survived SIG<name>" to standard error.
void crashOnPurpose(const CrashPlan& plan);

}  // namespace plinth

#endif  // PLINTH_CRASH_SIMULATION_H
