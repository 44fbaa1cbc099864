// The regular patch block style: one key per line (name, enabled, action,
// position, olddata/newdata or oldpart/newpart with combineparts).
#pragma once

namespace hexmend {

// Applies the block in BlockLines to FileBuffer. Returns true to go on with
// the run, false to stop it; reports its own failures.
[[nodiscard]] bool ApplyRegularPatch();

}  // namespace hexmend
