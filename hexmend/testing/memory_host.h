// A host whose files live in memory: a whole run without touching the disk,
// for tests and fuzzing. Paths are POSIX-style ("/" separates, "/" is the
// root); backslashes are taken as "/" like the POSIX host does. Standard
// output and standard error are captured in strings.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "host/host.h"

namespace hexmend::testing {

class MemoryHost : public Host {
  public:
    // The program's own path, as ExecutablePath() reports it.
    static constexpr const char* kProgramPath = "/bin/hexmend";

    MemoryHost();

    // ---- Set-up and inspection ----
    // Stores a file at path (lexically normalised), creating its folders.
    void PutFile(const std::string& path, std::string content);
    // The content of the file at path, or nullptr when there is none.
    const std::string* GetFile(const std::string& path) const;
    // Every file, keyed by normalised path.
    std::map<std::string, std::string> Files() const;
    // Files currently open for writing (0 once every writer is gone).
    int OpenWriters() const { return openWriters_; }
    // Temporary files made by CreateTempFileFor and neither moved into
    // place nor removed since.
    const std::set<std::string>& TempFiles() const { return temps_; }

    std::string stdoutText;
    std::string stderrText;

    // ---- Host ----
    std::string ExecutablePath() override;
    std::string NativePath(std::string_view path) const override;
    char FolderSeparator() const override;
    bool IsFolderSeparator(char c) const override;
    bool IsRelativePath(const std::string& path) const override;
    bool CanonicalizePath(const std::string& path, std::string* result) const override;
    std::size_t MaxPathLength() const override;
    bool IsRootFolder(const std::string& folder) const override;
    bool FileExists(const std::string& path) override;
    bool FolderExists(const std::string& path) override;
    Status CreateFolder(const std::string& path) override;
    bool IdentifyFile(const std::string& path, FileIdentity* identity) override;
    Status OpenForReading(const std::string& path, std::unique_ptr<File>* file) override;
    Status OpenForUpdate(const std::string& path, std::unique_ptr<File>* file) override;
    Status CreateNewFile(const std::string& path, std::unique_ptr<File>* file) override;
    Status CreateTempFileFor(const std::string& target, std::unique_ptr<File>* file,
                             std::string* tempPath) override;
    Status CreateTempCopyFor(const std::string& target, const std::string& source, File& sourceFile,
                             std::uint64_t size, std::unique_ptr<File>* file,
                             std::string* tempPath) override;
    Status ReplaceFile(const std::string& from, const std::string& to) override;
    Status RemoveFile(const std::string& path) override;
    // Removes the files named ".hexmend-" and digits in target's folder that
    // no open File of this host holds.
    void RemoveStaleTempFiles(const std::string& target) override;
    Status SyncFolderOf(const std::string& path) override;
    void FetchConsole() override;
    Status WriteStdout(std::string_view text) override;
    Status FlushStdout() override;
    void SetConsoleRole(ConsoleRole role) override;
    void WriteStderr(std::string_view text) override;
    std::string_view LineEnd() const override;

    // path with "." and ".." resolved and repeated "/" collapsed; always
    // absolute (a relative path is taken from the root). Files() keys.
    static std::string Normalize(const std::string& path);

  private:
    // A file's content and identity, shared by its name and every open
    // file, so that an open file keeps its bytes when the name is replaced.
    struct Node {
        std::string bytes;
        std::uint64_t index = 0;
        std::int64_t version = 0;
        // Open files of this node.
        int holders = 0;
    };
    class OpenFile;

    static std::string Parent(const std::string& normalized);
    std::shared_ptr<Node> NewNode(std::string bytes);
    Status Open(const std::string& path, bool writable, std::unique_ptr<File>* file);

    std::map<std::string, std::shared_ptr<Node>> files_;
    std::set<std::string> folders_;
    std::set<std::string> temps_;
    int nextTemp_ = 0;
    std::uint64_t nextIndex_ = 1;
    std::int64_t clock_ = 0;
    int openWriters_ = 0;
};

}  // namespace hexmend::testing
