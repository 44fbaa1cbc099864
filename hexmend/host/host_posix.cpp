// The host layer on POSIX systems (Linux, macOS).

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include "host/host.h"

namespace hexmend {
namespace {

Status PosixError(const std::string& what, const std::string& path, int error) {
    return Status::Error("hexmend: " + what + " " + path + ": " + std::strerror(error));
}

// Follows a symbolic link at path to the file it names, so that replacing
// the target replaces the linked file and keeps the link.
std::string FollowLink(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return path;
    }
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return path;
    }
    std::string result(real);
    std::free(real);
    return result;
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

class PosixReadableFile final : public ReadableFile {
  public:
    PosixReadableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixReadableFile() override { ::close(fd_); }
    PosixReadableFile(const PosixReadableFile&) = delete;
    PosixReadableFile& operator=(const PosixReadableFile&) = delete;

    Status Size(std::uint64_t* size) override {
        struct stat st;
        if (::fstat(fd_, &st) != 0) {
            return PosixError("cannot read", path_, errno);
        }
        *size = static_cast<std::uint64_t>(st.st_size);
        return Status::Ok();
    }

    Status Read(char* buf, std::size_t n, std::size_t* got) override {
        // Linux reads at most about 2 GiB in one call anyway.
        constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
        for (;;) {
            const ssize_t r = ::read(fd_, buf, n < kMaxChunk ? n : kMaxChunk);
            if (r >= 0) {
                *got = static_cast<std::size_t>(r);
                return Status::Ok();
            }
            if (errno != EINTR) {
                return PosixError("cannot read", path_, errno);
            }
        }
    }

  private:
    int fd_;
    std::string path_;
};

class PosixWritableFile final : public WritableFile {
  public:
    // displayPath is the file the bytes are meant for, named in messages.
    PosixWritableFile(int fd, std::string displayPath) : fd_(fd), path_(std::move(displayPath)) {}
    ~PosixWritableFile() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PosixWritableFile(const PosixWritableFile&) = delete;
    PosixWritableFile& operator=(const PosixWritableFile&) = delete;

    Status Append(std::string_view data) override {
        constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
        while (!data.empty()) {
            const ssize_t w =
                ::write(fd_, data.data(), data.size() < kMaxChunk ? data.size() : kMaxChunk);
            if (w < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return PosixError("cannot write", path_, errno);
            }
            data.remove_prefix(static_cast<std::size_t>(w));
        }
        return Status::Ok();
    }

    Status Sync() override {
        if (::fsync(fd_) != 0) {
            return PosixError("cannot write", path_, errno);
        }
        return Status::Ok();
    }

    Status Close() override {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            return PosixError("cannot write", path_, errno);
        }
        return Status::Ok();
    }

  private:
    int fd_;
    std::string path_;
};

class PosixHost final : public Host {
  public:
    PosixHost() {
        // A closed pipe on standard output must be a failed write with a
        // message, not a silent death by signal.
        ::signal(SIGPIPE, SIG_IGN);
    }

