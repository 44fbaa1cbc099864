#include "host/host.h"

#include "host/interruptions.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace hexmend {
namespace {

// The first recorded request to end, 0 for none. Written by signal handlers
// (and on Windows by the console's handler thread), hence lock-free.
std::atomic<int> pendingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler must be able to record");
// InterruptionHolds alive; the main thread's alone.
int holds = 0;

Status StdoutError() {
    const int error = errno;
    std::clearerr(stdout);
    // A write blocked on a full pipe returns early when a request to end
    // the program comes in.
    if (error == EINTR) {
        Status pending = PendingInterruption();
        if (!pending.ok()) {
            return pending;
        }
    }
    return Status::Error(std::string("cannot write to standard output: ") + std::strerror(error));
}

}  // namespace

Status Console::WriteStdout(std::string_view text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        return StdoutError();
    }
    return Status::Ok();
}

Status Console::FlushStdout() {
    if (std::fflush(stdout) != 0) {
        return StdoutError();
    }
    return Status::Ok();
}

void Console::WriteStderr(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

FileKind FileSystem::KindOf(const std::string& path) {
    if (FolderExists(path)) {
        return FileKind::kFolder;
    }
    return FileExists(path) ? FileKind::kRegular : FileKind::kNone;
}

Status FileSystem::FollowLinks(const std::string& path, std::string* named) {
    *named = path;
    return Status::Ok();
}

InterruptionCatcher::InterruptionCatcher() {
    pendingSignal.store(0);
    InstallInterruptionHandlers();
}

InterruptionCatcher::~InterruptionCatcher() {
    RemoveInterruptionHandlers();
}

void InterruptionCatcher::EndIfInterrupted() {
    const int signal = pendingSignal.load();
    if (signal != 0) {
        RemoveInterruptionHandlers();
        EndByInterruption(signal);
    }
}

Status PendingInterruption() {
    const int signal = pendingSignal.load(std::memory_order_relaxed);
    if (signal == 0 || holds > 0) {
        return Status::Ok();
    }
    return Status::Interrupted(signal);
}

void RecordInterruption(int signal) {
    int none = 0;
    pendingSignal.compare_exchange_strong(none, signal);
}

InterruptionHold::InterruptionHold() {
    ++holds;
}

InterruptionHold::~InterruptionHold() {
    --holds;
}

Status CopyThroughBuffer(File& from, const std::string& fromPath, std::uint64_t begin,
                         std::uint64_t end, File& to) {
    constexpr std::uint64_t kChunk = std::uint64_t{8} << 20;
    std::string buffer(static_cast<std::size_t>(std::min(end - begin, kChunk)), '\0');
    for (std::uint64_t done = begin; done < end;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(end - done, kChunk));
        std::size_t got = 0;
        Status status = from.ReadAt(done, buffer.data(), want, &got);
        if (!status.ok()) {
            return status;
        }
        if (got == 0) {
            return Status::Error("cannot read " + fromPath +
                                 ": the file shrank while it was copied (" + std::to_string(done) +
                                 " of " + std::to_string(end) + " bytes)");
        }
        status = to.WriteAt(done, std::string_view(buffer.data(), got));
        if (!status.ok()) {
            return status;
        }
        done += got;
    }
    return Status::Ok();
}

}  // namespace hexmend
