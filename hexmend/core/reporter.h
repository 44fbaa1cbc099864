// Console reporting: the one way to write a progress or error line.
#pragma once

#include <string_view>

#include "core/run_state.h"

namespace hexmend {

// Writes text and a line end to standard output; an error line is preceded by
// "ERROR:" in the error label's look and one blank. Writes nothing when the
// run is silent. A failed console write is a run-time failure (throws
// RunTimeFailure).
void ReportMessage(const RunState& run, std::string_view text, bool isError);

// Writes one of the entry's own lines (banner, usage, final line), which no
// run flag suppresses, to console. Throws RunTimeFailure when the write fails.
void WriteConsoleLine(Console& console, std::string_view text);

}  // namespace hexmend
