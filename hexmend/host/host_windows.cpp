// The host layer on Windows: the ANSI Win32 calls, paths through the shell's
// light-weight utility library, the console through its text attributes.

#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/interruptions.h"
#include "host/platform.h"

namespace hexmend {
namespace {

// The largest count one ReadFile or WriteFile call is given.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

// The system's text for error, without the line end and the full stop that
// the system puts at its end.
std::string SystemReason(DWORD error) {
    char buf[512];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               error, 0, buf, sizeof buf, nullptr);
    while (n > 0 &&
           (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ' || buf[n - 1] == '.')) {
        --n;
    }
    if (n == 0) {
        return "system error " + std::to_string(error);
    }
    return std::string(buf, n);
}

Status WindowsError(const std::string& what, const std::string& path, DWORD error) {
    return Status::Error(what + " " + path + ": " + SystemReason(error));
}

std::string FolderOf(const std::string& path) {
    const std::size_t end = path.find_last_of("\\:");
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// A 64-bit count of FILETIME's 100-nanosecond ticks.
std::int64_t Ticks(DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

FileState StateOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileState state;
    state.identity.volume = info.dwVolumeSerialNumber;
    state.identity.index =
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    state.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    state.modified = Ticks(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return state;
}

// An OVERLAPPED that names offset: with a synchronous handle the call reads
// or writes there and returns when it is done.
// The byte that runs lock to keep each other out of a file.
constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED overlapped = {};
    overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

// A file handle with the calls of File. path names the file in messages
// (for a temporary file, the target it is meant for).
//
// Every read and write names its offset: Read and Append keep their own
// offset, so that ReadAt and WriteAt, which move the system's file pointer
// of a synchronous handle, do not disturb them.
class WindowsFile final : public File {
  public:
    WindowsFile(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
    ~WindowsFile() override { (void)Release(); }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    Status State(FileState* state) override {
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(h_, &info)) {
            return WindowsError("cannot read", path_, ::GetLastError());
        }
        *state = StateOf(info);
        // The change time covers changes of the attributes too; where the
        // file system does not keep one it stays 0.
        FILE_BASIC_INFO basic;
        if (::GetFileInformationByHandleEx(h_, FileBasicInfo, &basic, sizeof basic)) {
            state->changed = basic.ChangeTime.QuadPart;
        }
        return Status::Ok();
    }

    Status Read(char* buf, std::size_t n, std::size_t* got) override {
        const Status status = ReadAt(offset_, buf, n, got);
        if (status.ok()) {
            offset_ += *got;
        }
        return status;
    }

    Status ReadAt(std::uint64_t offset, char* buf, std::size_t n, std::size_t* got) override {
        OVERLAPPED overlapped = At(offset);
        DWORD read = 0;
        if (!::ReadFile(h_, buf, static_cast<DWORD>(n < kMaxChunk ? n : kMaxChunk), &read,
                        &overlapped)) {
            const DWORD error = ::GetLastError();
            // A read at or past the end of the file.
            if (error == ERROR_HANDLE_EOF) {
                *got = 0;
                return Status::Ok();
            }
            return WindowsError("cannot read", path_, error);
        }
        *got = read;
        return Status::Ok();
    }

    Status Append(std::string_view data) override {
        const Status status = WriteAt(offset_, data);
        if (status.ok()) {
            offset_ += data.size();
        }
        return status;
    }

    Status WriteAt(std::uint64_t offset, std::string_view data) override {
        while (!data.empty()) {
            OVERLAPPED overlapped = At(offset);
            DWORD written = 0;
            const DWORD chunk =
                static_cast<DWORD>(data.size() < kMaxChunk ? data.size() : kMaxChunk);
            if (!::WriteFile(h_, data.data(), chunk, &written, &overlapped)) {
                return WindowsError("cannot write", path_, ::GetLastError());
            }
            if (written == 0) {
                return WindowsError("cannot write", path_, ERROR_HANDLE_DISK_FULL);
            }
            data.remove_prefix(written);
            offset += written;
        }
        return Status::Ok();
    }

    Status Sync() override {
        if (!::FlushFileBuffers(h_)) {
            return WindowsError("cannot write", path_, ::GetLastError());
        }
        return Status::Ok();
    }

    // One byte far past any data hexmend can patch: Windows locks are
    // mandatory, and a lock over the data would keep every other reader out
    // (the system's own copy of the file included), while hexmend runs only
    // need to keep each other out. Without LOCKFILE_FAIL_IMMEDIATELY the call
    // waits until the lock is free.
    Status Lock() override {
        OVERLAPPED overlapped = At(kLockOffset);
        if (!::LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped)) {
            return WindowsError("cannot lock", path_, ::GetLastError());
        }
        locked_ = true;
        return Status::Ok();
    }

    Status Close() override {
        if (!Release()) {
            return WindowsError("cannot write", path_, ::GetLastError());
        }
        return Status::Ok();
    }

  private:
    // Unlocks and closes the handle. Returns false when closing fails;
    // GetLastError() tells why.
    bool Release() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        if (h == INVALID_HANDLE_VALUE) {
            return true;
        }
        // Closing releases a lock too, but only when the system gets to it:
        // the next run must not wait for that.
        if (locked_) {
            locked_ = false;
            OVERLAPPED overlapped = At(kLockOffset);
            (void)::UnlockFileEx(h, 0, 1, 0, &overlapped);
        }
        return ::CloseHandle(h) != 0;
    }

    HANDLE h_;
    std::string path_;
    std::uint64_t offset_ = 0;
    bool locked_ = false;
};

// The identity of the file (or folder) at path. Without access rights the
// file opens whatever sharing its holders chose; backup semantics open a
// folder as well.
bool IdentifyFileAt(const std::string& path, FileIdentity* identity) {
    const HANDLE h =
        ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    if (known) {
        *identity = StateOf(info).identity;
    }
    return known;
}

// The attributes a temporary file for target gets: those of an existing
// target that replacing it must keep (hidden, system, archive, not content
// indexed), else none. Read-only is never kept: the file must be written.
DWORD AttributesFor(const std::string& target) {
    const DWORD existing = ::GetFileAttributesA(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const DWORD kept = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        if (kept != 0) {
            return kept;
        }
    }
    return FILE_ATTRIBUTE_NORMAL;
}

// Temporary names: ".hexmend-" and eight hexadecimal digits, a different
// one for each attempt.
class TempNames {
  public:
    explicit TempNames(const std::string& target)
        : folder_(FolderOf(target)),
          seed_(::GetCurrentProcessId() * 2654435761u ^ ::GetTickCount()) {}

