#include "checked_write.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "reporter.h"
#include "run_state.h"

namespace hexmend {
namespace {

// How many compared bytes check mode shows.
constexpr std::size_t kShownBytes = 32;

// "DE AD BE EF"
std::string HexBytes(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

// Check mode's account of a difference at start.
void ReportDifference(std::string_view olddata, std::string_view newdata, std::size_t start,
                      std::size_t compared) {
    const std::size_t shown = std::min(compared, kShownBytes);
    const std::string_view found = std::string_view(FileBuffer).substr(start);
    ReportMessage("  expected: " + HexBytes(olddata.substr(0, shown)), false);
    ReportMessage("  found:    " + HexBytes(found.substr(0, shown)), false);
    if (found.substr(0, newdata.size()) == newdata) {
        ReportMessage("  already applied", false);
    }
}

}  // namespace

bool CheckedWrite(std::string_view olddata, std::string_view newdata) {
    const std::int32_t position = PatchData.position;
    if (position < 0) {
        return false;
    }
    // Compared as sizes, never as position + length, which could overflow.
    const auto start = static_cast<std::size_t>(position);
    if (start > FileBuffer.size() || newdata.size() > FileBuffer.size() - start) {
        if (CheckMode) {
            ReportMessage("  beyond the end: " + std::to_string(newdata.size()) + " bytes at " +
                              PositionText(position) + ", the file has " +
                              std::to_string(FileBuffer.size()) + " bytes",
                          false);
        }
        return false;
    }

    if (olddata != "DONOTCHECK") {
        const std::size_t compared = std::min(olddata.size(), newdata.size());
        for (std::size_t i = 0; i < compared; ++i) {
            if (FileBuffer[start + i] != olddata[i]) {
                ReportMessage("olddata starting with " + PositionText(position) + " does not match",
                              true);
                if (CheckMode) {
                    ReportDifference(olddata, newdata, start, compared);
                }
                return false;
            }
        }
    }

    std::copy(newdata.begin(), newdata.end(),
              FileBuffer.begin() + static_cast<std::ptrdiff_t>(start));
    return true;
}

}  // namespace hexmend
