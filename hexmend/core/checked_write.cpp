#include "core/checked_write.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/reporter.h"
#include "core/run_state.h"
#include "core/value_notation.h"

namespace hexmend {
namespace {

// How many compared bytes check mode shows.
constexpr std::size_t kShownBytes = 32;

// Check mode's account of a difference at start.
void ReportDifference(const RunState& run, std::string_view olddata, std::string_view newdata,
                      std::uint64_t start, std::size_t compared, WriteDirection direction) {
    const PatchedView& view = run.FileBuffer;
    const std::size_t shown = std::min(compared, kShownBytes);
    ReportMessage(run, "  expected: " + BytesToHex(olddata.substr(0, shown)), false);
    ReportMessage(run, "  found:    " + BytesToHex(view.Read(start, shown)), false);
    if (view.FirstDifference(start, newdata) == PatchedView::npos) {
        ReportMessage(
            run, direction == WriteDirection::kForward ? "  already applied" : "  already undone",
            false);
    }
}

}  // namespace

bool CheckedWrite(RunState& run, std::string_view olddata, std::string_view newdata,
                  WriteDirection direction) {
    PatchedView& view = run.FileBuffer;
    const std::int32_t position = run.PatchData.position;
    if (position < 0) {
        return false;
    }
    // Compared as sizes, never as position + length, which could overflow.
    const auto start = static_cast<std::uint64_t>(position);
    if (start > view.size() || newdata.size() > view.size() - start) {
        if (run.CheckMode) {
            ReportMessage(run,
                          "  beyond the end: " + std::to_string(newdata.size()) + " bytes at " +
                              PositionText(position) + ", the file has " +
                              std::to_string(view.size()) + " bytes",
                          false);
        }
        return false;
    }

    if (direction == WriteDirection::kReverse || olddata != "DONOTCHECK") {
        const std::size_t compared = std::min(olddata.size(), newdata.size());
        if (view.FirstDifference(start, olddata.substr(0, compared)) != PatchedView::npos) {
            ReportMessage(
                run, "olddata starting with " + PositionText(position) + " does not match", true);
            if (run.CheckMode) {
                ReportDifference(run, olddata, newdata, start, compared, direction);
            }
            return false;
        }
    }

    view.Write(start, newdata);
    return true;
}

}  // namespace hexmend
