#include "host/web_user_files.h"

#include <algorithm>
#include <cstring>

namespace hexmend {

void UserFiles::Add(int file, std::uint64_t size) {
    Entry& entry = files_[file];
    entry = Entry();
    entry.size = size;
}

std::uint64_t UserFiles::Size(int file) const {
    const auto it = files_.find(file);
    return it == files_.end() ? 0 : it->second.size;
}

const UserFiles::Chunk* UserFiles::ChunkAt(int file, Entry& entry, std::uint64_t offset) {
    for (auto it = entry.chunks.begin(); it != entry.chunks.end(); ++it) {
        if (offset >= it->offset && offset - it->offset < it->bytes.size()) {
            entry.chunks.splice(entry.chunks.begin(), entry.chunks, it);
            return &entry.chunks.front();
        }
    }
    const std::size_t unit = entry.fetches < kFewFetches ? kBlock : kPiece;
    ++entry.fetches;
    Chunk chunk;
    chunk.offset = offset / unit * unit;
    const auto size =
        static_cast<std::size_t>(std::min<std::uint64_t>(unit, entry.size - chunk.offset));
    // Room first: the cache never holds more than kCacheBytes, not even
    // while it fetches.
    while (!entry.chunks.empty() && entry.cachedBytes + size > kCacheBytes) {
        entry.cachedBytes -= entry.chunks.back().bytes.size();
        entry.chunks.pop_back();
    }
    chunk.bytes.resize(size);
    if (!source_.ReadRange(file, chunk.offset, size, chunk.bytes.data())) {
        return nullptr;
    }
    entry.cachedBytes += size;
    entry.chunks.push_front(std::move(chunk));
    return &entry.chunks.front();
}

bool UserFiles::Read(int file, std::uint64_t offset, char* out, std::size_t n, std::size_t* got) {
    *got = 0;
    const auto it = files_.find(file);
    if (it == files_.end()) {
        return false;
    }
    Entry& entry = it->second;
    if (offset >= entry.size) {
        return true;
    }
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, entry.size - offset));
    // A read as large as a piece gains nothing from the cache.
    if (n >= kPiece) {
        if (!source_.ReadRange(file, offset, n, out)) {
            return false;
        }
        *got = n;
        return true;
    }
    while (*got < n) {
        const Chunk* chunk = ChunkAt(file, entry, offset + *got);
        if (chunk == nullptr) {
            return false;
        }
        const auto from = static_cast<std::size_t>(offset + *got - chunk->offset);
        const std::size_t take = std::min(n - *got, chunk->bytes.size() - from);
        std::memcpy(out + *got, chunk->bytes.data() + from, take);
        *got += take;
    }
    return true;
}

}  // namespace hexmend
