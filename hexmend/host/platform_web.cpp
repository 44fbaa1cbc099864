// The browser build's platform host: runs are handed a WebHost of their own
// (web/bindings.cpp); one with no user files stands in for any other.

#include "host/host_web.h"

namespace hexmend {

Host& PlatformHost() {
    struct NoSource final : UserFileSource {
        bool ReadRange(int, std::uint64_t, std::size_t, char*) override { return false; }
    };
    static NoSource source;
    static UserFiles files(source);
    static WebHost host(files);
    return host;
}

}  // namespace hexmend
