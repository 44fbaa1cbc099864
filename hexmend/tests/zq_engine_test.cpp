#include "core/zq_engine.h"

#include <gtest/gtest.h>

#include <string>

#include "core/run_state.h"
#include "host/host.h"
#include "memory_host.h"
#include "view_source.h"

namespace hexmend {
namespace {

using namespace std::string_literals;

struct TripleCase {
    std::string value;
    bool valid;
    std::int32_t position;
    Bytes oldValue;
    Bytes newValue;
};

void PrintTo(const TripleCase& c, std::ostream* os) {
    *os << "value \"" << c.value << "\"";
}

class QuotedTriple : public ::testing::TestWithParam<TripleCase> {};

// Backquoted values, unescaped as the string, zlib and XOR actions take them.
TEST_P(QuotedTriple, SplitsAndUnescapes) {
    const TripleCase& c = GetParam();
    bool unescapeFailed = true;
    const Triple triple = ParseQuotedTriple(c.value, true, &unescapeFailed);
    EXPECT_FALSE(unescapeFailed);
    EXPECT_EQ(triple.valid, c.valid);
    EXPECT_EQ(triple.position, c.position);
    if (c.valid) {
        EXPECT_EQ(triple.oldValue, c.oldValue);
        EXPECT_EQ(triple.newValue, c.newValue);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuotedTriple,
    ::testing::Values(
        TripleCase{" 1A, `abc`, `de f`", true, 0x1A, "abc", "de f"},
        TripleCase{" 1a2b, `a`, `b`", true, 0x1A2B, "a", "b"},
        TripleCase{"10, `a`, `b`", true, 0x10, "a", "b"},
        TripleCase{"   10, `a`, `b`", true, 0x10, "a", "b"},
        TripleCase{"`10`, `a`, `b`", true, 0x10, "a", "b"},
        TripleCase{" 0, `a`, `b`", true, 0, "a", "b"},
        TripleCase{" 7FFFFFFF, `a`, `b`", true, 0x7FFFFFFF, "a", "b"},
        // A blank between a closing backquote and the next cut belongs to
        // the field; blanks at the end of the line end new.
        TripleCase{" 10, `a` , `b` ", true, 0x10, "a ", "b "},
        // Unescaping follows the cutting, so an escaped backquote survives.
        TripleCase{" 10, `\\x60`, `a\\\\b`", true, 0x10, "`", "a\\b"},
        TripleCase{" 10, `\\x00\\n`, `\\t\\'`", true, 0x10, "\0\n"s, "\t'"},
        TripleCase{" 10, `DONOTCHECK`, `0123456789`", true, 0x10, "DONOTCHECK", "0123456789"},
        // Empty old or new: the position is read, the value is invalid.
        TripleCase{" 10, ``, `b`", false, 0x10, "", ""},
        TripleCase{" 10, `a`, ``", false, 0x10, "", ""},
        // Position fields that are not bare hexadecimal digits below 80000000.
        TripleCase{" 10 , `a`, `b`", false, -1, "", ""},
        TripleCase{" 0x10, `a`, `b`", false, -1, "", ""},
        TripleCase{" -1, `a`, `b`", false, -1, "", ""},
        TripleCase{" 1 0, `a`, `b`", false, -1, "", ""},
        TripleCase{" 80000000, `a`, `b`", false, -1, "", ""},
        TripleCase{" zz, `a`, `b`", false, -1, "", ""}, TripleCase{", `a`, `b`", false, -1, "", ""},
        // Not three fields.
        TripleCase{" 10, `a`", false, -1, "", ""},
        TripleCase{" 10, `a`, `b`, `c`", false, -1, "", ""},
        TripleCase{" 10,`a`,`b`", false, -1, "", ""}, TripleCase{"", false, -1, "", ""}));

TEST(QuotedTripleUnescape, MalformedEscapeIsFlagged) {
    for (const char* value :
         {" 10, `a\\`, `b`", " 10, `a`, `b\\x4`", " 10, `\\N`, `b`", " 10, `\\x4g`, `b`"}) {
        bool unescapeFailed = false;
        const Triple triple = ParseQuotedTriple(value, true, &unescapeFailed);
        EXPECT_TRUE(unescapeFailed) << value;
        EXPECT_FALSE(triple.valid) << value;
        EXPECT_EQ(triple.position, 0x10) << value;
    }
}

TEST(QuotedTripleUnescape, NotAskedForLeavesBackslashes) {
    bool unescapeFailed = true;
    const Triple triple = ParseQuotedTriple(" 10, `a\\`, `\\x41`", false, &unescapeFailed);
    EXPECT_FALSE(unescapeFailed);
    ASSERT_TRUE(triple.valid);
    EXPECT_EQ(triple.oldValue, "a\\");
    EXPECT_EQ(triple.newValue, "\\x41");
}

class PlainTriple : public ::testing::TestWithParam<TripleCase> {};

TEST_P(PlainTriple, SplitsAndTrims) {
    const TripleCase& c = GetParam();
    const Triple triple = ParsePlainTriple(c.value);
    EXPECT_EQ(triple.valid, c.valid);
    EXPECT_EQ(triple.position, c.position);
    EXPECT_EQ(triple.oldValue, c.oldValue);
    EXPECT_EQ(triple.newValue, c.newValue);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlainTriple,
    ::testing::Values(
        TripleCase{" 10, 1.5, 2.5", true, 0x10, "1.5", "2.5"},
        TripleCase{"ff,a,b", true, 0xFF, "a", "b"},
        TripleCase{"  10  ,  a b  ,  c  ", true, 0x10, "a b", "c"},
        // Tabs are no blanks and stay.
        TripleCase{" 10, \ta, b\t", true, 0x10, "\ta", "b\t"},
        TripleCase{" 10, , b", false, 0x10, "", "b"}, TripleCase{" 10, a,", false, 0x10, "a", ""},
        // Decimal commas make more than three fields.
        TripleCase{" 10, 1,5, 2,5", false, -1, "", ""}, TripleCase{" 10, a", false, -1, "", ""},
        TripleCase{"", false, -1, "", ""},
        // An invalid position leaves old and new empty.
        TripleCase{" zz, a, b", false, -1, "", ""}, TripleCase{" 1 0, a, b", false, -1, "", ""},
        TripleCase{"\t10, a, b", false, -1, "", ""}, TripleCase{" $10, a, b", false, -1, "", ""},
        TripleCase{" FFFFFFFF, a, b", false, -1, "", ""}));

// Runs the zq engine over block lines and a buffer, capturing the output.
struct ZqRun {
    bool result = false;
    std::string output;
    Bytes buffer;
};

ZqRun RunZq(const Lines& lines, const Bytes& buffer) {
    testing::MemoryHost host;
    RunState state(host);
    state.BlockLines = lines;
    testing::SetSource(host, state.FileBuffer, buffer);
    ZqRun run;
    run.result = ApplyZqStylePatch(state);
    run.output = host.stdoutText;
    run.buffer = testing::Contents(state.FileBuffer);
    return run;
}

TEST(ZqEngine, HeaderRules) {
    const Lines body = {"patch_name = n", "replace_bytes = 0, 61, 62"};
    struct {
        std::string enableLine;
        bool applied;
    } cases[] = {
        {"patch_enable = `yes`", true},   {"PATCH_ENABLE = `yes`", true},
        {"patch_enable = yes", false},    {"patch_enable = `Yes`", false},
        {"patch_enable = `yes` ", false}, {"patch_enable=`yes`", false},
        {"patch_enable =`yes`", false},   {"", false},
    };
    for (const auto& c : cases) {
        Lines lines = body;
        lines.insert(lines.begin() + 1, c.enableLine);
        const ZqRun run = RunZq(lines, "a");
        EXPECT_TRUE(run.result) << c.enableLine;
        EXPECT_EQ(run.output, c.applied ? "  processing ...\n" : "  skipped\n") << c.enableLine;
        EXPECT_EQ(run.buffer, c.applied ? "b" : "a") << c.enableLine;
    }
}

TEST(ZqEngine, FirstHeaderLinesCount) {
    const ZqRun run = RunZq({"patch_name = first", "patch_name = second", "patch_enable = `yes`",
                             "patch_enable = `no`", "replace_int = 0, 1, 2"},
                            "a");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.output,
              "  processing ...\n<14>ERROR:<7> olddata starting with 00 does not match\n");
}

TEST(ZqEngine, LinesWithoutAnActionKeyHaveNoEffect) {
    const ZqRun run =
        RunZq({"patch_name = n", "patch_enable = `yes`", "Replace_bytes = 0, 61, 62",
               "replace_bytes= 0, 61, 62", "replace_xor_5A= 0, `a`, `b`",
               "replace_xor_5AXX = 0, `a`, `b`", "replace_bytes 0, 61, 62", "; a comment", ""},
              "a");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, "  processing ...\n");
    EXPECT_EQ(run.buffer, "a");
}

TEST(ZqEngine, PositionOfTheLastLineStays) {
    testing::MemoryHost host;
    RunState run(host);
    run.BlockLines = {"patch_name = n", "patch_enable = `yes`", "replace_bytes = 1, 62, 42",
                      "replace_bytes = 2, 63, 43"};
    testing::SetSource(host, run.FileBuffer, "abc");
    EXPECT_TRUE(ApplyZqStylePatch(run));
    EXPECT_EQ(run.PatchData.position, 2);
    EXPECT_EQ(testing::Contents(run.FileBuffer), "aBC");
}

}  // namespace
}  // namespace hexmend
