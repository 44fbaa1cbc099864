// The host layer on POSIX systems (Linux, macOS).

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__) || defined(__APPLE__)
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif
#if defined(__linux__)
#include <linux/fs.h>
#endif

#include "host/host.h"
#include "host/posix_paths.h"

namespace hexmend {
namespace {

Status PosixError(const std::string& what, const std::string& path, int error) {
    return Status::Error("hexmend: " + what + " " + path + ": " + std::strerror(error));
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The text of the symbolic link at path; false when it cannot be read.
bool ReadLink(const std::string& path, std::string* text) {
    std::string buf(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), &buf[0], buf.size());
        if (n < 0) {
            return false;
        }
        if (static_cast<std::size_t>(n) < buf.size()) {
            buf.resize(static_cast<std::size_t>(n));
            *text = std::move(buf);
            return true;
        }
        buf.resize(buf.size() * 2);
    }
}

// How many links in a row a name may pass through, as on Linux.
constexpr int kMaxLinks = 40;

// Follows path from symbolic link to symbolic link, as opening it does, to
// the path of what the last link names, so that replacing the target
// replaces the linked file and keeps the link, and a link that names no file
// yet creates it. Returns false for a loop of links (or a chain too long).
bool FollowLinkChain(const std::string& path, std::string* named) {
    std::string current = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat st;
        std::string to;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) || !ReadLink(current, &to)) {
            *named = std::move(current);
            return true;
        }
        // A relative link is taken from the folder that holds it.
        if (to.empty() || to[0] != '/') {
            const std::string folder = ParentFolder(current);
            to = (folder == "/" ? folder : folder + "/") + to;
        }
        current = std::move(to);
    }
    return false;
}

Status LinkLoop(const std::string& path) {
    return PosixError("cannot follow", path, ELOOP);
}

// The largest count one read or write call is given; Linux moves at most
// about 2 GiB in one call anyway.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

std::int64_t Nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileState StateOf(const struct stat& st) {
    FileState state;
    state.identity.volume = static_cast<std::uint64_t>(st.st_dev);
    state.identity.index = static_cast<std::uint64_t>(st.st_ino);
    state.size = static_cast<std::uint64_t>(st.st_size);
#if defined(__APPLE__)
    state.modified = Nanoseconds(st.st_mtimespec);
    state.changed = Nanoseconds(st.st_ctimespec);
#else
    state.modified = Nanoseconds(st.st_mtim);
    state.changed = Nanoseconds(st.st_ctim);
#endif
    return state;
}

// A temporary file's name: ".hexmend-" and the six letters or digits that
// mkstemp puts in place of "XXXXXX".
constexpr char kTempPrefix[] = ".hexmend-";
constexpr std::size_t kTempPrefixSize = sizeof kTempPrefix - 1;

