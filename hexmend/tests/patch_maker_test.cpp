// The patch maker sees the files in pieces of whatever size the reads give;
// where the pieces end must never show in the patch file's text. (That the
// text applies and gives the new file is the end-to-end round trip's part.)

#include "diff/patch_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace hexmend {
namespace {

class TextSink final : public PatchSink {
  public:
    void Write(std::string_view piece) override {
        ++writes;
        text.append(piece);
    }
    std::string text;
    int writes = 0;
};

// The text made from oldBytes and newBytes fed in pieces that end at cuts.
std::string Made(const std::string& oldBytes, const std::string& newBytes,
                 std::vector<std::size_t> cuts) {
    TextSink sink;
    PatchMaker maker(sink, "HEADER\n", "\n");
    cuts.push_back(0);
    cuts.push_back(oldBytes.size());
    std::sort(cuts.begin(), cuts.end());
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        const std::size_t length = cuts[k + 1] - cuts[k];
        maker.Feed(std::string_view(oldBytes).substr(cuts[k], length),
                   std::string_view(newBytes).substr(cuts[k], length));
    }
    maker.Finish();
    return sink.text;
}

TEST(PatchMaker, WherePiecesEndDoesNotShow) {
    std::mt19937 random(20240613);
    const auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    for (int round = 0; round < 200; ++round) {
        const std::size_t size = below(3 * kMaxSetBytes);
        std::string oldBytes(size, '\0');
        for (char& c : oldBytes) {
            c = static_cast<char>(round % 2 == 1 ? 0x20 + below(95) : below(256));
        }
        std::string newBytes = oldBytes;
        // Changes of every length up to two sets, with gaps around kRegionGap.
        for (std::size_t at = below(16); size > 0 && at < size;) {
            const std::size_t length =
                std::min(size - at, below(4) == 0 ? below(2 * kMaxSetBytes) + 1 : below(4) + 1);
            for (std::size_t i = at; i < at + length; ++i) {
                const auto byte = static_cast<unsigned char>(oldBytes[i]);
                newBytes[i] = static_cast<char>(byte ^ (1 + below(127)));
            }
            at += length + kRegionGap - 2 + below(4) + (below(4) == 0 ? below(300) : 0);
        }
        const std::string whole = Made(oldBytes, newBytes, {});
        ASSERT_EQ(whole.empty(), oldBytes == newBytes);
        if (!whole.empty()) {
            ASSERT_EQ(whole.rfind("HEADER\n<patch>\n", 0), 0u);
        }
        // Byte by byte around a few places, and at random.
        std::vector<std::size_t> cuts;
        for (std::size_t i = 0; i < size && cuts.size() < 300;
             i += 1 + below(i % 97 < 9 ? 2 : 900)) {
            cuts.push_back(i);
        }
        ASSERT_EQ(Made(oldBytes, newBytes, cuts), whole) << "round " << round;
    }
}

TEST(PatchMaker, HandsOverTextInBoundedPieces) {
    // Every byte differs: one region of many sets, written as it goes.
    const std::string oldBytes(40 * kMaxSetBytes, 'a');
    const std::string newBytes(oldBytes.size(), '\xFF');
    TextSink sink;
    PatchMaker maker(sink, "", "\n");
    maker.Feed(oldBytes, newBytes);
    EXPECT_GT(sink.writes, 5);
    maker.Finish();
    EXPECT_EQ(maker.Regions(), 1u);
    EXPECT_EQ(maker.ChangedBytes(), oldBytes.size());
}

}  // namespace
}  // namespace hexmend
