#include "diff/stream_finder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/run_failure.h"
#include "core/zlib_stream.h"

namespace hexmend {
namespace {

// A stream is read in pieces growing from the first to the last size: most
// noted headers begin no stream at all and fail within a few bytes.
constexpr std::size_t kFirstRead = 512;
constexpr std::size_t kLastRead = 64 * 1024;
constexpr std::size_t kOutputPiece = 64 * 1024;
// Noted headers kept waiting at most; a file made of headers drops the
// oldest, which are then written as bytes.
constexpr std::size_t kMaxWaiting = 64 * 1024;
constexpr int kZlibWindowBits = 15;
// The header every stream replace_zlib can rewrite begins with.
constexpr char kHeaderFirst = 0x78;
constexpr char kHeaderSecond = static_cast<char>(0x9C);
// The bytes tested at once for a header.
constexpr std::size_t kScanBlock = 64;

// True when some byte p[i] (i < kScanBlock) is first and p[i + 1] second;
// reads kScanBlock + 1 bytes.
bool BlockHoldsPair(const unsigned char* p, unsigned char first, unsigned char second) {
#if defined(__SSE2__)
    const __m128i wantFirst = _mm_set1_epi8(static_cast<char>(first));
    const __m128i wantSecond = _mm_set1_epi8(static_cast<char>(second));
    __m128i any = _mm_setzero_si128();
    for (std::size_t j = 0; j < kScanBlock; j += sizeof(__m128i)) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j + 1));
        any = _mm_or_si128(
            any, _mm_and_si128(_mm_cmpeq_epi8(here, wantFirst), _mm_cmpeq_epi8(next, wantSecond)));
    }
    return _mm_movemask_epi8(any) != 0;
#else
    // Any first byte: the caller's exact test decides.
    (void)second;
    return std::memchr(p, first, kScanBlock) != nullptr;
#endif
}

}  // namespace

StreamFinder::StreamFinder(ByteSource& oldFile, ByteSource& newFile, std::uint64_t size)
    : old_(oldFile),
      new_(newFile),
      size_(size),
      maxRoom_(compressBound(static_cast<uLong>(kMaxStreamText))),
      input_(kLastRead),
      output_(kOutputPiece) {
    const int code = inflateInit2(&inflater_, kZlibWindowBits);
    if (code != Z_OK) {
        throw RunTimeFailure(ZlibFailureDescription(code));
    }
}

StreamFinder::~StreamFinder() {
    inflateEnd(&inflater_);
}

void StreamFinder::Scan(std::uint64_t offset, std::string_view oldBytes, std::string_view newBytes,
                        std::uint64_t notBefore) {
    const std::size_t n = oldBytes.size();
    if (n == 0) {
        return;
    }
    const Feed last = last_;
    last_ = {oldBytes[n - 1], newBytes[n - 1]};
    if (offset > notBefore && last.oldByte == kHeaderFirst && last.newByte == kHeaderFirst &&
        oldBytes[0] == kHeaderSecond && newBytes[0] == kHeaderSecond) {
        NoteHeader(offset - 1);
    }
    // Blocks of kScanBlock bytes are tested whole first, in a loop the
    // compiler turns into vector compares: a header is rare, and memchr for
    // its first byte stops every 256 bytes of random data.
    const auto* const bytes = reinterpret_cast<const unsigned char*>(oldBytes.data());
    const auto first = static_cast<unsigned char>(kHeaderFirst);
    const auto second = static_cast<unsigned char>(kHeaderSecond);
    const auto note = [&](std::size_t i) {
        if (newBytes[i] == kHeaderFirst && newBytes[i + 1] == kHeaderSecond &&
            offset + i >= notBefore) {
            NoteHeader(offset + i);
        }
    };
    std::size_t i = 0;
    for (; i + kScanBlock < n; i += kScanBlock) {
        if (BlockHoldsPair(bytes + i, first, second)) {
            for (std::size_t j = 0; j < kScanBlock; ++j) {
                if (bytes[i + j] == first && bytes[i + j + 1] == second) {
                    note(i + j);
                }
            }
        }
    }
    for (; i + 1 < n; ++i) {
        if (bytes[i] == first && bytes[i + 1] == second) {
            note(i);
        }
    }
}

void StreamFinder::NoteHeader(std::uint64_t offset) {
    while (!waiting_.empty() &&
           (waiting_.size() >= kMaxWaiting || waiting_.front() + maxRoom_ <= offset)) {
        waiting_.pop_front();
    }
    waiting_.push_back(offset);
}

