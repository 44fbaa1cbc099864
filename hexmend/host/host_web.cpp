#include "host/host_web.h"

#include <cerrno>
#include <cstring>

#include "host/posix_paths.h"

namespace hexmend {
namespace {

Status WebError(const std::string& what, const std::string& path, int error) {
    return Status::Error("hexmend: " + what + " " + path + ": " + std::strerror(error));
}

std::string ParentOf(const std::string& key) {
    const std::size_t slash = key.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : key.substr(0, slash);
}

// An open file of the table. path names it in messages (for a temporary
// file, the target it is meant for).
class WebFile final : public File {
  public:
    WebFile(std::shared_ptr<WebContent> content, std::uint64_t index, std::string path,
            bool writable)
        : content_(std::move(content)),
          index_(index),
          path_(std::move(path)),
          writable_(writable) {}

    Status State(FileState* state) override {
        state->identity = {1, index_};
        state->size = content_->size();
        state->modified = static_cast<std::int64_t>(content_->version());
        state->changed = state->modified;
        return Status::Ok();
    }

    Status Read(char* buf, std::size_t n, std::size_t* got) override {
        Status status = ReadAt(offset_, buf, n, got);
        offset_ += *got;
        return status;
    }

    Status ReadAt(std::uint64_t offset, char* buf, std::size_t n, std::size_t* got) override {
        if (!content_->Read(offset, buf, n, got)) {
            return Status::Error("hexmend: cannot read " + path_ +
                                 ": the browser can no longer read it (changed or removed since "
                                 "it was chosen)");
        }
        return Status::Ok();
    }

    Status Append(std::string_view data) override {
        Status status = WriteAt(offset_, data);
        if (status.ok()) {
            offset_ += data.size();
        }
        return status;
    }

    Status WriteAt(std::uint64_t offset, std::string_view data) override {
        if (!writable_) {
            return WebError("cannot write", path_, EBADF);
        }
        content_->Write(offset, data);
        return Status::Ok();
    }

    Status Sync() override { return Status::Ok(); }
    // One run at a time: nobody else to keep out.
    Status Lock() override { return Status::Ok(); }
    Status Close() override { return Status::Ok(); }

