// The block listing and switching, checked against what a run of the real
// engines says of each block, before and after every switch.

#include "patch_blocks.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "entry.h"
#include "host/host.h"
#include "memory_host.h"
#include "patch_references.h"
#include "patch_text.h"

namespace hexmend {
namespace {

// Blocks of both styles on and off in the ways the engines read them, with
// CR LF and LF line ends, indentation, keys in other letter case, a block of
// neither style and one never closed.
const std::string kPatch =
    "sourcefile=src.bin\r\n"
    "targetfile=out.bin\r\n"
    "<patch>\r\n"
    "name=regular on\r\n"
    "enabled=true\r\n"
    "</patch>\r\n"
    "  <PATCH>\n"
    "\tname=regular off\n"
    "  ENABLED=false\n"
    "</patch>\n"
    "<patch>\n"
    "enabled=yes\n"
    "name=regular, not quite true\n"
    "</patch>\n"
    "<patch>\n"
    "patch_name = zq on\n"
    "patch_enable = `yes`\n"
    "</patch>\n"
    "<patch>\n"
    "patch_name = zq without enable line\n"
    "patch_enable=`yes`\n"
    "</patch>\n"
    "<patch>\n"
    "PATCH_NAME = zq off\n"
    "Patch_Enable = `no` \n"
    "</patch>\n"
    "<patch>\n"
    "comment only\n"
    "</patch>\n"
    "<patch>\n"
    "name=never closed\n"
    "enabled=true\n";

// What a check run says of each block it walks: "line style name on|off".
std::vector<std::string> RunSays(const std::string& patch) {
    testing::MemoryHost host;
    host.PutFile("/bin/p.txt", patch);
    host.PutFile("/bin/src.bin", "source");
    {
        const ScopedHostOverride use(host);
        (void)RunHexmend({testing::MemoryHost::kProgramPath, "p.txt", "check=true"});
    }
    std::vector<std::string> said;
    std::istringstream lines(host.stdoutText);
    std::string line;
    std::string header;
    while (std::getline(lines, line)) {
        const std::size_t regular = line.find(": (regular patch) ");
        const std::size_t zq = line.find(": (zq-style patch) ");
        if (regular != std::string::npos) {
            header = line.substr(0, regular) + " regular " + line.substr(regular + 18);
        } else if (zq != std::string::npos) {
            header = line.substr(0, zq) + " zq " + line.substr(zq + 19);
        } else if (const std::size_t problem = line.find(": There is a problem.");
                   problem != std::string::npos) {
            const std::size_t number = line.find_last_not_of("0123456789", problem - 1) + 1;
            said.push_back(line.substr(number, problem - number) + " neither ");
        } else if (!header.empty()) {
            said.push_back(header + (line == "  skipped" ? " off" : " on"));
            header.clear();
        }
    }
    return said;
}

std::vector<std::string> Listed(const std::string& patch) {
    std::vector<std::string> listed;
    for (const PatchBlock& block : ListBlocks(PrepareLines(patch))) {
        const char* style = block.style == BlockStyle::kRegular ? "regular"
                            : block.style == BlockStyle::kZq    ? "zq"
                                                                : "neither";
        listed.push_back(std::to_string(block.line) + " " + style + " " + block.name +
                         (block.style == BlockStyle::kNeither ? ""
                          : block.enabled                     ? " on"
                                                              : " off"));
    }
    return listed;
}

TEST(PatchBlocksTest, ListsWhatTheRunSays) {
    const std::vector<std::string> listed = Listed(kPatch);
    EXPECT_EQ(listed.size(), 7u);
    EXPECT_EQ(listed, RunSays(kPatch));
}

TEST(PatchBlocksTest, EverySwitchTurnsOneBlockAndTouchesOneLine) {
    const std::vector<PatchBlock> blocks = ListBlocks(PrepareLines(kPatch));
    const Lines before = SplitLines(kPatch);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        for (const bool on : {true, false}) {
            SCOPED_TRACE(blocks[i].name + (on ? " on" : " off"));
            std::string switched;
            if (blocks[i].style == BlockStyle::kNeither) {
                EXPECT_FALSE(SwitchBlock(kPatch, blocks[i].line, on, &switched));
                continue;
            }
            ASSERT_TRUE(SwitchBlock(kPatch, blocks[i].line, on, &switched));
            EXPECT_EQ(Listed(switched), RunSays(switched));
            const std::vector<PatchBlock> now = ListBlocks(PrepareLines(switched));
            ASSERT_EQ(now.size(), blocks.size());
            for (std::size_t j = 0; j < blocks.size(); ++j) {
                EXPECT_EQ(now[j].enabled, j == i ? on : blocks[j].enabled);
            }
            // One line changed, or one inserted; every other byte stays.
            const Lines after = SplitLines(switched);
            std::size_t differ = 0;
            std::size_t a = 0;
            for (std::size_t b = 0; b < before.size(); ++b, ++a) {
                if (before[b] != after[a]) {
                    ++differ;
                    if (after.size() > before.size()) {
                        --b;
                    }
                }
            }
            EXPECT_LE(differ, 1u);
            EXPECT_EQ(switched.size() - switched.find("\n<patch>\nname=never closed"),
                      kPatch.size() - kPatch.find("\n<patch>\nname=never closed"));
        }
    }
}

TEST(PatchReferencesTest, NamesSourceTargetAndTheFilesOfEnabledReplaceFilePatches) {
    const std::string patch =
        "targetfile=out/new.bin\nsourcefile=old.bin\n"
        "<patch>\nname=a\nenabled=true\naction=replace_file\n"
        "position=0\nolddata=x\nnewdata=one.bin\n"
        "position=2\nolddata=y\nnewpart=sub/\nnewpart=two.bin\ncombineparts\n"
        "position=4\nolddata=z\n</patch>\n"
        "<patch>\nname=b\nenabled=false\naction=replace_file\n"
        "position=0\nolddata=x\nnewdata=off.bin\n</patch>\n";
    std::vector<std::string> named;
    for (const FileReference& file : ReferencedFiles(patch)) {
        named.push_back(std::to_string(static_cast<int>(file.role)) + ":" + file.name);
    }
    EXPECT_EQ(named, (std::vector<std::string>{"0:old.bin", "1:out/new.bin", "2:one.bin",
                                               "2:sub/two.bin"}));
}

}  // namespace
}  // namespace hexmend
