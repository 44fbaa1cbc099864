// A host for unit tests: everything goes to the platform's host, except that
// standard output is captured in a string, with "<14>" and "<7>" marking the
// colour changes.
#pragma once

#include <string>

#include "host/host.h"

namespace hexmend::testing {

class CaptureHost : public Host {
  public:
    explicit CaptureHost(Host& base = PlatformHost()) : base_(base) {}

    std::string stdoutText;

    std::string ExecutablePath() override { return base_.ExecutablePath(); }
    std::string NativePath(std::string_view path) const override { return base_.NativePath(path); }
    char FolderSeparator() const override { return base_.FolderSeparator(); }
    bool IsFolderSeparator(char c) const override { return base_.IsFolderSeparator(c); }
    bool IsRelativePath(const std::string& path) const override {
        return base_.IsRelativePath(path);
    }
    bool CanonicalizePath(const std::string& path, std::string* result) const override {
        return base_.CanonicalizePath(path, result);
    }
    std::size_t MaxPathLength() const override { return base_.MaxPathLength(); }
    bool IsRootFolder(const std::string& folder) const override {
        return base_.IsRootFolder(folder);
    }
    bool FileExists(const std::string& path) override { return base_.FileExists(path); }
    bool FolderExists(const std::string& path) override { return base_.FolderExists(path); }
    Status CreateFolder(const std::string& path) override { return base_.CreateFolder(path); }
    Status OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file) override {
        return base_.OpenForReading(path, file);
    }
    Status CreateTempFileFor(const std::string& target, std::unique_ptr<WritableFile>* file,
                             std::string* tempPath) override {
        return base_.CreateTempFileFor(target, file, tempPath);
    }
    Status ReplaceFile(const std::string& from, const std::string& to) override {
        return base_.ReplaceFile(from, to);
    }
    Status RemoveFile(const std::string& path) override { return base_.RemoveFile(path); }
    void FetchConsole() override {}
    Status WriteStdout(std::string_view text) override {
        stdoutText.append(text);
        return Status::Ok();
    }
    Status FlushStdout() override { return Status::Ok(); }
    void SetTextAttribute(int attribute) override {
        stdoutText += "<" + std::to_string(attribute) + ">";
    }
    void WriteStderr(std::string_view text) override { stderrText.append(text); }
    std::string_view LineEnd() const override { return "\n"; }

    std::string stderrText;

  private:
    Host& base_;
};

}  // namespace hexmend::testing
