#include "host/host.h"

namespace hexmend {
namespace {
Host* installed = nullptr;
}  // namespace

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