    std::string Next() {
        char name[32];
        std::snprintf(name, sizeof name, ".hexmend-%08lx",
                      static_cast<unsigned long>(seed_ + attempts_));
        ++attempts_;
        return folder_ + name;
    }
    // True when a name that was taken may be followed by another attempt.
    bool MayRetry(DWORD error) const {
        return (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempts_ <= 100;
    }

  private:
    std::string folder_;
    DWORD seed_;
    DWORD attempts_ = 0;
};

// The buffer of a copy that passes through this process.
constexpr std::uint64_t kCopyChunk = std::uint64_t{8} << 20;

// Fills file, which is empty, with the first size bytes of source, read
// through this process.
Status CopyThrough(File& source, const std::string& sourcePath, std::uint64_t size, File& file) {
    std::string buffer(static_cast<std::size_t>(size < kCopyChunk ? size : kCopyChunk), '\0');
    std::uint64_t done = 0;
    while (done < size) {
        const std::uint64_t left = size - done;
        const std::size_t want = static_cast<std::size_t>(left < kCopyChunk ? left : kCopyChunk);
        std::size_t got = 0;
        Status status = source.ReadAt(done, &buffer[0], want, &got);
        if (!status.ok()) {
            return status;
        }
        if (got == 0) {
            return WindowsError("cannot read", sourcePath, ERROR_HANDLE_EOF);
        }
        status = file.WriteAt(done, std::string_view(buffer.data(), got));
        if (!status.ok()) {
            return status;
        }
        done += got;
    }
    return Status::Ok();
}

class WindowsHost final : public Host {
  public:
    WindowsHost() {
        // Lines carry their own "\r\n"; text mode would make it "\r\r\n".
        // Standard error stays in text mode, where "\n" becomes "\r\n".
        (void)::_setmode(::_fileno(stdout), _O_BINARY);
    }

