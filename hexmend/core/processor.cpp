#include "core/processor.h"

#include <string>
#include <utility>
#include <vector>

#include "core/file_io.h"
#include "core/host_call.h"
#include "core/journal.h"
#include "core/patch_blocks.h"
#include "core/patch_text.h"
#include "core/regular_engine.h"
#include "core/reporter.h"
#include "core/run_files.h"
#include "core/run_state.h"
#include "core/zq_engine.h"
#include "host/host.h"

namespace hexmend {
namespace {

// The style table: which engine a finished block goes to and the line that
// announces it. Returns false (reported) for a block of neither style.
bool ChooseStyle(const RunState& run, int startLine, BlockStyle* style, std::string* header) {
    const std::string start = std::to_string(startLine);
    const PatchBlock block = DescribeBlock(run.BlockLines);
    *style = block.style;
    if (block.style == BlockStyle::kRegular) {
        *header = start + ": (regular patch) " + block.name;
        return true;
    }
    if (block.style == BlockStyle::kZq) {
        *header = start + ": (zq-style patch) " + block.name;
        return true;
    }
    ReportMessage(run, start + ": There is a problem. Check the first lines of this patch!", true);
    return false;
}

// Announces the block in run.BlockLines and runs its engine; returns the
// engine's result.
bool ApplyBlock(RunState& run, BlockStyle style, const std::string& header) {
    ReportMessage(run, header, false);
    return style == BlockStyle::kRegular ? ApplyRegularPatch(run) : ApplyZqStylePatch(run);
}

// A block a reverse run's walk collected, to be applied after the walk.
struct CollectedBlock {
    BlockStyle style;
    std::string header;
    Lines lines;
};

// What the walk met: blocks ended by a closing tag or by a misplaced tag,
// and how many of them failed.
struct WalkTally {
    int blocks = 0;
    int failed = 0;
};

// Counts one failed block. Returns true when the walk goes on (check mode).
bool CountFailure(const RunState& run, WalkTally& tally) {
    ++tally.failed;
    return run.CheckMode;
}

// A finished block in run.BlockLines: handed to its engine, or, when
// collected is given (a reverse run), its lines moved there to be applied
// after the walk. Returns false when the block failed (reported).
bool FinishBlock(RunState& run, int startLine, std::vector<CollectedBlock>* collected) {
    BlockStyle style = BlockStyle::kRegular;
    std::string header;
    if (!ChooseStyle(run, startLine, &style, &header)) {
        return false;
    }
    if (collected != nullptr) {
        collected->push_back({style, std::move(header), std::move(run.BlockLines)});
        return true;
    }
    return ApplyBlock(run, style, header);
}

// Walks the lines, collecting blocks and finishing each (FinishBlock); the
// lines of a block are moved into BlockLines, not copied (a value can be a
// whole zlib stream's content). Returns false when a failure stops the run;
// in check mode every block is walked and the failures are only counted.
bool WalkLines(RunState& run, Lines& lines, WalkTally& tally,
               std::vector<CollectedBlock>* collected) {
    bool inside = false;
    int startLine = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i + 1);
        std::string& line = lines[i];
        if (run.VerbatimMode) {
            ReportMessage(run, ">>>" + std::to_string(lineNumber) + ":" + line, false);
        }
        if (IsOpeningTag(line)) {
            if (inside) {
                ReportMessage(run, "unexpected tag <patch> in line " + std::to_string(lineNumber),
                              true);
                ++tally.blocks;
                if (!CountFailure(run, tally)) {
                    return false;
                }
                // Check mode drops the unclosed block and starts anew here.
            }
            run.BlockLines.clear();
            startLine = lineNumber;
            inside = true;
        } else if (IsClosingTag(line)) {
            ++tally.blocks;
            if (!inside) {
                ReportMessage(run, "unexpected tag </patch> in line " + std::to_string(lineNumber),
                              true);
                if (!CountFailure(run, tally)) {
                    return false;
                }
                continue;
            }
            if (!FinishBlock(run, startLine, collected) && !CountFailure(run, tally)) {
                return false;
            }
            run.BlockLines.clear();
            inside = false;
        } else if (inside) {
            run.BlockLines.push_back(std::move(line));
        }
    }
    // A block left open at the end of the file is dropped; only check mode
    // says so.
    if (inside && run.CheckMode) {
        ReportMessage(run,
                      "  note: the block from line " + std::to_string(startLine) +
                          " is never closed and is dropped",
                      false);
    }
    return true;
}