bool IsTempName(const char* name) {
    const std::size_t size = std::strlen(name);
    return size == kTempPrefixSize + 6 && std::strncmp(name, kTempPrefix, kTempPrefixSize) == 0 &&
           std::all_of(name + kTempPrefixSize, name + size, [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
           });
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes the exclusive lock on fd, waiting for it.
int LockExclusive(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return 0;
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A file descriptor with the calls of File. path names the file in messages
// (for a temporary file, the target it is meant for). A call that a signal
// cuts short (EINTR) ends the run when a request to end the program came in
// (InterruptionCatcher), and is made again otherwise.
class PosixFile final : public File {
  public:
    // holdFd, when not -1, is a second descriptor of the same open file that
    // stays open until the object is destroyed, and with it the file's lock:
    // a temporary file stays held after Close() until it is moved into place.
    PosixFile(int fd, std::string path, int holdFd = -1)
        : fd_(fd), holdFd_(holdFd), path_(std::move(path)) {}
    ~PosixFile() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (holdFd_ >= 0) {
            ::close(holdFd_);
        }
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    Status State(FileState* state) override {
        struct stat st;
        if (::fstat(fd_, &st) != 0) {
            return PosixError("cannot read", path_, errno);
        }
        *state = StateOf(st);
        return Status::Ok();
    }

    Status Read(char* buf, std::size_t n, std::size_t* got) override {
        return ReadSome(buf, n, nullptr, got);
    }

    Status ReadAt(std::uint64_t offset, char* buf, std::size_t n, std::size_t* got) override {
        return ReadSome(buf, n, &offset, got);
    }

    Status Append(std::string_view data) override { return WriteAll(data, nullptr); }

    Status WriteAt(std::uint64_t offset, std::string_view data) override {
        return WriteAll(data, &offset);
    }

    Status Sync() override {
        if (::fsync(fd_) != 0) {
            return PosixError("cannot sync", path_, errno);
        }
        return Status::Ok();
    }

    Status Lock() override {
        // The wait ends early when a request to end the program comes in.
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                return PosixError("cannot lock", path_, errno);
            }
            Status pending = PendingInterruption();
            if (!pending.ok()) {
                return pending;
            }
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
    // Reads up to n bytes at *offset, or at the file's own offset when offset
    // is null.
    Status ReadSome(char* buf, std::size_t n, const std::uint64_t* offset, std::size_t* got) {
        for (;;) {
            const std::size_t count = std::min(n, kMaxChunk);
            const ssize_t r = offset == nullptr
                                  ? ::read(fd_, buf, count)
                                  : ::pread(fd_, buf, count, static_cast<off_t>(*offset));
            if (r >= 0) {
                *got = static_cast<std::size_t>(r);
                return Status::Ok();
            }
            if (errno != EINTR) {
                return PosixError("cannot read", path_, errno);
            }
            Status pending = PendingInterruption();
            if (!pending.ok()) {
                return pending;
            }
        }
    }

    // Writes all of data at *offset (advanced as it goes), or at the file's
    // own offset when offset is null.
    Status WriteAll(std::string_view data, std::uint64_t* offset) {
        while (!data.empty()) {
            const std::size_t n = std::min(data.size(), kMaxChunk);
            const ssize_t w = offset == nullptr
                                  ? ::write(fd_, data.data(), n)
                                  : ::pwrite(fd_, data.data(), n, static_cast<off_t>(*offset));
            if (w < 0) {
                if (errno != EINTR) {
                    return PosixError("cannot write", path_, errno);
                }
                Status pending = PendingInterruption();
                if (!pending.ok()) {
                    return pending;
                }
                continue;
            }
            data.remove_prefix(static_cast<std::size_t>(w));
            if (offset != nullptr) {
                *offset += static_cast<std::uint64_t>(w);
            }
        }
        return Status::Ok();
    }

    int fd_;
    int holdFd_;
    std::string path_;
};

// Fills file (positioned at 0) with the first size bytes of source: a clone
// that shares the blocks where the file system can, else copy_file_range,
// which lets the kernel copy (or clone) without passing the bytes through
// this process, else reads and writes in large chunks.
Status CopyContent(PosixFile& source, std::uint64_t size, PosixFile& file) {
#if defined(FICLONE)
    if (::ioctl(file.fd(), FICLONE, source.fd()) == 0) {
        struct stat st;
        if (::fstat(file.fd(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) == size) {
            return Status::Ok();
        }
        // The source grew since it was opened: copy just its first bytes.
        if (::ftruncate(file.fd(), 0) != 0) {
            return PosixError("cannot write", file.path(), errno);
        }
    }
#endif
    std::uint64_t done = 0;
#if defined(__linux__)
    while (done < size) {
        // Between two calls, each of up to 1 GiB, the run may end.
        Status pending = PendingInterruption();
        if (!pending.ok()) {
            return pending;
        }
        loff_t in = static_cast<loff_t>(done);
        loff_t out = static_cast<loff_t>(done);
        const ssize_t n = ::copy_file_range(
            source.fd(), &in, file.fd(), &out,
            static_cast<std::size_t>(std::min<std::uint64_t>(size - done, std::uint64_t{1} << 30)),
            0);
        if (n > 0) {
            done += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n == 0) {
            return PosixError("cannot read", source.path(), EIO);
        }
        if (errno == EINTR) {
            continue;
        }
        // The errors on which a copy through this process still works.
        if (errno == ENOSYS || errno == EXDEV || errno == EOPNOTSUPP || errno == ENOTSUP ||
            errno == EINVAL || errno == EBADF || errno == ETXTBSY || errno == EPERM ||
            errno == EACCES || errno == ENOTTY) {
            break;
        }
        return PosixError("cannot write", file.path(), errno);
    }
#endif
    // What copy_file_range left, if anything, goes through this process.
    return CopyThroughBuffer(source, source.path(), done, size, file);
}

// Gives the file open as fd the owner and group of st where the system
// allows it: root may give any; another user only a group of its own.
// Returns 0, or the error that is more than a refusal.
int TakeOwner(int fd, const struct stat& st) {
    struct stat now;
    if (::fstat(fd, &now) == 0 && now.st_uid == st.st_uid && now.st_gid == st.st_gid) {
        return 0;
    }
    if (::fchown(fd, st.st_uid, st.st_gid) == 0) {
        return 0;
    }
    if (errno != EPERM && errno != EINVAL) {
        return errno;
    }
    if (::fchown(fd, static_cast<uid_t>(-1), st.st_gid) == 0 || errno == EPERM || errno == EINVAL) {
        return 0;
    }
    return errno;
}

#if defined(__linux__) || defined(__APPLE__)
ssize_t ListAttributes(const std::string& path, char* names, std::size_t size) {
#if defined(__APPLE__)
    return ::listxattr(path.c_str(), names, size, 0);
#else
    return ::listxattr(path.c_str(), names, size);
#endif
}

ssize_t GetAttribute(const std::string& path, const char* name, char* value, std::size_t size) {
#if defined(__APPLE__)
    return ::getxattr(path.c_str(), name, value, size, 0, 0);
#else
    return ::getxattr(path.c_str(), name, value, size);
#endif
}

int SetAttribute(int fd, const char* name, const char* value, std::size_t size) {
#if defined(__APPLE__)
    return ::fsetxattr(fd, name, value, size, 0, 0);
#else
    return ::fsetxattr(fd, name, value, size, 0);
#endif
}

// Errors that mean an attribute is not for this process to read or set, or
// not for this file system to keep, or gone meanwhile.
bool PassOver(int error) {
#if defined(__APPLE__)
    const bool gone = error == ENOATTR;
#else
    const bool gone = error == ENODATA;
#endif
    return gone || error == EPERM || error == EACCES || error == ENOTSUP || error == EOPNOTSUPP;
}

// Reads into *out with a call that stores at most size bytes and returns
// how many it stored or would store: first the size, then the bytes, again
// when they grew meanwhile. Returns the count, or -1 with errno set.
template <typename Call>
ssize_t ReadGrowing(std::vector<char>* out, Call call) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0) {
            return -1;
        }
        // One byte more, so that the buffer is never empty.
        out->resize(static_cast<std::size_t>(size) + 1);
        const ssize_t got = call(out->data(), out->size());
        if (got >= 0 || errno != ERANGE) {
            return got;
        }
    }
    errno = ERANGE;
    return -1;
}

