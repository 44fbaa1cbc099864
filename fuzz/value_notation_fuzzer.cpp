// The decoders of the value notation on any text. Besides not crashing, each
// result must have its documented shape and survive a round trip through the
// notation it was read from.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "core/run_state.h"
#include "core/value_notation.h"
#include "fuzz_check.h"

namespace {

using hexmend::Bytes;

std::string HexText(std::string_view bytes) {
    std::string text;
    char pair[3];
    for (const char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
        text += pair;
    }
    return text;
}

// The length of the UTF-8 sequence that lead begins.
std::size_t SequenceLength(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
}

void CheckNumbers(std::string_view text) {
    const std::int32_t hex = hexmend::HexValue(text);
    FUZZ_CHECK(hex == hexmend::ParseInt("$" + std::string(text), -1),
               "HexValue is ParseInt of $ and the text");
    FUZZ_CHECK(hexmend::HexValue(hexmend::PositionText(hex)) == hex,
               "a position survives its message form");
    const std::int32_t value = hexmend::ParseInt(text, 12345);
    FUZZ_CHECK(hexmend::ParseInt(std::to_string(value), 0) == value,
               "a decimal number survives the round trip");
}

void CheckEscapes(std::string_view text) {
    const hexmend::UnescapeResult result = hexmend::UnescapeValue(text);
    FUZZ_CHECK(result.bytes.size() <= text.size(), "unescaping never lengthens");
    if (text.find('\\') == std::string_view::npos) {
        FUZZ_CHECK(result.ok && result.bytes == text, "text without escapes stays as it is");
    }
    // Any bytes written as \xHH come back.
    std::string escaped;
    char escape[5];
    for (const char c : text) {
        std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
        escaped += escape;
    }
    const hexmend::UnescapeResult back = hexmend::UnescapeValue(escaped);
    FUZZ_CHECK(back.ok && back.bytes == text, "\\xHH escapes round-trip");
}

void CheckHexBytes(std::string_view text) {
    const Bytes bytes = hexmend::HexToBytes(text);
    if (bytes.empty()) {
        return;
    }
    std::size_t digits = 0;
    for (const char c : text) {
        digits += c != ' ' ? 1 : 0;
    }
    FUZZ_CHECK(bytes.size() * 2 == digits, "two digits per byte");
    FUZZ_CHECK(hexmend::HexToBytes(HexText(bytes)) == bytes, "hex bytes round-trip");
}

void CheckOneByte(std::string_view text) {
    const Bytes byte = hexmend::IntValueToByte(text);
    FUZZ_CHECK(byte.size() <= 1, "at most one byte");
    if (byte.size() == 1) {
        FUZZ_CHECK(hexmend::ParseInt(text, -1) == static_cast<unsigned char>(byte[0]),
                   "the byte is the number's value");
    }
}

void CheckFloat(std::string_view text) {
    const Bytes bytes = hexmend::FloatValueToBytes(text);
    FUZZ_CHECK(bytes.empty() || bytes.size() == 8, "a double has 8 bytes");
    if (bytes.empty()) {
        return;
    }
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        bits |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    }
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    char shortest[40];
    std::snprintf(shortest, sizeof shortest, "%.17g", value);
    FUZZ_CHECK(hexmend::FloatValueToBytes(shortest) == bytes, "a double round-trips");
}

void CheckUtf8Slots(std::string_view text) {
    const Bytes slots = hexmend::TextToUtf8Slots(text);
    FUZZ_CHECK(slots.size() % 4 == 0, "4 bytes per character");
    if (slots.empty()) {
        return;
    }
    std::string back;
    for (std::size_t i = 0; i < slots.size(); i += 4) {
        const std::size_t length = SequenceLength(static_cast<unsigned char>(slots[i]));
        back.append(slots, i, length);
        for (std::size_t j = length; j < 4; ++j) {
            FUZZ_CHECK(slots[i + j] == '\0', "a slot is padded with zero bytes");
        }
    }
    FUZZ_CHECK(back == text, "the slots hold the text's own UTF-8");
}

void CheckXor(std::string_view bytes) {
    for (const int key : {0, 1, 0x5A, 0x80, 0xFF}) {
        const Bytes masked = hexmend::XorMask(bytes, key);
        FUZZ_CHECK(masked.size() == bytes.size(), "masking keeps the length");
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            FUZZ_CHECK(masked[i] != bytes[i], "no key leaves a byte as it was");
        }
        FUZZ_CHECK(hexmend::XorMask(masked, key) == bytes, "masking twice gives the bytes back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckNumbers(text);
    CheckEscapes(text);
    CheckHexBytes(text);
    CheckOneByte(text);
    CheckFloat(text);
    CheckUtf8Slots(text);
    CheckXor(text);
    return 0;
}
