#include "crash_simulation.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

// The functions that fault have names in the dynamic symbol table (they are
// not static) so that they show up in the launcher's backtrace.

namespace plinth {

const NamedSignal kCrashSignals[7] = {
    {"ILL", SIGILL},   {"ABRT", SIGABRT},     {"BUS", SIGBUS},   {"FPE", SIGFPE},
    {"SEGV", SIGSEGV}, {"STKFLT", SIGSTKFLT}, {"PIPE", SIGPIPE},
};

int crashSignalNumber(const QByteArray& name) {
    for (const NamedSignal& entry : kCrashSignals) {
        if (name == entry.name) {
            return entry.number;
        }
    }
    return 0;
}

__attribute__((noinline, no_sanitize_undefined, no_sanitize_address)) void
writeThroughNullPointer() {
    volatile int* volatile target = nullptr;
    *target = 1;
}

__attribute__((noinline)) void executeIllegalInstruction() {
#if defined(__arm__)
    // ARM's table-driven unwinder looks a frame up at its address minus 2,
    // as if every address were a return address: a trap at the very start of
    // the function would be taken for the end of the one before it, and the
    // backtrace would stop there.
    __asm__ volatile("nop");
#endif
    __builtin_trap();
}

__attribute__((noinline, no_sanitize_undefined)) void divideByZero() {
#if defined(__i386__) || defined(__x86_64__)
    // x86 traps on integer division by zero; the fault recurs after a
    // handler that returns, as a real one would.
    volatile int dividend = 1;
    volatile int divisor = 0;
    volatile int quotient = dividend / divisor;
    (void)quotient;
#else
    // Integer division by zero does not trap here. (ARM's divide instruction
    // yields 0; without one, the runtime's __aeabi_idiv raises SIGFPE once,
    // from code without unwind tables, so the backtrace would end there.)
    raise(SIGFPE);
    // Not a tail call: this function keeps its frame in the backtrace.
    __asm__ volatile("" ::: "memory");
#endif
}

__attribute__((noinline, no_sanitize_address)) void readPastTruncatedMapping() {
    const long pageSize = sysconf(_SC_PAGESIZE);
    const int fd = memfd_create("plinth-bus", 0);
    if (fd < 0 || ftruncate(fd, pageSize) != 0) {
        std::perror("plinth: memfd");
        return;
    }
    void* mapping = mmap(nullptr, static_cast<size_t>(pageSize), PROT_READ, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED || ftruncate(fd, 0) != 0) {
        std::perror("plinth: mmap");
        return;
    }
    const volatile char* bytes = static_cast<const volatile char*>(mapping);
    const char first = bytes[0];
    (void)first;
    munmap(mapping, static_cast<size_t>(pageSize));
    close(fd);
}

__attribute__((noinline)) void writeToPipeWithoutReader() {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("plinth: pipe");
        return;
    }
    close(fds[0]);
    const char byte = 0;
    if (write(fds[1], &byte, 1) < 0) {
        // EPIPE once the handler has returned.
    }
    close(fds[1]);
}

void produceCrashSignal(const CrashPlan& plan) {
    std::fprintf(stderr, "plinth: crashing thread %ld\n", static_cast<long>(syscall(SYS_gettid)));
    std::fflush(stderr);
    if (plan.closeStandardInput) {
        close(STDIN_FILENO);
    }
    if (plan.withoutDescriptors) {
        struct rlimit limit;
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = 0;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            std::perror("plinth: setrlimit");
        }
    }
    switch (plan.signum) {
        case SIGSEGV:
            writeThroughNullPointer();
            break;
        case SIGILL:
            executeIllegalInstruction();
            break;
        case SIGABRT:
            std::abort();
        case SIGBUS:
            readPastTruncatedMapping();
            break;
        case SIGFPE:
            divideByZero();
            break;
        case SIGPIPE:
            writeToPipeWithoutReader();
            break;
        default:
            raise(plan.signum);
            break;
    }
}

void crashOnPurpose(const CrashPlan& plan) {
    if (plan.onSecondThread) {
        std::thread crasher(produceCrashSignal, plan);
        crasher.join();
    } else {
        produceCrashSignal(plan);
    }
    std::fprintf(stderr, "plinth: survived SIG%s\n", plan.name.constData());
    std::fflush(stderr);
}

}  // namespace plinth
