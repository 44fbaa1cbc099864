// The state of one hexmend run. There is exactly one instance of each of
// these for the whole program; the entry sets the two mode flags, the
// processor owns the buffer, the block lines and the patch file's folder, and
// the engine that is running owns PatchData.position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hexmend {

// 8-bit byte strings: any byte value, zero included, counted by length.
using Bytes = std::string;
using Lines = std::vector<std::string>;

// Largest source file hexmend can hold: positions are 32-bit signed.
inline constexpr std::int64_t kMaxFileBufferSize = 0x7FFFFFFF;

// The source file's bytes, patched in place, written whole to the target.
extern Bytes FileBuffer;
// The lines of the patch block being collected (tags excluded).
extern Lines BlockLines;
// The patch file's folder, ending in the platform's folder separator.
extern std::string PatchFileDir;
// Set once by the entry before the processor runs.
extern bool SilentMode;
extern bool VerbatimMode;
// Check mode: everything is applied in memory, but no folder is created and
// no target written, and a failing block does not stop the walk.
extern bool CheckMode;

struct PatchDataState {
    // Zero-based offset in FileBuffer of the patch being applied; -1 when unset.
    std::int32_t position = -1;
};
extern PatchDataState PatchData;

// Returns `position` as a message shows it: the 32-bit pattern in upper-case
// hexadecimal, at least two digits, no prefix (5 -> "05", -1 -> "FFFFFFFF").
std::string PositionText(std::int32_t position);

// Puts every part of the run state back to its state at program start.
// For tests and fuzzing, which run many runs in one process.
void ResetRunState();

}  // namespace hexmend
