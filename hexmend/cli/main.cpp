// hexmend: changes bytes inside a file as a patch file says.

#include <string>
#include <vector>

#include "cli/entry.h"
#include "host/platform.h"

int main(int argc, char** argv) {
    hexmend::Host& host = hexmend::PlatformHost();
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc > 0 ? argc : 1));
    // Argument 0 is the program's full path as the OS reports it, not as typed.
    arguments.push_back(host.ExecutablePath());
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return hexmend::RunHexmend(host, arguments);
}
