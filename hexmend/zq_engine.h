// The zq patch block style: a "patch_name " and "patch_enable " header and one
// replacement per line, the action in the key, position, old and new in the
// value.
#pragma once

#include <string_view>

#include "run_state.h"

namespace hexmend {

// Applies the block in BlockLines to FileBuffer. Returns true when the block
// was skipped or every line went through, false at the first failing line;
// reports its own failures.
[[nodiscard]] bool ApplyZqStylePatch();

struct Triple {
    bool valid = false;
    Bytes oldValue;
    Bytes newValue;
};

// Splits a backquoted value "POS, `old`, `new`" at every ", `", drops the
// backquotes, reads the position into PatchData.position (-1 when invalid)
// and, when unescape is set, unescapes old and new. When an unescape fails,
// unescapeFailed is set.
Triple ParseQuotedTriple(std::string_view value, bool unescape, bool* unescapeFailed = nullptr);

// Splits a plain value "POS, old, new" at every comma, trims blanks around
// each field and reads the position into PatchData.position.
Triple ParsePlainTriple(std::string_view value);

}  // namespace hexmend
