// A host decorator that makes chosen host calls fail the way a real system
// can: a disk that fills up half way through a write, a rename that fails, a
// file that exists but cannot be opened, a file that yields fewer bytes than
// its size. Everything else goes to the wrapped host; standard output and
// standard error are captured in strings, as CaptureHost does.
//
// Files are picked by the end of their path ("src.bin" matches ".../src.bin"),
// so the faults do not depend on where a test keeps its files.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture_host.h"

namespace hexmend::testing {

struct Faults {
    // Opening a file whose path ends in this fails ("Permission denied").
    std::string openFails;
    // Reads of a file whose path ends in this report the end of the file
    // after readStopsAfter bytes, although its size says more.
    std::string readStops;
    std::size_t readStopsAfter = 0;
    // Reads of a file whose path ends in this fail ("Input/output error").
    std::string readFails;
    // When non-zero, every read returns at most this many bytes (legal, and
    // what a pipe or a network file system does).
    std::size_t readChunk = 0;
    // When non-negative, the disk has room for this many more bytes: a write
    // beyond stores what fits and then fails ("No space left on device").
    std::int64_t diskRoom = -1;
    bool createTempFails = false;
    bool syncFails = false;
    // Syncing the folder that holds a path ending in this fails
    // ("Input/output error").
    std::string folderSyncFails;
    bool closeFails = false;
    bool renameFails = false;
    bool stdoutFails = false;
    // Called as the target's copy of the source is about to be made: a
    // chance to change the source under the run.
    std::function<void()> beforeCopy;
    // Writes to a file whose path ends in writeFile: beforeWrite, when set,
    // is called before each; with writeLimit non-zero, the bytes at and
    // beyond that offset are not stored and the write fails ("File too
    // large"), as under a limit on the size of files.
    std::string writeFile;
    std::function<void()> beforeWrite;
    std::uint64_t writeLimit = 0;
    // Called once a file made by CreateNewFile exists.
    std::function<void()> afterCreate;
};

class FaultHost : public CaptureHost {
  public:
    explicit FaultHost(Host& base = PlatformHost()) : CaptureHost(base) {}

    Faults faults;
    // The paths whose folders were synced, in order.
    std::vector<std::string> folderSyncs;

    Status OpenForReading(const std::string& path, std::unique_ptr<File>* file) override {
        return Open(path, file, false);
    }
    Status OpenForUpdate(const std::string& path, std::unique_ptr<File>* file) override {
        return Open(path, file, true);
    }

    Status CreateTempFileFor(const std::string& target, std::unique_ptr<File>* file,
                             std::string* tempPath) override {
        if (faults.createTempFails) {
            return Failure("cannot create", target, "Read-only file system");
        }
        std::unique_ptr<File> real;
        Status status = base().CreateTempFileFor(target, &real, tempPath);
        if (!status.ok()) {
            return status;
        }
        *file = std::make_unique<FaultyFile>(std::move(real), target, faults, SIZE_MAX, false);
        return Status::Ok();
    }

    // Copied through the faulty file, so that a full disk strikes during the
    // copy as it would.
    Status CreateTempCopyFor(const std::string& target, const std::string& source, File& sourceFile,
                             std::uint64_t size, std::unique_ptr<File>* file,
                             std::string* tempPath) override {
        if (faults.beforeCopy) {
            faults.beforeCopy();
        }
        Status status = CreateTempFileFor(target, file, tempPath);
        if (!status.ok()) {
            return status;
        }
        return CopyThroughBuffer(sourceFile, source, 0, size, **file);
    }

    Status CreateNewFile(const std::string& path, std::unique_ptr<File>* file) override {
        Status status = base().CreateNewFile(path, file);
        if (status.ok() && faults.afterCreate) {
            faults.afterCreate();
        }
        return status;
    }

    Status ReplaceFile(const std::string& from, const std::string& to) override {
        if (faults.renameFails) {
            return Failure("cannot replace", to, "Device or resource busy");
        }
        return base().ReplaceFile(from, to);
    }

    Status SyncFolderOf(const std::string& path) override {
        folderSyncs.push_back(path);
        if (Matches(path, faults.folderSyncFails)) {
            return Failure("cannot sync", path.substr(0, path.find_last_of("/\\")),
                           "Input/output error");
        }
        return base().SyncFolderOf(path);
    }

    Status WriteStdout(std::string_view text) override {
        if (faults.stdoutFails) {
            return Status::Error("cannot write to standard output: Broken pipe");
        }
        return CaptureHost::WriteStdout(text);
    }

  private:
    static bool Matches(const std::string& path, const std::string& suffix) {
        return !suffix.empty() && path.size() >= suffix.size() &&
               path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    }

