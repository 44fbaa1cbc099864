// hexmend-diff: writes a patch file that changes one file into another.

#include <string>
#include <vector>

#include "diff/diff_entry.h"
#include "host/platform.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc > 0 ? argc : 1));
    for (int i = 0; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return hexmend::RunHexmendDiff(hexmend::PlatformHost(), arguments);
}
