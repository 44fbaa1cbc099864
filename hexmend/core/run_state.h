// The state of one hexmend run. The entry creates one RunState over the host
// it was handed, sets the mode flags and hands it to the processor, which
// hands it on to the engines and CheckedWrite; nothing of a run lives
// anywhere else, so runs in one process never meet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/patched_view.h"
#include "host/host.h"

namespace hexmend {

// Largest source file hexmend can hold: positions are 32-bit signed.
inline constexpr std::int64_t kMaxFileBufferSize = 0x7FFFFFFF;

struct PatchDataState {
    // Zero-based offset in FileBuffer of the patch being applied; -1 when unset.
    std::int32_t position = -1;
};

struct RunState {
    explicit RunState(Host& runHost) : host(runHost) {}

    // Everything of the platform the run uses.
    Host& host;
    // The source file as patched so far.
    PatchedView FileBuffer;
    // The lines of the patch block being collected (tags excluded).
    Lines BlockLines;
    // The patch file's folder, ending in the platform's folder separator.
    std::string PatchFileDir;
    // Set once by the entry before the processor runs.
    bool SilentMode = false;
    bool VerbatimMode = false;
    // Check mode: everything is applied in memory, but no folder is created
    // and no target written, and a failing block does not stop the walk.
    bool CheckMode = false;
    // In-place mode: when the target is the source file itself, only the
    // patched bytes are written, in place, under a rollback journal.
    bool InPlaceMode = false;
    // Reverse mode: the run undoes the patch file, its blocks and each
    // block's patches from the last to the first, checking the bytes the
    // forward run writes and writing the old ones back.
    bool ReverseMode = false;
    // Set by the engine that is running.
    PatchDataState PatchData;
};

// Returns `position` as a message shows it: the 32-bit pattern in upper-case
// hexadecimal, at least two digits, no prefix (5 -> "05", -1 -> "FFFFFFFF").
std::string PositionText(std::int32_t position);

}  // namespace hexmend
