#include "diff/diff_entry.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/file_io.h"
#include "core/host_call.h"
#include "core/run_state.h"
#include "diff/patch_maker.h"
#include "diff/stream_finder.h"
#include "host/host.h"

namespace hexmend {
namespace {

constexpr std::string_view kProgram = "hexmend-diff: ";
// Both files are read in pieces of this size; memory does not grow with
// them. Small enough that the two pieces are still in the core's cache when
// they are compared: with pieces of 1 MiB the same run took 1.5 times as long.
constexpr std::size_t kReadPiece = 64 * 1024;

std::string FullPath(Host& host, const std::string& path) {
    std::string full;
    Check(host.AbsolutePath(path, &full));
    return full;
}

// A full path cut into its root (up to and including the separator that
// ends it: "/", "C:\", "\\server\share\") and its segments.
struct SplitPath {
    std::string root;
    std::vector<std::string> segments;
};

SplitPath Split(const Host& host, const std::string& full) {
    const char separator = host.FolderSeparator();
    SplitPath split;
    std::size_t rest = 0;
    for (std::size_t i = 0; i < full.size() && full[i] == separator; ++i) {
        rest = i + 1;
    }
    // The root reaches as far as its prefixes count as root folders.
    for (std::size_t i = rest; i < full.size(); ++i) {
        if (full[i] == separator) {
            if (!host.IsRootFolder(full.substr(0, i))) {
                break;
            }
            rest = i + 1;
        }
    }
    split.root = full.substr(0, rest);
    while (rest < full.size()) {
        std::size_t end = full.find(separator, rest);
        if (end == std::string::npos) {
            end = full.size();
        }
        if (end > rest) {
            split.segments.push_back(full.substr(rest, end - rest));
        }
        rest = end + 1;
    }
    return split;
}

// file (a full path) as named from folder (a full path): relative, with the
// platform's separator, or file itself when the two have different roots
// (another drive).
std::string NameFrom(const Host& host, const std::string& folder, const std::string& file) {
    const SplitPath from = Split(host, folder);
    const SplitPath to = Split(host, file);
    if (from.root != to.root || to.segments.empty()) {
        return file;
    }
    std::size_t common = 0;
    while (common < from.segments.size() && common + 1 < to.segments.size() &&
           from.segments[common] == to.segments[common]) {
        ++common;
    }
    std::string name;
    for (std::size_t i = common; i < from.segments.size(); ++i) {
        name += "..";
        name += host.FolderSeparator();
    }
    for (std::size_t i = common; i < to.segments.size(); ++i) {
        if (i > common) {
            name += host.FolderSeparator();
        }
        name += to.segments[i];
    }
    return name;
}

// Reads exactly n bytes of file, or fails naming it.
void ReadFully(File& file, const std::string& name, char* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        std::size_t got = 0;
        Check(file.Read(buf + done, n - done, &got));
        if (got == 0) {
            throw RunTimeFailure("cannot read " + name + ": the file shrank while it was read");
        }
        done += got;
    }
}

// A file read again at an offset, beside its reading in order.
class FileSource final : public ByteSource {
  public:
    FileSource(File& file, const std::string& name) : file_(file), name_(name) {}
    void ReadAt(std::uint64_t offset, char* buf, std::size_t n) override {
        std::size_t done = 0;
        while (done < n) {
            std::size_t got = 0;
            Check(file_.ReadAt(offset + done, buf + done, n - done, &got));
            if (got == 0) {
                throw RunTimeFailure(std::string(kProgram) + "cannot read " + name_ +
                                     ": the file shrank while it was read");
            }
            done += got;
        }
    }

  private:
    File& file_;
    const std::string& name_;
};

class StdoutSink final : public PatchSink {
  public:
    explicit StdoutSink(Host& host) : host_(host) {}
    void Write(std::string_view text) override { Check(host_.WriteStdout(text)); }
    void Commit() { Check(host_.FlushStdout()); }

  private:
    Host& host_;
};

// Streams the patch file into a temporary file beside it, which Commit makes
// durable and moves over the patch file in one step; without Commit the
// temporary file is removed and an existing patch file keeps its content.
class FileSink final : public PatchSink {
  public:
    FileSink(Host& host, std::string path) : host_(host), temp_(host), path_(std::move(path)) {
        Check(host_.CreateTempFileFor(path_, &file_, temp_.path()));
    }
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    void Write(std::string_view text) override { Check(file_->Append(text)); }
    void Commit() {
        Check(file_->Sync());
        Check(file_->Close());
        file_.reset();
        temp_.MoveOver(path_);
    }

