// The host layer: every call hexmend makes into the operating system goes
// through this interface. Each platform has one implementation
// (host_posix.cpp, host_windows.cpp); tests wrap it to inject faults.
//
// Paths are 8-bit strings in the platform's own form. Errors come back as a
// Status whose message names the file and gives the system's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/status.h"

namespace hexmend {

// What identifies a file on its volume, whatever name it is reached by.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;

    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && index == other.index;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// What a run compares to notice that a file changed under it.
struct FileState {
    FileIdentity identity;
    std::uint64_t size = 0;
    // Modification and status-change times in the platform's own units.
    std::int64_t modified = 0;
    std::int64_t changed = 0;

    bool operator==(const FileState& other) const {
        return identity == other.identity && size == other.size && modified == other.modified &&
               changed == other.changed;
    }
    bool operator!=(const FileState& other) const { return !(*this == other); }
};

// What a path names, links followed.
enum class FileKind { kNone, kRegular, kFolder, kOther };

// An open file. Files opened for reading only fail the writing calls.
// Closing is part of the contract: Close() reports errors that writes may
// have deferred; the destructor closes without a word.
class File {
  public:
    virtual ~File() = default;
    // The file's identity, size and times as they are now.
    virtual Status State(FileState* state) = 0;
    // Stores the file's current size in bytes in *size.
    Status Size(std::uint64_t* size) {
        FileState state;
        Status status = State(&state);
        *size = state.size;
        return status;
    }
    // Reads up to n bytes from the current offset into buf and stores the
    // count in *got; 0 at the end.
    virtual Status Read(char* buf, std::size_t n, std::size_t* got) = 0;
    // Reads up to n bytes at offset, leaving the current offset alone.
    virtual Status ReadAt(std::uint64_t offset, char* buf, std::size_t n, std::size_t* got) = 0;
    // Writes all of data at the current offset, or fails.
    virtual Status Append(std::string_view data) = 0;
    // Writes all of data at offset, or fails.
    virtual Status WriteAt(std::uint64_t offset, std::string_view data) = 0;
    // Makes the written bytes durable.
    virtual Status Sync() = 0;
    // Waits for and takes an exclusive lock that other hexmend runs honour;
    // it lasts until the file is closed.
    virtual Status Lock() = 0;
    virtual Status Close() = 0;
};

// What console output is: the label of an error line, or everything else.
enum class ConsoleRole { kErrorLabel, kNormalText };

class Host {
  public:
    virtual ~Host() = default;

    // ---- Process ----
    // Full path of the running program's executable, as the OS reports it.
    virtual std::string ExecutablePath() = 0;
    // Full path of the working folder; empty when the system cannot tell it.
    virtual std::string CurrentFolder() = 0;
    // The arguments that, given alone, ask for the usage text ("--help",
    // "-h", and whatever else is usual on the platform).
    virtual std::vector<std::string> HelpWords() const = 0;

    // ---- Paths ----
    // Returns path in the platform's form. On POSIX every backslash becomes
    // "/", so that patch files written on Windows work unchanged.
    virtual std::string NativePath(std::string_view path) const = 0;
    // The separator that ends a folder path ("/" or "\").
    virtual char FolderSeparator() const = 0;
    // True for every character that ends a path's folder part ("/"; "\" and ":").
    virtual bool IsFolderSeparator(char c) const = 0;
    // True when path is relative (does not name a root).
    virtual bool IsRelativePath(const std::string& path) const = 0;
    // Removes "." and ".." segments from path. Returns false when the
    // platform cannot canonicalise it.
    virtual bool CanonicalizePath(const std::string& path, std::string* result) const = 0;
    // The full path of path: a relative path is taken from the working folder
    // (on Windows, a drive's own working folder for "D:name"), then
    // canonicalised lexically like CanonicalizePath.
    virtual Status AbsolutePath(const std::string& path, std::string* result) = 0;
    // Longest path, in bytes, the platform's file calls take.
    virtual std::size_t MaxPathLength() const = 0;
    // True when folder (without its trailing separator) is a root that always
    // counts as present ("" or "/" on POSIX; "C:" and shorter on Windows).
    virtual bool IsRootFolder(const std::string& folder) const = 0;

