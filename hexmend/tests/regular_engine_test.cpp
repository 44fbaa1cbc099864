#include "core/regular_engine.h"

#include <gtest/gtest.h>

#include <string>

#include "core/run_state.h"
#include "host/host.h"
#include "memory_host.h"
#include "view_source.h"

namespace hexmend {
namespace {

using namespace std::string_literals;

const std::string kProcessing = "  processing ...\n";

std::string ErrorLine(const std::string& text) {
    return "<14>ERROR:<7> " + text + "\n";
}

// One call of the regular engine over block lines and a buffer.
struct RegularCase {
    const char* what;
    Lines lines;
    Bytes buffer;
    bool result;
    std::string output;
    Bytes patched;
};

void PrintTo(const RegularCase& c, std::ostream* os) {
    *os << c.what;
}

class PendingPatch : public ::testing::TestWithParam<RegularCase> {};

TEST_P(PendingPatch, AppliesCompleteSets) {
    const RegularCase& c = GetParam();
    testing::MemoryHost host;
    RunState run(host);
    run.BlockLines = c.lines;
    testing::SetSource(host, run.FileBuffer, c.buffer);
    EXPECT_EQ(ApplyRegularPatch(run), c.result);
    EXPECT_EQ(host.stdoutText, c.output);
    EXPECT_EQ(testing::Contents(run.FileBuffer), c.patched);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PendingPatch,
    ::testing::Values(
        RegularCase{"enabled only when exactly true",
                    {"name=n", "enabled=True", "action=replace_bytes", "position=0", "olddata=61",
                     "newdata=62"},
                    "a",
                    true,
                    "  skipped\n",
                    "a"},
        RegularCase{"enabled with a trailing blank is off",
                    {"name=n", "enabled=true ", "position=zz"},
                    "a",
                    true,
                    "  skipped\n",
                    "a"},
        RegularCase{"the enabled key is found in any letter case",
                    {"name=n", "ENABLED=true", "action=replace_bytes", "position=0", "olddata=61",
                     "newdata=62"},
                    "a",
                    true,
                    kProcessing,
                    "b"},
        RegularCase{"a block without patch lines succeeds",
                    {"name=n", "enabled=true", "action=replace_bytes"},
                    "a",
                    true,
                    kProcessing,
                    "a"},
        RegularCase{"the order of a set's lines is free",
                    {"newdata=42", "name=n", "action=replace_bytes", "enabled=true", "olddata=62",
                     "position=1"},
                    "abc",
                    true,
                    kProcessing,
                    "aBc"},
        RegularCase{"name and action carry over to the next set",
                    {"name=n", "enabled=true", "action=replace_bytes", "position=0", "olddata=61",
                     "newdata=41", "position=2", "olddata=63", "newdata=43"},
                    "abc",
                    true,
                    kProcessing,
                    "AbC"},
        RegularCase{"a repeated line before completion replaces the value",
                    {"name=n", "enabled=true", "action=replace_bytes", "position=0", "olddata=ff",
                     "position=2", "olddata=63", "newdata=43"},
                    "abc",
                    true,
                    kProcessing,
                    "abC"},
        RegularCase{"a later non-empty action replaces, an empty one is ignored",
                    {"name=n", "enabled=true", "action=replace_int", "action=replace_bytes",
                     "action=", "position=0", "olddata=61", "newdata=41"},
                    "a",
                    true,
                    kProcessing,
                    "A"},
        RegularCase{
            "parts are appended and combineparts completes them",
            {"name=n", "enabled=true", "action=replace_bytes", "position=1", "oldpart=DE AD",
             "newpart=01 02", "oldpart= BE EF", "newpart= 03 04", "combineparts"},
            "\x00\xDE\xAD\xBE\xEF\x00"s,
            true,
            kProcessing,
            "\x00\x01\x02\x03\x04\x00"s},
        RegularCase{"olddata after oldpart replaces the parts",
                    {"name=n", "enabled=true", "action=replace_bytes", "position=0", "oldpart=ff",
                     "olddata=61", "newdata=41"},
                    "a",
                    true,
                    kProcessing,
                    "A"},
        RegularCase{"combineparts with a trailing blank is no key",
                    {"name=n", "enabled=true", "action=replace_bytes", "position=0", "oldpart=61",
                     "newpart=41", "combineparts "},
                    "a",
                    false,
                    kProcessing + ErrorLine("There was some problem in n"),
                    "a"},
        RegularCase{"keys are exact: blank before the = and other letter case",
                    {"name=n", "enabled=true", "action =replace_bytes", "Action=replace_bytes",
                     "position=0", "olddata=61", "newdata=41"},
                    "a",
                    false,
                    kProcessing + ErrorLine("There was some problem in n"),
                    "a"},
        RegularCase{"an invalid position never completes the set",
                    {"name=n", "enabled=true", "action=replace_bytes", "position=0x0", "olddata=61",
                     "newdata=41"},
                    "a",
                    false,
                    kProcessing + ErrorLine("There was some problem in n"),
                    "a"},
        RegularCase{"a later set without its own position fails at the end",
                    {"name=n", "enabled=true", "action=replace_bytes", "position=0", "olddata=61",
                     "newdata=41", "olddata=62", "newdata=42"},
                    "ab",
                    false,
                    kProcessing + ErrorLine("There was some problem in n"),
                    "Ab"},
        RegularCase{"a name with a capital letter is no name to the engine",
                    {"Name=n", "enabled=true", "position=0"},
                    "a",
                    false,
                    kProcessing + ErrorLine("There was some problem in "),
                    "a"},
        RegularCase{"a later name line renames the patch",
                    {"name=first", "enabled=true", "name=second", "action=replace_bytes",
                     "position=0", "olddata=6", "newdata=41"},
                    "a",
                    false,
                    kProcessing + "ERROR(a): wrong value in second (position=00)\n"s,
                    "a"},
        RegularCase{"the first failure stops reading the block",
                    {"name=n", "enabled=true", "action=replace_bytes", "position=0", "olddata=62",
                     "newdata=41", "action=replace_foo", "position=zz"},
                    "a",
                    false,
                    kProcessing + ErrorLine("olddata starting with 00 does not match"),
                    "a"}));

}  // namespace
}  // namespace hexmend
