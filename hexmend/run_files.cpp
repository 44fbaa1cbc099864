#include "run_files.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "file_io.h"
#include "host/host.h"
#include "journal.h"
#include "run_failure.h"

namespace hexmend {
namespace {

// Ranges up to this size are written in one piece with their widening.
constexpr std::uint64_t kWholeWrite = std::uint64_t{64} << 10;

// Writes the run's written ranges into file, which holds the source's bytes,
// each widened to whole blocks of block bytes (the host's WriteBlockSize)
// with the view's bytes around it.
void WriteOverlay(const PatchedView& view, File& file, std::uint64_t block) {
    std::uint64_t written = 0;
    for (const auto& [offset, bytes] : view.Overlay()) {
        const std::uint64_t end = offset + bytes.size();
        const std::uint64_t from = std::max(offset / block * block, written);
        const std::uint64_t to = std::min((end + block - 1) / block * block, view.size());
        if (from >= to) {
            continue;
        }
        if (to - from <= kWholeWrite) {
            Check(file.WriteAt(from, view.Read(from, static_cast<std::size_t>(to - from))));
        } else {
            const std::uint64_t dataFrom = std::max(offset, from);
            Check(file.WriteAt(from, view.Read(from, static_cast<std::size_t>(dataFrom - from))));
            Check(file.WriteAt(dataFrom, std::string_view(bytes).substr(
                                             static_cast<std::size_t>(dataFrom - offset))));
            Check(file.WriteAt(end, view.Read(end, static_cast<std::size_t>(to - end))));
        }
        written = to;
    }
}

bool NamesFile(Host& host, const std::string& path, const FileIdentity& identity) {
    FileIdentity named;
    return host.IdentifyFile(path, &named) && named == identity;
}

void CheckSourceUnchanged(const PatchedView& view) {
    FileState now;
    Check(view.source()->State(&now));
    if (now != view.sourceState()) {
        throw RunTimeFailure("hexmend: source changed while patching: " + view.sourcePath());
    }
}

void WriteNewTarget(RunState& run, const std::string& targetPath) {
    Host& host = CurrentHost();
    PatchedView& view = run.FileBuffer;
    // Declared before the file so that the file is closed before the owner
    // removes it: an open file cannot be removed everywhere.
    TempFileOwner temp(host);
    std::unique_ptr<File> file;
    // Runs killed outright leave their temporary files behind.
    host.RemoveStaleTempFiles(targetPath);
    if (view.holdsContent()) {
        Check(host.CreateTempFileFor(targetPath, &file, temp.path()));
        Check(file->WriteAt(0, view.heldContent()));
    } else {
        Check(host.CreateTempCopyFor(targetPath, view.sourcePath(), *view.source(), view.size(),
                                     &file, temp.path()));
    }
    WriteOverlay(view, *file, host.WriteBlockSize());
    Check(file->Sync());
    Check(file->Close());
    CheckSourceUnchanged(view);
    if (!host.CanReplaceOpenFile()) {
        view.Release();
    }
    Check(host.ReplaceFile(*temp.path(), targetPath));
    temp.Commit();
}

}  // namespace

void OpenSource(RunState& run, const std::string& sourcePath, const std::string& targetPath) {
    Host& host = CurrentHost();
    for (;;) {
        FileIdentity sourceIdentity;
        FileIdentity targetIdentity;
        const bool sameFile = host.IdentifyFile(sourcePath, &sourceIdentity) &&
                              host.IdentifyFile(targetPath, &targetIdentity) &&
                              sourceIdentity == targetIdentity;
        std::unique_ptr<File> file;
        if (sameFile && run.InPlaceMode && !run.CheckMode) {
            Check(host.OpenForUpdate(sourcePath, &file));
        } else {
            Check(host.OpenForReading(sourcePath, &file));
        }
        FileState state;
        Check(file->State(&state));
        if (sameFile) {
            Check(file->Lock());
            // The run that held the lock may have moved a new file into
            // place meanwhile: then this one is stale.
            if (state.identity != sourceIdentity || !NamesFile(host, sourcePath, state.identity) ||
                !NamesFile(host, targetPath, state.identity)) {
                continue;
            }
            Check(file->State(&state));
        }
        if (state.size > static_cast<std::uint64_t>(kMaxFileBufferSize)) {
            throw RunTimeFailure("hexmend: cannot load " + sourcePath + ": the file has " +
                                 std::to_string(state.size) + " bytes, more than the " +
                                 std::to_string(kMaxFileBufferSize) + " bytes hexmend can patch");
        }
        Bytes content;
        if (state.size == 0) {
            // A file under /proc reports 0 bytes whatever it holds: its
            // bytes are read now, once, and the view holds them.
            content = ReadToEnd(*file, sourcePath, 0);
        }
        run.FileBuffer.Attach(std::move(file), sourcePath, state);
        if (!content.empty()) {
            run.FileBuffer.Hold(std::move(content));
        }
        return;
    }
}

std::string ExamineTarget(const std::string& targetPath) {
    Host& host = CurrentHost();
    std::string named;
    Check(host.FollowLinks(targetPath, &named));
    const FileKind kind = host.KindOf(named);
    if (kind == FileKind::kFolder || kind == FileKind::kOther) {
        throw RunTimeFailure("hexmend: not a regular file: " + targetPath);
    }
    return named;
}

void CommitTarget(RunState& run, const std::string& targetPath) {
    const PatchedView& view = run.FileBuffer;
    if (run.InPlaceMode && NamesFile(CurrentHost(), targetPath, view.sourceState().identity)) {
        CheckSourceUnchanged(view);
        CommitInPlace(run, targetPath);
        return;
    }
    WriteNewTarget(run, targetPath);
}

}  // namespace hexmend
