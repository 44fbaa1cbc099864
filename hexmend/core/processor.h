// One run of hexmend over a patch file.
#pragma once

#include <string>

#include "core/run_state.h"

namespace hexmend {

// Reads the patch file at patchPath (a full path), opens the source file it
// names as run.FileBuffer, applies its blocks in file order and writes the
// target file. Returns true when the target was written; false when a check
// failed (the reason has been reported). Run-time failures throw
// RunTimeFailure.
// In check mode it creates no folder and writes nothing, walks every block
// even after a failure, and ends with "check passed, not saved: <target>"
// (true) or "check failed: <failed> of <blocks>" (false).
// In reverse mode it walks the whole file first (verbatim echo, misplaced
// tags and blocks of neither style are reported as the walk meets them),
// then announces and undoes the blocks from the last to the first.
[[nodiscard]] bool ProcessPatchFile(RunState& run, const std::string& patchPath);

}  // namespace hexmend
