// The zq patch block style: a "patch_name " and "patch_enable " header and one
// replacement per line, the action in the key, position, old and new in the
// value.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/run_state.h"

namespace hexmend {

// Applies the block in run.BlockLines to run.FileBuffer. Returns true when
// the block was skipped or every line went through, false at the first
// failing line; reports its own failures. In ReverseMode the lines are
// undone from the last to the first.
[[nodiscard]] bool ApplyZqStylePatch(RunState& run);

struct Triple {
    bool valid = false;
    // -1 when there are not three fields or the position is invalid.
    std::int32_t position = -1;
    Bytes oldValue;
    Bytes newValue;
};

// Splits a backquoted value "POS, `old`, `new`" at every ", `", drops every
// backquote and reads the position (leading blanks skipped) into
// position, -1 when there are not three fields or the position is
// not bare hexadecimal digits below 80000000. When unescape is set, old and
// new are unescaped; a malformed escape makes the value invalid and sets
// *unescapeFailed (when given). Valid when the position is valid and old and
// new are both non-empty.
Triple ParseQuotedTriple(std::string_view value, bool unescape, bool* unescapeFailed = nullptr);

// Splits a plain value "POS, old, new" at every comma, trims blanks around
// each field and reads the position as above. Old
// and new stay empty when the position is invalid. Valid when the position
// is valid and old and new are both non-empty.
Triple ParsePlainTriple(std::string_view value);

}  // namespace hexmend