  private:
    std::shared_ptr<WebContent> content_;
    std::uint64_t index_;
    std::string path_;
    bool writable_;
    std::uint64_t offset_ = 0;
};

}  // namespace

WebHost::WebHost(UserFiles& files) : files_(files) {
    nodes_["/"] = Node();
    nodes_[kFolderPath] = Node();
}

void WebHost::PlaceUserFile(const std::string& path, int file) {
    Put(Key(path), std::make_shared<WebContent>(files_, file));
}

void WebHost::PlaceFile(const std::string& path, std::string bytes) {
    auto content = std::make_shared<WebContent>();
    content->Write(0, bytes);
    Put(Key(path), std::move(content));
}

void WebHost::Put(const std::string& key, std::shared_ptr<WebContent> content) {
    PlaceFolders(ParentOf(key));
    Node& node = nodes_[key];
    node.content = std::move(content);
    node.index = nextIndex_++;
}

void WebHost::PlaceFolders(const std::string& key) {
    if (nodes_.count(key) != 0) {
        return;
    }
    PlaceFolders(ParentOf(key));
    Node& node = nodes_[key];
    node.index = nextIndex_++;
}

std::shared_ptr<const WebContent> WebHost::ContentAt(const std::string& path) const {
    const Node* node = Find(path);
    return node == nullptr ? nullptr : node->content;
}

std::string WebHost::NativePath(std::string_view path) const {
    return NativePosixPath(path);
}

bool WebHost::IsRelativePath(const std::string& path) const {
    return path.empty() || path[0] != '/';
}

bool WebHost::CanonicalizePath(const std::string& path, std::string* result) const {
    *result = CanonicalPosixPath(path);
    return true;
}

Status WebHost::AbsolutePath(const std::string& path, std::string* result) {
    *result = CanonicalPosixPath(IsRelativePath(path) ? kFolder + path : path);
    return Status::Ok();
}

bool WebHost::IsRootFolder(const std::string& folder) const {
    return folder.empty() || folder == "/";
}

std::string WebHost::Key(const std::string& path) const {
    std::string key = CanonicalPosixPath(IsRelativePath(path) ? kFolder + path : path);
    if (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    return key;
}

const WebHost::Node* WebHost::Find(const std::string& path) const {
    const auto it = nodes_.find(Key(path));
    return it == nodes_.end() ? nullptr : &it->second;
}

bool WebHost::ParentExists(const std::string& key) const {
    const auto it = nodes_.find(ParentOf(key));
    return it != nodes_.end() && it->second.content == nullptr;
}

bool WebHost::FileExists(const std::string& path) {
    const Node* node = Find(path);
    return node != nullptr && node->content != nullptr;
}

bool WebHost::FolderExists(const std::string& path) {
    const Node* node = Find(path);
    return node != nullptr && node->content == nullptr;
}

FileKind WebHost::KindOf(const std::string& path) {
    const Node* node = Find(path);
    if (node == nullptr) {
        return FileKind::kNone;
    }
    return node->content != nullptr ? FileKind::kRegular : FileKind::kFolder;
}

Status WebHost::CreateFolder(const std::string& path) {
    const std::string key = Key(path);
    const auto it = nodes_.find(key);
    if (it != nodes_.end()) {
        return it->second.content == nullptr ? Status::Ok()
                                             : WebError("cannot create folder", path, EEXIST);
    }
    if (!ParentExists(key)) {
        return WebError("cannot create folder", path, ENOENT);
    }
    nodes_[key].index = nextIndex_++;
    return Status::Ok();
}

bool WebHost::IdentifyFile(const std::string& path, FileIdentity* identity) {
    const Node* node = Find(path);
    if (node == nullptr) {
        return false;
    }
    *identity = {1, node->index};
    return true;
}

Status WebHost::Open(const std::string& path, bool writable, std::unique_ptr<File>* file) {
    const Node* node = Find(path);
    if (node == nullptr) {
        return WebError("cannot open", path, ENOENT);
    }
    if (node->content == nullptr) {
        return WebError("cannot open", path, EISDIR);
    }
    *file = std::make_unique<WebFile>(node->content, node->index, path, writable);
    return Status::Ok();
}

Status WebHost::OpenForReading(const std::string& path, std::unique_ptr<File>* file) {
    return Open(path, false, file);
}

Status WebHost::OpenForUpdate(const std::string& path, std::unique_ptr<File>* file) {
    return Open(path, true, file);
}

Status WebHost::CreateNewFile(const std::string& path, std::unique_ptr<File>* file) {
    const std::string key = Key(path);
    if (nodes_.count(key) != 0) {
        return WebError("cannot create", path, EEXIST);
    }
    if (!ParentExists(key)) {
        return WebError("cannot create", path, ENOENT);
    }
    Put(key, std::make_shared<WebContent>());
    return Open(path, true, file);
}

Status WebHost::CreateTempFileFor(const std::string& target, std::unique_ptr<File>* file,
                                  std::string* tempPath) {
    const std::string folder = ParentOf(Key(target));
    const auto it = nodes_.find(folder);
    if (it == nodes_.end() || it->second.content != nullptr) {
        return WebError("cannot create", target, ENOENT);
    }
    std::string key;
    do {
        key = (folder == "/" ? "" : folder) + "/.hexmend-" + std::to_string(100000 + nextTemp_++);
    } while (nodes_.count(key) != 0);
    Put(key, std::make_shared<WebContent>());
    const Node& node = nodes_[key];
    *file = std::make_unique<WebFile>(node.content, node.index, target, true);
    *tempPath = key;
    return Status::Ok();
}

Status WebHost::CreateTempCopyFor(const std::string& target, const std::string& source,
                                  File& sourceFile, std::uint64_t size, std::unique_ptr<File>* file,
                                  std::string* tempPath) {
    const Node* from = Find(source);
    if (from == nullptr || from->content == nullptr) {
        // Not a file of the table: copied byte by byte.
        Status status = CreateTempFileFor(target, file, tempPath);
        return status.ok() ? CopyThroughBuffer(sourceFile, source, 0, size, **file) : status;
    }
    std::shared_ptr<WebContent> copy = from->content->Prefix(size);
    Status status = CreateTempFileFor(target, file, tempPath);
    if (!status.ok()) {
        return status;
    }
    Node& node = nodes_[*tempPath];
    node.content = std::move(copy);
    *file = std::make_unique<WebFile>(node.content, node.index, target, true);
    return Status::Ok();
}

Status WebHost::ReplaceFile(const std::string& from, const std::string& to) {
    const std::string fromKey = Key(from);
    const std::string toKey = Key(to);
    const auto it = nodes_.find(fromKey);
    if (it == nodes_.end()) {
        return WebError("cannot replace", to, ENOENT);
    }
    if (!ParentExists(toKey)) {
        return WebError("cannot replace", to, ENOENT);
    }
    const auto existing = nodes_.find(toKey);
    if (existing != nodes_.end() && existing->second.content == nullptr) {
        return WebError("cannot replace", to, EISDIR);
    }
    Node moved = it->second;
    nodes_.erase(it);
    nodes_[toKey] = std::move(moved);
    return Status::Ok();
}

Status WebHost::RemoveFile(const std::string& path) {
    const auto it = nodes_.find(Key(path));
    if (it == nodes_.end()) {
        return WebError("cannot remove", path, ENOENT);
    }
    if (it->second.content == nullptr) {
        return WebError("cannot remove", path, EISDIR);
    }
    nodes_.erase(it);
    return Status::Ok();
}

Status WebHost::SyncFolderOf(const std::string& path) {
    (void)path;
    return Status::Ok();
}

void WebHost::Write(Stream stream, std::string_view text) {
    if (text.empty()) {
        return;
    }
    if (console_.empty() || console_.back().first != stream) {
        console_.emplace_back(stream, std::string());
    }
    console_.back().second.append(text);
}

Status WebHost::WriteStdout(std::string_view text) {
    Write(role_ == ConsoleRole::kErrorLabel ? Stream::kErrorLabel : Stream::kStdout, text);
    return Status::Ok();
}

void WebHost::WriteStderr(std::string_view text) {
    Write(Stream::kStderr, text);
}

}  // namespace hexmend
