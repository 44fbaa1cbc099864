// The content of a file of the page's virtual folder: the first bytes of a
// user file (its base, read through UserFiles) with the ranges written to it
// laid over them. Memory holds the written ranges only, so a target made
// from a source of gigabytes costs what its patch changed; the page
// assembles the download from slices of the user's file and these ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "host/web_user_files.h"
#include "host/written_ranges.h"

namespace hexmend {

class WebContent {
  public:
    // No base: a file made by a run, empty until written.
    WebContent() = default;
    // The whole of user file number base.
    WebContent(UserFiles& files, int base);

    std::uint64_t size() const { return size_; }
    // The user file the content starts from (-1 for none) and how many of
    // its bytes it takes.
    int base() const { return base_; }
    std::uint64_t baseSize() const { return baseSize_; }
    // The written ranges by offset, disjoint and never touching each other.
    const WrittenRanges& overlay() const { return overlay_; }
    // Counts the writes: the file's modification time.
    std::uint64_t version() const { return version_; }

    // Reads up to n bytes at offset (fewer at the end). Returns false when
    // the base could not be read.
    bool Read(std::uint64_t offset, char* out, std::size_t n, std::size_t* got) const;
    // Writes data at offset, growing the content when it ends beyond it.
    void Write(std::uint64_t offset, std::string_view data);
    // A copy of the first n bytes, sharing the base.
    std::shared_ptr<WebContent> Prefix(std::uint64_t n) const;

  private:
    UserFiles* files_ = nullptr;
    int base_ = -1;
    std::uint64_t baseSize_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t version_ = 0;
    WrittenRanges overlay_;
};

}  // namespace hexmend
