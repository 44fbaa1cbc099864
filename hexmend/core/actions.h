// The actions of both block styles: which action a name stands for, what an
// action makes of a patch's two values, and how the result goes into the
// file, forward or, when the run undoes a patch file, in reverse. The
// engines keep their own syntax and messages; everything between a patch's
// values and CheckedWrite is here.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/run_state.h"

namespace hexmend {

enum class ActionKind {
    kString,     // replace_string: escaped texts
    kXor,        // replace_xor_KK: escaped texts masked with the key KK
    kZlib,       // replace_zlib: whole zlib streams of escaped texts
    kBytes,      // replace_bytes: hexadecimal bytes
    kInt,        // replace_int: one byte
    kFloat,      // replace_float: the 8 bytes of a double
    kUtf8Chars,  // replace_utf8chars: characters in 4-byte UTF-8 slots
    kFile,       // replace_file: the new bytes are a file's
};

struct Action {
    ActionKind kind = ActionKind::kString;
    // replace_xor_KK: the key, or -1 when KK is not a hexadecimal number.
    std::int32_t xorKey = -1;
    // The action as the block writes it, for messages ("replace_xor_zz", or
    // with a zq key's trailing blank "replace_xor_G1 ").
    std::string_view spelling;
};

// The action called name, exactly: "replace_string", "replace_zlib",
// "replace_bytes", "replace_int", "replace_float", "replace_utf8chars",
// "replace_file", or "replace_xor_" and two more characters. Its spelling is
// name. Returns false for any other name.
bool FindAction(std::string_view name, Action* action);

// True for the actions whose values are backslash-escaped texts, unescaped
// by the engine before ConvertValues: replace_string, replace_xor_KK and
// replace_zlib.
bool TakesEscapedText(ActionKind kind);

// Turns a patch's two values, in place, into olddata (the bytes compared)
// and newdata (the bytes written) of a forward run:
// - replace_string, replace_file: as they are (replace_file's new value
//   already holds the file's bytes);
// - replace_xor_KK: both masked with the key, newdata padded with zero bytes
//   to olddata's length; with a key that is no number, "ERROR: wrong key
//   value (<spelling>) in <name> (position=<pos>)" is reported and both go
//   on unmasked (not a failure);
// - replace_zlib: the two streams, the new one zero-padded to the old one's
//   length; a longer new stream is reported (from PrepareZlibReplacement) and
//   fails;
// - replace_bytes, replace_int, replace_float, replace_utf8chars: decoded by
//   their notation; a value the notation refuses becomes empty.
// patchName is the patch's name as messages show it; positions are
// run.PatchData.position. Returns false (reported) when the patch fails.
[[nodiscard]] bool ConvertValues(RunState& run, const Action& action, std::string_view patchName,
                                 Bytes& oldValue, Bytes& newValue);

// Applies a converted patch at run.PatchData.position. Forward:
// CheckedWrite(olddata, newdata). In ReverseMode the roles swap over exactly
// the range the forward run overwrites: newdata is compared (always, also
// when it reads "DONOTCHECK") and olddata's first newdata.size() bytes are
// written back. A patch the reverse run cannot undo fails with nothing
// written, reporting "cannot undo <name> (position=<pos>): the old bytes
// were not checked (DONOTCHECK)" when olddata is exactly "DONOTCHECK" (the
// forward run compared nothing there), or "cannot undo <name>
// (position=<pos>): newdata is longer than olddata" (the bytes beyond
// olddata were never checked). Returns true when written.
[[nodiscard]] bool ApplyValues(RunState& run, std::string_view patchName, std::string_view olddata,
                               std::string_view newdata);

}  // namespace hexmend
