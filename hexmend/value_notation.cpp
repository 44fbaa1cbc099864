#include "value_notation.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>
#include <utility>

namespace hexmend {
namespace {

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of a hexadecimal digit, or -1.
int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Two's complement view of a 32-bit pattern, without relying on the
// implementation-defined unsigned-to-signed conversion.
std::int32_t AsSigned(std::uint32_t pattern) {
    if (pattern <= 0x7FFFFFFFu) {
        return static_cast<std::int32_t>(pattern);
    }
    return static_cast<std::int32_t>(pattern - 0x80000000u) +
           std::numeric_limits<std::int32_t>::min();
}

// Reads "one or more hex digits and nothing else" as a 32-bit pattern; false
// when a ninth significant digit is needed or a non-digit appears.
bool ReadHexPattern(std::string_view digits, std::uint32_t* pattern) {
    if (digits.empty()) {
        return false;
    }
    std::uint32_t value = 0;
    int significant = 0;
    for (const char c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return false;
        }
        if (significant > 0 || digit != 0) {
            if (++significant > 8) {
                return false;
            }
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    *pattern = value;
    return true;
}

// Reads "one or more decimal digits and nothing else" as a magnitude of at
// most limit.
bool ReadDecimalMagnitude(std::string_view digits, std::uint32_t limit, std::uint32_t* magnitude) {
    if (digits.empty()) {
        return false;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (!IsDecimalDigit(c)) {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > limit) {
            return false;
        }
    }
    *magnitude = static_cast<std::uint32_t>(value);
    return true;
}

// Parses text of the decimal-comma float grammar into a "C"-style number
// that std::from_chars takes ("-12.5e-3"). Returns false when the text does
// not follow the grammar. *leadExponent receives the decimal exponent of the
// first non-zero digit (saturated), or 0 when every digit is zero; it tells
// an overflow from an underflow.
bool NormaliseFloatText(std::string_view text, std::string* number, std::int64_t* leadExponent) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ') {
        ++i;
    }
    std::string out;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            out += '-';
        }
        ++i;
    }
    const std::size_t intStart = i;
    while (i < n && IsDecimalDigit(text[i])) {
        ++i;
    }
    const std::string_view intDigits = text.substr(intStart, i - intStart);
    if (intDigits.empty()) {
        return false;
    }
    std::string_view fracDigits;
    if (i < n && text[i] == ',') {
        ++i;
        const std::size_t fracStart = i;
        while (i < n && IsDecimalDigit(text[i])) {
            ++i;
        }
        fracDigits = text.substr(fracStart, i - fracStart);
        if (fracDigits.empty()) {
            return false;
        }
    }
    std::int64_t exponent = 0;
    bool exponentNegative = false;
    std::string_view expDigits;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            exponentNegative = text[i] == '-';
            ++i;
        }
        const std::size_t expStart = i;
        while (i < n && IsDecimalDigit(text[i])) {
            ++i;
        }
        expDigits = text.substr(expStart, i - expStart);
        if (expDigits.empty()) {
            return false;
        }
        constexpr std::int64_t kSaturated = std::int64_t{1} << 40;
        for (const char c : expDigits) {
            exponent = std::min(exponent * 10 + (c - '0'), kSaturated);
        }
        if (exponentNegative) {
            exponent = -exponent;
        }
    }
    while (i < n && text[i] == ' ') {
        ++i;
    }
    if (i != n) {
        return false;
    }

    *leadExponent = 0;
    const std::size_t firstIntNonZero = intDigits.find_first_not_of('0');
    const std::size_t firstFracNonZero = fracDigits.find_first_not_of('0');
    if (firstIntNonZero != std::string_view::npos) {
        *leadExponent =
            exponent + static_cast<std::int64_t>(intDigits.size() - 1 - firstIntNonZero);
    } else if (firstFracNonZero != std::string_view::npos) {
        *leadExponent = exponent - static_cast<std::int64_t>(firstFracNonZero + 1);
    }

    out.append(intDigits);
    if (!fracDigits.empty()) {
        out += '.';
        out.append(fracDigits);
    }
    if (!expDigits.empty()) {
        out += 'e';
        if (exponentNegative) {
            out += '-';
        }
        out.append(expDigits);
    }
    *number = std::move(out);
    return true;
}

