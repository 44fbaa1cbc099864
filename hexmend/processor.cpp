#include "processor.h"

#include <string>
#include <utility>

#include "file_io.h"
#include "host/host.h"
#include "patch_text.h"
#include "regular_engine.h"
#include "reporter.h"
#include "run_failure.h"
#include "run_state.h"
#include "zq_engine.h"

namespace hexmend {
namespace {

// The style table: which engine a finished block goes to. Returns the
// engine's result, or false (reported) for a block of neither style.
bool HandOverBlock(int startLine) {
    const std::string start = std::to_string(startLine);
    const std::string name = LookupKey(BlockLines, "name");
    if (!LookupKey(BlockLines, "enabled").empty() && !name.empty()) {
        ReportMessage(start + ": (regular patch) " + name, false);
        return ApplyRegularPatch();
    }
    const std::string zqName = LookupKey(BlockLines, "patch_name ");
    if (!zqName.empty()) {
        ReportMessage(start + ": (zq-style patch) " + zqName, false);
        return ApplyZqStylePatch();
    }
    ReportMessage(start + ": There is a problem. Check the first lines of this patch!", true);
    return false;
}

// What the walk met: blocks ended by a closing tag or by a misplaced tag,
// and how many of them failed.
struct WalkTally {
    int blocks = 0;
    int failed = 0;
};

// Counts one failed block. Returns true when the walk goes on (check mode).
bool CountFailure(WalkTally& tally) {
    ++tally.failed;
    return CheckMode;
}

// Walks the lines, collecting blocks and handing each to its engine; the
// lines of a block are moved into BlockLines, not copied (a value can be a
// whole zlib stream's content). Returns false when a failure stops the run;
// in check mode every block is walked and the failures are only counted.
bool WalkLines(Lines& lines, WalkTally& tally) {
    bool inside = false;
    int startLine = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i + 1);
        std::string& line = lines[i];
        if (VerbatimMode) {
            ReportMessage(">>>" + std::to_string(lineNumber) + ":" + line, false);
        }
        if (IsOpeningTag(line)) {
            if (inside) {
                ReportMessage("unexpected tag <patch> in line " + std::to_string(lineNumber), true);
                ++tally.blocks;
                if (!CountFailure(tally)) {
                    return false;
                }
                // Check mode drops the unclosed block and starts anew here.
            }
            BlockLines.clear();
            startLine = lineNumber;
            inside = true;
        } else if (IsClosingTag(line)) {
            ++tally.blocks;
            if (!inside) {
                ReportMessage("unexpected tag </patch> in line " + std::to_string(lineNumber),
                              true);
                if (!CountFailure(tally)) {
                    return false;
                }
                continue;
            }
            if (!HandOverBlock(startLine) && !CountFailure(tally)) {
                return false;
            }
            BlockLines.clear();
            inside = false;
        } else if (inside) {
            BlockLines.push_back(std::move(line));
        }
    }
    // A block left open at the end of the file is dropped without a word.
    return true;
}

// Releases the block lines when the processor returns, on every path.
struct BlockLinesRelease {
    ~BlockLinesRelease() { Lines().swap(BlockLines); }
};

}  // namespace

bool ProcessPatchFile(const std::string& patchPath) {
    Host& host = CurrentHost();
    const BlockLinesRelease release;
    PatchFileDir = FolderPart(patchPath);
    host.FetchConsole();
    BlockLines.clear();

    if (!host.FileExists(patchPath)) {
        ReportMessage("cannot find " + patchPath, true);
        return false;
    }
    ReportMessage("loading " + patchPath, false);
    Lines lines = PrepareLines(ReadWholeFile(patchPath));

    const std::string targetValue = LookupKey(lines, "targetfile");
    if (targetValue.empty()) {
        ReportMessage("no target file specified", true);
        return false;
    }
    const std::string targetPath = ResolvePath(PatchFileDir, targetValue);
    if (!CheckMode && !CreateFolders(FolderPart(targetPath))) {
        ReportMessage("cannot create target directory for: " + targetPath, false);
        return false;
    }

    const std::string sourceValue = LookupKey(lines, "sourcefile");
    if (sourceValue.empty()) {
        ReportMessage("no source file specified", true);
        return false;
    }
    const std::string sourcePath = ResolvePath(PatchFileDir, sourceValue);
    if (!host.FileExists(sourcePath)) {
        ReportMessage("cannot find " + sourcePath, true);
        return false;
    }
    ReportMessage("loading source file: " + sourcePath, false);
    FileBuffer = ReadWholeFile(sourcePath);

    WalkTally tally;
    if (!WalkLines(lines, tally)) {
        return false;
    }
    if (CheckMode) {
        if (tally.failed > 0) {
            ReportMessage("check failed: " + std::to_string(tally.failed) + " of " +
                              std::to_string(tally.blocks),
                          true);
            return false;
        }
        ReportMessage("check passed, not saved: " + targetPath, false);
        return true;
    }
    ReportMessage("saving " + targetPath, false);
    // Output stuck in the buffer of a broken console must fail the run before
    // the target is written, not after.
    const Status flushed = host.FlushStdout();
    if (!flushed.ok()) {
        throw RunTimeFailure(flushed.message());
    }
    WriteWholeFile(targetPath, FileBuffer);
    return true;
}

}  // namespace hexmend
