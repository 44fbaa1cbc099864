#include "regular_engine.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "checked_write.h"
#include "file_io.h"
#include "host/host.h"
#include "patch_text.h"
#include "reporter.h"
#include "run_state.h"
#include "value_notation.h"
#include "zlib_stream.h"

namespace hexmend {
namespace {

constexpr std::string_view kXorActionPrefix = "replace_xor_";
// "replace_xor_" and the two key digits.
constexpr std::size_t kXorActionLength = 14;

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

bool IsXorAction(std::string_view action) {
    return action.size() == kXorActionLength &&
           action.substr(0, kXorActionPrefix.size()) == kXorActionPrefix;
}

// The actions whose texts are backslash-escaped: replace_string, replace_zlib
// and replace_xor_<key>. Decodes both texts into olddata and newdata, in
// their own storage (a replace_zlib text can be a whole stream's content of
// many megabytes). Returns false (reported) when the patch fails.
bool DecodeEscaped(RunState& run, PendingPatch& patch, Bytes& olddata, Bytes& newdata) {
    newdata = std::move(patch.newText);
    olddata = std::move(patch.oldText);
    const bool newOk = UnescapeInPlace(newdata);
    const bool oldOk = UnescapeInPlace(olddata);
    if (!newOk || !oldOk) {
        ReportMessage(run,
                      "cannot unescape something in " + patch.name +
                          " (PatchData.position=" + PositionText(run.PatchData.position) + ")",
                      true);
        return false;
    }

    if (patch.action == "replace_zlib") {
        ZlibReplacement streams;
        if (!PrepareZlibReplacement(run, olddata, newdata, patch.name,
                                    PositionText(run.PatchData.position), &streams)) {
            return false;
        }
        olddata = std::move(streams.oldStream);
        newdata = std::move(streams.newStream);
    } else if (IsXorAction(patch.action)) {
        const std::int32_t key =
            HexValue(std::string_view(patch.action).substr(kXorActionPrefix.size()));
        if (key < 0) {
            // Not a failure by itself: the unmasked values go on to the
            // checks that follow.
            ReportMessage(
                run,
                "ERROR: wrong key value (" + patch.action + ")" + InNameAtPosition(run, patch.name),
                true);
        } else {
            olddata = XorMask(olddata, key);
            newdata = XorMask(newdata, key);
            if (newdata.size() < olddata.size()) {
                newdata.resize(olddata.size(), '\0');
            }
        }
    }
    return true;
}

// Turns the pending texts into olddata and newdata as the action says; the
// texts may be taken over. Returns false (reported) when the patch fails.
bool Decode(RunState& run, PendingPatch& patch, Bytes& olddata, Bytes& newdata) {
    const std::string& action = patch.action;
    if (action == "replace_zlib" || action == "replace_string" || IsXorAction(action)) {
        return DecodeEscaped(run, patch, olddata, newdata);
    }
    Bytes (*decoder)(std::string_view) = nullptr;
    if (action == "replace_utf8chars") {
        decoder = TextToUtf8Slots;
    } else if (action == "replace_float") {
        decoder = FloatValueToBytes;
    } else if (action == "replace_int") {
        decoder = IntValueToByte;
    } else if (action == "replace_bytes") {
        decoder = HexToBytes;
    }
    if (decoder != nullptr) {
        olddata = decoder(patch.oldText);
        newdata = decoder(patch.newText);
        return true;
    }
    if (action == "replace_file") {
        const std::string path = ResolvePath(run.PatchFileDir, patch.newText);
        if (!CurrentHost().FileExists(path)) {
            ReportMessage(run, "ERROR:cannot find " + path + InNameAtPosition(run, patch.name),
                          true);
            return false;
        }
        newdata = ReadWholeFile(path);
        olddata = patch.oldText;
        return true;
    }
    ReportMessage(run, "unknown action \"" + action + "\" in " + patch.name, true);
    return false;
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
    return CheckedWrite(run, olddata, newdata);
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
    for (const std::string& line : run.BlockLines) {
        TakeLine(run, line, patch);
        // A patch goes in as soon as its set is complete, whatever line
        // completed it.
        if (patch.Complete()) {
            if (!ApplyPatch(run, patch)) {
                return false;
            }
            patch.ClearSet();
        }
    }
    if (patch.Started()) {
        ReportMessage(run, "There was some problem in " + patch.name, true);
        return false;
    }
    return true;
}

}  // namespace hexmend
