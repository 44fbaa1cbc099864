// The page's way into the core: a session holds the user's files and the
// patch file's text; it describes the patch file (blocks and named files),
// switches blocks, and runs hexmend or hexmend-diff on a WebHost of the
// virtual folder, with the console and the written file handed back as one
// result buffer (see web/worker.js, which reads it).
//
// Calls are made from the worker's JavaScript through the exports below;
// user files are read through the import hexmend_web_read_range
// (web/library.js).

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "diff_entry.h"
#include "entry.h"
#include "file_io.h"
#include "host/host_web.h"
#include "patch_blocks.h"
#include "patch_references.h"
#include "patch_text.h"
#include "run_failure.h"

extern "C" {
// Reads n bytes of the page's user file number file at offset into out;
// returns 0 when the browser cannot read them.
int hexmend_web_read_range(int file, double offset, int n, char* out);
}

namespace hexmend::web {
namespace {

class PageFiles final : public UserFileSource {
  public:
    bool ReadRange(int file, std::uint64_t offset, std::size_t n, char* out) override {
        return hexmend_web_read_range(file, static_cast<double>(offset), static_cast<int>(n),
                                      out) != 0;
    }
};

// The one place a run is given the page's host.
template <typename Call>
auto WithHost(WebHost& host, Call call) {
    const ScopedHostOverride installed(host);
    return call();
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The result buffer: little-endian fields, as web/worker.js reads them.
class Result {
  public:
    void Byte(char c) { bytes_ += c; }
    void U32(std::uint32_t v) { Raw(&v, sizeof v); }
    void I32(std::int32_t v) { Raw(&v, sizeof v); }
    void F64(double v) { Raw(&v, sizeof v); }
    void Text(std::string_view text) {
        U32(static_cast<std::uint32_t>(text.size()));
        bytes_ += text;
    }
    std::string& bytes() { return bytes_; }

  private:
    void Raw(const void* p, std::size_t n) { bytes_.append(static_cast<const char*>(p), n); }
    std::string bytes_;
};

class Session {
  public:
    Session() : files_(source_) {}

    void AddFile(int id, std::string name, double size) {
        files_.Add(id, static_cast<std::uint64_t>(size));
        byName_[std::move(name)] = id;
    }
    void ClearFiles() { byName_.clear(); }

    void SetPatchText(std::string name, std::string text) {
        patchName_ = std::move(name);
        patchText_ = std::move(text);
        patchFile_ = -1;
    }
    // A patch file too large to hold: the run reads it as a user file.
    void SetPatchFile(std::string name, int id) {
        patchName_ = std::move(name);
        patchText_.clear();
        patchFile_ = id;
    }
    const std::string& patchText() const { return patchText_; }

    // "B" lines for the blocks, "F" lines for the named files (see
    // worker.js).
    void Describe() {
        result_ = Result();
        std::string out;
        for (const PatchBlock& block : ListBlocks(PrepareLines(patchText_))) {
            const char* style = block.style == BlockStyle::kRegular ? "regular"
                                : block.style == BlockStyle::kZq    ? "zq"
                                                                    : "neither";
            out += "B\t" + std::to_string(block.line) + "\t" + style + "\t" +
                   (block.enabled ? "1" : "0") + "\t" + block.name + "\n";
        }
        WebHost host(files_);
        for (const auto& [role, name, path] : Resolved(host, patchText_)) {
            const char* roleText = role == FileReference::Role::kSource   ? "source"
                                   : role == FileReference::Role::kTarget ? "target"
                                                                          : "replace_file";
            const std::string fileName = FileNameOf(path);
            out += std::string("F\t") + roleText + "\t" + (byName_.count(fileName) ? "1" : "0") +
                   "\t" + fileName + "\t" + name + "\n";
        }
        result_.bytes() = std::move(out);
    }

    bool Switch(int line, bool on) {
        std::string switched;
        if (!SwitchBlock(patchText_, line, on, &switched)) {
            return false;
        }
        patchText_ = std::move(switched);
        return true;
    }

    int Run(const std::vector<std::string>& options) {
        WebHost host(files_);
        const std::vector<ResolvedFile> named = Resolved(host, PatchText(host));
        Place(host, named);
        std::vector<std::string> arguments = {WebHost::kProgramPath, patchName_};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const int exitCode = WithHost(host, [&] { return RunHexmend(arguments); });
        result_ = Result();
        WriteConsole(host);
        if (exitCode == 0 && !OptionIsOn(arguments, "check")) {
            const std::string target = TargetPath(named);
            WriteFile(host, target, FileNameOf(target));
        }
        return exitCode;
    }

    int Diff(int oldId, const std::string& oldName, double oldSize, int newId,
             const std::string& newName, double newSize) {
        files_.Add(oldId, static_cast<std::uint64_t>(oldSize));
        files_.Add(newId, static_cast<std::uint64_t>(newSize));
        WebHost host(files_);
        const std::string newPath = newName == oldName ? "new/" + newName : newName;
        host.PlaceUserFile(oldName, oldId);
        host.PlaceUserFile(newPath, newId);
        const std::string patchName = oldName + ".patch.txt";
        const int exitCode = WithHost(host, [&] {
            return RunHexmendDiff({"hexmend-diff", oldName, newPath, patchName});
        });
        result_ = Result();
        WriteConsole(host);
        WriteFile(host, patchName, patchName);
        return exitCode;
    }

    std::string& result() { return result_.bytes(); }

  private:
    struct ResolvedFile {
        FileReference::Role role;
        std::string name;
        std::string path;
    };

    // The patch file's text: held, or read from the user's file as the run
    // will read it (empty when it cannot be).
    std::string PatchText(WebHost& host) const {
        if (patchFile_ < 0) {
            return patchText_;
        }
        const std::string path = std::string(WebHost::kFolder) + "patch";
        host.PlaceUserFile(path, patchFile_);
        std::string text;
        WithHost(host, [&] {
            try {
                text = ReadWholeFile(path);
            } catch (const RunTimeFailure&) {
            } catch (const std::bad_alloc&) {
            }
            return 0;
        });
        (void)host.RemoveFile(path);
        return text;
    }

    // The files the patch file names, with their full paths in the virtual
    // folder.
    std::vector<ResolvedFile> Resolved(WebHost& host, std::string_view text) const {
        std::vector<ResolvedFile> resolved;
        WithHost(host, [&] {
            for (FileReference& reference : ReferencedFiles(text)) {
                try {
                    std::string path = ResolvePath(WebHost::kFolder, reference.name);
                    resolved.push_back({reference.role, std::move(reference.name), path});
                } catch (const RunTimeFailure&) {
                    // Too long a path: the run says so.
                }
            }
            return 0;
        });
        return resolved;
    }

    // The user's files in the virtual folder, and wherever the patch file
    // names a file of theirs by its file name; then the patch file.
    void Place(WebHost& host, const std::vector<ResolvedFile>& named) const {
        for (const auto& [name, id] : byName_) {
            host.PlaceUserFile(name, id);
        }
        for (const ResolvedFile& file : named) {
            const auto user = byName_.find(FileNameOf(file.path));
            if (user != byName_.end()) {
                host.PlaceUserFile(file.path, user->second);
            }
        }
        if (patchFile_ >= 0) {
            host.PlaceUserFile(patchName_, patchFile_);
        } else {
            host.PlaceFile(patchName_, patchText_);
        }
    }

    static std::string TargetPath(const std::vector<ResolvedFile>& named) {
        for (const ResolvedFile& file : named) {
            if (file.role == FileReference::Role::kTarget) {
                return file.path;
            }
        }
        return std::string();
    }

    void WriteConsole(const WebHost& host) {
        for (const auto& [stream, text] : host.Console()) {
            result_.Byte(stream == WebHost::Stream::kStdout       ? 'o'
                         : stream == WebHost::Stream::kErrorLabel ? 'e'
                                                                  : 'r');
            result_.Text(text);
        }
    }

    // The file at path as the page assembles it: its base's first bytes and
    // the written ranges over them.
    void WriteFile(const WebHost& host, const std::string& path, const std::string& name) {
        const std::shared_ptr<const WebContent> content =
            path.empty() ? nullptr : host.ContentAt(path);
        if (content == nullptr) {
            return;
        }
        result_.Byte('T');
        result_.Text(name);
        result_.F64(static_cast<double>(content->size()));
        result_.I32(content->base());
        result_.F64(static_cast<double>(content->baseSize()));
        result_.U32(static_cast<std::uint32_t>(content->overlay().size()));
        for (const auto& [offset, bytes] : content->overlay()) {
            result_.F64(static_cast<double>(offset));
            result_.Text(bytes);
        }
    }

    PageFiles source_;
    UserFiles files_;
    std::map<std::string, int> byName_;
    std::string patchName_;
    std::string patchText_;
    int patchFile_ = -1;
    Result result_;
};

std::vector<std::string> SplitOptions(const char* options) {
    std::vector<std::string> out;
    std::string_view rest(options);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        out.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return out;
}

}  // namespace
}  // namespace hexmend::web

using hexmend::web::Session;

extern "C" {

EMSCRIPTEN_KEEPALIVE Session* hexmend_web_new() {
    return new Session();
}

EMSCRIPTEN_KEEPALIVE void hexmend_web_add_file(Session* session, int id, const char* name,
                                               double size) {
    session->AddFile(id, name, size);
}

EMSCRIPTEN_KEEPALIVE void hexmend_web_clear_files(Session* session) {
    session->ClearFiles();
}

EMSCRIPTEN_KEEPALIVE void hexmend_web_set_patch_text(Session* session, const char* name,
                                                     const char* text, int size) {
    session->SetPatchText(name, std::string(text, static_cast<std::size_t>(size)));
}

EMSCRIPTEN_KEEPALIVE void hexmend_web_set_patch_file(Session* session, const char* name, int id) {
    session->SetPatchFile(name, id);
}

EMSCRIPTEN_KEEPALIVE const char* hexmend_web_patch_data(Session* session) {
    return session->patchText().data();
}

EMSCRIPTEN_KEEPALIVE int hexmend_web_patch_size(Session* session) {
    return static_cast<int>(session->patchText().size());
}

EMSCRIPTEN_KEEPALIVE void hexmend_web_describe(Session* session) {
    session->Describe();
}

EMSCRIPTEN_KEEPALIVE int hexmend_web_switch(Session* session, int line, int on) {
    return session->Switch(line, on != 0) ? 1 : 0;
}

// options: the run's options ("check=true", ...), one a line.
EMSCRIPTEN_KEEPALIVE int hexmend_web_run(Session* session, const char* options) {
    return session->Run(hexmend::web::SplitOptions(options));
}

// Makes a patch file from user files oldId and newId (of the names and sizes
// given), which need not be among the session's files.
EMSCRIPTEN_KEEPALIVE int hexmend_web_diff(Session* session, int oldId, const char* oldName,
                                          double oldSize, int newId, const char* newName,
                                          double newSize) {
    return session->Diff(oldId, oldName, oldSize, newId, newName, newSize);
}

EMSCRIPTEN_KEEPALIVE const char* hexmend_web_result(Session* session) {
    return session->result().data();
}

EMSCRIPTEN_KEEPALIVE int hexmend_web_result_size(Session* session) {
    return static_cast<int>(session->result().size());
}

}  // extern "C"