// Copies the extended attributes of the file at from, access control lists
// (system.posix_acl_access) included, to the file open as fd. Those this
// process may not set, or the file system does not keep, are passed over.
// Returns 0, or the error that is more than that.
int CopyAttributes(const std::string& from, int fd) {
    std::vector<char> names;
    const ssize_t listed = ReadGrowing(
        &names, [&](char* buf, std::size_t size) { return ListAttributes(from, buf, size); });
    if (listed < 0) {
        return PassOver(errno) ? 0 : errno;
    }
    std::vector<char> value;
    for (std::size_t at = 0; at < static_cast<std::size_t>(listed);) {
        const char* name = &names[at];
        at += std::strlen(name) + 1;
        const ssize_t size = ReadGrowing(&value, [&](char* buf, std::size_t bufSize) {
            return GetAttribute(from, name, buf, bufSize);
        });
        if (size < 0 || SetAttribute(fd, name, value.data(), static_cast<std::size_t>(size)) != 0) {
            if (!PassOver(errno)) {
                return errno;
            }
        }
    }
    return 0;
}
#else
int CopyAttributes(const std::string&, int) {
    return 0;
}
#endif

class PosixHost final : public Host {
  public:
    PosixHost() {
        // A closed pipe on standard output must be a failed write with a
        // message, not a silent death by signal; likewise a file grown to
        // the size limit (ulimit -f) must be a failed write that says so.
        ::signal(SIGPIPE, SIG_IGN);
        ::signal(SIGXFSZ, SIG_IGN);
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

    std::string CurrentFolder() override {
        std::vector<char> buf(256, '\0');
        for (;;) {
            if (::getcwd(buf.data(), buf.size()) != nullptr) {
                return std::string(buf.data());
            }
            if (errno != ERANGE) {
                return std::string();
            }
            buf.resize(buf.size() * 2);
        }
    }

    std::vector<std::string> HelpWords() const override {
        return {"--help", "-h"};
    }

    std::string NativePath(std::string_view path) const override {
        return NativePosixPath(path);
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

    bool CanonicalizePath(const std::string& path, std::string* result) const override {
        *result = CanonicalPosixPath(path);
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

    FileKind KindOf(const std::string& path) override {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            return FileKind::kNone;
        }
        if (S_ISREG(st.st_mode)) {
            return FileKind::kRegular;
        }
        return S_ISDIR(st.st_mode) ? FileKind::kFolder : FileKind::kOther;
    }

    Status FollowLinks(const std::string& path, std::string* named) override {
        return FollowLinkChain(path, named) ? Status::Ok() : LinkLoop(path);
    }

    bool IdentifyFile(const std::string& path, FileIdentity* identity) override {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            return false;
        }
        *identity = StateOf(st).identity;
        return true;
    }

    Status OpenForReading(const std::string& path, std::unique_ptr<File>* file) override {
        return Open(path, O_RDONLY, file);
    }

    Status OpenForUpdate(const std::string& path, std::unique_ptr<File>* file) override {
        return Open(path, O_RDWR, file);
    }

    Status CreateNewFile(const std::string& path, std::unique_ptr<File>* file) override {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            return PosixError("cannot create", path, errno);
        }
        *file = std::make_unique<PosixFile>(fd, path);
        return Status::Ok();
    }