// Length of the strict UTF-8 sequence (1 to 3 bytes, up to U+FFFF, no
// overlongs, no surrogates) at the start of text, or 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const auto isContinuation = [&](std::size_t k) {
        return k < text.size() && byte(k) >= 0x80 && byte(k) <= 0xBF;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return isContinuation(1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!isContinuation(1) || !isContinuation(2)) {
            return 0;
        }
        // E0 80..9F would be overlong; ED A0..BF would be a surrogate.
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) > 0x9F)) {
            return 0;
        }
        return 3;
    }
    // Stray continuation bytes, overlong leads C0/C1 and four-byte leads.
    return 0;
}

}  // namespace

std::int32_t ParseInt(std::string_view text, std::int32_t fallback) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::string_view rest = text.substr(i);

    std::size_t markerLength = 0;
    if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
        markerLength = 1;
    } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        markerLength = 2;
    }

    if (markerLength > 0) {
        std::uint32_t pattern = 0;
        if (!ReadHexPattern(rest.substr(markerLength), &pattern)) {
            return fallback;
        }
        // Negation modulo 2^32: "-$80000000" stays the most negative value.
        return AsSigned(negative ? 0u - pattern : pattern);
    }

    std::uint32_t magnitude = 0;
    const std::uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    if (!ReadDecimalMagnitude(rest, limit, &magnitude)) {
        return fallback;
    }
    return AsSigned(negative ? 0u - magnitude : magnitude);
}

std::int32_t HexValue(std::string_view text) {
    std::string marked;
    marked.reserve(text.size() + 1);
    marked += '$';
    marked.append(text);
    return ParseInt(marked, -1);
}

UnescapeResult UnescapeValue(std::string_view text) {
    UnescapeResult result;
    result.bytes.assign(text);
    result.ok = UnescapeInPlace(result.bytes);
    return result;
}

Bytes EscapeValue(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    Bytes text;
    text.reserve(bytes.size() + bytes.size() / 8 + 8);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const auto byte = static_cast<unsigned char>(c);
        const bool atEnd = i == 0 || i + 1 == bytes.size();
        switch (c) {
            case '\\':
                text += "\\\\";
                continue;
            case '\a':
                text += "\\a";
                continue;
            case '\b':
                text += "\\b";
                continue;
            case '\f':
                text += "\\f";
                continue;
            case '\n':
                text += "\\n";
                continue;
            case '\r':
                text += "\\r";
                continue;
            case '\t':
                text += "\\t";
                continue;
            case '\v':
                text += "\\v";
                continue;
            default:
                break;
        }
        if ((byte > 0x20 && byte < 0x7F) || (byte == 0x20 && !atEnd)) {
            text += c;
        } else {
            text += "\\x";
            text += kDigits[byte >> 4];
            text += kDigits[byte & 0x0F];
        }
    }
    return text;
}

bool UnescapeInPlace(Bytes& text) {
    // Decoding never lengthens: the decoded bytes are written at `out`, which
    // never passes the read position `in`.
    std::size_t out = 0;
    std::size_t in = 0;
    const auto put = [&](char byte) { text[out++] = byte; };
    const auto finish = [&](bool ok) {
        text.resize(out);
        return ok;
    };
    while (in < text.size()) {
        // Runs without a backslash move whole: values can be whole zlib
        // stream contents of many megabytes.
        std::size_t slash = text.find('\\', in);
        if (slash == std::string::npos) {
            slash = text.size();
        }
        if (out != in) {
            std::copy(text.begin() + static_cast<std::ptrdiff_t>(in),
                      text.begin() + static_cast<std::ptrdiff_t>(slash),
                      text.begin() + static_cast<std::ptrdiff_t>(out));
        }
        out += slash - in;
        in = slash;
        if (in == text.size()) {
            break;
        }
        if (in + 1 >= text.size()) {
            return finish(false);
        }
        const char escaped = text[in + 1];
        in += 2;
        switch (escaped) {
            case '\\':
            case '\'':
            case '"':
                put(escaped);
                break;
            case 'a':
                put('\a');
                break;
            case 'b':
                put('\b');
                break;
            case 'f':
                put('\f');
                break;
            case 'n':
                put('\n');
                break;
            case 'r':
                put('\r');
                break;
            case 't':
                put('\t');
                break;
            case 'v':
                put('\v');
                break;
            case 'x': {
                // Exactly two hexadecimal digits must follow.
                const bool twoLeft = text.size() - in >= 2;
                const std::int32_t value =
                    twoLeft ? HexValue(std::string_view(text).substr(in, 2)) : -1;
                if (value < 0 || value > 255) {
                    return finish(false);
                }
                put(static_cast<char>(value));
                in += 2;
                break;
            }
            default:
                return finish(false);
        }
    }
    return finish(true);
}

