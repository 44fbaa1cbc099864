// The entry of hexmend-diff: arguments, usage text, the paths the patch file
// names and the exit code.
#pragma once

#include <string>
#include <vector>

#include "host/host.h"

namespace hexmend {

// Runs hexmend-diff on host over arguments (argument 0 being the program, then OLD,
// NEW and optionally PATCHFILE): writes a patch file that changes OLD into
// NEW to PATCHFILE, or to standard output without it. Returns the exit code:
// 0 written (or the files are identical, and nothing is written), 1 refused
// or failed (nothing written to PATCHFILE), 2 usage text written. Every
// message goes to standard error; run-time failures are caught here.
int RunHexmendDiff(Host& host, const std::vector<std::string>& arguments);

}  // namespace hexmend
