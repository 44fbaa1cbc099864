// The files of a run: opening the source for the whole run, and writing the
// result to the target.
#pragma once

#include <string>

#include "core/run_state.h"

namespace hexmend {

// Opens the source file as run.FileBuffer and keeps it open. When it is also
// the target (the same file, whatever its name), it is locked first so that
// one run at a time works on it, and opened again should another run have
// replaced it while this one waited; in in-place mode it is opened for
// writing too. A source over kMaxFileBufferSize bytes, or one that cannot be
// opened, is a run-time failure.
void OpenSource(RunState& run, const std::string& sourcePath, const std::string& targetPath);

// The path of the file the target at targetPath names: the target itself, or
// where its symbolic links lead (the file is written through them, as a
// shell's redirection would, and created when it does not exist yet). A
// target that exists and is not a regular file (a device, a pipe, a socket,
// a folder), and a loop of links, are run-time failures.
std::string ExamineTarget(FileSystem& host, const std::string& targetPath);

// Writes run.FileBuffer to the target. By default the target is replaced in
// one step by a new file: a copy of the source (cloned where the platform
// can), the written ranges laid over it, made durable. In in-place mode, when
// the target is the source file itself, only the written ranges are written,
// under a rollback journal. A source that changed since it was opened, and
// every failure to write, are run-time failures; the target is then old or
// new, never in between, and nothing is left behind.
void CommitTarget(RunState& run, const std::string& targetPath);

}  // namespace hexmend