    std::string ExecutablePath() override {
        std::string path(MAX_PATH, '\0');
        for (;;) {
            const DWORD n =
                ::GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
            if (n == 0) {
                return std::string();
            }
            // A full buffer means the path was cut short.
            if (n < path.size() || path.size() >= 32768) {
                path.resize(n);
                return path;
            }
            path.resize(path.size() * 2);
        }
    }

    std::string CurrentFolder() override {
        // The size asked for counts the terminating zero; the length written
        // does not. The folder may change in between: then ask again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const DWORD size = ::GetCurrentDirectoryA(0, nullptr);
            if (size == 0) {
                return std::string();
            }
            std::string folder(size, '\0');
            const DWORD n = ::GetCurrentDirectoryA(size, &folder[0]);
            if (n == 0) {
                return std::string();
            }
            if (n < size) {
                folder.resize(n);
                return folder;
            }
        }
        return std::string();
    }

    // "/?" is how Windows programs are asked for their usage text.
    std::vector<std::string> HelpWords() const override { return {"--help", "-h", "/?"}; }

    // A "/" is taken as "\", so that a patch file written with either
    // separator works on every platform.
    std::string NativePath(std::string_view path) const override {
        std::string result(path);
        for (char& c : result) {
            if (c == '/') {
                c = '\\';
            }
        }
        return result;
    }

    char FolderSeparator() const override { return '\\'; }
    bool IsFolderSeparator(char c) const override { return c == '\\' || c == ':'; }
    bool IsRelativePath(const std::string& path) const override {
        return ::PathIsRelativeA(path.c_str()) != FALSE;
    }

    bool CanonicalizePath(const std::string& path, std::string* result) const override {
        // PathCanonicalizeA writes at most MAX_PATH bytes and refuses longer
        // input.
        if (path.size() >= MAX_PATH) {
            return false;
        }
        char buf[MAX_PATH + 1] = {};
        if (!::PathCanonicalizeA(buf, path.c_str())) {
            return false;
        }
        *result = buf;
        return true;
    }

    // GetFullPathNameA works on the text alone, with the working folder of
    // the drive the path names.
    Status AbsolutePath(const std::string& path, std::string* result) override {
        char buf[MAX_PATH + 1] = {};
        const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
        if (n == 0) {
            return WindowsError("cannot find the full path of", path, ::GetLastError());
        }
        // A result that does not fit comes back as the size it needs.
        if (n >= sizeof buf) {
            return WindowsError("cannot find the full path of", path, ERROR_FILENAME_EXCED_RANGE);
        }
        *result = std::string(buf, n);
        return Status::Ok();
    }

    // MAX_PATH counts the terminating zero: the ANSI file calls take 259
    // characters.
    std::size_t MaxPathLength() const override { return MAX_PATH - 1; }

    // A drive ("C:"), the current drive's root (""), and a network share's
    // server and share names ("\\server", "\\server\share"), which cannot be
    // created and need not be.
    bool IsRootFolder(const std::string& folder) const override {
        if (folder.size() < 3) {
            return true;
        }
        if (folder.compare(0, 2, "\\\\") != 0) {
            return false;
        }
        const std::size_t server = folder.find('\\', 2);
        return server == std::string::npos || folder.find('\\', server + 1) == std::string::npos;
    }

