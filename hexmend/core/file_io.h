// Path resolution and whole-file input and output over the host layer.
#pragma once

#include <string>
#include <string_view>

#include "core/run_state.h"
#include "host/host.h"

namespace hexmend {

// The full path of path taken relative to baseDir: baseDir gets a trailing
// separator if it lacks one; a relative path is appended and canonicalised,
// an absolute one is returned as written. Backslashes are taken as the
// platform's separator. A result longer than the platform's limit is a
// run-time failure (throws RunTimeFailure).
std::string ResolvePath(const FileSystem& host, std::string_view baseDir, std::string_view path);

// path's folder part: its text up to and including the last folder separator.
std::string FolderPart(const FileSystem& host, std::string_view path);

// The whole content of the file at path, read to its end whatever size the
// system reports (a file under /proc reports 0). A file that cannot be opened
// or read, is not a regular file, or is larger than FileBuffer can hold, is a
// run-time failure.
Bytes ReadWholeFile(FileSystem& host, const std::string& path);

// The bytes of file (named path in messages) from its current offset to its
// end, expected bytes or more or fewer: the end is where a read finds
// nothing. More than FileBuffer can hold is a run-time failure.
Bytes ReadToEnd(File& file, const std::string& path, std::uint64_t expected);

// Reads exactly n bytes of file at offset into out. Returns false when the
// file ends first; a failed read is a run-time failure.
[[nodiscard]] bool ReadExactlyAt(File& file, std::uint64_t offset, std::size_t n, char* out);

// Owns a temporary file: removes it on destruction unless it was moved into
// place (MoveOver). Declare it before the file's own owner, so that the
// file is closed before it is removed: an open file cannot be removed
// everywhere.
class TempFileOwner {
  public:
    explicit TempFileOwner(FileSystem& host) : host_(host) {}
    ~TempFileOwner() {
        if (!path_.empty()) {
            (void)host_.RemoveFile(path_);
        }
    }
    TempFileOwner(const TempFileOwner&) = delete;
    TempFileOwner& operator=(const TempFileOwner&) = delete;

    std::string* path() { return &path_; }
    // Moves the temporary file over target in one step and makes the move
    // durable: the folder of the file that target names (links followed) is
    // synced. From the move on, the file is no longer this owner's.
    void MoveOver(const std::string& target);

  private:
    FileSystem& host_;
    std::string path_;
};

// Creates folder (a path ending in a separator) and every missing folder
// above it, outermost first, each made durable in the folder that holds it.
// Returns false when one cannot be created; a failed sync is a run-time
// failure.
[[nodiscard]] bool CreateFolders(FileSystem& host, const std::string& folder);

}  // namespace hexmend
