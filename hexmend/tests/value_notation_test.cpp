#include "core/value_notation.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace hexmend {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

Bytes B(std::initializer_list<int> values) {
    Bytes bytes;
    for (const int v : values) {
        bytes += static_cast<char>(v);
    }
    return bytes;
}

// The 8 little-endian bytes of a double's bit pattern.
Bytes BitsBytes(std::uint64_t bits) {
    Bytes bytes;
    for (int k = 0; k < 8; ++k) {
        bytes += static_cast<char>((bits >> (8 * k)) & 0xFF);
    }
    return bytes;
}

Bytes DoubleBytes(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return BitsBytes(bits);
}

TEST(ParseInt, Decimal) {
    const std::pair<const char*, std::int32_t> table[] = {
        {"0", 0},
        {"00", 0},
        {"-0", 0},
        {"123", 123},
        {"   42", 42},
        {"+7", 7},
        {"-7", -7},
        {"2147483647", kMax},
        {"-2147483648", kMin},
        {"0000000000000000012", 12},
    };
    for (const auto& [text, value] : table) {
        EXPECT_EQ(ParseInt(text, 999), value) << "for \"" << text << "\"";
    }
}

TEST(ParseInt, HexadecimalIsA32BitPattern) {
    const std::pair<const char*, std::int32_t> table[] = {
        {"$10", 16},
        {"x10", 16},
        {"X10", 16},
        {"0x10", 16},
        {"0X10", 16},
        {"$fF", 255},
        {"$0", 0},
        {" +$7FFFFFFF", kMax},
        {"$FFFFFFFF", -1},
        {"$80000000", kMin},
        {"-$1", -1},
        {"-$FFFFFFFF", 1},
        // Negating the most negative pattern wraps around to itself.
        {"-$80000000", kMin},
        // Leading zeros are not significant digits.
        {"$000000000000FFFFFFFF", -1},
    };
    for (const auto& [text, value] : table) {
        EXPECT_EQ(ParseInt(text, 999), value) << "for \"" << text << "\"";
    }
}

TEST(ParseInt, InvalidGivesTheFallback) {
    const char* const table[] = {
        "",
        " ",
        "\t1",
        "1 ",
        "1a",
        "- 1",
        "--1",
        "+-1",
        "2147483648",
        "-2147483649",
        "99999999999999999999",
        "$",
        "x",
        "0x",
        "$ 1",
        "$1 ",
        "$-1",
        "0x1g",
        "$100000000",
        "1.0",
        "0x0x1",
        "$$1",
        "1e3",
    };
    for (const char* text : table) {
        EXPECT_EQ(ParseInt(text, 999), 999) << "for \"" << text << "\"";
    }
}

TEST(HexValue, BareDigitsOnly) {
    EXPECT_EQ(HexValue("0"), 0);
    EXPECT_EQ(HexValue("1A2B"), 0x1A2B);
    EXPECT_EQ(HexValue("ff"), 255);
    EXPECT_EQ(HexValue("7FFFFFFF"), kMax);
    EXPECT_EQ(HexValue("80000000"), kMin);
    for (const char* text : {"", " 10", "10 ", "0x10", "$10", "-1", "+1", "g", "100000000"}) {
        EXPECT_EQ(HexValue(text), -1) << "for \"" << text << "\"";
    }
}

TEST(UnescapeValue, Escapes) {
    const std::pair<std::string, Bytes> table[] = {
        {"", ""},
        {"DONOTCHECK", "DONOTCHECK"},
        {"\\x41", "A"},
        {"a\\\\b", B({0x61, 0x5C, 0x62})},
        {"\\'\\\"\\a\\b\\f\\n\\r\\t\\v", B({0x27, 0x22, 0x07, 0x08, 0x0C, 0x0A, 0x0D, 0x09, 0x0B})},
        {"\\x00\\xfF\\x7f", B({0x00, 0xFF, 0x7F})},
        {"\\x412", "A2"},
    };
    for (const auto& [text, bytes] : table) {
        const UnescapeResult result = UnescapeValue(text);
        EXPECT_TRUE(result.ok) << "for \"" << text << "\"";
        EXPECT_EQ(result.bytes, bytes) << "for \"" << text << "\"";
    }
}

