// A host that hands every call to another host. Test hosts derive from it
// and override only the calls they change.
#pragma once

#include <string>
#include <vector>

#include "host/host.h"

namespace hexmend::testing {

class ForwardingHost : public Host {
  public:
    explicit ForwardingHost(Host& base) : base_(base) {}

    std::string ExecutablePath() override { return base_.ExecutablePath(); }
    std::string CurrentFolder() override { return base_.CurrentFolder(); }
    std::vector<std::string> HelpWords() const override { return base_.HelpWords(); }
    std::string NativePath(std::string_view path) const override { return base_.NativePath(path); }
    char FolderSeparator() const override { return base_.FolderSeparator(); }
    bool IsFolderSeparator(char c) const override { return base_.IsFolderSeparator(c); }
    bool IsRelativePath(const std::string& path) const override {
        return base_.IsRelativePath(path);
    }
    bool CanonicalizePath(const std::string& path, std::string* result) const override {
        return base_.CanonicalizePath(path, result);
    }
    Status AbsolutePath(const std::string& path, std::string* result) override {
        return base_.AbsolutePath(path, result);
    }
    std::size_t MaxPathLength() const override { return base_.MaxPathLength(); }
    bool IsRootFolder(const std::string& folder) const override {
        return base_.IsRootFolder(folder);
    }
    bool FileExists(const std::string& path) override { return base_.FileExists(path); }
    bool FolderExists(const std::string& path) override { return base_.FolderExists(path); }
    FileKind KindOf(const std::string& path) override { return base_.KindOf(path); }
    Status FollowLinks(const std::string& path, std::string* named) override {
        return base_.FollowLinks(path, named);
    }
    Status CreateFolder(const std::string& path) override { return base_.CreateFolder(path); }
    bool IdentifyFile(const std::string& path, FileIdentity* identity) override {
        return base_.IdentifyFile(path, identity);
    }
    Status OpenForReading(const std::string& path, std::unique_ptr<File>* file) override {
        return base_.OpenForReading(path, file);
    }
    Status OpenForUpdate(const std::string& path, std::unique_ptr<File>* file) override {
        return base_.OpenForUpdate(path, file);
    }
    Status CreateNewFile(const std::string& path, std::unique_ptr<File>* file) override {
        return base_.CreateNewFile(path, file);
    }
    Status CreateTempFileFor(const std::string& target, std::unique_ptr<File>* file,
                             std::string* tempPath) override {
        return base_.CreateTempFileFor(target, file, tempPath);
    }
    Status CreateTempCopyFor(const std::string& target, const std::string& source, File& sourceFile,
                             std::uint64_t size, std::unique_ptr<File>* file,
                             std::string* tempPath) override {
        return base_.CreateTempCopyFor(target, source, sourceFile, size, file, tempPath);
    }
    Status ReplaceFile(const std::string& from, const std::string& to) override {
        return base_.ReplaceFile(from, to);
    }
    Status RemoveFile(const std::string& path) override { return base_.RemoveFile(path); }
    void RemoveStaleTempFiles(const std::string& target) override {
        base_.RemoveStaleTempFiles(target);
    }
    Status SyncFolderOf(const std::string& path) override { return base_.SyncFolderOf(path); }
    bool CanReplaceOpenFile() const override { return base_.CanReplaceOpenFile(); }
    void AdviseLargeBuffer(char* data, std::size_t size) override {
        base_.AdviseLargeBuffer(data, size);
    }
    void FetchConsole() override { base_.FetchConsole(); }
    Status WriteStdout(std::string_view text) override { return base_.WriteStdout(text); }
    Status FlushStdout() override { return base_.FlushStdout(); }
    void SetConsoleRole(ConsoleRole role) override { base_.SetConsoleRole(role); }
    void WriteStderr(std::string_view text) override { base_.WriteStderr(text); }
    std::string_view LineEnd() const override { return base_.LineEnd(); }

  protected:
    Host& base() { return base_; }

  private:
    Host& base_;
};

}  // namespace hexmend::testing