    bool FileExists(const std::string& path) override {
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    bool FolderExists(const std::string& path) override {
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    Status CreateFolder(const std::string& path) override {
        if (!::CreateDirectoryA(path.c_str(), nullptr)) {
            const DWORD error = ::GetLastError();
            if (!(error == ERROR_ALREADY_EXISTS && FolderExists(path))) {
                return WindowsError("cannot create folder", path, error);
            }
        }
        return Status::Ok();
    }

    bool IdentifyFile(const std::string& path, FileIdentity* identity) override {
        return IdentifyFileAt(path, identity);
    }

    // Others may read the file meanwhile, but neither write, delete nor
    // rename it: the name stays bound to this file while it is open.
    Status OpenForReading(const std::string& path, std::unique_ptr<File>* file) override {
        return Open(path, GENERIC_READ, file);
    }

    Status OpenForUpdate(const std::string& path, std::unique_ptr<File>* file) override {
        return Open(path, GENERIC_READ | GENERIC_WRITE, file);
    }

    Status CreateNewFile(const std::string& path, std::unique_ptr<File>* file) override {
        const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return WindowsError("cannot create", path, ::GetLastError());
        }
        *file = std::make_unique<WindowsFile>(h, path);
        return Status::Ok();
    }

    // The system copies the file itself (and clones it where the file system
    // can, as ReFS does); when it cannot, the bytes pass through this
    // process.
    Status CreateTempCopyFor(const std::string& target, const std::string& source, File& sourceFile,
                             std::uint64_t size, std::unique_ptr<File>* file,
                             std::string* tempPath) override {
        if (CopiedTemp(target, source, sourceFile, size, file, tempPath)) {
            return Status::Ok();
        }
        std::unique_ptr<File> temp;
        Status status = CreateTempFileFor(target, &temp, tempPath);
        if (!status.ok()) {
            return status;
        }
        status = CopyThrough(sourceFile, source, size, *temp);
        if (!status.ok()) {
            temp.reset();
            (void)::DeleteFileA(tempPath->c_str());
            tempPath->clear();
            return status;
        }
        *file = std::move(temp);
        return Status::Ok();
    }

    Status CreateTempFileFor(const std::string& target, std::unique_ptr<File>* file,
                             std::string* tempPath) override {
        // The temporary file carries the attributes the target has now, so
        // that replacing a hidden or system file keeps it so.
        const DWORD attributes = AttributesFor(target);
        TempNames names(target);
        for (;;) {
            const std::string path = names.Next();
            // No sharing: nobody else may touch the file until it is moved.
            const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           attributes, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                *tempPath = path;
                *file = std::make_unique<WindowsFile>(h, target);
                return Status::Ok();
            }
            const DWORD error = ::GetLastError();
            if (!names.MayRetry(error)) {
                return WindowsError("cannot create", target, error);
            }
        }
    }

    Status ReplaceFile(const std::string& from, const std::string& to) override {
        if (!::MoveFileExA(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return WindowsError("cannot replace", to, ::GetLastError());
        }
        return Status::Ok();
    }

    // Windows has no call that makes a folder's entries durable (a folder
    // cannot be flushed without administrator rights). What counts is the
    // replacing move, and MOVEFILE_WRITE_THROUGH in ReplaceFile returns only
    // once that move is on the disk.
    Status SyncFolderOf(const std::string& path) override {
        (void)path;
        return Status::Ok();
    }

    // MoveFileEx cannot replace a file that is open without
    // FILE_SHARE_DELETE, as every file this host opens is.
    bool CanReplaceOpenFile() const override { return false; }

    Status RemoveFile(const std::string& path) override {
        if (!::DeleteFileA(path.c_str())) {
            return WindowsError("cannot remove", path, ::GetLastError());
        }
        return Status::Ok();
    }

    void FetchConsole() override {
        stdout_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
        const char* noColour = std::getenv("NO_COLOR");
        noColour_ = noColour != nullptr && noColour[0] != '\0';
        DWORD mode = 0;
        console_ = stdout_ != INVALID_HANDLE_VALUE && stdout_ != nullptr &&
                   ::GetConsoleMode(stdout_, &mode) != 0;
    }

    Status WriteStdout(std::string_view text) override {
        const Status status = Host::WriteStdout(text);
        // On a console every line shows as soon as it is written.
        if (status.ok() && console_ && !text.empty() && text.back() == '\n') {
            return FlushStdout();
        }
        return status;
    }

    // Bright yellow for the error label, light grey after it. The result is
    // ignored: with standard output redirected the call fails and the text
    // goes out uncoloured. A non-empty NO_COLOR keeps the console's colours
    // as they are.
    void SetConsoleRole(ConsoleRole role) override {
        const WORD attribute = role == ConsoleRole::kErrorLabel ? 14 : 7;
        if (stdout_ != nullptr && !noColour_) {
            (void)::SetConsoleTextAttribute(stdout_, attribute);
        }
    }

    std::string_view LineEnd() const override { return "\r\n"; }

    // ---- Stale temporary files ----
    // A run holds its temporary file open without sharing from its creation
    // until it closes it to move it into place: deleting a held one fails
    // with a sharing violation and leaves it be. Between the close and the
    // move the file is not held, so one written to within the last minute
    // is left alone as well; a later run removes it.
    void RemoveStaleTempFiles(const std::string& target) override {
        // ".hexmend-" and eight lower-case hexadecimal digits, as
        // CreateTempFileFor names them.
        const auto isTempName = [](const char* name) {
            const std::string text(name);
            const std::string prefix = ".hexmend-";
            return text.size() == prefix.size() + 8 &&
                   text.compare(0, prefix.size(), prefix) == 0 &&
                   text.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
        };
        const auto ticks = [](const FILETIME& time) {
            return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        };
        constexpr std::uint64_t kQuietTicks = std::uint64_t{60} * 10000000;  // 100 ns each
        const std::string folder = FolderOf(target);
        WIN32_FIND_DATAA found;
        const HANDLE search = ::FindFirstFileA((folder + ".hexmend-*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return;
        }
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                isTempName(found.cFileName) &&
                ticks(now) >= ticks(found.ftLastWriteTime) + kQuietTicks) {
                (void)::DeleteFileA((folder + found.cFileName).c_str());
            }
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }

  private:
    static Status Open(const std::string& path, DWORD access, std::unique_ptr<File>* file) {
        const HANDLE h = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return WindowsError("cannot open", path, ::GetLastError());
        }
        *file = std::make_unique<WindowsFile>(h, path);
        return Status::Ok();
    }