TEST(UnescapeValue, FaultsKeepTheBytesDecodedBeforeThem) {
    const std::pair<std::string, Bytes> table[] = {
        {"ab\\", "ab"}, {"ab\\x4", "ab"},      {"\\x", ""},     {"a\\N", "a"},
        {"\\0", ""},    {"\\x4G", ""},         {"\\x 4", ""},   {"\\x-1", ""},
        {"\\x+1", ""},  {"x\\n\\q\\n", "x\n"}, {"\\u0041", ""}, {"\\X41", ""},
    };
    for (const auto& [text, bytes] : table) {
        const UnescapeResult result = UnescapeValue(text);
        EXPECT_FALSE(result.ok) << "for \"" << text << "\"";
        EXPECT_EQ(result.bytes, bytes) << "for \"" << text << "\"";
    }
}

// What EscapeValue gives must survive a regular-style line: printable
// characters only, no blank at either end, and UnescapeValue gives the
// bytes back.
void ExpectEscapedRoundTrip(const Bytes& bytes) {
    const Bytes text = EscapeValue(bytes);
    for (const char c : text) {
        ASSERT_TRUE(c >= 0x20 && c <= 0x7E) << "in \"" << text << "\"";
    }
    if (!text.empty()) {
        ASSERT_NE(text.front(), ' ') << "\"" << text << "\"";
        ASSERT_NE(text.back(), ' ') << "\"" << text << "\"";
    }
    const UnescapeResult result = UnescapeValue(text);
    ASSERT_TRUE(result.ok) << "for \"" << text << "\"";
    ASSERT_EQ(result.bytes, bytes) << "for \"" << text << "\"";
}

TEST(EscapeValue, Examples) {
    const std::pair<Bytes, std::string> table[] = {
        {"", ""},
        {"Hello, world", "Hello, world"},
        {" a b ", "\\x20a b\\x20"},
        {" ", "\\x20"},
        {"a\\b\\", "a\\\\b\\\\"},
        {"'\"`=<patch>#", "'\"`=<patch>#"},
        {B({0x00, 0x07, 0x0A, 0x0D, 0x09, 0x7F, 0xFF}), "\\x00\\a\\n\\r\\t\\x7F\\xFF"},
    };
    for (const auto& [bytes, text] : table) {
        EXPECT_EQ(EscapeValue(bytes), text);
    }
}

TEST(EscapeValue, UnescapeValueGivesEveryPrintableSequenceBack) {
    // Every sequence of up to two characters of 0x20..0x7E, then each of them
    // between two blanks and two backslashes.
    std::vector<Bytes> all = {""};
    for (int c = 0x20; c <= 0x7E; ++c) {
        all.push_back(Bytes(1, static_cast<char>(c)));
        for (int d = 0x20; d <= 0x7E; ++d) {
            all.push_back(B({c, d}));
        }
    }
    for (const Bytes& bytes : all) {
        ExpectEscapedRoundTrip(bytes);
        ExpectEscapedRoundTrip(" " + bytes + " ");
        ExpectEscapedRoundTrip("\\" + bytes + "\\");
    }
}

TEST(EscapeValue, UnescapeValueGivesAnyBytesBack) {
    std::mt19937 random(20240612);
    for (int i = 0; i < 20000; ++i) {
        Bytes bytes(random() % 24, '\0');
        // Mostly printable, so that escapes land next to plain characters.
        for (char& c : bytes) {
            c = static_cast<char>(random() % 4 == 0 ? random() % 256 : 0x20 + random() % 95);
        }
        ExpectEscapedRoundTrip(bytes);
    }
}

TEST(HexToBytes, PairsWithBlanksDropped) {
    const std::pair<const char*, Bytes> table[] = {
        {"DE AD be ef", B({0xDE, 0xAD, 0xBE, 0xEF})},
        {"DEADBEEF", B({0xDE, 0xAD, 0xBE, 0xEF})},
        {" D E A D ", B({0xDE, 0xAD})},
        {"0a0B", B({0x0A, 0x0B})},
        {"00", B({0x00})},
        // Invalid: odd count, no digits, non-digits, tabs.
        {"DEADBEE", ""},
        {"0x12", ""},
        {"", ""},
        {"   ", ""},
        {"DE\tAD", ""},
        {"-1", ""},
        {"+1", ""},
        {"0g", ""},
    };
    for (const auto& [text, bytes] : table) {
        EXPECT_EQ(HexToBytes(text), bytes) << "for \"" << text << "\"";
    }
}

