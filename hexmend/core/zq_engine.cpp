#include "core/zq_engine.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/actions.h"
#include "core/patch_text.h"
#include "core/reporter.h"
#include "core/value_notation.h"

namespace hexmend {
namespace {

constexpr std::string_view kXorKeyPrefix = "replace_xor_";
// "replace_xor_", two key digits and the blank before "=" (not examined).
constexpr std::size_t kXorKeyLength = 15;

std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, start)) {
        fields.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    fields.push_back(text.substr(start));
    return fields;
}

std::string_view DropLeadingBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view DropOuterBlanks(std::string_view text) {
    text = DropLeadingBlanks(text);
    const std::size_t last = text.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

// Reads a position field into triple.position. Returns false, with the
// position -1, when it is not bare hexadecimal digits below 80000000.
bool TakePosition(std::string_view field, Triple& triple) {
    triple.position = HexValue(field);
    if (triple.position < 0) {
        triple.position = -1;
        return false;
    }
    return true;
}

// The block being applied: its name as messages show it.
class ZqBlock {
  public:
    ZqBlock(RunState& run, std::string name) : run_(run), name_(std::move(name)) {}

    // Applies one block line. Returns false (reported, except for a range
    // beyond FileBuffer) when the line fails.
    bool ApplyLine(const std::string& line) {
        const std::string_view key = KeyText(line);
        Action action;
        if (!ActionOfKey(key, &action)) {
            return true;
        }
        const std::string_view value = ValueText(line);
        Bytes oldValue;
        Bytes newValue;
        if (TakesEscapedText(action.kind)) {
            if (!TakeQuoted(line, value, true, oldValue, newValue)) {
                return false;
            }
            if (action.kind == ActionKind::kString && oldValue.size() != newValue.size()) {
                ReportMessage(run_,
                              "size of newdata does not match in " + name_ + AtPatchDataPosition(),
                              true);
                return false;
            }
            if (!ConvertValues(run_, action, name_, oldValue, newValue)) {
                return false;
            }
        } else if (action.kind == ActionKind::kUtf8Chars) {
            if (!TakeQuoted(line, value, false, oldValue, newValue) ||
                !ConvertValues(run_, action, name_, oldValue, newValue)) {
                return false;
            }
            if (oldValue.size() != newValue.size()) {
                ReportMessage(run_, "size of newdata differs in " + name_ + AtPatchDataPosition(),
                              true);
                return false;
            }
        } else {
            // replace_float, replace_int, replace_bytes. An invalid plain
            // value is reported by the empty check below.
            Triple triple = ParsePlainTriple(value);
            run_.PatchData.position = triple.position;
            if (triple.valid) {
                oldValue = std::move(triple.oldValue);
                newValue = std::move(triple.newValue);
                if (!ConvertValues(run_, action, name_, oldValue, newValue)) {
                    return false;
                }
            }
        }

        if (oldValue.empty() || newValue.empty()) {
            ReportMessage(run_,
                          "ERROR(b): wrong value in " + name_ +
                              " (position=" + PositionText(run_.PatchData.position) + ")",
                          false);
            return false;
        }
        return ApplyValues(run_, name_, oldValue, newValue);
    }

  private:
    // The action a line's key names: an action's name and one blank, or
    // "replace_xor_KK" and any 15th character. replace_file has no zq form.
    // False when the key names no action: the line is no patch.
    static bool ActionOfKey(std::string_view key, Action* action) {
        if (key.size() == kXorKeyLength && key.substr(0, kXorKeyPrefix.size()) == kXorKeyPrefix) {
            if (!FindAction(key.substr(0, kXorKeyLength - 1), action)) {
                return false;
            }
        } else if (key.empty() || key.back() != ' ' ||
                   !FindAction(key.substr(0, key.size() - 1), action) ||
                   action->kind == ActionKind::kFile) {
            return false;
        }
        action->spelling = key;
        return true;
    }

    std::string AtPatchDataPosition() const {
        return " (PatchData.position=" + PositionText(run_.PatchData.position) + ")";
    }

    // Parses a backquoted value into old and new. Returns false (reported)
    // when it cannot be used.
    bool TakeQuoted(const std::string& line, std::string_view value, bool unescape, Bytes& oldValue,
                    Bytes& newValue) {
        bool unescapeFailed = false;
        Triple triple = ParseQuotedTriple(value, unescape, &unescapeFailed);
        run_.PatchData.position = triple.position;
        if (unescapeFailed) {
            // Writing the bytes decoded before the fault would write a
            // silently shortened value.
            ReportMessage(run_, "cannot unescape something in " + name_ + AtPatchDataPosition(),
                          true);
            return false;
        }
        if (!triple.valid) {
            ReportMessage(run_, "  unable to process: " + line, false);
            return false;
        }
        oldValue = std::move(triple.oldValue);
        newValue = std::move(triple.newValue);
        return true;
    }

    RunState& run_;
    const std::string name_;
};

}  // namespace

bool ApplyZqStylePatch(RunState& run) {
    run.PatchData.position = -1;
    if (LookupKey(run.BlockLines, "patch_enable ") != " `yes`") {
        ReportMessage(run, "  skipped", false);
        return true;
    }
    ReportMessage(run, "  processing ...", false);
    ZqBlock block(run, LookupKey(run.BlockLines, "patch_name "));
    if (run.ReverseMode) {
        for (auto line = run.BlockLines.rbegin(); line != run.BlockLines.rend(); ++line) {
            if (!block.ApplyLine(*line)) {
                return false;
            }
        }
        return true;
    }
    for (const std::string& line : run.BlockLines) {
        if (!block.ApplyLine(line)) {
            return false;
        }
    }
    return true;
}

Triple ParseQuotedTriple(std::string_view value, bool unescape, bool* unescapeFailed) {
    if (unescapeFailed != nullptr) {
        *unescapeFailed = false;
    }
    Triple triple;
    std::vector<std::string> fields;
    for (const std::string_view field : SplitAt(value, ", `")) {
        std::string text(field);
        text.erase(std::remove(text.begin(), text.end(), '`'), text.end());
        fields.push_back(std::move(text));
    }
    if (fields.size() != 3) {
        return triple;
    }
    if (!TakePosition(DropLeadingBlanks(fields[0]), triple)) {
        return triple;
    }
    // Unescaped in place: a replace_zlib text can be a whole stream's
    // content of many megabytes.
    if (unescape) {
        const bool oldOk = UnescapeInPlace(fields[1]);
        const bool newOk = UnescapeInPlace(fields[2]);
        if (!oldOk || !newOk) {
            if (unescapeFailed != nullptr) {
                *unescapeFailed = true;
            }
            return triple;
        }
    }
    triple.oldValue = std::move(fields[1]);
    triple.newValue = std::move(fields[2]);
    triple.valid = !triple.oldValue.empty() && !triple.newValue.empty();
    return triple;
}

Triple ParsePlainTriple(std::string_view value) {
    Triple triple;
    const std::vector<std::string_view> fields = SplitAt(value, ",");
    if (fields.size() != 3) {
        return triple;
    }
    if (!TakePosition(DropOuterBlanks(fields[0]), triple)) {
        return triple;
    }
    triple.oldValue = DropOuterBlanks(fields[1]);
    triple.newValue = DropOuterBlanks(fields[2]);
    triple.valid = !triple.oldValue.empty() && !triple.newValue.empty();
    return triple;
}

}  // namespace hexmend
