// A short line diff of two texts, for the comment lines of a patch file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hexmend {

// The lines that differ between the texts, in order: "- " and an old line or
// "+ " and a new line, the line escaped as a value (blanks at its ends
// kept as blanks) and cut after
// kShownLineWidth characters. At most maxLines of them, then one line
// "... and N more lines differ". Lines end after each line feed.
//
// Equal lines at both ends are skipped; between them a line that differs is
// matched with the nearest equal pair of lines within a few lines ahead, and
// the work done is bounded: past a budget of line comparisons the rest of
// both texts counts as differing. The time is proportional to the texts and
// the memory to the shown lines.
inline constexpr std::size_t kShownLineWidth = 100;
std::vector<std::string> ShortLineDiff(std::string_view oldText, std::string_view newText,
                                       std::size_t maxLines);

}  // namespace hexmend