  private:
    Host& host_;
    // Declared before the file, so that the file is closed before the
    // temporary is removed.
    TempFileOwner temp_;
    std::string path_;
    std::unique_ptr<File> file_;
};

std::string Plural(std::uint64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

int Usage(Host& host) {
    host.WriteStderr(
        "USAGE: hexmend-diff OLD NEW [PATCHFILE]\n"
        "Writes a patch file that changes OLD into NEW (two files of one length) to\n"
        "PATCHFILE, or to standard output; \"hexmend PATCHFILE\" then changes OLD in place.\n"
        "A change inside a zlib stream (header 78 9C, at the same offset in both) that\n"
        "hexmend's replace_zlib can rewrite is written as one replace_zlib block with\n"
        "the stream's old and new text, line by line, after a short line diff; texts\n"
        "over 16 MiB, or over 1024 times their stream, and streams made otherwise\n"
        "are written as bytes.\n");
    return 2;
}

int Refuse(Host& host, const std::string& message) {
    host.WriteStderr(std::string(kProgram) + message + "\n");
    return 1;
}

int Run(Host& host, const std::vector<std::string>& arguments) {
    if (arguments.size() < 3 || arguments.size() > 4 ||
        std::any_of(arguments.begin() + 1, arguments.end(),
                    [](const std::string& argument) { return argument.empty(); })) {
        return Usage(host);
    }
    const std::string& oldName = arguments[1];
    const std::string& newName = arguments[2];
    const bool toStdout = arguments.size() == 3;

    std::unique_ptr<File> oldFile;
    std::unique_ptr<File> newFile;
    Check(host.OpenForReading(oldName, &oldFile));
    Check(host.OpenForReading(newName, &newFile));
    std::uint64_t size = 0;
    std::uint64_t newSize = 0;
    Check(oldFile->Size(&size));
    Check(newFile->Size(&newSize));
    if (size != newSize) {
        return Refuse(host, oldName + " has " + Plural(size, "byte") + " and " + newName + " has " +
                                std::to_string(newSize) +
                                ": hexmend never changes a file's length; no patch file written");
    }
    if (size > static_cast<std::uint64_t>(kMaxFileBufferSize)) {
        return Refuse(host, oldName + " has " + std::to_string(size) + " bytes, more than the " +
                                std::to_string(kMaxFileBufferSize) +
                                " bytes hexmend can patch; no patch file written");
    }

    // The patch file names OLD from its own folder; on standard output, from
    // the working folder, where it is to be saved.
    const std::string oldFull = FullPath(host, oldName);
    PatchFileFacts facts;
    facts.oldName = oldName;
    facts.newName = newName;
    facts.size = size;
    std::string patchFull;
    if (toStdout) {
        facts.saveFolder = FullPath(host, ".");
        facts.sourceValue = NameFrom(host, facts.saveFolder, oldFull);
        std::string folder = facts.saveFolder;
        if (folder.empty() || folder.back() != host.FolderSeparator()) {
            folder += host.FolderSeparator();
        }
        facts.patchPath = folder + "PATCHFILE";
    } else {
        patchFull = FullPath(host, arguments[3]);
        if (patchFull == oldFull || patchFull == FullPath(host, newName)) {
            return Refuse(host, "the patch file " + arguments[3] + " would replace " +
                                    (patchFull == oldFull ? oldName : newName));
        }
        facts.sourceValue = NameFrom(host, FolderPart(host, patchFull), oldFull);
        facts.patchPath = patchFull;
    }
    // hexmend reads a line end as the end of the value and a backslash as a
    // folder separator: a name with either cannot be written.
    const std::string& value = facts.sourceValue;
    if (value.find_first_of("\r\n") != std::string::npos || host.NativePath(value) != value) {
        return Refuse(host, "a patch file cannot name " + oldName +
                                ": its path holds a line end or a backslash");
    }

    std::unique_ptr<FileSink> fileSink;
    std::unique_ptr<StdoutSink> stdoutSink;
    PatchSink* sink = nullptr;
    if (toStdout) {
        stdoutSink = std::make_unique<StdoutSink>(host);
        sink = stdoutSink.get();
    } else {
        fileSink = std::make_unique<FileSink>(host, patchFull);
        sink = fileSink.get();
    }
    FileSource oldSource(*oldFile, oldName);
    FileSource newSource(*newFile, newName);
    StreamFinder streams(oldSource, newSource, size);
    PatchMaker maker(*sink, PatchFileHeader(facts, host.LineEnd()), host.LineEnd(), &streams);
    const std::unique_ptr<char[]> oldPiece(new char[kReadPiece]);
    const std::unique_ptr<char[]> newPiece(new char[kReadPiece]);
    for (std::uint64_t done = 0; done < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kReadPiece, size - done));
        ReadFully(*oldFile, oldName, oldPiece.get(), n);
        ReadFully(*newFile, newName, newPiece.get(), n);
        maker.Feed(std::string_view(oldPiece.get(), n), std::string_view(newPiece.get(), n));
        done += n;
    }
    maker.Finish();

    if (maker.Regions() == 0) {
        host.WriteStderr(std::string(kProgram) + oldName + " and " + newName +
                         " are identical; no patch file written\n");
        return 0;
    }
    if (fileSink) {
        fileSink->Commit();
    } else {
        stdoutSink->Commit();
    }
    const std::string streamsNote =
        maker.Streams() == 0 ? "" : ", " + std::to_string(maker.Streams()) + " as zlib text";
    host.WriteStderr(std::string(kProgram) + Plural(maker.Regions(), "changed region") + " (" +
                     Plural(maker.ChangedBytes(), "byte") + " differ" + streamsNote +
                     ") written to " + (toStdout ? std::string("standard output") : arguments[3]) +
                     "\n");
    return 0;
}

}  // namespace

int RunHexmendDiff(Host& host, const std::vector<std::string>& arguments) {
    try {
        return Run(host, arguments);
    } catch (const RunTimeFailure& failure) {
        (void)host.FlushStdout();
        host.WriteStderr(std::string(kProgram) + failure.what() + "\n");
    } catch (const std::bad_alloc&) {
        (void)host.FlushStdout();
        host.WriteStderr(std::string(kProgram) + "out of memory\n");
    }
    return 1;
}

}  // namespace hexmend
