#include "core/zlib_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/run_failure.h"

namespace hexmend {
namespace {

// The compressor writes into a buffer of this size; each full buffer is
// appended to the result. The size never changes the bytes produced.
constexpr std::size_t kOutputBufferSize = 65536;

// Settings that make streams identical to compress2() at the default level.
constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;

std::string ZlibCodeText(int code) {
    switch (code) {
        case Z_ERRNO:
            return "File error";
        case Z_STREAM_ERROR:
            return "Stream error";
        case Z_DATA_ERROR:
            return "Data error";
        case Z_MEM_ERROR:
            return "Insufficient memory";
        case Z_BUF_ERROR:
            return "Buffer error";
        case Z_VERSION_ERROR:
            return "Incompatible version";
        default:
            return "error " + std::to_string(code);
    }
}

// Owns an initialised deflate stream.
class Deflater {
  public:
    Deflater() {
        Check(deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kWindowBits, kMemoryLevel,
                           Z_DEFAULT_STRATEGY));
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    z_stream& stream() { return stream_; }

    // Runs deflate once; a negative result is a run-time failure.
    int Deflate(int flush) {
        const int code = deflate(&stream_, flush);
        Check(code);
        return code;
    }

  private:
    static void Check(int code) {
        if (code < 0) {
            throw RunTimeFailure(ZlibFailureDescription(code));
        }
    }

    z_stream stream_{};
};

// Runs the whole of bytes through deflater and hands the stream to piece,
// one output buffer at a time.
bool CompressInto(Deflater& deflater, std::string_view bytes,
                  const std::function<bool(std::string_view)>& piece) {
    z_stream& stream = deflater.stream();
    std::vector<unsigned char> buffer(kOutputBufferSize);
    const auto restartBuffer = [&] {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
    };
    const auto handUsed = [&] {
        const std::size_t used = buffer.size() - stream.avail_out;
        return used == 0 ||
               piece(std::string_view(reinterpret_cast<const char*>(buffer.data()), used));
    };
    restartBuffer();

    // avail_in is 32 bits wide: larger inputs go in consecutive pieces, which
    // without a flush between them gives the same stream.
    constexpr std::size_t kMaxPiece = std::numeric_limits<uInt>::max();
    std::size_t offset = 0;
    while (offset < bytes.size() || stream.avail_in > 0) {
        if (stream.avail_in == 0) {
            const std::size_t length = std::min(kMaxPiece, bytes.size() - offset);
            // zlib's interface is not const-correct; deflate only reads input.
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + offset));
            stream.avail_in = static_cast<uInt>(length);
            offset += length;
        }
        deflater.Deflate(Z_NO_FLUSH);
        if (stream.avail_out == 0) {
            if (!handUsed()) {
                return false;
            }
            restartBuffer();
        }
    }

    while (deflater.Deflate(Z_FINISH) != Z_STREAM_END) {
        if (!handUsed()) {
            return false;
        }
        restartBuffer();
    }
    return handUsed();
}

}  // namespace

std::string ZlibFailureDescription(int code) {
    return "zlib: " + ZlibCodeText(code);
}

bool CompressWithZlib(std::string_view bytes, const std::function<bool(std::string_view)>& piece) {
    Deflater deflater;
    return CompressInto(deflater, bytes, piece);
}

Bytes CompressWithZlib(std::string_view bytes) {
    Deflater deflater;
    Bytes result;
    if (bytes.size() <= std::numeric_limits<uLong>::max() / 2) {
        // One allocation instead of one per 64 KiB step.
        result.reserve(deflateBound(&deflater.stream(), static_cast<uLong>(bytes.size())));
    }
    CompressInto(deflater, bytes, [&](std::string_view run) {
        result.append(run);
        return true;
    });
    return result;
}

bool PrepareZlibReplacement(std::string_view oldText, std::string_view newText,
                            std::string_view patchName, std::string_view position,
                            ZlibReplacement* result, std::string* failure) {
    assert(result != nullptr && failure != nullptr);
    Bytes newStream = CompressWithZlib(newText);
    Bytes oldStream = CompressWithZlib(oldText);
    if (newStream.size() > oldStream.size()) {
        std::string message = "size of data differs (olddata=" + std::to_string(oldStream.size()) +
                              "byte, newdata=" + std::to_string(newStream.size()) + "byte) in ";
        message.append(patchName);
        message += " (position=";
        message.append(position);
        message += ')';
        *failure = std::move(message);
        return false;
    }
    newStream.resize(oldStream.size(), '\0');
    result->oldStream = std::move(oldStream);
    result->newStream = std::move(newStream);
    return true;
}

}  // namespace hexmend
