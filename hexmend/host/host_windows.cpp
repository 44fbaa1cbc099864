// The host layer on Windows: the ANSI Win32 calls, paths through the shell's
// light-weight utility library, the console through its text attributes.

#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host.h"

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
    return Status::Error("hexmend: " + what + " " + path + ": " + SystemReason(error));
}

std::string FolderOf(const std::string& path) {
    const std::size_t end = path.find_last_of("\\:");
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// Owns a file handle.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return h_; }
    // Returns false when closing fails; GetLastError() tells why.
    bool Close() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h == INVALID_HANDLE_VALUE || ::CloseHandle(h) != 0;
    }

  private:
    HANDLE h_;
};

class WindowsReadableFile final : public ReadableFile {
  public:
    WindowsReadableFile(HANDLE h, std::string path) : handle_(h), path_(std::move(path)) {}

    Status Size(std::uint64_t* size) override {
        LARGE_INTEGER li;
        if (!::GetFileSizeEx(handle_.get(), &li)) {
            return WindowsError("cannot read", path_, ::GetLastError());
        }
        *size = static_cast<std::uint64_t>(li.QuadPart);
        return Status::Ok();
    }

    Status Read(char* buf, std::size_t n, std::size_t* got) override {
        DWORD read = 0;
        if (!::ReadFile(handle_.get(), buf, static_cast<DWORD>(n < kMaxChunk ? n : kMaxChunk),
                        &read, nullptr)) {
            return WindowsError("cannot read", path_, ::GetLastError());
        }
        *got = read;
        return Status::Ok();
    }

  private:
    Handle handle_;
    std::string path_;
};

class WindowsWritableFile final : public WritableFile {
  public:
    // displayPath is the file the bytes are meant for, named in messages.
    WindowsWritableFile(HANDLE h, std::string displayPath)
        : handle_(h), path_(std::move(displayPath)) {}

    Status Append(std::string_view data) override {
        while (!data.empty()) {
            DWORD written = 0;
            const DWORD chunk =
                static_cast<DWORD>(data.size() < kMaxChunk ? data.size() : kMaxChunk);
            if (!::WriteFile(handle_.get(), data.data(), chunk, &written, nullptr)) {
                return WindowsError("cannot write", path_, ::GetLastError());
            }
            if (written == 0) {
                return WindowsError("cannot write", path_, ERROR_HANDLE_DISK_FULL);
            }
            data.remove_prefix(written);
        }
        return Status::Ok();
    }

    Status Sync() override {
        if (!::FlushFileBuffers(handle_.get())) {
            return WindowsError("cannot write", path_, ::GetLastError());
        }
        return Status::Ok();
    }

    Status Close() override {
        if (!handle_.Close()) {
            return WindowsError("cannot write", path_, ::GetLastError());
        }
        return Status::Ok();
    }

  private:
    Handle handle_;
    std::string path_;
};

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

    Status OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file) override {
        const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return WindowsError("cannot open", path, ::GetLastError());
        }
        *file = std::make_unique<WindowsReadableFile>(h, path);
        return Status::Ok();
    }

    Status CreateTempFileFor(const std::string& target, std::unique_ptr<WritableFile>* file,
                             std::string* tempPath) override {
        // The temporary file carries the attributes the target has now, so
        // that replacing a hidden or system file keeps it so.
        DWORD attributes = FILE_ATTRIBUTE_NORMAL;
        const DWORD existing = ::GetFileAttributesA(target.c_str());
        if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            const DWORD kept =
                existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
            if (kept != 0) {
                attributes = kept;
            }
        }
        const std::string folder = FolderOf(target);
        DWORD seed = ::GetCurrentProcessId() * 2654435761u ^ ::GetTickCount();
        for (int attempt = 0;; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, ".hexmend-%08lx",
                          static_cast<unsigned long>(seed + static_cast<DWORD>(attempt)));
            const std::string path = folder + name;
            // No sharing: nobody else may touch the file until it is moved.
            const HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           attributes, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                *tempPath = path;
                *file = std::make_unique<WindowsWritableFile>(h, target);
                return Status::Ok();
            }
            const DWORD error = ::GetLastError();
            if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt >= 100) {
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
        if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
            return ConsoleError();
        }
        // On a console every line shows as soon as it is written.
        if (console_ && !text.empty() && text.back() == '\n') {
            return FlushStdout();
        }
        return Status::Ok();
    }

    Status FlushStdout() override {
        if (std::fflush(stdout) != 0) {
            return ConsoleError();
        }
        return Status::Ok();
    }

    // The result is ignored: with standard output redirected the call fails
    // and the text goes out uncoloured. A non-empty NO_COLOR keeps the
    // console's colours as they are.
    void SetTextAttribute(int attribute) override {
        if (stdout_ != nullptr && !noColour_) {
            (void)::SetConsoleTextAttribute(stdout_, static_cast<WORD>(attribute));
        }
    }

    void WriteStderr(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
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
    static Status ConsoleError() {
        const int error = errno;
        std::clearerr(stdout);
        return Status::Error(std::string("hexmend: cannot write to standard output: ") +
                             std::strerror(error));
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
