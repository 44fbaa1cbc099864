// The blocks of a patch file as a user sees them: where each begins, its
// name, its style and whether a run applies it; and the switch that turns a
// block on or off by rewriting its enable line, leaving every other byte of
// the text as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "run_state.h"

namespace hexmend {

enum class BlockStyle { kRegular, kZq, kNeither };

struct PatchBlock {
    // The line number of its opening tag, as a run's messages give it.
    int line = 0;
    // The name the run announces it by (empty for kNeither).
    std::string name;
    BlockStyle style = BlockStyle::kNeither;
    // True when its engine applies it rather than skipping it.
    bool enabled = false;
    // Its lines (tags excluded) in the lines it was listed from.
    std::size_t firstLine = 0;
    std::size_t lineCount = 0;
};

// The blocks of lines (the patch file's text as PrepareLines cuts it) that
// a closing tag ends, in order. An opening tag inside a block drops the
// unclosed one, as a check run does; a closing tag outside one is passed.
std::vector<PatchBlock> ListBlocks(const Lines& lines);

// Sets *result to text with the block whose opening tag is on line turned on
// or off: a regular block's "enabled" line gets the value "true" or
// "false"; a zq-style block's "patch_enable " line gets " `yes`" or " `no`",
// and a zq-style block without one that is turned on gets the line
// "patch_enable = `yes`" after its opening tag. Returns false when no block
// of either style begins on that line.
bool SwitchBlock(std::string_view text, int line, bool on, std::string* result);

}  // namespace hexmend
