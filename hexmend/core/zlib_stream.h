// Whole zlib streams, given by their uncompressed content.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/bytes.h"

namespace hexmend {

// The complete zlib stream of bytes, byte for byte what zlib's compress2()
// gives at Z_DEFAULT_COMPRESSION. A zlib error is a run-time failure
// (throws RunTimeFailure).
Bytes CompressWithZlib(std::string_view bytes);

// The same stream handed to piece in consecutive runs of at most 65,536
// bytes as the compressor makes them, for callers that compare it with bytes
// elsewhere instead of holding it. piece returns false to stop the
// compressor; the result is then false.
bool CompressWithZlib(std::string_view bytes, const std::function<bool(std::string_view)>& piece);

// The description of the run-time failure for a negative zlib result code,
// e.g. "zlib: Insufficient memory" for Z_MEM_ERROR.
std::string ZlibFailureDescription(int code);

struct ZlibReplacement {
    Bytes oldStream;
    // The new stream, zero-padded to the old stream's length.
    Bytes newStream;
};

// Compresses both texts. When the new stream is longer than the old one,
// stores the error message "size of data differs (olddata=...byte,
// newdata=...byte) in <name> (position=<position>)" in *failure, for the
// engine to report, and returns false: the zlib step itself writes nothing,
// so it needs no console. patchName and position are only used in that
// message; position is already in its message form.
[[nodiscard]] bool PrepareZlibReplacement(std::string_view oldText, std::string_view newText,
                                          std::string_view patchName, std::string_view position,
                                          ZlibReplacement* result, std::string* failure);

}  // namespace hexmend
