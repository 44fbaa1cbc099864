#include "regular_engine.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "actions.h"
#include "file_io.h"
#include "host/host.h"
#include "patch_text.h"
#include "reporter.h"
#include "run_state.h"
#include "value_notation.h"

namespace hexmend {
namespace {

// The patch being gathered from the block's lines. The texts stay as written
// until the patch is applied.
struct PendingPatch {
    std::string name;
    std::string action;
    bool hasAction = false;
    bool hasPosition = false;
    std::string oldText;
    bool hasOld = false;
    std::string newText;
    bool hasNew = false;
    // Where a set gathered for later (by a reverse run) applies.
    std::int32_t position = -1;

    bool Complete() const { return hasAction && hasPosition && hasOld && hasNew; }
    bool Started() const { return hasPosition || hasOld || hasNew; }

    // Readies the pending patch for the block's next set; name and action stay.
    void ClearSet() {
        hasPosition = false;
        hasOld = false;
        hasNew = false;
        oldText.clear();
        newText.clear();
    }

    // The complete set at position, its texts taken over, for applying
    // later; ClearSet follows.
    PendingPatch TakeSet(std::int32_t at) {
        PendingPatch set;
        set.name = name;
        set.action = action;
        set.oldText = std::move(oldText);
        set.newText = std::move(newText);
        set.position = at;
        return set;
    }
};

// " in <name> (position=<pos>)", the tail most messages share.
std::string InNameAtPosition(const RunState& run, const std::string& name) {
    return " in " + name + " (position=" + PositionText(run.PatchData.position) + ")";
}

// Takes one block line into the pending patch (keys are compared exactly).
void TakeLine(RunState& run, const std::string& line, PendingPatch& patch) {
    if (line == "combineparts") {
        patch.hasOld = true;
        patch.hasNew = true;
        return;
    }
    const std::string_view key = KeyText(line);
    const std::string_view value = ValueText(line);
    if (key == "name") {
        patch.name = value;
    } else if (key == "action") {
        if (!value.empty()) {
            patch.action = value;
            patch.hasAction = true;
        }
    } else if (key == "position") {
        run.PatchData.position = HexValue(value);
        patch.hasPosition = run.PatchData.position >= 0;
    } else if (key == "olddata") {
        patch.oldText = value;
        patch.hasOld = true;
    } else if (key == "newdata") {
        patch.newText = value;
        patch.hasNew = true;
    } else if (key == "oldpart") {
        patch.oldText += value;
    } else if (key == "newpart") {
        patch.newText += value;
    }
}

// Turns the pending texts into olddata and newdata as the action says; the
// texts may be taken over (a replace_zlib text can be a whole stream's
// content of many megabytes). Returns false (reported) when the patch fails.
bool Decode(RunState& run, PendingPatch& patch, Bytes& olddata, Bytes& newdata) {
    Action action;
    if (!FindAction(patch.action, &action)) {
        ReportMessage(run, "unknown action \"" + patch.action + "\" in " + patch.name, true);
        return false;
    }
    olddata = std::move(patch.oldText);
    if (action.kind == ActionKind::kFile) {
        // The old text is compared as written; the new one names the file.
        const std::string path = ResolvePath(run.PatchFileDir, patch.newText);
        if (!CurrentHost().FileExists(path)) {
            ReportMessage(run, "ERROR:cannot find " + path + InNameAtPosition(run, patch.name),
                          true);
            return false;
        }
        newdata = ReadWholeFile(path);
    } else {
        newdata = std::move(patch.newText);
    }
    if (TakesEscapedText(action.kind)) {
        // Decoded in their own storage.
        const bool newOk = UnescapeInPlace(newdata);
        const bool oldOk = UnescapeInPlace(olddata);
        if (!newOk || !oldOk) {
            ReportMessage(run,
                          "cannot unescape something in " + patch.name +
                              " (PatchData.position=" + PositionText(run.PatchData.position) + ")",
                          true);
            return false;
        }
    }
    return ConvertValues(run, action, patch.name, olddata, newdata);
}

// Applies a complete pending patch at run.PatchData.position. Returns false
// (reported, except for a range beyond FileBuffer) when it fails.
bool ApplyPatch(RunState& run, PendingPatch& patch) {
    Bytes olddata;
    Bytes newdata;
    if (!Decode(run, patch, olddata, newdata)) {
        return false;
    }
    // Every value a decoder refused arrives here as an empty one.
    if (olddata.empty() || newdata.empty()) {
        ReportMessage(run, "ERROR(a): wrong value" + InNameAtPosition(run, patch.name), false);
        return false;
    }
    return ApplyValues(run, patch.name, olddata, newdata);
}

}  // namespace

bool ApplyRegularPatch(RunState& run) {
    run.PatchData.position = -1;
    if (LookupKey(run.BlockLines, "enabled") != "true") {
        ReportMessage(run, "  skipped", false);
        return true;
    }
    ReportMessage(run, "  processing ...", false);

    PendingPatch patch;
    // A reverse run gathers the block's sets first and undoes them from the
    // last to the first.
    std::vector<PendingPatch> gathered;
    for (const std::string& line : run.BlockLines) {
        TakeLine(run, line, patch);
        // A patch goes in as soon as its set is complete, whatever line
        // completed it.
        if (patch.Complete()) {
            if (run.ReverseMode) {
                gathered.push_back(patch.TakeSet(run.PatchData.position));
            } else if (!ApplyPatch(run, patch)) {
                return false;
            }
            patch.ClearSet();
        }
    }
    if (patch.Started()) {
        ReportMessage(run, "There was some problem in " + patch.name, true);
        return false;
    }
    for (auto set = gathered.rbegin(); set != gathered.rend(); ++set) {
        run.PatchData.position = set->position;
        if (!ApplyPatch(run, *set)) {
            return false;
        }
    }
    return true;
}

Lines ReplacementFileNames(const Lines& blockLines) {
    RunState scratch;
    PendingPatch patch;
    Lines names;
    for (const std::string& line : blockLines) {
        TakeLine(scratch, line, patch);
        if (patch.Complete()) {
            if (patch.action == "replace_file") {
                names.push_back(patch.newText);
            }
            patch.ClearSet();
        }
    }
    return names;
}

}  // namespace hexmend
