#include "host/written_ranges.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace hexmend {

void LayOver(WrittenRanges& ranges, std::uint64_t offset, std::string_view data) {
    if (data.empty()) {
        return;
    }
    const std::uint64_t end = offset + data.size();
    // The first range that overlaps or touches [offset, end) absorbs the
    // write and every later range it reaches, so ranges stay disjoint.
    auto first = ranges.upper_bound(offset);
    if (first != ranges.begin()) {
        auto before = std::prev(first);
        if (before->first + before->second.size() >= offset) {
            first = before;
        }
    }
    auto last = first;
    while (last != ranges.end() && last->first <= end) {
        ++last;
    }
    if (first == last) {
        ranges.emplace_hint(first, offset, std::string(data));
        return;
    }
    const std::uint64_t start = std::min(first->first, offset);
    const auto lastMerged = std::prev(last);
    const std::uint64_t mergedEnd = std::max(end, lastMerged->first + lastMerged->second.size());
    std::string merged;
    if (first->first <= offset) {
        merged = std::move(first->second);
    } else {
        merged.assign(static_cast<std::size_t>(first->first - start), '\0');
        merged += first->second;
    }
    merged.resize(static_cast<std::size_t>(mergedEnd - start), '\0');
    for (auto it = std::next(first); it != last; ++it) {
        std::copy(it->second.begin(), it->second.end(),
                  merged.begin() + static_cast<std::ptrdiff_t>(it->first - start));
    }
    std::copy(data.begin(), data.end(),
              merged.begin() + static_cast<std::ptrdiff_t>(offset - start));
    ranges.erase(first, last);
    ranges.emplace(start, std::move(merged));
}

}  // namespace hexmend
