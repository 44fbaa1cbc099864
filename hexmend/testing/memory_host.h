// A host whose files live in memory: a whole run without touching the disk,
// for tests and fuzzing. Paths are POSIX-style ("/" separates, "/" is the
// root); backslashes are taken as "/" like the POSIX host does. Standard
// output and standard error are captured in strings.
//
// It can also lose power (the crash model, off unless a test turns it on):
// it then keeps apart what is durable and what is not, and a power loss
// leaves the durable state with an arbitrary part of the rest, the way a
// disk and its cache can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/host.h"

namespace hexmend::testing {

// What a MemoryHost throws at the call where its power is cut. It is no
// run-time failure, so it leaves RunHexmend as the end of the process would.
class PowerLoss : public std::exception {
  public:
    const char* what() const noexcept override { return "power lost"; }
};

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
    // What CurrentFolder() reports.
    std::string workingFolder = "/";

    // ---- Crash model ----
    // From now on the files as they are count as durable, and every call
    // that changes a file is a step. Bytes written stay unsynced until
    // File::Sync of their file; creating, moving and removing a file, and
    // creating a folder, stay unsynced until SyncFolderOf of the folder that
    // holds it (a move: of either of its folders). PutFile is durable.
    void EnableCrashModel();
    // Steps taken since EnableCrashModel or RestorePower.
    std::uint64_t Steps() const { return steps_; }
    // Cuts the power at step number step from now (0: the next one): that
    // call throws PowerLoss, and every later call that would change a file
    // fails without effect, so that nothing the dying run does while it
    // unwinds (destructors removing files) changes what survived; that is in
    // place as soon as PowerLoss is thrown. What survives is the durable
    // state and a random part (from seed) of the unsynced steps, in their
    // order; with tearWrites, a write may also keep only some of its 512-byte
    // sectors.
    void PlanPowerLoss(std::uint64_t step, std::uint32_t seed, bool tearWrites);
    bool PowerLost() const { return powerLost_; }
    // Cuts the power now, between two calls, with what survives chosen as
    // for PlanPowerLoss; the power is back at once.
    void CutPower(std::uint32_t seed, bool tearWrites);
    // Power is back: calls work again on what survived; steps count anew.
    void RestorePower();

    // ---- Host ----
    std::string ExecutablePath() override;
    std::string CurrentFolder() override;
    std::vector<std::string> HelpWords() const override;
    std::string NativePath(std::string_view path) const override;
    char FolderSeparator() const override;
    bool IsFolderSeparator(char c) const override;
    bool IsRelativePath(const std::string& path) const override;
    bool CanonicalizePath(const std::string& path, std::string* result) const override;
    // The working folder is the root.
    Status AbsolutePath(const std::string& path, std::string* result) override;
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

    // A change the crash model has not made durable yet.
    struct Unsynced {
        enum class Kind { kWrite, kCreate, kMove, kRemove, kCreateFolder };
        Kind kind = Kind::kWrite;
        std::string path;          // kCreate, kRemove, kCreateFolder; kMove: from
        std::string to;            // kMove
        std::uint64_t index = 0;   // kWrite, kCreate
        std::uint64_t offset = 0;  // kWrite
        std::string bytes;         // kWrite
    };
    // Folders, file names and node contents, by node index.
    struct DiskState {
        std::set<std::string> folders;
        std::map<std::string, std::uint64_t> names;
        std::map<std::uint64_t, std::string> bytes;
        void Apply(const Unsynced& change);
    };

    static std::string Parent(const std::string& normalized);
    std::shared_ptr<Node> NewNode(std::string bytes);
    Status Open(const std::string& path, bool writable, std::unique_ptr<File>* file);
    // Counts one step of a call that changes a file: fails when the power is
    // gone, and cuts it at the planned step.
    Status Step();
    void Record(Unsynced change);
    void SyncNode(std::uint64_t index);
    void SyncFolder(const std::string& folder);
    void LosePower();

    std::map<std::string, std::shared_ptr<Node>> files_;
    std::set<std::string> folders_;
    std::set<std::string> temps_;
    int nextTemp_ = 0;
    std::uint64_t nextIndex_ = 1;
    std::int64_t clock_ = 0;
    int openWriters_ = 0;

    bool crashModel_ = false;
    bool powerLost_ = false;
    std::uint64_t steps_ = 0;
    bool lossPlanned_ = false;
    std::uint64_t lossStep_ = 0;
    std::uint32_t lossSeed_ = 0;
    bool tearWrites_ = false;
    DiskState durable_;
    std::vector<Unsynced> unsynced_;
    // Every temporary file made under the crash model, so that those that
    // survive a power loss still count as temporary files.
    std::set<std::string> madeTemps_;
};

}  // namespace hexmend::testing
