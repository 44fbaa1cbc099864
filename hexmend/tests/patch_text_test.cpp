#include "core/patch_text.h"

#include <gtest/gtest.h>

namespace hexmend {
namespace {

TEST(SplitLines, CutsAtCrLfAndCrLf) {
    EXPECT_EQ(SplitLines("a\rb\nc\r\nd"), (Lines{"a", "b", "c", "d"}));
    // LF CR ends two lines; CR LF only one.
    EXPECT_EQ(SplitLines("a\n\rb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb"), (Lines{"a", "", "b"}));
}

TEST(SplitLines, LastLineEndAddsNoLine) {
    EXPECT_EQ(SplitLines("a\n"), (Lines{"a"}));
    EXPECT_EQ(SplitLines("a\n\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitLines("a"), (Lines{"a"}));
    EXPECT_EQ(SplitLines(""), Lines{});
    EXPECT_EQ(SplitLines("\n"), (Lines{""}));
}

TEST(SplitLines, ZeroByteEndsText) {
    EXPECT_EQ(SplitLines(std::string_view("ab\ncd\0ef\ngh", 11)), (Lines{"ab", "cd"}));
    // UTF-16 text ends at its first zero byte.
    EXPECT_EQ(SplitLines(std::string_view("t\0a\0r\0", 6)), (Lines{"t"}));
}

TEST(FirstLineMark, RemovedWhileTwoBytesRemain) {
    std::string line = "\xEF\xBB\xBFtargetfile=x";
    RemoveFirstLineMark(line);
    EXPECT_EQ(line, "targetfile=x");
    // The mark alone keeps its last byte.
    line = "\xEF\xBB\xBF";
    RemoveFirstLineMark(line);
    EXPECT_EQ(line, "\xBF");
    // Each byte kind is removed in its turn, repeated ones included.
    line = "\xEF\xEF\xBB\xBF\xBFx";
    RemoveFirstLineMark(line);
    EXPECT_EQ(line, "x");
    // Out of order, the later removals do not come back for earlier bytes.
    line = "\xBB\xEFx";
    RemoveFirstLineMark(line);
    EXPECT_EQ(line, "\xEFx");
}

TEST(TrimLeadingBlanks, OnlyLinesOfTwoOrMore) {
    const std::pair<std::string, std::string> table[] = {
        {" \t x ", "x "}, {" ", " "}, {"\t", "\t"}, {"  ", ""}, {" \t", ""}, {"x", "x"}, {"", ""},
    };
    for (const auto& [in, out] : table) {
        std::string line = in;
        TrimLeadingBlanks(line);
        EXPECT_EQ(line, out) << "for \"" << in << "\"";
    }
}

TEST(Tags, ExactApartFromLetterCase) {
    EXPECT_TRUE(IsOpeningTag("<patch>"));
    EXPECT_TRUE(IsOpeningTag("<PaTcH>"));
    EXPECT_FALSE(IsOpeningTag("<patch> "));
    EXPECT_FALSE(IsOpeningTag("<patch>x"));
    EXPECT_TRUE(IsClosingTag("</PATCH>"));
    EXPECT_FALSE(IsClosingTag("</patch>\t"));
    EXPECT_FALSE(IsClosingTag("<patch>"));
}

TEST(LookupKey, FirstMatchingLineRegardlessOfCase) {
    const Lines lines = {"comment", "TargetFile=first", "targetfile=second", "x=y=z"};
    EXPECT_EQ(LookupKey(lines, "targetfile"), "first");
    EXPECT_EQ(LookupKey(lines, "x"), "y=z");
    EXPECT_EQ(LookupKey(lines, "missing"), "");
}

TEST(LookupKey, ExactAboutBlanks) {
    const Lines lines = {"targetfile =a", "sourcefile= b", "patch_name = c"};
    EXPECT_EQ(LookupKey(lines, "targetfile"), "");
    EXPECT_EQ(LookupKey(lines, "sourcefile"), " b");
    EXPECT_EQ(LookupKey(lines, "patch_name "), " c");
}

TEST(PrepareLines, MarkThenTrimming) {
    EXPECT_EQ(PrepareLines("\xEF\xBB\xBF  a=1\r\n\t<patch>\n  \n"), (Lines{"a=1", "<patch>", ""}));
}

}  // namespace
}  // namespace hexmend
