#include "core/file_io.h"

#include <gtest/gtest.h>

#include "core/run_failure.h"
#include "host/platform.h"

namespace hexmend {
namespace {

TEST(ResolvePath, RelativeIsCanonicalisedAgainstBase) {
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "c.txt"), "/a/b/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b", "c.txt"), "/a/b/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "../c.txt"), "/a/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "./x/./../c.txt"), "/a/b/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/", "../../../c.txt"), "/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/", "x//y///z"), "/a/x/y/z");
    EXPECT_EQ(ResolvePath(PlatformHost(), "", "c.txt"), "/c.txt");
}

TEST(ResolvePath, BackslashesAreSeparators) {
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "..\\sub\\c.txt"), "/a/sub/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "\\abs\\c.txt"), "/abs/c.txt");
}

TEST(ResolvePath, AbsoluteIsTakenAsWritten) {
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "/x/../y//z"), "/x/../y//z");
}

TEST(ResolvePath, TooLongIsARunTimeFailure) {
    EXPECT_THROW(ResolvePath(PlatformHost(), "/a/", std::string(5000, 'x')), RunTimeFailure);
}

TEST(FolderPart, UpToTheLastSeparator) {
    EXPECT_EQ(FolderPart(PlatformHost(), "/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(FolderPart(PlatformHost(), "/c.txt"), "/");
    EXPECT_EQ(FolderPart(PlatformHost(), "c.txt"), "");
}

}  // namespace
}  // namespace hexmend
