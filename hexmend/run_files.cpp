#include "run_files.h"

#include <memory>
#include <utility>

#include "file_io.h"
#include "host/host.h"
#include "journal.h"
#include "run_failure.h"

namespace hexmend {
namespace {

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
    Check(host.CreateTempCopyFor(targetPath, view.sourcePath(), *view.source(), view.size(), &file,
                                 temp.path()));
    for (const auto& [offset, bytes] : view.Overlay()) {
        Check(file->WriteAt(offset, bytes));
    }
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
        run.FileBuffer.Attach(std::move(file), sourcePath, state);
        return;
    }
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
