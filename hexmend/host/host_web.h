// The page's host: a run inside a Web Worker, on a virtual folder that holds
// the user's files by name. The program's own path is kProgramPath and the
// working folder kFolder; the user's files are placed there (and wherever
// else the patch file names them) by the front-end, read by range through
// UserFiles, never whole. Files a run writes are WebContents: a user file as
// base with the written ranges over it. Folders, renames and removals live
// in the host's own table. Nothing reaches the machine's file system, and
// nothing asks the run to end: a run is cancelled by ending its worker.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/web_content.h"
#include "host/web_user_files.h"

namespace hexmend {

class WebHost final : public Host {
  public:
    // The virtual folder, without and with its trailing "/".
    static constexpr const char* kFolderPath = "/hexmend";
    static constexpr const char* kFolder = "/hexmend/";
    static constexpr const char* kProgramPath = "/hexmend/hexmend";

    // What was written to the console, piece by piece.
    enum class Stream { kStdout, kErrorLabel, kStderr };
    using ConsolePiece = std::pair<Stream, std::string>;

    explicit WebHost(UserFiles& files);

    // ---- Set-up and results ----
    // Places user file number file at path (made full from kFolder), with
    // the folders above it.
    void PlaceUserFile(const std::string& path, int file);
    // Places a file of the given bytes at path, likewise.
    void PlaceFile(const std::string& path, std::string bytes);
    // The content of the file at path, or nullptr when there is none.
    std::shared_ptr<const WebContent> ContentAt(const std::string& path) const;
    const std::vector<ConsolePiece>& Console() const { return console_; }

    // ---- Host ----
    std::string ExecutablePath() override { return kProgramPath; }
    std::string CurrentFolder() override { return kFolderPath; }
    std::vector<std::string> HelpWords() const override { return {"--help", "-h"}; }
    std::string NativePath(std::string_view path) const override;
    char FolderSeparator() const override { return '/'; }
    bool IsFolderSeparator(char c) const override { return c == '/'; }
    bool IsRelativePath(const std::string& path) const override;
    bool CanonicalizePath(const std::string& path, std::string* result) const override;
    Status AbsolutePath(const std::string& path, std::string* result) override;
    // As on Linux, whose limits the page's users know from the command line.
    std::size_t MaxPathLength() const override { return 4095; }
    bool IsRootFolder(const std::string& folder) const override;

    bool FileExists(const std::string& path) override;
    bool FolderExists(const std::string& path) override;
    FileKind KindOf(const std::string& path) override;
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
    // A run's temporary file lives only as long as the run: none is stale.
    void RemoveStaleTempFiles(const std::string& target) override { (void)target; }
    Status SyncFolderOf(const std::string& path) override;
    // A written file is kept as its written ranges: widening them would only
    // read the source twice.
    std::uint64_t WriteBlockSize() const override { return 1; }

    void FetchConsole() override {}
    Status WriteStdout(std::string_view text) override;
    Status FlushStdout() override { return Status::Ok(); }
    void SetConsoleRole(ConsoleRole role) override { role_ = role; }
    void WriteStderr(std::string_view text) override;
    std::string_view LineEnd() const override { return "\n"; }

  private:
    // A file (content) or a folder (none) of the table.
    struct Node {
        std::shared_ptr<WebContent> content;
        std::uint64_t index = 0;
    };

    // The full, canonical path of path: from kFolder when relative, without
    // a trailing "/".
    std::string Key(const std::string& path) const;
    const Node* Find(const std::string& path) const;
    bool ParentExists(const std::string& key) const;
    void PlaceFolders(const std::string& key);
    void Put(const std::string& key, std::shared_ptr<WebContent> content);
    Status Open(const std::string& path, bool writable, std::unique_ptr<File>* file);
    void Write(Stream stream, std::string_view text);

    UserFiles& files_;
    std::map<std::string, Node> nodes_;
    std::uint64_t nextIndex_ = 1;
    int nextTemp_ = 0;
    ConsoleRole role_ = ConsoleRole::kNormalText;
    std::vector<ConsolePiece> console_;
};

}  // namespace hexmend
