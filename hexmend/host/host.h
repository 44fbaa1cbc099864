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

#include "host/status.h"

namespace hexmend {

// A file open for reading.
class ReadableFile {
  public:
    virtual ~ReadableFile() = default;
    // Stores the file's current size in bytes in *size.
    virtual Status Size(std::uint64_t* size) = 0;
    // Reads up to n bytes into buf and stores the count in *got; 0 at the end.
    virtual Status Read(char* buf, std::size_t n, std::size_t* got) = 0;
};

// A new file open for writing. Closing it is part of the contract: Close()
// reports errors that writes may have deferred.
class WritableFile {
  public:
    virtual ~WritableFile() = default;
    // Writes all of data or fails.
    virtual Status Append(std::string_view data) = 0;
    // Makes the written bytes durable.
    virtual Status Sync() = 0;
    virtual Status Close() = 0;
};

class Host {
  public:
    virtual ~Host() = default;

    // ---- Process ----
    // Full path of the running program's executable, as the OS reports it.
    virtual std::string ExecutablePath() = 0;

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
    // canonicalised lexically like CanonicalizePath. The default fails.
    virtual Status AbsolutePath(const std::string& path, std::string* result) {
        (void)result;
        return Status::Error("hexmend: cannot find the full path of " + path);
    }
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
    // Creates one folder; its parent must exist.
    virtual Status CreateFolder(const std::string& path) = 0;
    // Opens path for reading; others may read it meanwhile but not write it.
    virtual Status OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file) = 0;
    // Creates a new, uniquely named temporary file in the folder of target,
    // with the permissions target should end up with (those of an existing
    // target, else those of any new file). Stores its path in *tempPath.
    virtual Status CreateTempFileFor(const std::string& target, std::unique_ptr<WritableFile>* file,
                                     std::string* tempPath) = 0;
    // Moves from over to in one step, replacing an existing file, and makes
    // the move durable.
    virtual Status ReplaceFile(const std::string& from, const std::string& to) = 0;
    virtual Status RemoveFile(const std::string& path) = 0;

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
    // Writes text to standard output unchanged.
    virtual Status WriteStdout(std::string_view text) = 0;
    virtual Status FlushStdout() = 0;
    // Sets the console text attribute: 14 (bright yellow) or 7 (light grey).
    // Has no effect when standard output is not a console.
    virtual void SetTextAttribute(int attribute) = 0;
    // Writes text to standard error; failures are ignored.
    virtual void WriteStderr(std::string_view text) = 0;
    // The console's line end: "\n" on POSIX, "\r\n" on Windows.
    virtual std::string_view LineEnd() const = 0;
};

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