    Status CreateTempCopyFor(const std::string& target, const std::string& source, File& sourceFile,
                             std::uint64_t size, std::unique_ptr<File>* file,
                             std::string* tempPath) override {
        std::unique_ptr<File> temp;
        Status status = CreateTempFileFor(target, &temp, tempPath);
        if (!status.ok()) {
            return status;
        }
        // A file of a test's host wraps the real one: no descriptor to clone.
        auto* posixSource = dynamic_cast<PosixFile*>(&sourceFile);
        status = posixSource != nullptr
                     ? CopyContent(*posixSource, size, static_cast<PosixFile&>(*temp))
                     : CopyThroughBuffer(sourceFile, source, 0, size, *temp);
        if (!status.ok()) {
            // Removed while still held, so that no other run's file of the
            // same name can be meant.
            (void)::unlink(tempPath->c_str());
            temp.reset();
            tempPath->clear();
            return status;
        }
        *file = std::move(temp);
        return Status::Ok();
    }

    // The file is locked from its creation until its File object is
    // destroyed, which tells RemoveStaleTempFiles of other runs that it is
    // held. Between mkstemp and flock another run may find it unlocked and
    // remove it: so once locked, the name must still be this file's, else
    // the run makes another one.
    Status CreateTempFileFor(const std::string& target, std::unique_ptr<File>* file,
                             std::string* tempPath) override {
        std::string real;
        if (!FollowLinkChain(target, &real)) {
            return LinkLoop(target);
        }
        const std::string folder = ParentFolder(real);
        int fd = -1;
        std::string pattern;
        for (int attempt = 0;; ++attempt) {
            pattern = folder + "/" + kTempPrefix + "XXXXXX";
            fd = ::mkstemp(&pattern[0]);
            if (fd < 0) {
                return PosixError("cannot create", target, errno);
            }
            struct stat held;
            struct stat named;
            if (LockExclusive(fd) != 0 || ::fstat(fd, &held) != 0) {
                const int error = errno;
                ::close(fd);
                (void)::unlink(pattern.c_str());
                return PosixError("cannot create", target, error);
            }
            if (::lstat(pattern.c_str(), &named) == 0 && SameFile(held, named)) {
                break;
            }
            ::close(fd);
            if (attempt == 100) {
                return PosixError("cannot create", target, EEXIST);
            }
        }
        *tempPath = pattern;
        // A second descriptor holds the lock from the file's close until it
        // is moved into place.
        const int holdFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (holdFd < 0) {
            const int error = errno;
            ::close(fd);
            return PosixError("cannot create", target, error);
        }
        auto temp = std::make_unique<PosixFile>(fd, target, holdFd);
        // mkstemp makes a private file; a new target gets the permissions of
        // any newly created file. An existing one keeps its owner and group
        // as far as the system allows, its extended attributes, and then its
        // permission bits, which a change of owner may have cut (set-id bits).
        mode_t mode = 0666 & ~CurrentUmask();
        struct stat st;
        if (::stat(real.c_str(), &st) == 0) {
            int error = TakeOwner(fd, st);
            if (error == 0) {
                error = CopyAttributes(real, fd);
            }
            if (error != 0) {
                return PosixError("cannot create", target, error);
            }
            mode = st.st_mode & 07777;
        }
        if (::fchmod(fd, mode) != 0) {
            return PosixError("cannot create", target, errno);
        }
        *file = std::move(temp);
        return Status::Ok();
    }

