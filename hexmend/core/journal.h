// The rollback journal of in-place runs. Before a run writes a byte in
// place, the old bytes of every range it will change go to a journal file
// beside the file, with the file's identity and size and a checksum, and are
// made durable; then the file is written and made durable; deleting the
// journal is the commit. A run that finds a complete journal puts the old
// bytes back before anything else; an incomplete one means the file was never
// touched.
#pragma once

#include <string>

#include "core/run_state.h"

namespace hexmend {

// The journal's path for the file at path.
std::string JournalPath(const std::string& path);

// When a journal for the file at path exists: takes the file's lock, rolls
// the file back from a complete journal and reports "rolled back an
// interrupted run: " + path, or deletes an incomplete one; then deletes the
// journal durably. A journal made for another file is a run-time failure.
void RecoverInterruptedRun(const RunState& run, const std::string& path);

// Writes run.FileBuffer's written ranges in place into its source, which is
// open for writing and locked, and is the target at targetPath. Failures are
// run-time failures; when one strikes, or a request to end the program, once
// the journal is durable, the ranges written so far get their old bytes back
// and the journal goes. When even that fails, the journal stays for the next
// run to roll back, and the failure's message says so.
void CommitInPlace(RunState& run, const std::string& targetPath);

}  // namespace hexmend
