#include "memory_host.h"

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

namespace hexmend::testing {
namespace {

Status Error(const std::string& what, const std::string& path, const char* reason) {
    return Status::Error(what + " " + path + ": " + reason);
}

// The sector size of the crash model's torn writes.
constexpr std::uint64_t kSector = 512;

// A temporary file's name as CreateTempFileFor makes it.
bool IsTempName(const std::string& name) {
    const std::string prefix = ".hexmend-";
    return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

class MemoryHost::OpenFile final : public File {
  public:
    OpenFile(MemoryHost& host, std::shared_ptr<Node> node, std::string path, bool writable)
        : host_(host), node_(std::move(node)), path_(std::move(path)), writable_(writable) {
        ++node_->holders;
        if (writable_) {
            ++host_.openWriters_;
        }
    }
    ~OpenFile() override {
        --node_->holders;
        (void)Close();
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    Node& node() { return *node_; }

    Status State(FileState* state) override {
        state->identity = FileIdentity{1, node_->index};
        state->size = node_->bytes.size();
        state->modified = node_->version;
        state->changed = node_->version;
        return Status::Ok();
    }
    Status Read(char* buf, std::size_t n, std::size_t* got) override {
        Status status = ReadAt(offset_, buf, n, got);
        offset_ += *got;
        return status;
    }
    Status ReadAt(std::uint64_t offset, char* buf, std::size_t n, std::size_t* got) override {
        const std::string& bytes = node_->bytes;
        const std::size_t at =
            static_cast<std::size_t>(std::min<std::uint64_t>(offset, bytes.size()));
        const std::size_t count = std::min(n, bytes.size() - at);
        std::copy_n(bytes.data() + at, count, buf);
        *got = count;
        return Status::Ok();
    }
    Status Append(std::string_view data) override {
        Status status = WriteAt(offset_, data);
        offset_ += data.size();
        return status;
    }
    Status WriteAt(std::uint64_t offset, std::string_view data) override {
        if (!writable_) {
            return Error("cannot write", path_, "Bad file descriptor");
        }
        Status step = host_.Step();
        if (!step.ok()) {
            return step;
        }
        host_.Record({Unsynced::Kind::kWrite, "", "", node_->index, offset, std::string(data)});
        std::string& bytes = node_->bytes;
        const auto end = static_cast<std::size_t>(offset + data.size());
        if (bytes.size() < end) {
            bytes.resize(end, '\0');
        }
        std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
        node_->version = ++host_.clock_;
        return Status::Ok();
    }
    Status Sync() override {
        Status step = host_.Step();
        if (step.ok()) {
            host_.SyncNode(node_->index);
        }
        return step;
    }
    Status Lock() override { return Status::Ok(); }
    Status Close() override {
        if (writable_) {
            writable_ = false;
            --host_.openWriters_;
        }
        return Status::Ok();
    }

  private:
    MemoryHost& host_;
    std::shared_ptr<Node> node_;
    std::string path_;
    bool writable_;
    std::uint64_t offset_ = 0;
};

MemoryHost::MemoryHost() {
    folders_.insert("/");
}

std::string MemoryHost::Normalize(const std::string& path) {
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        const std::string segment = path.substr(start, slash - start);
        start = slash + 1;
        if (segment.empty() || segment == ".") {
            continue;
        }
        if (segment == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
            continue;
        }
        segments.push_back(segment);
    }
    std::string result;
    for (const std::string& segment : segments) {
        result += "/" + segment;
    }
    return result.empty() ? "/" : result;
}

std::string MemoryHost::Parent(const std::string& normalized) {
    const std::size_t slash = normalized.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : normalized.substr(0, slash);
}

void MemoryHost::PutFile(const std::string& path, std::string content) {
    const std::string normalized = Normalize(path);
    for (std::string folder = Parent(normalized); folder != "/"; folder = Parent(folder)) {
        folders_.insert(folder);
        if (crashModel_) {
            durable_.folders.insert(folder);
        }
    }
    files_[normalized] = NewNode(std::move(content));
    if (crashModel_) {
        durable_.names[normalized] = files_[normalized]->index;
        durable_.bytes[files_[normalized]->index] = files_[normalized]->bytes;
    }
}

std::shared_ptr<MemoryHost::Node> MemoryHost::NewNode(std::string bytes) {
    auto node = std::make_shared<Node>();
    node->bytes = std::move(bytes);
    node->index = nextIndex_++;
    node->version = ++clock_;
    return node;
}

const std::string* MemoryHost::GetFile(const std::string& path) const {
    const auto it = files_.find(Normalize(path));
    return it == files_.end() ? nullptr : &it->second->bytes;
}

std::map<std::string, std::string> MemoryHost::Files() const {
    std::map<std::string, std::string> result;
    for (const auto& [path, node] : files_) {
        result.emplace(path, node->bytes);
    }
    return result;
}

std::string MemoryHost::ExecutablePath() {
    return kProgramPath;
}

std::string MemoryHost::CurrentFolder() {
    return workingFolder;
}

std::vector<std::string> MemoryHost::HelpWords() const {
    return {"--help", "-h"};
}

std::string MemoryHost::NativePath(std::string_view path) const {
    std::string result(path);
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

char MemoryHost::FolderSeparator() const {
    return '/';
}

bool MemoryHost::IsFolderSeparator(char c) const {
    return c == '/';
}

bool MemoryHost::IsRelativePath(const std::string& path) const {
    return path.empty() || path[0] != '/';
}

bool MemoryHost::CanonicalizePath(const std::string& path, std::string* result) const {
    *result = Normalize(path);
    if (path.size() > 1 && path.back() == '/' && *result != "/") {
        *result += '/';
    }
    return true;
}

Status MemoryHost::AbsolutePath(const std::string& path, std::string* result) {
    *result = Normalize(path);
    return Status::Ok();
}

std::size_t MemoryHost::MaxPathLength() const {
    return 4095;
}

bool MemoryHost::IsRootFolder(const std::string& folder) const {
    return folder.empty() || folder == "/";
}

bool MemoryHost::FileExists(const std::string& path) {
    // As on POSIX, a trailing "/" names a folder, never a file.
    return !path.empty() && path.back() != '/' && files_.count(Normalize(path)) != 0;
}

bool MemoryHost::FolderExists(const std::string& path) {
    return folders_.count(Normalize(path)) != 0;
}

Status MemoryHost::CreateFolder(const std::string& path) {
    Status step = Step();
    if (!step.ok()) {
        return step;
    }
    const std::string normalized = Normalize(path);
    if (folders_.count(normalized) != 0) {
        return Status::Ok();
    }
    if (files_.count(normalized) != 0) {
        return Error("cannot create folder", path, "File exists");
    }
    if (folders_.count(Parent(normalized)) == 0) {
        return Error("cannot create folder", path, "No such file or directory");
    }
    folders_.insert(normalized);
    Record({Unsynced::Kind::kCreateFolder, normalized, "", 0, 0, ""});
    return Status::Ok();
}

bool MemoryHost::IdentifyFile(const std::string& path, FileIdentity* identity) {
    if (!FileExists(path)) {
        return false;
    }
    *identity = FileIdentity{1, files_.at(Normalize(path))->index};
    return true;
}

Status MemoryHost::Open(const std::string& path, bool writable, std::unique_ptr<File>* file) {
    const auto it = files_.find(Normalize(path));
    if (it == files_.end()) {
        return Error("cannot open", path,
                     FolderExists(path) ? "Is a directory" : "No such file or directory");
    }
    *file = std::make_unique<OpenFile>(*this, it->second, path, writable);
    return Status::Ok();
}

Status MemoryHost::OpenForReading(const std::string& path, std::unique_ptr<File>* file) {
    return Open(path, false, file);
}

Status MemoryHost::OpenForUpdate(const std::string& path, std::unique_ptr<File>* file) {
    return Open(path, true, file);
}

Status MemoryHost::CreateNewFile(const std::string& path, std::unique_ptr<File>* file) {
    const std::string normalized = Normalize(path);
    if (files_.count(normalized) != 0 || folders_.count(normalized) != 0) {
        return Error("cannot create", path, "File exists");
    }
    if (folders_.count(Parent(normalized)) == 0) {
        return Error("cannot create", path, "No such file or directory");
    }
    Status step = Step();
    if (!step.ok()) {
        return step;
    }
    files_[normalized] = NewNode(std::string());
    Record({Unsynced::Kind::kCreate, normalized, "", files_[normalized]->index, 0, ""});
    return Open(path, true, file);
}

Status MemoryHost::CreateTempFileFor(const std::string& target, std::unique_ptr<File>* file,
                                     std::string* tempPath) {
    const std::string folder = Parent(Normalize(target));
    if (folders_.count(folder) == 0) {
        return Error("cannot create", target, "No such file or directory");
    }
    Status step = Step();
    if (!step.ok()) {
        return step;
    }
    std::string path;
    do {
        path = (folder == "/" ? "" : folder) + "/.hexmend-" + std::to_string(nextTemp_++);
    } while (files_.count(path) != 0 || folders_.count(path) != 0);
    std::shared_ptr<Node> node = NewNode(std::string());
    files_[path] = node;
    temps_.insert(path);
    if (crashModel_) {
        madeTemps_.insert(path);
        Record({Unsynced::Kind::kCreate, path, "", node->index, 0, ""});
    }
    *tempPath = path;
    *file = std::make_unique<OpenFile>(*this, std::move(node), target, true);
    return Status::Ok();
}

Status MemoryHost::CreateTempCopyFor(const std::string& target, const std::string& source,
                                     File& sourceFile, std::uint64_t size,
                                     std::unique_ptr<File>* file, std::string* tempPath) {
    (void)source;
    Status status = CreateTempFileFor(target, file, tempPath);
    if (!status.ok()) {
        return status;
    }
    return CopyThroughBuffer(sourceFile, source, 0, size, **file);
}

Status MemoryHost::ReplaceFile(const std::string& from, const std::string& to) {
    const std::string source = Normalize(from);
    const std::string destination = Normalize(to);
    const auto it = files_.find(source);
    if (it == files_.end()) {
        return Error("cannot replace", to, "No such file or directory");
    }
    if (folders_.count(destination) != 0 || (!to.empty() && to.back() == '/')) {
        return Error("cannot replace", to, "Is a directory");
    }
    if (folders_.count(Parent(destination)) == 0) {
        return Error("cannot replace", to, "No such file or directory");
    }
    Status step = Step();
    if (!step.ok()) {
        return step;
    }
    std::shared_ptr<Node> node = it->second;
    files_.erase(it);
    files_[destination] = std::move(node);
    temps_.erase(source);
    temps_.erase(destination);
    Record({Unsynced::Kind::kMove, source, destination, 0, 0, ""});
    return Status::Ok();
}

Status MemoryHost::RemoveFile(const std::string& path) {
    const std::string normalized = Normalize(path);
    if (files_.count(normalized) == 0) {
        return Error("cannot remove", path, "No such file or directory");
    }
    Status step = Step();
    if (!step.ok()) {
        return step;
    }
    temps_.erase(normalized);
    files_.erase(normalized);
    Record({Unsynced::Kind::kRemove, normalized, "", 0, 0, ""});
    return Status::Ok();
}

void MemoryHost::RemoveStaleTempFiles(const std::string& target) {
    const std::string folder = Parent(Normalize(target));
    std::vector<std::string> stale;
    for (const auto& [path, node] : files_) {
        if (Parent(path) == folder && IsTempName(path.substr(path.rfind('/') + 1)) &&
            node->holders == 0) {
            stale.push_back(path);
        }
    }
    for (const std::string& path : stale) {
        (void)RemoveFile(path);
    }
}

Status MemoryHost::SyncFolderOf(const std::string& path) {
    Status step = Step();
    if (step.ok()) {
        SyncFolder(Parent(Normalize(path)));
    }
    return step;
}

// ---- Crash model ----

void MemoryHost::DiskState::Apply(const Unsynced& change) {
    switch (change.kind) {
        case Unsynced::Kind::kWrite: {
            std::string& content = bytes[change.index];
            const auto end = static_cast<std::size_t>(change.offset + change.bytes.size());
            if (content.size() < end) {
                content.resize(end, '\0');
            }
            std::copy(change.bytes.begin(), change.bytes.end(),
                      content.begin() + static_cast<std::ptrdiff_t>(change.offset));
            break;
        }
        case Unsynced::Kind::kCreate:
            names[change.path] = change.index;
            bytes.emplace(change.index, std::string());
            break;
        case Unsynced::Kind::kMove: {
            const auto it = names.find(change.path);
            if (it != names.end()) {
                const std::uint64_t index = it->second;
                names.erase(it);
                names[change.to] = index;
            }
            break;
        }
        case Unsynced::Kind::kRemove:
            names.erase(change.path);
            break;
        case Unsynced::Kind::kCreateFolder:
            folders.insert(change.path);
            break;
    }
}

void MemoryHost::EnableCrashModel() {
    crashModel_ = true;
    durable_ = DiskState();
    durable_.folders = folders_;
    for (const auto& [path, node] : files_) {
        durable_.names[path] = node->index;
        durable_.bytes[node->index] = node->bytes;
    }
    unsynced_.clear();
    steps_ = 0;
}

void MemoryHost::PlanPowerLoss(std::uint64_t step, std::uint32_t seed, bool tearWrites) {
    lossPlanned_ = true;
    lossStep_ = steps_ + step;
    lossSeed_ = seed;
    tearWrites_ = tearWrites;
}

void MemoryHost::CutPower(std::uint32_t seed, bool tearWrites) {
    lossSeed_ = seed;
    tearWrites_ = tearWrites;
    LosePower();
    RestorePower();
}

void MemoryHost::RestorePower() {
    powerLost_ = false;
    lossPlanned_ = false;
    steps_ = 0;
}

Status MemoryHost::Step() {
    if (!crashModel_) {
        return Status::Ok();
    }
    if (powerLost_) {
        return Status::Error("power lost");
    }
    if (lossPlanned_ && steps_ == lossStep_) {
        LosePower();
        throw PowerLoss();
    }
    ++steps_;
    return Status::Ok();
}

void MemoryHost::Record(Unsynced change) {
    if (crashModel_) {
        unsynced_.push_back(std::move(change));
    }
}

void MemoryHost::SyncNode(std::uint64_t index) {
    std::vector<Unsynced> rest;
    for (Unsynced& change : unsynced_) {
        if (change.kind == Unsynced::Kind::kWrite && change.index == index) {
            durable_.Apply(change);
        } else {
            rest.push_back(std::move(change));
        }
    }
    unsynced_ = std::move(rest);
}

void MemoryHost::SyncFolder(const std::string& folder) {
    std::vector<Unsynced> rest;
    for (Unsynced& change : unsynced_) {
        const bool here = change.kind != Unsynced::Kind::kWrite &&
                          (Parent(change.path) == folder ||
                           (change.kind == Unsynced::Kind::kMove && Parent(change.to) == folder));
        if (here) {
            durable_.Apply(change);
        } else {
            rest.push_back(std::move(change));
        }
    }
    unsynced_ = std::move(rest);
}

// Keeps each unsynced change or not, at random, in order; a kept write may
// be torn into the 512-byte sectors it touches, each kept or not. The result
// becomes the files and the durable state.
void MemoryHost::LosePower() {
    std::mt19937 random(lossSeed_);
    DiskState survived = durable_;
    for (const Unsynced& change : unsynced_) {
        const bool isWrite = change.kind == Unsynced::Kind::kWrite;
        const auto fate = random() % (tearWrites_ && isWrite ? 3u : 2u);
        if (fate == 1) {
            survived.Apply(change);
        } else if (fate == 2) {
            const std::uint64_t end = change.offset + change.bytes.size();
            for (std::uint64_t at = change.offset; at < end;) {
                const std::uint64_t next = std::min(end, (at / kSector + 1) * kSector);
                if (random() % 2 == 1) {
                    Unsynced piece = change;
                    piece.offset = at;
                    piece.bytes = change.bytes.substr(at - change.offset, next - at);
                    survived.Apply(piece);
                }
                at = next;
            }
        }
    }
    // A folder or file whose folder was lost is lost with it; a parent sorts
    // before what it holds.
    folders_ = {"/"};
    for (const std::string& folder : survived.folders) {
        if (folders_.count(Parent(folder)) != 0) {
            folders_.insert(folder);
        }
    }
    survived.folders = folders_;
    for (auto it = survived.names.begin(); it != survived.names.end();) {
        it = folders_.count(Parent(it->first)) != 0 ? std::next(it) : survived.names.erase(it);
    }
    files_.clear();
    temps_.clear();
    std::map<std::uint64_t, std::shared_ptr<Node>> nodes;
    for (const auto& [path, index] : survived.names) {
        std::shared_ptr<Node>& node = nodes[index];
        if (!node) {
            node = std::make_shared<Node>();
            node->bytes = survived.bytes[index];
            node->index = index;
            node->version = ++clock_;
        }
        files_[path] = node;
        if (madeTemps_.count(path) != 0) {
            temps_.insert(path);
        }
    }
    durable_ = std::move(survived);
    unsynced_.clear();
    powerLost_ = true;
}

void MemoryHost::FetchConsole() {}

Status MemoryHost::WriteStdout(std::string_view text) {
    stdoutText.append(text);
    return Status::Ok();
}

Status MemoryHost::FlushStdout() {
    return Status::Ok();
}

void MemoryHost::SetConsoleRole(ConsoleRole role) {
    stdoutText += role == ConsoleRole::kErrorLabel ? "<14>" : "<7>";
}

void MemoryHost::WriteStderr(std::string_view text) {
    stderrText.append(text);
}

std::string_view MemoryHost::LineEnd() const {
    return "\n";
}

}  // namespace hexmend::testing
