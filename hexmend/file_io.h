// Path resolution and whole-file input and output over the host layer.
#pragma once

#include <string>
#include <string_view>

#include "run_state.h"

namespace hexmend {

// The full path of path taken relative to baseDir: baseDir gets a trailing
// separator if it lacks one; a relative path is appended and canonicalised,
// an absolute one is returned as written. Backslashes are taken as the
// platform's separator. A result longer than the platform's limit is a
// run-time failure (throws RunTimeFailure).
std::string ResolvePath(std::string_view baseDir, std::string_view path);

// path's folder part: its text up to and including the last folder separator.
std::string FolderPart(std::string_view path);

// The whole content of the file at path. A file that cannot be opened or
// read whole, or is larger than FileBuffer can hold, is a run-time failure.
Bytes ReadWholeFile(const std::string& path);

// Replaces the file at path with bytes in one step: the bytes go to a
// temporary file beside it, are made durable and moved over path. An
// existing file keeps its content when anything fails, and no temporary file
// remains. Failures are run-time failures.
void WriteWholeFile(const std::string& path, std::string_view bytes);

// Creates folder (a path ending in a separator) and every missing folder
// above it, outermost first. Returns false when one cannot be created.
[[nodiscard]] bool CreateFolders(const std::string& folder);

}  // namespace hexmend
