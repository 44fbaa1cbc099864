#include "core/file_io.h"

#include <memory>
#include <utility>

#include "core/host_call.h"
#include "host/host.h"

namespace hexmend {

std::string ResolvePath(const FileSystem& host, std::string_view baseDir, std::string_view path) {
    const std::string native = host.NativePath(path);
    std::string result;
    if (host.IsRelativePath(native)) {
        std::string candidate(baseDir);
        if (candidate.empty() || candidate.back() != host.FolderSeparator()) {
            candidate += host.FolderSeparator();
        }
        candidate += native;
        if (!host.CanonicalizePath(candidate, &result)) {
            result = std::move(candidate);
        }
    } else {
        result = native;
    }
    if (result.size() > host.MaxPathLength()) {
        throw RunTimeFailure("path too long (" + std::to_string(result.size()) +
                             " characters, at most " + std::to_string(host.MaxPathLength()) +
                             "): " + result);
    }
    return result;
}

std::string FolderPart(const FileSystem& host, std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (host.IsFolderSeparator(path[i - 1])) {
            return std::string(path.substr(0, i));
        }
    }
    return std::string();
}

bool ReadExactlyAt(File& file, std::uint64_t offset, std::size_t n, char* out) {
    std::size_t done = 0;
    while (done < n) {
        std::size_t got = 0;
        Check(file.ReadAt(offset + done, out + done, n - done, &got));
        if (got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

Bytes ReadToEnd(File& file, const std::string& path, std::uint64_t expected) {
    const auto limit = static_cast<std::uint64_t>(kMaxFileBufferSize);
    if (expected > limit) {
        throw RunTimeFailure("cannot load " + path + ": the file has " + std::to_string(expected) +
                             " bytes, more than the " + std::to_string(limit) +
                             " bytes hexmend can patch");
    }
    Bytes bytes(static_cast<std::size_t>(expected), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::size_t got = 0;
        Check(file.Read(&bytes[done], bytes.size() - done, &got));
        if (got == 0) {
            // Shorter than it said: what there is, is the file.
            bytes.resize(done);
            return bytes;
        }
        done += got;
    }
    // The end is where a read finds nothing, whatever the size said: a file
    // under /proc says 0 and has content. Read on in pieces until then.
    char more[16384];
    for (;;) {
        std::size_t got = 0;
        Check(file.Read(more, sizeof more, &got));
        if (got == 0) {
            return bytes;
        }
        if (got > limit - bytes.size()) {
            throw RunTimeFailure("cannot load " + path + ": the file has more than the " +
                                 std::to_string(limit) + " bytes hexmend can patch");
        }
        bytes.append(more, got);
    }
}

Bytes ReadWholeFile(FileSystem& host, const std::string& path) {
    std::unique_ptr<File> file;
    Check(host.OpenForReading(path, &file));
    std::uint64_t size = 0;
    Check(file->Size(&size));
    return ReadToEnd(*file, path, size);
}

void TempFileOwner::MoveOver(const std::string& target) {
    std::string named;
    Check(host_.FollowLinks(target, &named));
    Check(host_.ReplaceFile(path_, target));
    path_.clear();
    Check(host_.SyncFolderOf(named));
}

bool CreateFolders(FileSystem& host, const std::string& folder) {
    for (std::size_t i = 0; i < folder.size(); ++i) {
        if (!host.IsFolderSeparator(folder[i])) {
            continue;
        }
        const std::string prefix = folder.substr(0, i);
        if (host.IsRootFolder(prefix) || host.FolderExists(prefix)) {
            continue;
        }
        if (!host.CreateFolder(prefix).ok()) {
            return false;
        }
        // The new folder lasts once the folder that holds it is synced.
        Check(host.SyncFolderOf(prefix));
    }
    return true;
}

}  // namespace hexmend
