// The page's host against the in-memory host: the same run over the same
// files says the same and writes the same bytes, while the user's files are
// read by range, ahead in pieces, never twice over.

#include "host/host_web.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "entry.h"
#include "memory_host.h"

namespace hexmend {
namespace {

// User files held in strings, with the fetches counted.
class StringFiles final : public UserFileSource {
  public:
    bool ReadRange(int file, std::uint64_t offset, std::size_t n, char* out) override {
        const std::string& bytes = files.at(file);
        if (offset + n > bytes.size()) {
            return false;
        }
        bytes.copy(out, n, static_cast<std::size_t>(offset));
        ++fetches;
        fetched += n;
        return true;
    }
    std::map<int, std::string> files;
    int fetches = 0;
    std::uint64_t fetched = 0;
};

std::string Hex(std::string_view bytes) {
    std::string hex;
    for (const char c : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", static_cast<unsigned char>(c));
        hex += two;
    }
    return hex;
}

// The bytes of content as the page assembles its download.
std::string Assemble(const WebContent& content, const StringFiles& files) {
    std::string bytes = content.base() < 0
                            ? std::string()
                            : files.files.at(content.base())
                                  .substr(0, static_cast<std::size_t>(content.baseSize()));
    bytes.resize(static_cast<std::size_t>(content.size()), '\0');
    for (const auto& [offset, written] : content.overlay()) {
        bytes.replace(static_cast<std::size_t>(offset), written.size(), written);
    }
    return bytes;
}

TEST(WebHostTest, RunsAsTheMemoryHostDoesReadingAheadOnce) {
    std::mt19937 random(20261209);
    std::string source(20u << 20, '\0');
    for (char& c : source) {
        c = static_cast<char>(random());
    }
    const std::string replacement = "from another file";
    // replace_file's old text is compared as written: free of line ends.
    for (std::size_t i = 16; i < 16 + replacement.size(); ++i) {
        source[i] = static_cast<char>('a' + i % 26);
    }
    std::string patch =
        "sourcefile=old.bin\ntargetfile=out/new.bin\n"
        "<patch>\nname=file\nenabled=true\naction=replace_file\nposition=10\n"
        "olddata=" +
        source.substr(16, replacement.size()) +
        "\nnewdata=part.bin\n</patch>\n"
        "<patch>\nname=many\nenabled=true\naction=replace_bytes\n";
    const std::size_t step = source.size() / 3000;
    std::uniform_int_distribution<std::size_t> jitter(64, step - 8);
    for (std::size_t i = 0; i < 3000; ++i) {
        const std::size_t position = i * step + jitter(random);
        std::string now = source.substr(position, 4);
        for (char& c : now) {
            c = static_cast<char>(c ^ 0x5A);
        }
        char line[32];
        std::snprintf(line, sizeof line, "position=%zX\n", position);
        patch +=
            line + ("olddata=" + Hex(source.substr(position, 4))) + "\nnewdata=" + Hex(now) + "\n";
    }
    patch += "</patch>\n";

    testing::MemoryHost memory;
    memory.PutFile("/bin/p.txt", patch);
    memory.PutFile("/bin/old.bin", source);
    memory.PutFile("/bin/part.bin", replacement);
    int memoryExit = 0;
    {
        const ScopedHostOverride use(memory);
        memoryExit = RunHexmend({testing::MemoryHost::kProgramPath, "p.txt"});
    }

    StringFiles files;
    files.files = {{0, source}, {1, replacement}};
    UserFiles userFiles(files);
    userFiles.Add(0, source.size());
    userFiles.Add(1, replacement.size());
    WebHost web(userFiles);
    web.PlaceUserFile("old.bin", 0);
    web.PlaceUserFile("part.bin", 1);
    web.PlaceFile("p.txt", patch);
    int webExit = 0;
    {
        const ScopedHostOverride use(web);
        webExit = RunHexmend({WebHost::kProgramPath, "p.txt"});
    }

    std::string said;
    for (const auto& [stream, text] : web.Console()) {
        said += text;
    }
    std::string expected = memory.stdoutText + memory.stderrText;
    for (std::size_t at = expected.find("/bin/"); at != std::string::npos;
         at = expected.find("/bin/", at)) {
        expected.replace(at, 5, "/hexmend/");
    }
    ASSERT_EQ(webExit, 0) << said;
    EXPECT_EQ(webExit, memoryExit);
    EXPECT_EQ(said, expected);
    const auto target = web.ContentAt("/hexmend/out/new.bin");
    ASSERT_NE(target, nullptr);
    ASSERT_NE(memory.GetFile("/bin/out/new.bin"), nullptr);
    EXPECT_TRUE(Assemble(*target, files) == *memory.GetFile("/bin/out/new.bin"));
    // The written ranges are the patch's bytes, over the source as base.
    EXPECT_EQ(target->base(), 0);
    EXPECT_LE(target->overlay().size(), 3001u);
    // Read ahead: a few small fetches, then the source in pieces, once.
    EXPECT_LE(files.fetches, UserFiles::kFewFetches + 8);
    EXPECT_LE(files.fetched,
              source.size() + UserFiles::kFewFetches * UserFiles::kBlock + UserFiles::kPiece);
}

TEST(WebContentTest, ReadsWhatWasWrittenOverItsBase) {
    std::mt19937 random(7);
    StringFiles files;
    files.files[3] = std::string(300000, 'b');
    UserFiles userFiles(files);
    userFiles.Add(3, 300000);
    WebContent content(userFiles, 3);
    std::string expected = files.files[3];
    for (int i = 0; i < 2000; ++i) {
        const std::size_t offset = random() % 310000;
        const std::string data(random() % 3000, static_cast<char>('A' + i % 26));
        content.Write(offset, data);
        if (expected.size() < offset) {
            expected.resize(offset, '\0');
        }
        expected.replace(offset, std::min(data.size(), expected.size() - offset), data);
        if (i % 100 == 99) {
            std::string read(expected.size(), '\0');
            std::size_t got = 0;
            ASSERT_TRUE(content.Read(0, read.data(), read.size(), &got));
            ASSERT_EQ(got, expected.size());
            ASSERT_TRUE(read == expected) << "after write " << i;
            EXPECT_TRUE(Assemble(*content.Prefix(1000), files) == expected.substr(0, 1000));
        }
    }
    for (auto it = content.overlay().begin(); std::next(it) != content.overlay().end(); ++it) {
        EXPECT_LT(it->first + it->second.size(), std::next(it)->first);
    }
}

}  // namespace
}  // namespace hexmend