std::optional<StreamChange> StreamFinder::StreamHolding(std::uint64_t offset) {
    // Headers in increasing order, so the outermost stream comes first. A
    // header is inflated once: a stream that does not reach this change
    // reaches no later one, and a check that fails fails for every change.
    while (!waiting_.empty() && waiting_.front() < offset) {
        const std::uint64_t start = waiting_.front();
        waiting_.pop_front();
        if (start + maxRoom_ <= offset) {
            continue;
        }
        const Inflated inflated = Inflate(old_, start, size_ - start, nullptr);
        if (!WithinBounds(inflated) || start + inflated.streamSize <= offset) {
            continue;
        }
        std::optional<StreamChange> change = Check(start, inflated);
        if (change) {
            // Headers inside the room are part of this stream's bytes.
            const std::uint64_t end = start + change->room;
            while (!waiting_.empty() && waiting_.front() < end) {
                waiting_.pop_front();
            }
            return change;
        }
    }
    return std::nullopt;
}

StreamFinder::Inflated StreamFinder::Inflate(ByteSource& file, std::uint64_t start,
                                             std::uint64_t limit, std::string* text) {
    Inflated result;
    if (inflateReset(&inflater_) != Z_OK) {
        return result;
    }
    inflater_.avail_in = 0;
    std::size_t readSize = kFirstRead;
    std::uint64_t read = 0;
    while (true) {
        if (inflater_.avail_in == 0) {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(readSize, limit - read));
            if (n == 0) {
                return result;
            }
            file.ReadAt(start + read, input_.data(), n);
            read += n;
            readSize = std::min(kLastRead, readSize * 8);
            inflater_.next_in = reinterpret_cast<Bytef*>(input_.data());
            inflater_.avail_in = static_cast<uInt>(n);
        }
        inflater_.next_out = output_.data();
        inflater_.avail_out = static_cast<uInt>(output_.size());
        const int code = inflate(&inflater_, Z_NO_FLUSH);
        const std::size_t made = output_.size() - inflater_.avail_out;
        result.textSize += made;
        if (result.textSize > kMaxStreamText) {
            return result;
        }
        if (text != nullptr) {
            text->append(reinterpret_cast<const char*>(output_.data()), made);
        }
        if (code == Z_STREAM_END) {
            result.complete = true;
            result.streamSize = inflater_.total_in;
            return result;
        }
        // Z_BUF_ERROR: no progress possible, which with input left means
        // none will come; Z_NEED_DICT and the errors end the stream.
        if (code != Z_OK && !(code == Z_BUF_ERROR && inflater_.avail_in == 0)) {
            return result;
        }
    }
}

bool StreamFinder::WithinBounds(const Inflated& inflated) {
    return inflated.complete && inflated.textSize <= kMaxStreamText &&
           inflated.textSize <= kMaxStreamRatio * inflated.streamSize;
}

bool StreamFinder::CompressesTo(std::string_view text, ByteSource& file, std::uint64_t start,
                                std::uint64_t end) {
    std::uint64_t at = start;
    const bool same = CompressWithZlib(text, [&](std::string_view piece) {
        if (piece.size() > end - at) {
            return false;
        }
        file.ReadAt(at, input_.data(), piece.size());
        at += piece.size();
        return std::memcmp(input_.data(), piece.data(), piece.size()) == 0;
    });
    if (!same) {
        return false;
    }
    while (at < end) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kLastRead, end - at));
        file.ReadAt(at, input_.data(), n);
        if (std::any_of(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n),
                        [](char c) { return c != '\0'; })) {
            return false;
        }
        at += n;
    }
    return true;
}

std::optional<StreamChange> StreamFinder::Check(std::uint64_t start, const Inflated& old) {
    const std::uint64_t room = old.streamSize;
    const std::uint64_t end = start + room;
    // NEW's stream must fit the room; its size is known before its text is
    // held, so each text takes its own size and no more.
    const Inflated fresh = Inflate(new_, start, room, nullptr);
    if (!WithinBounds(fresh)) {
        return std::nullopt;
    }
    StreamChange change;
    change.position = start;
    change.room = room;
    change.oldText.reserve(static_cast<std::size_t>(old.textSize));
    change.newText.reserve(static_cast<std::size_t>(fresh.textSize));
    if (!Inflate(old_, start, room, &change.oldText).complete ||
        !Inflate(new_, start, room, &change.newText).complete) {
        return std::nullopt;
    }
    // OLD's stream is exactly the compressed old text, with no room left:
    // inflating stopped at its end.
    if (!CompressesTo(change.oldText, old_, start, end) ||
        !CompressesTo(change.newText, new_, start, end)) {
        return std::nullopt;
    }
    return change;
}

}  // namespace hexmend
