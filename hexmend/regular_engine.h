// The regular patch block style: one key per line (name, enabled, action,
// position, olddata/newdata or oldpart/newpart with combineparts).
#pragma once

#include "run_state.h"

namespace hexmend {

// Applies the block in run.BlockLines to run.FileBuffer. Returns true to go on with
// the run, false to stop it; reports its own failures. In ReverseMode the
// block's complete sets are gathered first (an incomplete one fails the
// block before anything is undone) and undone from the last to the first.
[[nodiscard]] bool ApplyRegularPatch(RunState& run);

// The names, as written, of the files that the replace_file patches of the
// block in blockLines read, in order, whether the block is enabled or not:
// the new text of each complete set whose action is "replace_file".
Lines ReplacementFileNames(const Lines& blockLines);

}  // namespace hexmend
