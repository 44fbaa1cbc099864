#include "core/run_state.h"

#include <cstdio>

namespace hexmend {

std::string PositionText(std::int32_t position) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X", static_cast<std::uint32_t>(position));
    return text;
}

}  // namespace hexmend
