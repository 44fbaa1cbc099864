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

void WebContent::Write(std::uint64_t offset, std::string_view data) {
    ++version_;
    size_ = std::max(size_, offset + data.size());
    LayOver(overlay_, offset, data);
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
