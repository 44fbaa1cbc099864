#include "checked_write.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "reporter.h"
#include "run_state.h"

namespace hexmend {

bool CheckedWrite(std::string_view olddata, std::string_view newdata) {
    const std::int32_t position = PatchData.position;
    if (position < 0) {
        return false;
    }
    // Compared as sizes, never as position + length, which could overflow.
    const auto start = static_cast<std::size_t>(position);
    if (start > FileBuffer.size() || newdata.size() > FileBuffer.size() - start) {
        return false;
    }

    if (olddata != "DONOTCHECK") {
        const std::size_t compared = std::min(olddata.size(), newdata.size());
        for (std::size_t i = 0; i < compared; ++i) {
            if (FileBuffer[start + i] != olddata[i]) {
                ReportMessage("olddata starting with " + PositionText(position) + " does not match",
                              true);
                return false;
            }
        }
    }

    std::copy(newdata.begin(), newdata.end(),
              FileBuffer.begin() + static_cast<std::ptrdiff_t>(start));
    return true;
}

}  // namespace hexmend
