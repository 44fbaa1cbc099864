#include "host/web_content.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace hexmend {

WebContent::WebContent(UserFiles& files, int base)
    : files_(&files), base_(base), baseSize_(files.Size(base)), size_(baseSize_) {}

bool WebContent::Read(std::uint64_t offset, char* out, std::size_t n, std::size_t* got) const {
    *got = 0;
    if (offset >= size_) {
        return true;
    }
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - offset));
    const std::uint64_t end = offset + n;
    std::size_t fromBase = 0;
    if (offset < baseSize_) {
        const auto want = static_cast<std::size_t>(std::min(end, baseSize_) - offset);
        while (fromBase < want) {
            std::size_t part = 0;
            if (!files_->Read(base_, offset + fromBase, out + fromBase, want - fromBase, &part) ||
                part == 0) {
                return false;
            }
            fromBase += part;
        }
    }
    std::memset(out + fromBase, 0, n - fromBase);
    auto it = overlay_.upper_bound(offset);
    if (it != overlay_.begin()) {
        --it;
    }
    for (; it != overlay_.end() && it->first < end; ++it) {
        const std::uint64_t from = std::max(it->first, offset);
        const std::uint64_t to = std::min(it->first + it->second.size(), end);
        if (from < to) {
            std::memcpy(out + (from - offset), it->second.data() + (from - it->first),
                        static_cast<std::size_t>(to - from));
        }
    }
    *got = n;
    return true;
}

bool WebContent::Write(std::uint64_t offset, std::string_view data) {
    ++version_;
    // What lies inside the content now: its equal ends need not be stored.
    if (offset < size_ && !data.empty()) {
        const auto inside =
            static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), size_ - offset));
        std::string now(inside, '\0');
        std::size_t got = 0;
        if (!Read(offset, now.data(), inside, &got)) {
            return false;
        }
        std::size_t head = 0;
        while (head < inside && now[head] == data[head]) {
            ++head;
        }
        std::size_t tail = 0;
        if (inside == data.size()) {
            while (tail < inside - head && now[inside - 1 - tail] == data[inside - 1 - tail]) {
                ++tail;
            }
        }
        offset += head;
        data = data.substr(head, data.size() - head - tail);
    }
    if (!data.empty()) {
        Lay(offset, data);
    }
    return true;
}

void WebContent::Lay(std::uint64_t offset, std::string_view data) {
    const std::uint64_t end = offset + data.size();
    size_ = std::max(size_, end);
    // The entries that overlap or touch [offset, end).
    auto first = overlay_.upper_bound(offset);
    if (first != overlay_.begin()) {
        auto before = std::prev(first);
        if (before->first + before->second.size() >= offset) {
            first = before;
        }
    }
    auto last = first;
    while (last != overlay_.end() && last->first <= end) {
        ++last;
    }
    if (first == last) {
        overlay_.emplace(offset, std::string(data));
        return;
    }
    // Appending to the range it follows: the way a file is written whole.
    if (std::next(first) == last && first->first + first->second.size() == offset) {
        first->second.append(data);
        return;
    }
    const std::uint64_t from = std::min(first->first, offset);
    const auto lastEntry = std::prev(last);
    const std::uint64_t to = std::max(lastEntry->first + lastEntry->second.size(), end);
    std::string merged(static_cast<std::size_t>(to - from), '\0');
    for (auto it = first; it != last; ++it) {
        std::memcpy(merged.data() + (it->first - from), it->second.data(), it->second.size());
    }
    std::memcpy(merged.data() + (offset - from), data.data(), data.size());
    overlay_.erase(first, last);
    overlay_.emplace(from, std::move(merged));
}

std::shared_ptr<WebContent> WebContent::Prefix(std::uint64_t n) const {
    auto copy = std::make_shared<WebContent>();
    copy->files_ = files_;
    copy->base_ = base_;
    copy->baseSize_ = std::min(baseSize_, n);
    copy->size_ = std::min(size_, n);
    for (const auto& [offset, bytes] : overlay_) {
        if (offset >= n) {
            break;
        }
        copy->overlay_.emplace(
            offset, bytes.substr(0, static_cast<std::size_t>(
                                        std::min<std::uint64_t>(bytes.size(), n - offset))));
    }
    return copy;
}

}  // namespace hexmend
