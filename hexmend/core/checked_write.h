// The one operation through which the engines change FileBuffer.
#pragma once

#include <string_view>

#include "core/run_state.h"

namespace hexmend {

// Compares run.FileBuffer at run.PatchData.position with olddata and, if they agree,
// overwrites it with newdata. Returns true when written.
//
// Fails without a message when the position is negative or newdata does not
// fit into FileBuffer from there. Unless olddata is exactly "DONOTCHECK", the
// bytes about to be overwritten are compared with olddata as far as olddata
// reaches (bytes of a longer newdata beyond it go unchecked); at the first
// difference it reports "olddata starting with <pos> does not match" and fails.
// FileBuffer is unchanged whenever the result is false.
// In CheckMode a difference is followed by the plain lines "  expected: " and
// "  found:    " with up to 32 compared bytes in hex, and "  already applied"
// when FileBuffer already holds newdata there; a range beyond FileBuffer is
// reported too.
//
// kReverse, for a run that undoes a patch: olddata is then the bytes the
// forward run wrote, compared in full even when they read "DONOTCHECK", and
// check mode says "  already undone" instead of "  already applied".
enum class WriteDirection { kForward, kReverse };
[[nodiscard]] bool CheckedWrite(RunState& run, std::string_view olddata, std::string_view newdata,
                                WriteDirection direction = WriteDirection::kForward);

}  // namespace hexmend
