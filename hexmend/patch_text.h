// The patch file as text: cutting it into lines, the first-line mark and
// blank trimming, tag lines and the key lookup.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "run_state.h"

namespace hexmend {

// Cuts text into lines at CR, LF and CR LF (LF CR ends two lines). A line end
// at the very end adds no empty line; the first zero byte ends the text.
Lines SplitLines(std::string_view text);

// Where SplitLines finds each line in text: its first byte and its length
// (the line end excluded).
struct LineSpan {
    std::size_t begin = 0;
    std::size_t size = 0;
};
std::vector<LineSpan> SplitLineSpans(std::string_view text);

// Removes leading EF, then BB, then BF bytes from line, each only while the
// line still holds at least two bytes.
void RemoveFirstLineMark(std::string& line);

// A line of two or more characters loses its leading blanks and tabs.
void TrimLeadingBlanks(std::string& line);

// Cuts the patch file's text into lines and applies the first-line mark
// removal and the blank trimming.
Lines PrepareLines(std::string_view text);

// True when line, lower-cased, is exactly "<patch>" / "</patch>".
bool IsOpeningTag(std::string_view line);
bool IsClosingTag(std::string_view line);

// The text after the first "=" of the first line whose text before that "="
// equals key regardless of ASCII letter case; empty when no line has it.
std::string LookupKey(const Lines& lines, std::string_view key);

// line's text before its first "=" (empty when there is none) and after it.
std::string_view KeyText(std::string_view line);
std::string_view ValueText(std::string_view line);

// True when a and b are equal with the ASCII letters A-Z lower-cased.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace hexmend
