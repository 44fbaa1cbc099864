// Finds, for hexmend-diff, the zlib streams that a change of OLD lies in and
// that a replace_zlib patch can rewrite whole: a stream that starts with the
// header 78 9C at the same offset in OLD and NEW, whose old text compresses
// back to exactly OLD's stream and whose new text compresses to NEW's bytes
// there, filled up with zero bytes to the old stream's length.
//
// The patch maker reads both files once, forwards. It notes every offset
// where both hold 78 9C as it passes and asks, at each change, for a stream
// that holds the change. A noted offset is inflated at most once, and only
// when a change comes after it within the longest room a stream can have
// (its text at most kMaxStreamText bytes): the cost follows the headers met
// near changes, never the changes times the file. Inflation is streamed and
// capped, so a stream that inflates to gigabytes costs at most kMaxStreamText
// bytes of output and no memory beyond a small buffer; only the stream that
// is written holds its two texts.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hexmend {

// Texts longer than this, or more than kMaxStreamRatio times as long as their
// stream, are written as bytes.
inline constexpr std::size_t kMaxStreamText = 16 * 1024 * 1024;
inline constexpr std::uint64_t kMaxStreamRatio = 1024;

// Exact reads of one file at any offset. ReadAt throws RunTimeFailure when
// the n bytes cannot be read.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual void ReadAt(std::uint64_t offset, char* buf, std::size_t n) = 0;
};

// A stream that replace_zlib rewrites: at position, room bytes long in OLD.
struct StreamChange {
    std::uint64_t position = 0;
    std::uint64_t room = 0;
    std::string oldText;
    std::string newText;
};

class StreamFinder {
  public:
    // Both files are size bytes long.
    StreamFinder(ByteSource& oldFile, ByteSource& newFile, std::uint64_t size);
    ~StreamFinder();
    StreamFinder(const StreamFinder&) = delete;
    StreamFinder& operator=(const StreamFinder&) = delete;

    // Notes every place from notBefore on where both files hold 78 9C, in
    // the next bytes of both read from offset on (one header may straddle
    // two calls). Offsets increase from one call to the next.
    void Scan(std::uint64_t offset, std::string_view oldBytes, std::string_view newBytes,
              std::uint64_t notBefore);
    // The stream, checked as above, that starts before offset (where the
    // files differ) and whose room holds it; none when there is none.
    // offset never decreases from one call to the next.
    std::optional<StreamChange> StreamHolding(std::uint64_t offset);

  private:
    // The last bytes Scan was given.
    struct Feed {
        char oldByte = 0;
        char newByte = 0;
    };
    struct Inflated {
        bool complete = false;
        // Stream bytes read and text bytes made.
        std::uint64_t streamSize = 0;
        std::uint64_t textSize = 0;
    };

    // Inflates file's stream at start, at most limit bytes of it; the text
    // goes to text when given. Stops without completing at a zlib error, a
    // preset dictionary, the limit, or a text beyond kMaxStreamText.
    Inflated Inflate(ByteSource& file, std::uint64_t start, std::uint64_t limit, std::string* text);
    // A complete stream whose text is within the bounds.
    static bool WithinBounds(const Inflated& inflated);
    // True when CompressWithZlib(text) is file's bytes from start on,
    // followed by zero bytes up to end.
    bool CompressesTo(std::string_view text, ByteSource& file, std::uint64_t start,
                      std::uint64_t end);
    // The change of the stream that old found in OLD at start, when NEW's
    // bytes there are its new text's stream and both compress back.
    std::optional<StreamChange> Check(std::uint64_t start, const Inflated& old);

    ByteSource& old_;
    ByteSource& new_;
    std::uint64_t size_;
    // The longest room a stream with a text within the bounds can have.
    std::uint64_t maxRoom_;
    // Both files hold 78 9C at offset; offsets come in increasing order.
    void NoteHeader(std::uint64_t offset);

    Feed last_;
    // Noted headers not yet inflated.
    std::deque<std::uint64_t> waiting_;
    z_stream inflater_{};
    std::vector<char> input_;
    std::vector<unsigned char> output_;
};

}  // namespace hexmend
