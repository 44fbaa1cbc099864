#include "host/host.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace hexmend {
namespace {

Host* installed = nullptr;

Status StdoutError() {
    const int error = errno;
    std::clearerr(stdout);
    return Status::Error(std::string("hexmend: cannot write to standard output: ") +
                         std::strerror(error));
}

}  // namespace

Status Host::WriteStdout(std::string_view text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        return StdoutError();
    }
    return Status::Ok();
}

Status Host::FlushStdout() {
    if (std::fflush(stdout) != 0) {
        return StdoutError();
    }
    return Status::Ok();
}

void Host::WriteStderr(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
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
            return Status::Error("hexmend: cannot read " + fromPath +
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

Host& CurrentHost() {
    return installed != nullptr ? *installed : PlatformHost();
}

ScopedHostOverride::ScopedHostOverride(Host& host) : previous_(installed) {
    installed = &host;
}

ScopedHostOverride::~ScopedHostOverride() {
    installed = previous_;
}

}  // namespace hexmend
