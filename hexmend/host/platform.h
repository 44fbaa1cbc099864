// The host of the platform this program was built for, which front-ends
// hand to the runs they start (host_posix.cpp, host_windows.cpp).
#pragma once

#include "host/host.h"

namespace hexmend {

// The platform's own host; it lives as long as the program.
Host& PlatformHost();

}  // namespace hexmend
