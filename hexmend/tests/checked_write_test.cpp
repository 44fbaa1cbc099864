#include "checked_write.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "capture_host.h"
#include "run_state.h"

namespace hexmend {
namespace {

class CheckedWriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        FileBuffer = "0123456789";
    }
    void TearDown() override { ResetRunState(); }

    // The mismatch message as the capture host records an error line.
    static std::string Mismatch(const std::string& position) {
        return "<14>ERROR:<7> olddata starting with " + position + " does not match\n";
    }

    testing::CaptureHost host_;
    ScopedHostOverride override_{host_};
};

TEST_F(CheckedWriteTest, WritesWhenOlddataMatches) {
    PatchData.position = 2;
    EXPECT_TRUE(CheckedWrite("234", "abc"));
    EXPECT_EQ(FileBuffer, "01abc56789");
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, MismatchReportsAndLeavesTheBufferAlone) {
    // The difference is in the last compared byte: nothing is written before it.
    PatchData.position = 3;
    EXPECT_FALSE(CheckedWrite("34X", "abc"));
    EXPECT_EQ(FileBuffer, "0123456789");
    EXPECT_EQ(host_.stdoutText, Mismatch("03"));
}

TEST_F(CheckedWriteTest, MismatchNamesThePositionInHexadecimal) {
    FileBuffer.assign(0x1A2C, 'z');
    PatchData.position = 0x1A2B;
    EXPECT_FALSE(CheckedWrite("y", "x"));
    EXPECT_EQ(host_.stdoutText, Mismatch("1A2B"));
}

TEST_F(CheckedWriteTest, SilentModeKeepsTheMismatchQuiet) {
    SilentMode = true;
    PatchData.position = 0;
    EXPECT_FALSE(CheckedWrite("X", "a"));
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, RangeEdgesFailWithoutAMessage) {
    // p + n equal to the length writes the last byte ...
    PatchData.position = 9;
    EXPECT_TRUE(CheckedWrite("9", "X"));
    EXPECT_EQ(FileBuffer, "012345678X");
    // ... one more does not fit, even with DONOTCHECK.
    PatchData.position = 9;
    EXPECT_FALSE(CheckedWrite("DONOTCHECK", "XY"));
    PatchData.position = 10;
    EXPECT_FALSE(CheckedWrite("DONOTCHECK", "X"));
    PatchData.position = 11;
    EXPECT_FALSE(CheckedWrite("DONOTCHECK", "X"));
    EXPECT_EQ(FileBuffer, "012345678X");
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, NegativePositionIsRefused) {
    for (const std::int32_t position : {-1, -2, std::numeric_limits<std::int32_t>::min()}) {
        PatchData.position = position;
        EXPECT_FALSE(CheckedWrite("DONOTCHECK", "X"));
        EXPECT_FALSE(CheckedWrite("0", "X"));
    }
    EXPECT_EQ(FileBuffer, "0123456789");
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, PositionNearTheTopDoesNotWrapAround) {
    // In 32 bits, 7FFFFFFF + 2 would wrap to a small negative number.
    PatchData.position = 0x7FFFFFFF;
    EXPECT_FALSE(CheckedWrite("DONOTCHECK", "XY"));
    PatchData.position = 0x7FFFFFFE;
    EXPECT_FALSE(CheckedWrite("DONOTCHECK", std::string(3, 'X')));
    EXPECT_EQ(FileBuffer, "0123456789");
}

TEST_F(CheckedWriteTest, DonotcheckWritesWhateverTheBufferHolds) {
    PatchData.position = 0;
    EXPECT_TRUE(CheckedWrite("DONOTCHECK", "abcdefghij"));
    EXPECT_EQ(FileBuffer, "abcdefghij");
    PatchData.position = 4;
    EXPECT_TRUE(CheckedWrite("DONOTCHECK", "Z"));
    EXPECT_EQ(FileBuffer, "abcdZfghij");
}

TEST_F(CheckedWriteTest, DonotcheckMustBeExact) {
    FileBuffer = "xDONOTCHECKx";
    PatchData.position = 0;
    for (const char* olddata : {"donotcheck", "DONOTCHECK ", " DONOTCHECK", "DONOTCHEC"}) {
        EXPECT_FALSE(CheckedWrite(olddata, "a")) << olddata;
    }
    EXPECT_EQ(FileBuffer, "xDONOTCHECKx");
    // Any other olddata is compared: here it matches the buffer.
    PatchData.position = 1;
    EXPECT_TRUE(CheckedWrite("DONOTCHECKx", "done"));
    EXPECT_EQ(FileBuffer, "xdoneTCHECKx");
}

TEST_F(CheckedWriteTest, OnlyTheOverwrittenBytesAreCompared) {
    // olddata longer than newdata: its bytes beyond newdata are not looked at.
    PatchData.position = 1;
    EXPECT_TRUE(CheckedWrite("12XYZ", "ab"));
    EXPECT_EQ(FileBuffer, "0ab3456789");
    // newdata longer than olddata: the bytes beyond olddata go unchecked.
    PatchData.position = 3;
    EXPECT_TRUE(CheckedWrite("3", "ABCD"));
    EXPECT_EQ(FileBuffer, "0abABCD789");
    EXPECT_EQ(host_.stdoutText, "");
}

TEST_F(CheckedWriteTest, ZeroBytesAreComparedAndWritten) {
    FileBuffer = std::string("a\0b", 3);
    PatchData.position = 0;
    EXPECT_TRUE(CheckedWrite(std::string("a\0b", 3), std::string("\0\0\0", 3)));
    EXPECT_EQ(FileBuffer, std::string(3, '\0'));
    EXPECT_FALSE(CheckedWrite(std::string("\0\x01", 2), "zz"));
    EXPECT_EQ(FileBuffer, std::string(3, '\0'));
}

}  // namespace
}  // namespace hexmend
