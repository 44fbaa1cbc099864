#ifndef OSTRA_LAUNCHER_CRASH_HANDLER_H
#define OSTRA_LAUNCHER_CRASH_HANDLER_H

#include <QStringList>

// Handler for the fatal signals. When the application settings ask for the
// crash monitor, sends it the kernel id of the crashing thread over the
// abstract socket "ostra:marigold", waits for its answer and restores the
// signal's default action, so that the process ends when the fault recurs.
// Otherwise prints "OH THE HUMANITY!" and a backtrace through qDebug(),
// sleeps five seconds and calls the hardware object's handleCrash().
void crashSignalHandler(int signum);

// Returns one text per frame of the calling thread's stack, innermost first,
// at most 50: the demangled name of the frame's function where one could be
// found in the frame's symbol line, the whole line otherwise.
QStringList backtraceLines();

// Writes each entry of backtraceLines() as one quoted debug message.
void printBacktrace();

#endif  // OSTRA_LAUNCHER_CRASH_HANDLER_H
