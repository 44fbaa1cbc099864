#include "core/actions.h"

#include <string>
#include <utility>

#include "core/checked_write.h"
#include "core/reporter.h"
#include "core/value_notation.h"
#include "core/zlib_stream.h"

namespace hexmend {
namespace {

constexpr std::string_view kXorPrefix = "replace_xor_";
// "replace_xor_" and the two key digits.
constexpr std::size_t kXorNameLength = 14;

// The olddata that makes CheckedWrite skip its compare.
constexpr std::string_view kDoNotCheck = "DONOTCHECK";

struct NamedAction {
    std::string_view name;
    ActionKind kind;
};

constexpr NamedAction kActions[] = {
    {"replace_string", ActionKind::kString}, {"replace_zlib", ActionKind::kZlib},
    {"replace_bytes", ActionKind::kBytes},   {"replace_int", ActionKind::kInt},
    {"replace_float", ActionKind::kFloat},   {"replace_utf8chars", ActionKind::kUtf8Chars},
    {"replace_file", ActionKind::kFile},
};

// " (position=<pos>)" of the patch being applied.
std::string AtPosition(const RunState& run) {
    return " (position=" + PositionText(run.PatchData.position) + ")";
}

void MaskWithKey(const RunState& run, const Action& action, std::string_view patchName,
                 Bytes& oldValue, Bytes& newValue) {
    if (action.xorKey < 0) {
        // Not a failure by itself: the unmasked values go on to the checks
        // that follow.
        std::string message = "ERROR: wrong key value (";
        message.append(action.spelling);
        message += ") in ";
        message.append(patchName);
        ReportMessage(run, message + AtPosition(run), true);
        return;
    }
    oldValue = XorMask(oldValue, action.xorKey);
    newValue = XorMask(newValue, action.xorKey);
    if (newValue.size() < oldValue.size()) {
        newValue.resize(oldValue.size(), '\0');
    }
}

}  // namespace

bool FindAction(std::string_view name, Action* action) {
    if (name.size() == kXorNameLength && name.substr(0, kXorPrefix.size()) == kXorPrefix) {
        action->kind = ActionKind::kXor;
        action->xorKey = HexValue(name.substr(kXorPrefix.size()));
        action->spelling = name;
        return true;
    }
    for (const NamedAction& named : kActions) {
        if (named.name == name) {
            action->kind = named.kind;
            action->xorKey = -1;
            action->spelling = name;
            return true;
        }
    }
    return false;
}

bool TakesEscapedText(ActionKind kind) {
    return kind == ActionKind::kString || kind == ActionKind::kXor || kind == ActionKind::kZlib;
}

bool ConvertValues(RunState& run, const Action& action, std::string_view patchName, Bytes& oldValue,
                   Bytes& newValue) {
    Bytes (*decoder)(std::string_view) = nullptr;
    switch (action.kind) {
        case ActionKind::kString:
        case ActionKind::kFile:
            return true;
        case ActionKind::kXor:
            MaskWithKey(run, action, patchName, oldValue, newValue);
            return true;
        case ActionKind::kZlib: {
            ZlibReplacement streams;
            std::string failure;
            if (!PrepareZlibReplacement(oldValue, newValue, patchName,
                                        PositionText(run.PatchData.position), &streams, &failure)) {
                ReportMessage(run, failure, true);
                return false;
            }
            oldValue = std::move(streams.oldStream);
            newValue = std::move(streams.newStream);
            return true;
        }
        case ActionKind::kBytes:
            decoder = HexToBytes;
            break;
        case ActionKind::kInt:
            decoder = IntValueToByte;
            break;
        case ActionKind::kFloat:
            decoder = FloatValueToBytes;
            break;
        case ActionKind::kUtf8Chars:
            decoder = TextToUtf8Slots;
            break;
    }
    oldValue = decoder(oldValue);
    newValue = decoder(newValue);
    return true;
}

bool ApplyValues(RunState& run, std::string_view patchName, std::string_view olddata,
                 std::string_view newdata) {
    if (!run.ReverseMode) {
        return CheckedWrite(run, olddata, newdata);
    }
    const auto refuse = [&](std::string_view why) {
        std::string message = "cannot undo ";
        message.append(patchName);
        message += AtPosition(run);
        message += ": ";
        message.append(why);
        ReportMessage(run, message, true);
        return false;
    };
    if (olddata == kDoNotCheck) {
        return refuse("the old bytes were not checked (DONOTCHECK)");
    }
    if (newdata.size() > olddata.size()) {
        return refuse("newdata is longer than olddata");
    }
    return CheckedWrite(run, newdata, olddata.substr(0, newdata.size()), WriteDirection::kReverse);
}

}  // namespace hexmend
