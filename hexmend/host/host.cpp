#include "host/host.h"

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
