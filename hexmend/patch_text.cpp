#include "patch_text.h"

namespace hexmend {
namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void RemoveLeading(std::string& line, char byte) {
    std::size_t n = 0;
    while (line.size() - n >= 2 && line[n] == byte) {
        ++n;
    }
    line.erase(0, n);
}

}  // namespace

std::vector<LineSpan> SplitLineSpans(std::string_view text) {
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    std::vector<LineSpan> spans;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            spans.push_back({start, i - start});
            // CR LF is one line end; LF CR are two.
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2u : 1u;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) {
        spans.push_back({start, text.size() - start});
    }
    return spans;
}

Lines SplitLines(std::string_view text) {
    Lines lines;
    for (const LineSpan& span : SplitLineSpans(text)) {
        lines.emplace_back(text.substr(span.begin, span.size));
    }
    return lines;
}

void RemoveFirstLineMark(std::string& line) {
    RemoveLeading(line, '\xEF');
    RemoveLeading(line, '\xBB');
    RemoveLeading(line, '\xBF');
}

void TrimLeadingBlanks(std::string& line) {
    if (line.size() < 2) {
        return;
    }
    const std::size_t first = line.find_first_not_of(" \t");
    line.erase(0, first == std::string::npos ? line.size() : first);
}

Lines PrepareLines(std::string_view text) {
    Lines lines = SplitLines(text);
    if (!lines.empty()) {
        RemoveFirstLineMark(lines.front());
    }
    for (std::string& line : lines) {
        TrimLeadingBlanks(line);
    }
    return lines;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsOpeningTag(std::string_view line) {
    return EqualsIgnoringCase(line, "<patch>");
}

bool IsClosingTag(std::string_view line) {
    return EqualsIgnoringCase(line, "</patch>");
}

std::string_view KeyText(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

std::string_view ValueText(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
}

std::string LookupKey(const Lines& lines, std::string_view key) {
    for (const std::string& line : lines) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos &&
            EqualsIgnoringCase(std::string_view(line).substr(0, eq), key)) {
            return line.substr(eq + 1);
        }
    }
    return std::string();
}

}  // namespace hexmend
