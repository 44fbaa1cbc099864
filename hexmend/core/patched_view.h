// The file as a run sees it: the source's bytes, read from the source file
// that stays open for the whole run, with every write of the run laid over
// them. Writes go to the overlay only; memory holds the overlay and bounded
// buffers, nothing in proportion to the source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "host/host.h"

namespace hexmend {

using Bytes = std::string;

class PatchedView {
  public:
    PatchedView() = default;
    PatchedView(const PatchedView&) = delete;
    PatchedView& operator=(const PatchedView&) = delete;

    // Takes over source, whose state when it was opened is state; path names
    // it in messages. Forgets earlier writes.
    void Attach(std::unique_ptr<File> source, std::string path, const FileState& state);
    // Takes content as the source's bytes, read once, instead of reading
    // them from the file as needed: for a file that reports a size of 0 but
    // has content (files under /proc). The size becomes content's.
    void Hold(Bytes content);
    // Closes the source; the view is empty again.
    void Release();

    // The source's size when it was attached; writes never change it.
    std::uint64_t size() const { return size_; }

    // The n bytes of the view at offset. REQUIRES offset + n <= size().
    // A read that fails is a run-time failure.
    Bytes Read(std::uint64_t offset, std::size_t n) const;
    // The index of the first byte of expected that differs from the view at
    // offset, or npos when all are equal. REQUIRES offset + expected.size()
    // <= size().
    std::size_t FirstDifference(std::uint64_t offset, std::string_view expected) const;
    // Lays data over the view at offset. REQUIRES offset + data.size() <=
    // size().
    void Write(std::uint64_t offset, std::string_view data);

    // The written ranges by offset, disjoint and never touching each other.
    const std::map<std::uint64_t, Bytes>& Overlay() const { return overlay_; }

    // True when the source's bytes are held (Hold), not read from the file.
    bool holdsContent() const { return held_; }
    const Bytes& heldContent() const { return content_; }

    File* source() const { return source_.get(); }
    const std::string& sourcePath() const { return path_; }
    const FileState& sourceState() const { return state_; }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  private:
    // Reads n bytes of the source at offset into out; a short read is a
    // run-time failure (the source shrank).
    void ReadSource(std::uint64_t offset, std::size_t n, char* out) const;

    std::unique_ptr<File> source_;
    std::string path_;
    FileState state_;
    std::uint64_t size_ = 0;
    bool held_ = false;
    Bytes content_;
    std::map<std::uint64_t, Bytes> overlay_;
};

}  // namespace hexmend