    std::string ExecutablePath() override {
#if defined(__APPLE__)
        uint32_t size = 0;
        _NSGetExecutablePath(nullptr, &size);
        std::vector<char> raw(size + 1, '\0');
        if (_NSGetExecutablePath(raw.data(), &size) != 0) {
            return std::string();
        }
        char* real = ::realpath(raw.data(), nullptr);
        if (real == nullptr) {
            return std::string(raw.data());
        }
        std::string result(real);
        std::free(real);
        return result;
#else
        std::vector<char> buf(PATH_MAX + 1, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), PATH_MAX);
        return n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string();
#endif
    }

    std::string NativePath(std::string_view path) const override {
        std::string result(path);
        for (char& c : result) {
            if (c == '\\') {
                c = '/';
            }
        }
        return result;
    }

    char FolderSeparator() const override {
        return '/';
    }
    bool IsFolderSeparator(char c) const override {
        return c == '/';
    }
    bool IsRelativePath(const std::string& path) const override {
        return path.empty() || path[0] != '/';
    }

    // Lexical: no file-system access, no links followed.
    bool CanonicalizePath(const std::string& path, std::string* result) const override {
        const bool absolute = !path.empty() && path[0] == '/';
        std::vector<std::string_view> segments;
        std::string_view rest(path);
        while (!rest.empty()) {
            const std::size_t slash = rest.find('/');
            const std::string_view segment = rest.substr(0, slash);
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
            if (segment.empty() || segment == ".") {
                continue;
            }
            if (segment == "..") {
                if (!segments.empty() && segments.back() != "..") {
                    segments.pop_back();
                } else if (!absolute) {
                    segments.push_back(segment);
                }
                continue;
            }
            segments.push_back(segment);
        }
        std::string out = absolute ? "/" : "";
        for (std::size_t i = 0; i < segments.size(); ++i) {
            if (i > 0) {
                out += '/';
            }
            out += segments[i];
        }
        const bool trailing = path.size() > 1 && path.back() == '/';
        if (trailing && !segments.empty()) {
            out += '/';
        }
        *result = out.empty() ? "." : out;
        return true;
    }

    Status AbsolutePath(const std::string& path, std::string* result) override {
        std::string full = path;
        if (IsRelativePath(path)) {
            std::vector<char> buf(PATH_MAX + 1, '\0');
            if (::getcwd(buf.data(), buf.size()) == nullptr) {
                return PosixError("cannot find the full path of", path, errno);
            }
            full = std::string(buf.data()) + "/" + path;
        }
        return CanonicalizePath(full, result)
                   ? Status::Ok()
                   : PosixError("cannot find the full path of", path, EINVAL);
    }

    std::size_t MaxPathLength() const override {
        return PATH_MAX - 1;
    }
    bool IsRootFolder(const std::string& folder) const override {
        return folder.empty() || folder == "/";
    }

    bool FileExists(const std::string& path) override {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    }

    bool FolderExists(const std::string& path) override {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    Status CreateFolder(const std::string& path) override {
        if (::mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && FolderExists(path))) {
            return PosixError("cannot create folder", path, errno);
        }
        return Status::Ok();
    }

    Status OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return PosixError("cannot open", path, errno);
        }
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            return PosixError("cannot open", path, EISDIR);
        }
        *file = std::make_unique<PosixReadableFile>(fd, path);
        return Status::Ok();
    }

    Status CreateTempFileFor(const std::string& target, std::unique_ptr<WritableFile>* file,
                             std::string* tempPath) override {
        const std::string real = FollowLink(target);
        std::string pattern = ParentFolder(real) + "/.hexmend-XXXXXX";
        const int fd = ::mkstemp(&pattern[0]);
        if (fd < 0) {
            return PosixError("cannot create", target, errno);
        }
        *tempPath = pattern;
        // mkstemp makes a private file; the target keeps its own permissions,
        // and a new target gets those of any newly created file.
        struct stat st;
        const mode_t mode =
            ::stat(real.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
        if (::fchmod(fd, mode) != 0) {
            const int error = errno;
            ::close(fd);
            return PosixError("cannot create", target, error);
        }
        *file = std::make_unique<PosixWritableFile>(fd, target);
        return Status::Ok();
    }

    Status ReplaceFile(const std::string& from, const std::string& to) override {
        const std::string real = FollowLink(to);
        if (::rename(from.c_str(), real.c_str()) != 0) {
            return PosixError("cannot replace", to, errno);
        }
        // The rename is durable once the folder that records it is.
        const int dir = ::open(ParentFolder(real).c_str(), O_RDONLY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return Status::Ok();
    }

    Status RemoveFile(const std::string& path) override {
        if (::unlink(path.c_str()) != 0) {
            return PosixError("cannot remove", path, errno);
        }
        return Status::Ok();
    }

    void AdviseLargeBuffer(char* data, std::size_t size) override {
#if defined(MADV_HUGEPAGE)
        // Below a few large pages the advice gains nothing.
        constexpr std::size_t kWorthIt = std::size_t{8} << 20;
        if (size < kWorthIt) {
            return;
        }
        const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        const auto begin = reinterpret_cast<std::uintptr_t>(data);
        const std::uintptr_t alignedBegin = (begin + pageSize - 1) / pageSize * pageSize;
        const std::uintptr_t end = begin + size;
        // Only advice: where the system has no large pages the buffer is
        // simply filled page by page.
        (void)::madvise(reinterpret_cast<void*>(alignedBegin), end - alignedBegin, MADV_HUGEPAGE);
#else
        (void)data;
        (void)size;
#endif
    }

    void FetchConsole() override {
        const char* noColor = std::getenv("NO_COLOR");
        colour_ = ::isatty(STDOUT_FILENO) == 1 && (noColor == nullptr || noColor[0] == '\0');
    }

    Status WriteStdout(std::string_view text) override {
        if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
            return ConsoleError();
        }
        return Status::Ok();
    }

    Status FlushStdout() override {
        if (std::fflush(stdout) != 0) {
            return ConsoleError();
        }
        return Status::Ok();
    }

    void SetTextAttribute(int attribute) override {
        if (colour_) {
            (void)WriteStdout(attribute == 14 ? "\x1b[93m" : "\x1b[0m");
        }
    }

    void WriteStderr(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }

    std::string_view LineEnd() const override {
        return "\n";
    }

  private:
    static Status ConsoleError() {
        const int error = errno;
        std::clearerr(stdout);
        return Status::Error(std::string("hexmend: cannot write to standard output: ") +
                             std::strerror(error));
    }

    bool colour_ = false;
};

}  // namespace

Host& PlatformHost() {
    static PosixHost host;
    return host;
}

}  // namespace hexmend