    // A copy of source made by the system at a new temporary name, with the
    // target's attributes, holding exactly size bytes, open for writing.
    // Returns false, leaving nothing behind, when the system cannot make one.
    static bool CopiedTemp(const std::string& target, const std::string& source, File& sourceFile,
                           std::uint64_t size, std::unique_ptr<File>* file, std::string* tempPath) {
        // The copy is made by name. While sourceFile is open nobody can
        // rename or delete it, so a name that reaches it now names it until
        // the copy is done.
        FileState state;
        FileIdentity named;
        if (!sourceFile.State(&state).ok() || !IdentifyFileAt(source, &named) ||
            named != state.identity) {
            return false;
        }
        TempNames names(target);
        for (;;) {
            const std::string path = names.Next();
            // The ANSI calls that follow take no longer path (CopyFileExA
            // may, and then leave a file no other call reaches).
            if (path.size() >= MAX_PATH) {
                return false;
            }
            if (::CopyFileExA(source.c_str(), path.c_str(), nullptr, nullptr, nullptr,
                              COPY_FILE_FAIL_IF_EXISTS)) {
                std::unique_ptr<WindowsFile> copy = AdoptCopy(path, target, size);
                if (copy == nullptr) {
                    (void)::DeleteFileA(path.c_str());
                    return false;
                }
                *tempPath = path;
                *file = std::move(copy);
                return true;
            }
            const DWORD error = ::GetLastError();
            if (!names.MayRetry(error)) {
                // A copy cut short is the system's to remove, but the name
                // was new: whatever is left there is this run's.
                if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                    (void)::DeleteFileA(path.c_str());
                }
                return false;
            }
        }
    }

    // Opens the copy at path for writing, with no sharing, and makes it what
    // a new temporary file for target would be: the target's attributes (the
    // copy has the source's, read-only included), written now, size bytes
    // long (the source may have grown since the run opened it).
    static std::unique_ptr<WindowsFile> AdoptCopy(const std::string& path,
                                                  const std::string& target, std::uint64_t size) {
        if (!::SetFileAttributesA(path.c_str(), AttributesFor(target))) {
            return nullptr;
        }
        const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        auto copy = std::make_unique<WindowsFile>(h, target);
        LARGE_INTEGER length;
        if (!::GetFileSizeEx(h, &length) || static_cast<std::uint64_t>(length.QuadPart) < size) {
            return nullptr;
        }
        if (static_cast<std::uint64_t>(length.QuadPart) > size) {
            LARGE_INTEGER end;
            end.QuadPart = static_cast<LONGLONG>(size);
            if (!::SetFilePointerEx(h, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
                return nullptr;
            }
        }
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        if (!::SetFileTime(h, nullptr, nullptr, &now)) {
            return nullptr;
        }
        return copy;
    }

    HANDLE stdout_ = nullptr;
    bool console_ = false;
    bool noColour_ = false;
};

}  // namespace

Host& PlatformHost() {
    static WindowsHost host;
    return host;
}

}  // namespace hexmend
