#include "memory_host.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace hexmend::testing {
namespace {

Status Error(const std::string& what, const std::string& path, const char* reason) {
    return Status::Error("hexmend: " + what + " " + path + ": " + reason);
}

}  // namespace

class MemoryHost::Reader final : public ReadableFile {
  public:
    explicit Reader(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}

    Status Size(std::uint64_t* size) override {
        *size = bytes_->size();
        return Status::Ok();
    }

    Status Read(char* buf, std::size_t n, std::size_t* got) override {
        const std::size_t count = std::min(n, bytes_->size() - offset_);
        std::copy_n(bytes_->data() + offset_, count, buf);
        offset_ += count;
        *got = count;
        return Status::Ok();
    }

  private:
    std::shared_ptr<const std::string> bytes_;
    std::size_t offset_ = 0;
};

class MemoryHost::Writer final : public WritableFile {
  public:
    Writer(MemoryHost& host, std::shared_ptr<std::string> bytes)
        : host_(host), bytes_(std::move(bytes)) {
        ++host_.openWriters_;
    }
    ~Writer() override {
        if (open_) {
            --host_.openWriters_;
        }
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    Status Append(std::string_view data) override {
        bytes_->append(data);
        return Status::Ok();
    }
    Status Sync() override { return Status::Ok(); }
    Status Close() override {
        if (open_) {
            open_ = false;
            --host_.openWriters_;
        }
        return Status::Ok();
    }

  private:
    MemoryHost& host_;
    std::shared_ptr<std::string> bytes_;
    bool open_ = true;
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
    }
    files_[normalized] = std::make_shared<std::string>(std::move(content));
}

const std::string* MemoryHost::GetFile(const std::string& path) const {
    const auto it = files_.find(Normalize(path));
    return it == files_.end() ? nullptr : it->second.get();
}

std::map<std::string, std::string> MemoryHost::Files() const {
    std::map<std::string, std::string> result;
    for (const auto& [path, bytes] : files_) {
        result.emplace(path, *bytes);
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
    return Status::Ok();
}

Status MemoryHost::OpenForReading(const std::string& path, std::unique_ptr<ReadableFile>* file) {
    const auto it = files_.find(Normalize(path));
    if (it == files_.end()) {
        return Error("cannot open", path,
                     FolderExists(path) ? "Is a directory" : "No such file or directory");
    }
    *file = std::make_unique<Reader>(it->second);
    return Status::Ok();
}

Status MemoryHost::CreateTempFileFor(const std::string& target, std::unique_ptr<WritableFile>* file,
                                     std::string* tempPath) {
    const std::string folder = Parent(Normalize(target));
    if (folders_.count(folder) == 0) {
        return Error("cannot create", target, "No such file or directory");
    }
    std::string path;
    do {
        path = (folder == "/" ? "" : folder) + "/.hexmend-" + std::to_string(nextTemp_++);
    } while (files_.count(path) != 0 || folders_.count(path) != 0);
    auto bytes = std::make_shared<std::string>();
    files_[path] = bytes;
    temps_.insert(path);
    *tempPath = path;
    *file = std::make_unique<Writer>(*this, std::move(bytes));
    return Status::Ok();
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
    std::shared_ptr<std::string> bytes = it->second;
    files_.erase(it);
    files_[destination] = std::move(bytes);
    temps_.erase(source);
    temps_.erase(destination);
    return Status::Ok();
}

Status MemoryHost::RemoveFile(const std::string& path) {
    temps_.erase(Normalize(path));
    if (files_.erase(Normalize(path)) == 0) {
        return Error("cannot remove", path, "No such file or directory");
    }
    return Status::Ok();
}

void MemoryHost::FetchConsole() {}

Status MemoryHost::WriteStdout(std::string_view text) {
    stdoutText.append(text);
    return Status::Ok();
}

Status MemoryHost::FlushStdout() {
    return Status::Ok();
}

void MemoryHost::SetTextAttribute(int attribute) {
    stdoutText += "<" + std::to_string(attribute) + ">";
}

void MemoryHost::WriteStderr(std::string_view text) {
    stderrText.append(text);
}

std::string_view MemoryHost::LineEnd() const {
    return "\n";
}

}  // namespace hexmend::testing
