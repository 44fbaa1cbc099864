#include "core/patch_maker.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "core/value_notation.h"

namespace hexmend {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Text is handed to the sink in pieces of about this size.
constexpr std::size_t kOutputPiece = 64 * 1024;
// An old value that hexmend takes as "do not compare": a set whose old bytes
// are exactly these is written as two sets, so that every byte is compared.
constexpr std::string_view kNoCheckValue = "DONOTCHECK";

// Upper-case hexadecimal, at least two digits, as hexmend shows positions.
std::string HexOffset(std::uint64_t offset) {
    std::string digits;
    do {
        digits += kHexDigits[offset & 0x0F];
        offset >>= 4;
    } while (offset != 0);
    if (digits.size() < 2) {
        digits += '0';
    }
    std::reverse(digits.begin(), digits.end());
    return digits;
}

bool IsPrintableText(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// A name as a comment line can show it: control characters become "?".
std::string CommentSafe(std::string_view name) {
    std::string text(name);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return text;
}

// A path as a command line takes it: in double quotes when it holds a blank.
std::string CommandPath(std::string_view path) {
    const std::string safe = CommentSafe(path);
    return safe.find(' ') == std::string::npos ? safe : "\"" + safe + "\"";
}

// Offset of the first byte where a and b differ, or n.
std::size_t FirstDifference(const char* a, const char* b, std::size_t n) {
    // memcmp skips equal stretches at memory speed; only the stretch that
    // differs is searched for the byte.
    constexpr std::size_t kStride = 4096;
    std::size_t i = 0;
    while (i < n) {
        const std::size_t length = std::min(kStride, n - i);
        if (std::memcmp(a + i, b + i, length) != 0) {
            // Eight bytes at a time up to the word that differs.
            std::uint64_t x = 0;
            std::uint64_t y = 0;
            for (; i + sizeof x <= n; i += sizeof x) {
                std::memcpy(&x, a + i, sizeof x);
                std::memcpy(&y, b + i, sizeof y);
                if (x != y) {
                    break;
                }
            }
            while (a[i] == b[i]) {
                ++i;
            }
            return i;
        }
        i += length;
    }
    return n;
}

}  // namespace

std::string PatchFileHeader(const PatchFileFacts& facts, std::string_view lineEnd) {
    std::string text;
    const auto line = [&](const std::string& content) {
        text += content;
        text += lineEnd;
    };
    const std::string size = std::to_string(facts.size);
    const std::string patch = CommandPath(facts.patchPath);
    line("# Patch file made by hexmend-diff: it changes OLD into NEW, in place.");
    line("#   OLD: " + CommentSafe(facts.oldName) + " (" + size + " bytes)");
    line("#   NEW: " + CommentSafe(facts.newName) + " (" + size + " bytes)");
    if (!facts.saveFolder.empty()) {
        line("# Save it as PATCHFILE in " + CommentSafe(facts.saveFolder) + ", then");
    }
    line("# check it:  hexmend " + patch + " check=true");
    line("# apply it:  hexmend " + patch);
    line("sourcefile=" + facts.sourceValue);
    line("targetfile=" + facts.sourceValue);
    line("");
    return text;
}

PatchMaker::PatchMaker(PatchSink& sink, std::string header, std::string_view lineEnd)
    : sink_(sink), header_(std::move(header)), lineEnd_(lineEnd) {
    oldSet_.reserve(kMaxSetBytes);
    newSet_.reserve(kMaxSetBytes);
}

void PatchMaker::Feed(std::string_view oldBytes, std::string_view newBytes) {
    assert(oldBytes.size() == newBytes.size());
    const char* const a = oldBytes.data();
    const char* const b = newBytes.data();
    const std::size_t n = oldBytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (!inRegion_) {
            i += FirstDifference(a + i, b + i, n - i);
            if (i == n) {
                break;
            }
            OpenRegion(offset_ + i);
        }
        // Inside a region, byte by byte, until kRegionGap equal bytes end it.
        for (; i < n; ++i) {
            if (a[i] != b[i]) {
                for (const char equal : gap_) {
                    Take(equal, equal);
                }
                gap_.clear();
                Take(a[i], b[i]);
                ++changed_;
            } else {
                gap_ += a[i];
                if (gap_.size() == kRegionGap) {
                    ++i;
                    CloseRegion();
                    break;
                }
            }
        }
    }
    offset_ += n;
}

void PatchMaker::Finish() {
    if (inRegion_) {
        CloseRegion();
    }
    if (!out_.empty()) {
        sink_.Write(out_);
        out_.clear();
    }
}

void PatchMaker::OpenRegion(std::uint64_t offset) {
    if (regions_ == 0) {
        out_ += header_;
    }
    ++regions_;
    inRegion_ = true;
    regionEnd_ = offset;
    action_ = Action::kNone;
    out_ += "<patch>";
    out_ += lineEnd_;
    Line("name", "change at " + HexOffset(offset));
    Line("enabled", "true");
}

void PatchMaker::CloseRegion() {
    if (!oldSet_.empty()) {
        WriteSet();
    }
    gap_.clear();
    inRegion_ = false;
    out_ += "</patch>";
    out_ += lineEnd_;
    FlushIfFull();
}

void PatchMaker::Take(char oldByte, char newByte) {
    oldSet_ += oldByte;
    newSet_ += newByte;
    ++regionEnd_;
    if (oldSet_.size() == kMaxSetBytes) {
        WriteSet();
    }
}

void PatchMaker::WriteSet() {
    const std::uint64_t position = regionEnd_ - oldSet_.size();
    if (oldSet_ == kNoCheckValue) {
        const std::size_t half = kNoCheckValue.size() / 2;
        const std::string_view oldBytes(oldSet_);
        const std::string_view newBytes(newSet_);
        WriteOneSet(position, oldBytes.substr(0, half), newBytes.substr(0, half));
        WriteOneSet(position + half, oldBytes.substr(half), newBytes.substr(half));
    } else {
        WriteOneSet(position, oldSet_, newSet_);
    }
    oldSet_.clear();
    newSet_.clear();
    FlushIfFull();
}

void PatchMaker::WriteOneSet(std::uint64_t position, std::string_view oldBytes,
                             std::string_view newBytes) {
    // Text stays readable as text; anything else goes as hex pairs. The
    // action line is repeated only when it changes within the block.
    const bool text = IsPrintableText(oldBytes) && IsPrintableText(newBytes);
    const Action action = text ? Action::kString : Action::kBytes;
    if (action != action_) {
        Line("action", text ? "replace_string" : "replace_bytes");
        action_ = action;
    }
    Line("position", HexOffset(position));
    Line("olddata", text ? EscapeValue(oldBytes) : BytesToHex(oldBytes));
    Line("newdata", text ? EscapeValue(newBytes) : BytesToHex(newBytes));
}

void PatchMaker::Line(std::string_view key, std::string_view value) {
    out_ += key;
    out_ += '=';
    out_ += value;
    out_ += lineEnd_;
}

void PatchMaker::FlushIfFull() {
    if (out_.size() >= kOutputPiece) {
        sink_.Write(out_);
        out_.clear();
    }
}

}  // namespace hexmend