    static Status Failure(const std::string& what, const std::string& path, const char* reason) {
        return Status::Error(what + " " + path + ": " + reason);
    }

    Status Open(const std::string& path, std::unique_ptr<File>* file, bool update) {
        if (Matches(path, faults.openFails)) {
            return Failure("cannot open", path, "Permission denied");
        }
        std::unique_ptr<File> real;
        Status status =
            update ? base().OpenForUpdate(path, &real) : base().OpenForReading(path, &real);
        if (!status.ok()) {
            return status;
        }
        const std::size_t stopAfter =
            Matches(path, faults.readStops) ? faults.readStopsAfter : SIZE_MAX;
        *file = std::make_unique<FaultyFile>(std::move(real), path, faults, stopAfter,
                                             Matches(path, faults.readFails));
        return Status::Ok();
    }

    // Reads that stop early, fail or come in small pieces; writes that fill
    // the disk; syncs and closes that fail.
    class FaultyFile final : public File {
      public:
        FaultyFile(std::unique_ptr<File> real, std::string path, Faults& faults,
                   std::size_t stopAfter, bool readFails)
            : real_(std::move(real)),
              path_(std::move(path)),
              faults_(faults),
              stopAfter_(stopAfter),
              readFails_(readFails) {
            FileState state;
            if (real_->State(&state).ok()) {
                length_ = state.size;
            }
        }

        Status State(FileState* state) override { return real_->State(state); }

        Status Read(char* buf, std::size_t n, std::size_t* got) override {
            Status status = ReadAt(offset_, buf, n, got);
            offset_ += *got;
            return status;
        }

        Status ReadAt(std::uint64_t offset, char* buf, std::size_t n, std::size_t* got) override {
            *got = 0;
            if (readFails_) {
                return Failure("cannot read", path_, "Input/output error");
            }
            if (offset >= stopAfter_) {
                return Status::Ok();
            }
            n = static_cast<std::size_t>(std::min<std::uint64_t>(n, stopAfter_ - offset));
            if (faults_.readChunk != 0) {
                n = std::min(n, faults_.readChunk);
            }
            return real_->ReadAt(offset, buf, n, got);
        }

        Status Append(std::string_view data) override {
            Status status = WriteAt(writeOffset_, data);
            writeOffset_ += data.size();
            return status;
        }

        // Only bytes beyond the file's end take room on the disk.
        Status WriteAt(std::uint64_t offset, std::string_view data) override {
            const std::uint64_t end = offset + data.size();
            if (Matches(path_, faults_.writeFile)) {
                if (faults_.beforeWrite) {
                    faults_.beforeWrite();
                }
                if (faults_.writeLimit != 0 && end > faults_.writeLimit) {
                    if (offset < faults_.writeLimit) {
                        Status status = real_->WriteAt(
                            offset,
                            data.substr(0, static_cast<std::size_t>(faults_.writeLimit - offset)));
                        if (!status.ok()) {
                            return status;
                        }
                    }
                    return Failure("cannot write", path_, "File too large");
                }
            }
            const std::uint64_t growth = end > length_ ? end - length_ : 0;
            if (faults_.diskRoom >= 0 && growth > static_cast<std::uint64_t>(faults_.diskRoom)) {
                const auto fits =
                    static_cast<std::size_t>((length_ > offset ? length_ - offset : 0) +
                                             static_cast<std::uint64_t>(faults_.diskRoom));
                faults_.diskRoom = 0;
                Status status = real_->WriteAt(offset, data.substr(0, fits));
                if (!status.ok()) {
                    return status;
                }
                length_ = std::max(length_, offset + fits);
                return Failure("cannot write", path_, "No space left on device");
            }
            if (faults_.diskRoom >= 0) {
                faults_.diskRoom -= static_cast<std::int64_t>(growth);
            }
            length_ = std::max(length_, end);
            return real_->WriteAt(offset, data);
        }

        Status Sync() override {
            if (faults_.syncFails) {
                return Failure("cannot sync", path_, "Input/output error");
            }
            return real_->Sync();
        }

        Status Lock() override { return real_->Lock(); }

        Status Close() override {
            Status status = real_->Close();
            if (faults_.closeFails && status.ok()) {
                return Failure("cannot write", path_, "Disk quota exceeded");
            }
            return status;
        }

      private:
        std::unique_ptr<File> real_;
        std::string path_;
        Faults& faults_;
        std::size_t stopAfter_;
        bool readFails_;
        std::uint64_t offset_ = 0;
        std::uint64_t writeOffset_ = 0;
        std::uint64_t length_ = 0;
    };
};

}  // namespace hexmend::testing