std::string BytesToHex(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

Bytes HexToBytes(std::string_view text) {
    std::string digits;
    digits.reserve(text.size());
    for (const char c : text) {
        if (c != ' ') {
            digits += c;
        }
    }
    if (digits.size() % 2 != 0) {
        return {};
    }
    Bytes bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const std::int32_t value = HexValue(std::string_view(digits).substr(i, 2));
        if (value < 0 || value > 255) {
            return {};
        }
        bytes += static_cast<char>(value);
    }
    return bytes;
}

Bytes IntValueToByte(std::string_view text) {
    const std::int32_t value = ParseInt(text, -1);
    if (value < 0 || value > 255) {
        return {};
    }
    return Bytes(1, static_cast<char>(value));
}

namespace {

// The double nearest to number, a "C"-style number of NormaliseFloatText:
// errc() or result_out_of_range (beyond the largest double, or nearer to 0
// than to the smallest), else the text was not all a number. from_chars is
// locale-independent and correctly rounded; the browser build's C++ library
// has it for integers only, and there the C library's strtod, correctly
// rounded too, reads in the "C" locale that nothing changes.
std::errc ParseDouble(const std::string& number, double* value) {
#if defined(__EMSCRIPTEN__)
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size()) {
        return std::errc::invalid_argument;
    }
    const bool outOfRange = errno == ERANGE && (*value == 0.0 || std::isinf(*value));
    return outOfRange ? std::errc::result_out_of_range : std::errc();
#else
    const char* const first = number.data();
    const char* const last = first + number.size();
    const auto [end, ec] = std::from_chars(first, last, *value, std::chars_format::general);
    return end != last ? std::errc::invalid_argument : ec;
#endif
}

}  // namespace

Bytes FloatValueToBytes(std::string_view text) {
    std::string commaText(text);
    for (char& c : commaText) {
        if (c == '.') {
            c = ',';
        }
    }
    std::string number;
    std::int64_t leadExponent = 0;
    if (!NormaliseFloatText(commaText, &number, &leadExponent)) {
        return {};
    }
    double value = 0.0;
    const std::errc ec = ParseDouble(number, &value);
    if (ec != std::errc() && ec != std::errc::result_out_of_range) {
        return {};
    }
    if (ec == std::errc::result_out_of_range) {
        if (leadExponent > 0) {
            return {};  // beyond the largest double
        }
        // Below half the smallest subnormal: the nearest double is zero.
        value = number[0] == '-' ? -0.0 : 0.0;
    }
    std::uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    Bytes bytes(8, '\0');
    for (std::size_t k = 0; k < 8; ++k) {
        bytes[k] = static_cast<char>((bits >> (8 * k)) & 0xFF);
    }
    return bytes;
}

Bytes TextToUtf8Slots(std::string_view text) {
    Bytes slots;
    slots.reserve(text.size() * 4);
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = Utf8SequenceLength(text.substr(i));
        if (length == 0) {
            return {};
        }
        slots.append(text.substr(i, length));
        slots.append(4 - length, '\0');
        i += length;
    }
    return slots;
}

Bytes XorMask(std::string_view bytes, int key) {
    assert(key >= 0 && key <= 255);
    const auto mask = static_cast<unsigned char>(key == 0 ? 0x80 : key);
    Bytes masked(bytes);
    for (char& c : masked) {
        c = static_cast<char>(static_cast<unsigned char>(c) ^ mask);
    }
    return masked;
}

}  // namespace hexmend