// Applies the blocks a reverse run collected, from the last to the first.
// Returns false when a failure stops the run; in check mode every block is
// applied and the failures are only counted.
bool ApplyCollected(RunState& run, std::vector<CollectedBlock>& collected, WalkTally& tally) {
    for (auto block = collected.rbegin(); block != collected.rend(); ++block) {
        run.BlockLines = std::move(block->lines);
        if (!ApplyBlock(run, block->style, block->header) && !CountFailure(run, tally)) {
            return false;
        }
        Lines().swap(run.BlockLines);
    }
    return true;
}

// Check mode's note on a patch file whose text ends at a zero byte before
// the end of the file: what follows it is never read.
void NoteEarlyEnd(const RunState& run, std::string_view text) {
    const std::size_t zero = text.find('\0');
    if (zero == std::string_view::npos || zero + 1 == text.size()) {
        return;
    }
    ReportMessage(run,
                  "  note: the text ends at a zero byte at offset " + std::to_string(zero) + "; " +
                      std::to_string(text.size() - zero - 1) + " bytes after it are not read",
                  false);
}

// Releases the block lines and the source when the processor returns, on
// every path.
class RunRelease {
  public:
    explicit RunRelease(RunState& run) : run_(run) {}
    ~RunRelease() {
        Lines().swap(run_.BlockLines);
        run_.FileBuffer.Release();
    }
    RunRelease(const RunRelease&) = delete;
    RunRelease& operator=(const RunRelease&) = delete;

  private:
    RunState& run_;
};

}  // namespace

bool ProcessPatchFile(RunState& run, const std::string& patchPath) {
    Host& host = run.host;
    const RunRelease release(run);
    run.PatchFileDir = FolderPart(host, patchPath);
    host.FetchConsole();
    run.BlockLines.clear();

    if (!host.FileExists(patchPath)) {
        ReportMessage(run, "cannot find " + patchPath, true);
        return false;
    }
    ReportMessage(run, "loading " + patchPath, false);
    const Bytes text = ReadWholeFile(host, patchPath);
    if (run.CheckMode) {
        NoteEarlyEnd(run, text);
    }
    Lines lines = PrepareLines(text);

    const std::string targetValue = LookupKey(lines, "targetfile");
    if (targetValue.empty()) {
        ReportMessage(run, "no target file specified", true);
        return false;
    }
    const std::string targetPath = ResolvePath(host, run.PatchFileDir, targetValue);
    const std::string targetFile = ExamineTarget(host, targetPath);
    if (!run.CheckMode && !CreateFolders(host, FolderPart(host, targetFile))) {
        ReportMessage(run, "cannot create target directory for: " + targetPath, false);
        return false;
    }

    const std::string sourceValue = LookupKey(lines, "sourcefile");
    if (sourceValue.empty()) {
        ReportMessage(run, "no source file specified", true);
        return false;
    }
    const std::string sourcePath = ResolvePath(host, run.PatchFileDir, sourceValue);
    if (!host.FileExists(sourcePath)) {
        ReportMessage(run, "cannot find " + sourcePath, true);
        return false;
    }
    RecoverInterruptedRun(run, sourcePath);
    if (sourcePath != targetPath) {
        RecoverInterruptedRun(run, targetPath);
    }
    ReportMessage(run, "loading source file: " + sourcePath, false);
    OpenSource(run, sourcePath, targetPath);

    // A reverse run walks the whole file first (echo, tags, styles) and
    // then undoes its blocks from the last to the first.
    WalkTally tally;
    std::vector<CollectedBlock> collected;
    if (!WalkLines(run, lines, tally, run.ReverseMode ? &collected : nullptr) ||
        !ApplyCollected(run, collected, tally)) {
        return false;
    }
    if (run.CheckMode) {
        if (tally.failed > 0) {
            ReportMessage(run,
                          "check failed: " + std::to_string(tally.failed) + " of " +
                              std::to_string(tally.blocks),
                          true);
            return false;
        }
        ReportMessage(run, "check passed, not saved: " + targetPath, false);
        return true;
    }
    ReportMessage(run, "saving " + targetPath, false);
    // Output stuck in the buffer of a broken console must fail the run before
    // the target is written, not after.
    Check(host.FlushStdout());
    CommitTarget(run, targetPath);
    return true;
}

}  // namespace hexmend