    Status ReplaceFile(const std::string& from, const std::string& to) override {
        std::string real;
        if (!FollowLinkChain(to, &real)) {
            return LinkLoop(to);
        }
        // The last moment the run can still end without a trace.
        Status pending = PendingInterruption();
        if (!pending.ok()) {
            return pending;
        }
        if (::rename(from.c_str(), real.c_str()) != 0) {
            return PosixError("cannot replace", to, errno);
        }
        // The rename is durable once the folder that records it is.
        return SyncFolderOf(real);
    }

    Status SyncFolderOf(const std::string& path) override {
        const std::string folder = ParentFolder(path);
        const int dir = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC);
        if (dir < 0) {
            return PosixError("cannot sync", folder, errno);
        }
        const int synced = ::fsync(dir);
        const int error = errno;
        ::close(dir);
        if (synced != 0) {
            return PosixError("cannot sync", folder, error);
        }
        return Status::Ok();
    }

    Status RemoveFile(const std::string& path) override {
        if (::unlink(path.c_str()) != 0) {
            return PosixError("cannot remove", path, errno);
        }
        return Status::Ok();
    }

    // A temporary file that can be locked at once is held by no run. It is
    // removed under that lock, and only when its name still names the file
    // locked: a run that made it and waits for the lock meanwhile finds its
    // name gone once it gets the lock, and makes another.
    void RemoveStaleTempFiles(const std::string& target) override {
        std::string real;
        if (!FollowLinkChain(target, &real)) {
            return;
        }
        const std::string folder = ParentFolder(real);
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const struct dirent* entry = ::readdir(dir)) {
                if (IsTempName(entry->d_name)) {
                    names.emplace_back(entry->d_name);
                }
            }
            ::closedir(dir);
        }
        for (const std::string& name : names) {
            const std::string path = folder + "/" + name;
            int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            }
            if (fd < 0) {
                continue;
            }
            struct stat held;
            struct stat named;
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
                S_ISREG(held.st_mode) && ::lstat(path.c_str(), &named) == 0 &&
                SameFile(held, named)) {
                (void)::unlink(path.c_str());
            }
            ::close(fd);
        }
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

    // Bright yellow for the error label, the terminal's own look after it.
    void SetConsoleRole(ConsoleRole role) override {
        if (colour_) {
            (void)WriteStdout(role == ConsoleRole::kErrorLabel ? "\x1b[93m" : "\x1b[0m");
        }
    }

    std::string_view LineEnd() const override {
        return "\n";
    }

  private:
    // Opens without waiting: opening a pipe waits for a writer, and a device
    // may wait too. Anything but a regular file is refused before a byte is
    // read; then reads wait as usual.
    static Status Open(const std::string& path, int flags, std::unique_ptr<File>* file) {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            return PosixError("cannot open", path, errno);
        }
        auto opened = std::make_unique<PosixFile>(fd, path);
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            return PosixError("cannot open", path, errno);
        }
        if (S_ISDIR(st.st_mode)) {
            return PosixError("cannot open", path, EISDIR);
        }
        if (!S_ISREG(st.st_mode)) {
            return Status::Error("hexmend: not a regular file: " + path);
        }
        const int flagsNow = ::fcntl(fd, F_GETFL);
        if (flagsNow == -1 || ::fcntl(fd, F_SETFL, flagsNow & ~O_NONBLOCK) != 0) {
            return PosixError("cannot open", path, errno);
        }
        *file = std::move(opened);
        return Status::Ok();
    }

    bool colour_ = false;
};

}  // namespace

Host& PlatformHost() {
    static PosixHost host;
    return host;
}

}  // namespace hexmend
