#include "core/patched_view.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "memory_host.h"
#include "view_source.h"

namespace hexmend {
namespace {

// Random writes of random lengths, overlapping, touching and apart, against
// a plain string that takes the same writes: every read and comparison of
// the view must agree with the string, the source file must stay as it was,
// and the overlay must stay a set of disjoint ranges that do not touch.
TEST(PatchedView, AgreesWithAPlainBufferUnderRandomWrites) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 200; ++round) {
        testing::MemoryHost host;
        const std::size_t size = 1 + random() % 300;
        std::string source(size, '\0');
        for (char& c : source) {
            c = static_cast<char>('a' + random() % 26);
        }
        PatchedView view;
        testing::SetSource(host, view, source);
        std::string model = source;
        for (int step = 0; step < 40; ++step) {
            const std::size_t at = random() % size;
            const std::size_t n = random() % (size - at + 1);
            if (random() % 2 == 0) {
                std::string data(n, '\0');
                for (char& c : data) {
                    c = static_cast<char>('A' + random() % 26);
                }
                view.Write(at, data);
                model.replace(at, n, data);
            }
            ASSERT_EQ(view.Read(at, n), model.substr(at, n));
            const std::string expected = model.substr(at, n);
            ASSERT_EQ(view.FirstDifference(at, expected), PatchedView::npos);
            if (n > 0) {
                std::string changed = expected;
                const std::size_t flip = random() % n;
                changed[flip] = '#';
                ASSERT_EQ(view.FirstDifference(at, changed), flip);
            }
        }
        ASSERT_EQ(testing::Contents(view), model);
        ASSERT_EQ(*host.GetFile("/view/source.bin"), source);
        std::uint64_t end = 0;
        bool first = true;
        for (const auto& [offset, bytes] : view.Overlay()) {
            ASSERT_FALSE(bytes.empty());
            ASSERT_TRUE(first || offset > end) << "ranges overlap or touch at " << offset;
            end = offset + bytes.size();
            first = false;
        }
    }
}

}  // namespace
}  // namespace hexmend
