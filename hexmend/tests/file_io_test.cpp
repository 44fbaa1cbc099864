#include "core/file_io.h"

#include <gtest/gtest.h>

#include "core/run_failure.h"
#include "host/platform.h"

namespace hexmend {
namespace {

// Paths as the POSIX host takes them; the Windows host's are the end-to-end
// cases' (cases_windows.py).
class PosixPaths : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "POSIX paths; the Windows host's are the end-to-end cases' of "
                        "cases_windows.py";
#endif
    }
};

TEST_F(PosixPaths, ResolvePathRelativeIsCanonicalisedAgainstBase) {
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "c.txt"), "/a/b/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b", "c.txt"), "/a/b/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "../c.txt"), "/a/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "./x/./../c.txt"), "/a/b/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/", "../../../c.txt"), "/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/", "x//y///z"), "/a/x/y/z");
    EXPECT_EQ(ResolvePath(PlatformHost(), "", "c.txt"), "/c.txt");
}

TEST_F(PosixPaths, ResolvePathBackslashesAreSeparators) {
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "..\\sub\\c.txt"), "/a/sub/c.txt");
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "\\abs\\c.txt"), "/abs/c.txt");
}

TEST_F(PosixPaths, ResolvePathAbsoluteIsTakenAsWritten) {
    EXPECT_EQ(ResolvePath(PlatformHost(), "/a/b/", "/x/../y//z"), "/x/../y//z");
}

TEST(ResolvePath, TooLongIsARunTimeFailure) {
    EXPECT_THROW(ResolvePath(PlatformHost(), "/a/", std::string(5000, 'x')), RunTimeFailure);
}

TEST_F(PosixPaths, FolderPartUpToTheLastSeparator) {
    EXPECT_EQ(FolderPart(PlatformHost(), "/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(FolderPart(PlatformHost(), "/c.txt"), "/");
    EXPECT_EQ(FolderPart(PlatformHost(), "c.txt"), "");
}

}  // namespace
}  // namespace hexmend
