#include "core/checked_write.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "core/run_state.h"
#include "memory_host.h"
#include "view_source.h"

namespace hexmend {
namespace {

class CheckedWriteTest : public ::testing::Test {
  protected:
    void SetUp() override { Source("0123456789"); }

    void Source(std::string bytes) { testing::SetSource(host_, run_.FileBuffer, std::move(bytes)); }
    std::string Patched() const { return testing::Contents(run_.FileBuffer); }
    bool Write(std::string_view olddata, std::string_view newdata) {
        return CheckedWrite(run_, olddata, newdata);
    }

    // The mismatch message as the capture host records an error line.
    static std::string Mismatch(const std::string& position) {
        return "<14>ERROR:<7> olddata starting with " + position + " does not match\n";
    }

    testing::MemoryHost host_;
    RunState run_{host_};
};

TEST_F(CheckedWriteTest, WritesWhenOlddataMatches) {
    run_.PatchData.position = 2;
    EXPECT_TRUE(Write("234", "abc"));
    EXPECT_EQ(Patched(), "01abc56789");
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, MismatchReportsAndLeavesTheBufferAlone) {
    // The difference is in the last compared byte: nothing is written before it.
    run_.PatchData.position = 3;
    EXPECT_FALSE(Write("34X", "abc"));
    EXPECT_EQ(Patched(), "0123456789");
    EXPECT_EQ(host_.stdoutText, Mismatch("03"));
}

TEST_F(CheckedWriteTest, MismatchNamesThePositionInHexadecimal) {
    Source(std::string(0x1A2C, 'z'));
    run_.PatchData.position = 0x1A2B;
    EXPECT_FALSE(Write("y", "x"));
    EXPECT_EQ(host_.stdoutText, Mismatch("1A2B"));
}

TEST_F(CheckedWriteTest, SilentModeKeepsTheMismatchQuiet) {
    run_.SilentMode = true;
    run_.PatchData.position = 0;
    EXPECT_FALSE(Write("X", "a"));
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, RangeEdgesFailWithoutAMessage) {
    // p + n equal to the length writes the last byte ...
    run_.PatchData.position = 9;
    EXPECT_TRUE(Write("9", "X"));
    EXPECT_EQ(Patched(), "012345678X");
    // ... one more does not fit, even with DONOTCHECK.
    run_.PatchData.position = 9;
    EXPECT_FALSE(Write("DONOTCHECK", "XY"));
    run_.PatchData.position = 10;
    EXPECT_FALSE(Write("DONOTCHECK", "X"));
    run_.PatchData.position = 11;
    EXPECT_FALSE(Write("DONOTCHECK", "X"));
    EXPECT_EQ(Patched(), "012345678X");
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, NegativePositionIsRefused) {
    for (const std::int32_t position : {-1, -2, std::numeric_limits<std::int32_t>::min()}) {
        run_.PatchData.position = position;
        EXPECT_FALSE(Write("DONOTCHECK", "X"));
        EXPECT_FALSE(Write("0", "X"));
    }
    EXPECT_EQ(Patched(), "0123456789");
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, PositionNearTheTopDoesNotWrapAround) {
    // In 32 bits, 7FFFFFFF + 2 would wrap to a small negative number.
    run_.PatchData.position = 0x7FFFFFFF;
    EXPECT_FALSE(Write("DONOTCHECK", "XY"));
    run_.PatchData.position = 0x7FFFFFFE;
    EXPECT_FALSE(Write("DONOTCHECK", std::string(3, 'X')));
    EXPECT_EQ(Patched(), "0123456789");
}

TEST_F(CheckedWriteTest, DonotcheckWritesWhateverTheBufferHolds) {
    run_.PatchData.position = 0;
    EXPECT_TRUE(Write("DONOTCHECK", "abcdefghij"));
    EXPECT_EQ(Patched(), "abcdefghij");
    run_.PatchData.position = 4;
    EXPECT_TRUE(Write("DONOTCHECK", "Z"));
    EXPECT_EQ(Patched(), "abcdZfghij");
}

TEST_F(CheckedWriteTest, DonotcheckMustBeExact) {
    Source("xDONOTCHECKx");
    run_.PatchData.position = 0;
    for (const char* olddata : {"donotcheck", "DONOTCHECK ", " DONOTCHECK", "DONOTCHEC"}) {
        EXPECT_FALSE(Write(olddata, "a")) << olddata;
    }
    EXPECT_EQ(Patched(), "xDONOTCHECKx");
    // Any other olddata is compared: here it matches the buffer.
    run_.PatchData.position = 1;
    EXPECT_TRUE(Write("DONOTCHECKx", "done"));
    EXPECT_EQ(Patched(), "xdoneTCHECKx");
}

TEST_F(CheckedWriteTest, OnlyTheOverwrittenBytesAreCompared) {
    // olddata longer than newdata: its bytes beyond newdata are not looked at.
    run_.PatchData.position = 1;
    EXPECT_TRUE(Write("12XYZ", "ab"));
    EXPECT_EQ(Patched(), "0ab3456789");
    // newdata longer than olddata: the bytes beyond olddata go unchecked.
    run_.PatchData.position = 3;
    EXPECT_TRUE(Write("3", "ABCD"));
    EXPECT_EQ(Patched(), "0abABCD789");
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, ZeroBytesAreComparedAndWritten) {
    Source(std::string("a\0b", 3));
    run_.PatchData.position = 0;
    EXPECT_TRUE(Write(std::string("a\0b", 3), std::string("\0\0\0", 3)));
    EXPECT_EQ(Patched(), std::string(3, '\0'));
    EXPECT_FALSE(Write(std::string("\0\x01", 2), "zz"));
    EXPECT_EQ(Patched(), std::string(3, '\0'));
}

}  // namespace
}  // namespace hexmend
