#include "diff/patch_maker.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "core/value_notation.h"
#include "diff/line_diff.h"
#include "diff/stream_finder.h"

namespace hexmend {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Text is handed to the sink in pieces of about this size.
constexpr std::size_t kOutputPiece = 64 * 1024;
// An old value that hexmend takes as "do not compare": a set whose old bytes
// are exactly these is written as two sets, so that every byte is compared.
constexpr std::string_view kNoCheckValue = "DONOTCHECK";
// Every comment line starts with this: no text after it can be taken for a
// key or a tag.
constexpr std::string_view kComment = "; ";
// A text line longer than this is escaped piece by piece.
constexpr std::size_t kEscapePiece = 16 * 1024;
// Escapes as itself, one character.
constexpr char kNeighbour = 'x';

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
    const std::string comment(kComment);
    line(comment + "Patch file made by hexmend-diff: it changes OLD into NEW, in place.");
    line(comment + "  OLD: " + CommentSafe(facts.oldName) + " (" + size + " bytes)");
    line(comment + "  NEW: " + CommentSafe(facts.newName) + " (" + size + " bytes)");
    if (!facts.saveFolder.empty()) {
        line(comment + "Save it as PATCHFILE in " + CommentSafe(facts.saveFolder) + ", then");
    }
    line(comment + "check it:  hexmend " + patch + " check=true");
    line(comment + "apply it:  hexmend " + patch);
    line("sourcefile=" + facts.sourceValue);
    line("targetfile=" + facts.sourceValue);
    line("");
    return text;
}

PatchMaker::PatchMaker(PatchSink& sink, std::string header, std::string_view lineEnd,
                       StreamFinder* streams)
    : sink_(sink), finder_(streams), header_(std::move(header)), lineEnd_(lineEnd) {
    oldSet_.reserve(kMaxSetBytes);
    newSet_.reserve(kMaxSetBytes);
}

void PatchMaker::Feed(std::string_view oldBytes, std::string_view newBytes) {
    assert(oldBytes.size() == newBytes.size());
    const char* const a = oldBytes.data();
    const char* const b = newBytes.data();
    const std::size_t n = oldBytes.size();
    if (finder_ != nullptr) {
        finder_->Scan(offset_, oldBytes, newBytes, skipUntil_);
    }
    std::size_t i = 0;
    while (i < n) {
        if (offset_ + i < skipUntil_) {
            // A stream already written: its changed bytes are counted only.
            const auto end =
                static_cast<std::size_t>(std::min<std::uint64_t>(n, skipUntil_ - offset_));
            for (; i < end; ++i) {
                changed_ += a[i] != b[i] ? 1 : 0;
            }
            continue;
        }
        if (!inRegion_) {
            i += FirstDifference(a + i, b + i, n - i);
            if (i == n) {
                break;
            }
            if (InStream(offset_ + i)) {
                continue;
            }
            OpenRegion(offset_ + i);
        }
        // Inside a region, byte by byte, until kRegionGap equal bytes end it.
        for (; i < n; ++i) {
            if (a[i] != b[i]) {
                if (InStream(offset_ + i)) {
                    break;
                }
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

bool PatchMaker::InStream(std::uint64_t offset) {
    if (finder_ == nullptr) {
        return false;
    }
    const std::optional<StreamChange> change = finder_->StreamHolding(offset);
    if (!change) {
        return false;
    }
    // The region's changes all lie before the stream: a change inside it
    // would have found it. Its equal bytes up to the stream are dropped.
    if (inRegion_) {
        CloseRegion();
    }
    WriteStream(*change);
    skipUntil_ = change->position + change->room;
    return true;
}

void PatchMaker::WriteStream(const StreamChange& change) {
    if (regions_ == 0) {
        out_ += header_;
    }
    ++regions_;
    ++streams_;
    const std::string position = HexOffset(change.position);
    const std::string comment(kComment);
    out_ += comment + "zlib stream at " + position + " (" + std::to_string(change.room) +
            " bytes): its text of " + std::to_string(change.oldText.size()) + " bytes becomes " +
            std::to_string(change.newText.size()) + " bytes; the lines that differ:";
    out_ += lineEnd_;
    for (const std::string& line : ShortLineDiff(change.oldText, change.newText, kMaxDiffLines)) {
        out_ += comment;
        out_ += line;
        out_ += lineEnd_;
    }
    OpenBlock(change.position);
    Line("action", "replace_zlib");
    Line("position", position);
    WriteParts("oldpart", change.oldText);
    WriteParts("newpart", change.newText);
    out_ += "combineparts";
    out_ += lineEnd_;
    out_ += "</patch>";
    out_ += lineEnd_;
    FlushIfFull();
}

void PatchMaker::WriteParts(std::string_view key, std::string_view text) {
    // One line of the text per line, its line feed included; a long line is
    // escaped in pieces, each given a stand-in neighbour at a border inside
    // the line, so that a blank there is not escaped as one at a value's end.
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t feed = text.find('\n', at);
        const std::size_t end = feed == std::string_view::npos ? text.size() : feed + 1;
        out_ += key;
        out_ += '=';
        if (end - at <= kEscapePiece) {
            out_ += EscapeValue(text.substr(at, end - at));
        }
        for (std::size_t piece = at; end - at > kEscapePiece && piece < end;
             piece += kEscapePiece) {
            const std::size_t pieceEnd = std::min(end, piece + kEscapePiece);
            std::string bytes;
            bytes.reserve(pieceEnd - piece + 2);
            if (piece > at) {
                bytes += kNeighbour;
            }
            bytes.append(text.substr(piece, pieceEnd - piece));
            if (pieceEnd < end) {
                bytes += kNeighbour;
            }
            const std::string escaped = EscapeValue(bytes);
            const std::size_t front = piece > at ? 1 : 0;
            const std::size_t back = pieceEnd < end ? 1 : 0;
            out_.append(escaped, front, escaped.size() - front - back);
            FlushIfFull();
        }
        out_ += lineEnd_;
        FlushIfFull();
        at = end;
    }
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
    OpenBlock(offset);
}

void PatchMaker::OpenBlock(std::uint64_t offset) {
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
