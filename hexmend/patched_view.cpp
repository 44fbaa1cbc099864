#include "patched_view.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "file_io.h"
#include "host/written_ranges.h"
#include "run_failure.h"

namespace hexmend {
namespace {

// How much of the source a comparison reads at a time.
constexpr std::size_t kCompareChunk = std::size_t{64} << 10;

}  // namespace

void PatchedView::Attach(std::unique_ptr<File> source, std::string path, const FileState& state) {
    source_ = std::move(source);
    path_ = std::move(path);
    state_ = state;
    size_ = state.size;
    held_ = false;
    content_.clear();
    overlay_.clear();
}

void PatchedView::Hold(Bytes content) {
    content_ = std::move(content);
    held_ = true;
    size_ = content_.size();
}

void PatchedView::Release() {
    source_.reset();
    size_ = 0;
    held_ = false;
    Bytes().swap(content_);
    overlay_.clear();
}

void PatchedView::ReadSource(std::uint64_t offset, std::size_t n, char* out) const {
    if (held_) {
        std::copy_n(content_.data() + offset, n, out);
        return;
    }
    if (!ReadExactlyAt(*source_, offset, n, out)) {
        throw RunTimeFailure("hexmend: cannot read " + path_ +
                             ": the file shrank while it was patched");
    }
}

Bytes PatchedView::Read(std::uint64_t offset, std::size_t n) const {
    Bytes bytes(n, '\0');
    if (n == 0) {
        return bytes;
    }
    const std::uint64_t end = offset + n;
    // Source bytes first, then every overlapping written range over them.
    // Where the overlay covers the whole range the source is not read.
    auto it = overlay_.upper_bound(offset);
    if (it != overlay_.begin()) {
        --it;
    }
    std::uint64_t covered = offset;
    for (auto scan = it; scan != overlay_.end() && scan->first < end; ++scan) {
        const std::uint64_t rangeEnd = scan->first + scan->second.size();
        if (rangeEnd <= covered) {
            continue;
        }
        if (scan->first > covered) {
            ReadSource(covered, static_cast<std::size_t>(scan->first - covered),
                       &bytes[static_cast<std::size_t>(covered - offset)]);
        }
        const std::uint64_t from = std::max(scan->first, covered);
        const std::uint64_t to = std::min(rangeEnd, end);
        std::copy_n(scan->second.data() + (from - scan->first), to - from,
                    &bytes[static_cast<std::size_t>(from - offset)]);
        covered = to;
    }
    if (covered < end) {
        ReadSource(covered, static_cast<std::size_t>(end - covered),
                   &bytes[static_cast<std::size_t>(covered - offset)]);
    }
    return bytes;
}

std::size_t PatchedView::FirstDifference(std::uint64_t offset, std::string_view expected) const {
    for (std::size_t done = 0; done < expected.size(); done += kCompareChunk) {
        const std::size_t n = std::min(kCompareChunk, expected.size() - done);
        const Bytes found = Read(offset + done, n);
        const auto mismatch = std::mismatch(found.begin(), found.end(), expected.begin() + done);
        if (mismatch.first != found.end()) {
            return done + static_cast<std::size_t>(mismatch.first - found.begin());
        }
    }
    return npos;
}

void PatchedView::Write(std::uint64_t offset, std::string_view data) {
    LayOver(overlay_, offset, data);
}

}  // namespace hexmend
