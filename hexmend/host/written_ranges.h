// The ranges written over a file's bytes, by offset: disjoint, and never
// touching each other (a write that meets a range joins it). What the
// patched view holds of a run's writes, and what the page's host holds of a
// written file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace hexmend {

using WrittenRanges = std::map<std::uint64_t, std::string>;

// Lays data over ranges at offset, joining the ranges it overlaps or
// touches into one. Writing on at the end of a range costs the bytes
// written, not the range's size.
void LayOver(WrittenRanges& ranges, std::uint64_t offset, std::string_view data);

}  // namespace hexmend