    // ---- Files ----
    // True when a file (not a folder) exists at path.
    virtual bool FileExists(const std::string& path) = 0;
    // True when a folder exists at path.
    virtual bool FolderExists(const std::string& path) = 0;
    // What is at path, links followed: nothing, a regular file, a folder, or
    // anything else (a device, a pipe, a socket). The default knows files and
    // folders only.
    virtual FileKind KindOf(const std::string& path);
    // Follows path, while it is a symbolic link, from link to link, and
    // stores the path of the file the last one names, which need not exist
    // (writing through the link creates it); path itself when it is no link.
    // A loop of links is an error. The default is for systems without links.
    virtual Status FollowLinks(const std::string& path, std::string* named);
    // Creates one folder; its parent must exist.
    virtual Status CreateFolder(const std::string& path) = 0;
    // The identity of the file at path (links followed); false when there
    // is none.
    virtual bool IdentifyFile(const std::string& path, FileIdentity* identity) = 0;
    // Opens path for reading; others may read it meanwhile but not write it.
    // Anything but a regular file is refused, without waiting for a writer
    // (a pipe) or a device ("hexmend: not a regular file: " + path).
    virtual Status OpenForReading(const std::string& path, std::unique_ptr<File>* file) = 0;
    // Opens an existing file for reading and writing in place, with the same
    // sharing and refusals as OpenForReading.
    virtual Status OpenForUpdate(const std::string& path, std::unique_ptr<File>* file) = 0;
    // Creates the file at path, which must not exist yet, for writing.
    virtual Status CreateNewFile(const std::string& path, std::unique_ptr<File>* file) = 0;
    // Creates a new, uniquely named temporary file in the folder of target,
    // with the permissions target should end up with (those of an existing
    // target, else those of any new file), and on POSIX with the existing
    // target's owner and group as far as the system allows and its extended
    // attributes (access control lists included). Stores its path in
    // *tempPath.
    virtual Status CreateTempFileFor(const std::string& target, std::unique_ptr<File>* file,
                                     std::string* tempPath) = 0;
    // As CreateTempFileFor, with the file holding the first size bytes of
    // source (open as sourceFile) when it is handed over, filled by the
    // cheapest means the platform has (a clone shares the blocks).
    virtual Status CreateTempCopyFor(const std::string& target, const std::string& source,
                                     File& sourceFile, std::uint64_t size,
                                     std::unique_ptr<File>* file, std::string* tempPath) = 0;
    // Moves from over to in one step, replacing an existing file, and makes
    // the move durable.
    virtual Status ReplaceFile(const std::string& from, const std::string& to) = 0;
    virtual Status RemoveFile(const std::string& path) = 0;
    // Removes the temporary files that runs killed before they could clean
    // up left in the folder of target: those of this platform's temporary
    // name that no running hexmend holds (a run holds its temporary file from
    // its creation until it is moved into place or removed). Leaves every
    // other file alone, journals included. Best effort: what cannot be
    // removed stays.
    virtual void RemoveStaleTempFiles(const std::string& target) = 0;
    // Makes the creation, renaming and removal of the files in the folder of
    // path durable.
    virtual Status SyncFolderOf(const std::string& path) = 0;
    // True when ReplaceFile can replace a file this process holds open (POSIX);
    // false where the holder must close it first (Windows).
    virtual bool CanReplaceOpenFile() const { return true; }
    // The size of the blocks that writes into a copy of a file are widened
    // to (with the bytes around them): a few bytes written into a block of a
    // clone make the file system read that block from the disk first. 1
    // where nothing gains from widening.
    virtual std::uint64_t WriteBlockSize() const { return 4096; }

    // ---- Memory ----
    // A hint on a buffer of size bytes that has been allocated but not yet
    // written: the platform may back it with large pages, which makes
    // filling a large buffer many times cheaper than page by page. The
    // default does nothing.
    virtual void AdviseLargeBuffer(char* data, std::size_t size) {
        (void)data;
        (void)size;
    }

    // ---- Console ----
    // Takes hold of standard output for the colour changes that follow.
    virtual void FetchConsole() = 0;
    // Writes text to standard output unchanged (by default through the C
    // library's buffered stdout).
    virtual Status WriteStdout(std::string_view text);
    virtual Status FlushStdout();
    // Shows what follows in the look of role. Has no effect when standard
    // output is not a console.
    virtual void SetConsoleRole(ConsoleRole role) = 0;
    // Writes text to standard error; failures are ignored.
    virtual void WriteStderr(std::string_view text);
    // The console's line end: "\n" on POSIX, "\r\n" on Windows.
    virtual std::string_view LineEnd() const = 0;
};

// Copies the bytes of from (named fromPath in messages) between begin and end
// into to at the same offsets, through this process in large chunks: the way
// of every host that has no better one.
Status CopyThroughBuffer(File& from, const std::string& fromPath, std::uint64_t begin,
                         std::uint64_t end, File& to);

// ---- Interruptions ----
// While an InterruptionCatcher lives, the requests to end the program
// (SIGINT, SIGTERM and SIGHUP; Ctrl+C and closing the console on Windows)
// are only recorded, unless the program was started with them ignored. The
// run notices a recorded one at its next safe point (a checked host call, or
// a long host call between two of its steps) and unwinds through the owners
// of what it began, which remove or roll back what it wrote; the entry then
// ends the process by the request, as if it had never been caught.
class InterruptionCatcher {
  public:
    InterruptionCatcher();
    // Gives the requests back their earlier handling.
    ~InterruptionCatcher();
    InterruptionCatcher(const InterruptionCatcher&) = delete;
    InterruptionCatcher& operator=(const InterruptionCatcher&) = delete;

    // Ends the process by the recorded request; returns when there is none.
    void EndIfInterrupted();
};

// Status::Interrupted(signal) when a request to end has been recorded and no
// InterruptionHold is in force; Ok otherwise. Async-signal-safe to record,
// cheap to ask.
Status PendingInterruption();

// Records a request to end (the platforms' handlers call it). The first one
// counts.
void RecordInterruption(int signal);

// Cleanup that must run to its end whatever happens (a rollback) holds
// interruptions: PendingInterruption() reports none while one lives.
class InterruptionHold {
  public:
    InterruptionHold();
    ~InterruptionHold();
    InterruptionHold(const InterruptionHold&) = delete;
    InterruptionHold& operator=(const InterruptionHold&) = delete;
};

// The platform's part of InterruptionCatcher (interruptions_posix.cpp,
// interruptions_windows.cpp): installing and removing the handlers, and
// ending the process by a recorded request.
void InstallInterruptionHandlers();
void RemoveInterruptionHandlers();
void EndByInterruption(int signal);

// The platform's host, or the one a test installed.
Host& CurrentHost();
// The platform's own implementation.
Host& PlatformHost();

// Installs a host for the lifetime of this object (tests and fuzzing).
class ScopedHostOverride {
  public:
    explicit ScopedHostOverride(Host& host);
    ~ScopedHostOverride();
    ScopedHostOverride(const ScopedHostOverride&) = delete;
    ScopedHostOverride& operator=(const ScopedHostOverride&) = delete;

  private:
    Host* previous_;
};

}  // namespace hexmend
