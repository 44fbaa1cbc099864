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
#include <memory>
#include <string>
#include <utility>

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
    bool closeFails = false;
    bool renameFails = false;
    bool stdoutFails = false;
};

class FaultHost : public CaptureHost {
  public:
    explicit FaultHost(Host& base = PlatformHost()) : CaptureHost(base) {}

    Faults faults;

    Status OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file) override {
        if (Matches(path, faults.openFails)) {
            return Failure("cannot open", path, "Permission denied");
        }
        std::unique_ptr<ReadableFile> real;
        Status status = base().OpenForReading(path, &real);
        if (!status.ok()) {
            return status;
        }
        std::size_t stopAfter = SIZE_MAX;
        if (Matches(path, faults.readStops)) {
            stopAfter = faults.readStopsAfter;
        }
        *file = std::make_unique<FaultyReader>(std::move(real), path, stopAfter,
                                               Matches(path, faults.readFails), faults.readChunk);
        return Status::Ok();
    }

    Status CreateTempFileFor(const std::string& target, std::unique_ptr<WritableFile>* file,
                             std::string* tempPath) override {
        if (faults.createTempFails) {
            return Failure("cannot create", target, "Read-only file system");
        }
        std::unique_ptr<WritableFile> real;
        Status status = base().CreateTempFileFor(target, &real, tempPath);
        if (!status.ok()) {
            return status;
        }
        *file = std::make_unique<FaultyWriter>(std::move(real), target, faults);
        return Status::Ok();
    }

    Status ReplaceFile(const std::string& from, const std::string& to) override {
        if (faults.renameFails) {
            return Failure("cannot replace", to, "Device or resource busy");
        }
        return base().ReplaceFile(from, to);
    }

    Status WriteStdout(std::string_view text) override {
        if (faults.stdoutFails) {
            return Status::Error("hexmend: cannot write to standard output: Broken pipe");
        }
        return CaptureHost::WriteStdout(text);
    }

  private:
    static bool Matches(const std::string& path, const std::string& suffix) {
        return !suffix.empty() && path.size() >= suffix.size() &&
               path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    }

    static Status Failure(const std::string& what, const std::string& path, const char* reason) {
        return Status::Error("hexmend: " + what + " " + path + ": " + reason);
    }

    class FaultyReader final : public ReadableFile {
      public:
        FaultyReader(std::unique_ptr<ReadableFile> real, std::string path, std::size_t stopAfter,
                     bool fails, std::size_t chunk)
            : real_(std::move(real)),
              path_(std::move(path)),
              left_(stopAfter),
              fails_(fails),
              chunk_(chunk) {}

        Status Size(std::uint64_t* size) override { return real_->Size(size); }

        Status Read(char* buf, std::size_t n, std::size_t* got) override {
            if (fails_) {
                return Failure("cannot read", path_, "Input/output error");
            }
            n = std::min(n, left_);
            if (chunk_ != 0) {
                n = std::min(n, chunk_);
            }
            if (n == 0) {
                *got = 0;
                return Status::Ok();
            }
            Status status = real_->Read(buf, n, got);
            if (status.ok()) {
                left_ -= *got;
            }
            return status;
        }

      private:
        std::unique_ptr<ReadableFile> real_;
        std::string path_;
        std::size_t left_;
        bool fails_;
        std::size_t chunk_;
    };

    class FaultyWriter final : public WritableFile {
      public:
        FaultyWriter(std::unique_ptr<WritableFile> real, std::string target, Faults& faults)
            : real_(std::move(real)), target_(std::move(target)), faults_(faults) {}

        Status Append(std::string_view data) override {
            if (faults_.diskRoom >= 0 && data.size() > static_cast<std::size_t>(faults_.diskRoom)) {
                const std::size_t fits = static_cast<std::size_t>(faults_.diskRoom);
                faults_.diskRoom = 0;
                Status status = real_->Append(data.substr(0, fits));
                if (!status.ok()) {
                    return status;
                }
                return Failure("cannot write", target_, "No space left on device");
            }
            if (faults_.diskRoom >= 0) {
                faults_.diskRoom -= static_cast<std::int64_t>(data.size());
            }
            return real_->Append(data);
        }

        Status Sync() override {
            if (faults_.syncFails) {
                return Failure("cannot write", target_, "Input/output error");
            }
            return real_->Sync();
        }

        Status Close() override {
            Status status = real_->Close();
            if (faults_.closeFails && status.ok()) {
                return Failure("cannot write", target_, "Disk quota exceeded");
            }
            return status;
        }

      private:
        std::unique_ptr<WritableFile> real_;
        std::string target_;
        Faults& faults_;
    };
};

}  // namespace hexmend::testing
