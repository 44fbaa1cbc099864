// The files the user gave the page, read by range from the browser's File
// objects, never whole: a file of gigabytes costs memory in proportion to
// the bytes a run looks at. Reads go through a cache that fetches small
// blocks while the run reads little, and large pieces once it reads much:
// in the browser each fetch costs about a millisecond whatever its size, so
// thousands of small fetches lose to reading ahead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <string>

namespace hexmend {

// Where the bytes come from: the page's reader of its File objects.
class UserFileSource {
  public:
    virtual ~UserFileSource() = default;
    // Reads exactly n bytes of user file number file at offset into out, the
    // range lying inside the file. Returns false when the browser cannot read
    // it (the file was changed or removed since it was chosen).
    virtual bool ReadRange(int file, std::uint64_t offset, std::size_t n, char* out) = 0;
};

class UserFiles {
  public:
    // Fetches of this size while a file has been fetched from few times.
    static constexpr std::size_t kBlock = std::size_t{64} << 10;
    // ... and of this size after kFewFetches.
    static constexpr std::size_t kPiece = std::size_t{16} << 20;
    static constexpr int kFewFetches = 64;
    // The most bytes cached per file.
    static constexpr std::size_t kCacheBytes = kPiece;

    explicit UserFiles(UserFileSource& source) : source_(source) {}
    UserFiles(const UserFiles&) = delete;
    UserFiles& operator=(const UserFiles&) = delete;

    // Makes user file number file, of size bytes, known.
    void Add(int file, std::uint64_t size);
    std::uint64_t Size(int file) const;

    // Reads up to n bytes of file at offset into out and stores the count in
    // *got (fewer at the end of the file). Returns false when a fetch failed.
    bool Read(int file, std::uint64_t offset, char* out, std::size_t n, std::size_t* got);

  private:
    struct Chunk {
        std::uint64_t offset = 0;
        std::string bytes;
    };
    struct Entry {
        std::uint64_t size = 0;
        int fetches = 0;
        // Most recently used first.
        std::list<Chunk> chunks;
        std::size_t cachedBytes = 0;
    };

    // The cached chunk of entry that holds offset, fetched when missing.
    const Chunk* ChunkAt(int file, Entry& entry, std::uint64_t offset);

    UserFileSource& source_;
    std::map<int, Entry> files_;
};

}  // namespace hexmend