TEST(BytesToHex, HexToBytesGivesEveryByteBack) {
    Bytes all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    EXPECT_EQ(BytesToHex(B({0xDE, 0xAD, 0x0F})), "DE AD 0F");
    EXPECT_EQ(BytesToHex(""), "");
    EXPECT_EQ(HexToBytes(BytesToHex(all)), all);
}

TEST(IntValueToByte, ZeroTo255Only) {
    for (const char* text : {"200", "$C8", "0xC8", " 200", "+200"}) {
        EXPECT_EQ(IntValueToByte(text), B({0xC8})) << "for \"" << text << "\"";
    }
    // Zero is a valid byte, not an empty result.
    EXPECT_EQ(IntValueToByte("0"), B({0x00}));
    EXPECT_EQ(IntValueToByte("-0"), B({0x00}));
    EXPECT_EQ(IntValueToByte("255"), B({0xFF}));
    for (const char* text : {"256", "-1", "200 ", "", "abc", "$100", "$FFFFFFFF"}) {
        EXPECT_EQ(IntValueToByte(text), "") << "for \"" << text << "\"";
    }
}

TEST(FloatValueToBytes, GrammarWithDecimalComma) {
    const std::pair<const char*, double> table[] = {
        {"1.5", 1.5},      {"1,5", 1.5},    {"1", 1.0},       {"-2", -2.0},
        {"  +1,5  ", 1.5}, {"1e3", 1000.0}, {"1E+3", 1000.0}, {"15e-1", 1.5},
        {"0,25E1", 2.5},   {"007.5", 7.5},  {"0", 0.0},       {"1.5e0001", 15.0},
    };
    for (const auto& [text, value] : table) {
        EXPECT_EQ(FloatValueToBytes(text), DoubleBytes(value)) << "for \"" << text << "\"";
    }
    EXPECT_EQ(FloatValueToBytes("1.5"), B({0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
    EXPECT_EQ(FloatValueToBytes("-2"), B({0, 0, 0, 0, 0, 0, 0, 0xC0}));
    EXPECT_EQ(FloatValueToBytes("-0"), B({0, 0, 0, 0, 0, 0, 0, 0x80}));
}

TEST(FloatValueToBytes, NotANumber) {
    // The separator needs digits on both sides, so "1," and ",5" are invalid.
    const char* const table[] = {
        "abc", "1,000.5", "1 000", "",    "   ", "1,",   ",5",    ".5",   "1.",
        "1e",  "1e+",     "e5",    "inf", "nan", "-inf", "0x1p3", "1.5f", "1..5",
        "--1", "+-1",     "1e5.0", "\t1", "1\t", "1,5,", "1e 5",  "- 1",  "1e--5",
    };
    for (const char* text : table) {
        EXPECT_EQ(FloatValueToBytes(text), "") << "for \"" << text << "\"";
    }
}

TEST(FloatValueToBytes, BeyondTheRangeOfADoubleIsInvalid) {
    for (const char* text :
         {"1e400", "-1e400", "1.8e308", "1e99999999999999999999", "100000000000000000000e289"}) {
        EXPECT_EQ(FloatValueToBytes(text), "") << "for \"" << text << "\"";
    }
    EXPECT_EQ(FloatValueToBytes("1.7976931348623157e308"), BitsBytes(0x7FEFFFFFFFFFFFFFull));
}

TEST(FloatValueToBytes, UnderflowGivesTheNearestDouble) {
    EXPECT_EQ(FloatValueToBytes("1e-400"), BitsBytes(std::uint64_t{0}));
    EXPECT_EQ(FloatValueToBytes("-1e-400"), BitsBytes(0x8000000000000000ull));
    EXPECT_EQ(FloatValueToBytes("0,0000001e-99999999999999"), BitsBytes(std::uint64_t{0}));
    EXPECT_EQ(FloatValueToBytes("0e99999999999999999999"), BitsBytes(std::uint64_t{0}));
    // Just above half the smallest subnormal rounds up to it.
    EXPECT_EQ(FloatValueToBytes("2.4703282292062328e-324"), BitsBytes(std::uint64_t{1}));
    EXPECT_EQ(FloatValueToBytes("4.9406564584124654e-324"), BitsBytes(std::uint64_t{1}));
}

TEST(FloatValueToBytes, CorrectlyRounded) {
    EXPECT_EQ(FloatValueToBytes("0.1"), BitsBytes(0x3FB999999999999Aull));
    EXPECT_EQ(FloatValueToBytes("0.1000000000000000055511151231257827021181583404541015625"),
              BitsBytes(0x3FB999999999999Aull));
    // 2^53 + 1 lies halfway between two doubles: ties go to even ...
    EXPECT_EQ(FloatValueToBytes("9007199254740993"), BitsBytes(0x4340000000000000ull));
    // ... and a digit far beyond the 17th decides it the other way.
    EXPECT_EQ(FloatValueToBytes("9007199254740993,00000000000000000000000001"),
              BitsBytes(0x4340000000000001ull));
}

TEST(FloatValueToBytes, RoundTripsEveryPrintedDouble) {
    std::mt19937_64 random(20240611);
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        if (((bits >> 52) & 0x7FF) == 0x7FF) {
            bits &= ~(std::uint64_t{1} << 62);  // keep it finite
        }
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", value);
        ASSERT_EQ(FloatValueToBytes(text), BitsBytes(bits)) << "for \"" << text << "\"";
    }
}

TEST(TextToUtf8Slots, OneSlotPerCharacter) {
    EXPECT_EQ(TextToUtf8Slots("ab"), B({0x61, 0, 0, 0, 0x62, 0, 0, 0}));
    EXPECT_EQ(TextToUtf8Slots("A\xC3\xA9\xE2\x82\xAC"),
              B({0x41, 0, 0, 0, 0xC3, 0xA9, 0, 0, 0xE2, 0x82, 0xAC, 0}));
    EXPECT_EQ(TextToUtf8Slots(std::string_view("\0", 1)), B({0, 0, 0, 0}));
    // The edges of each length: U+007F, U+0080, U+07FF, U+0800, U+D7FF,
    // U+E000, U+FFFF.
    EXPECT_EQ(
        TextToUtf8Slots("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"),
        B({0x7F, 0, 0,    0,    0xC2, 0x80, 0,    0,    0xDF, 0xBF, 0,    0,    0xE0, 0xA0,
           0x80, 0, 0xED, 0x9F, 0xBF, 0,    0xEE, 0x80, 0x80, 0,    0xEF, 0xBF, 0xBF, 0}));
    EXPECT_EQ(TextToUtf8Slots(""), "");
}

TEST(TextToUtf8Slots, AnythingButStrictUtf8UpToFfffIsInvalid) {
    const char* const table[] = {
        "a\xF0\x9F\x98\x80",  // U+1F600, four bytes
        "\x80",               // stray continuation byte
        "a\xBF",
        "\xC3",  // continuation missing
        "\xC3"
        "A",  // continuation out of range
        "\xE2\x82",
        "\xE2\x82"
        "A",
        "\xC0\x80",  // overlong forms
        "\xC1\xBF",
        "\xE0\x80\x80",
        "\xE0\x9F\xBF",
        "\xED\xA0\x80",  // surrogates
        "\xED\xBF\xBF",
        "\xF4\x8F\xBF\xBF",
        "\xF8\x88\x80\x80\x80",
        "\xFF",
    };
    for (const char* text : table) {
        EXPECT_EQ(TextToUtf8Slots(text), "") << "for \"" << text << "\"";
    }
}

TEST(XorMask, KeyZeroMasksWith80) {
    EXPECT_EQ(XorMask(B({0x00, 0x41}), 0), B({0x80, 0xC1}));
    EXPECT_EQ(XorMask(B({0x00, 0x41, 0xFF}), 0xFF), B({0xFF, 0xBE, 0x00}));
    EXPECT_EQ(XorMask("", 7), "");
}

TEST(XorMask, TwiceWithTheSameKeyRestores) {
    Bytes all;
    for (int v = 0; v < 256; ++v) {
        all += static_cast<char>(v);
    }
    for (int key = 0; key < 256; ++key) {
        const Bytes masked = XorMask(all, key);
        ASSERT_EQ(masked.size(), all.size());
        ASSERT_NE(masked, all) << "key " << key;
        ASSERT_EQ(XorMask(masked, key), all) << "key " << key;
    }
}

}  // namespace
}  // namespace hexmend
