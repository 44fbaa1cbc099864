#include "diff/line_diff.h"

#include <algorithm>
#include <cstdint>

#include "core/value_notation.h"

namespace hexmend {
namespace {

// How many lines ahead a changed line looks for the texts to agree again.
constexpr std::size_t kLookAhead = 16;
// Line comparisons allowed in all; beyond them the rest counts as changed.
constexpr std::uint64_t kComparisonBudget = 4 * 1000 * 1000;

// A text walked line by line; a line keeps its line feed.
class LineCursor {
  public:
    explicit LineCursor(std::string_view text) : text_(text) {}
    bool AtEnd() const { return at_ >= text_.size(); }
    // The current line and those after it, at most count of them.
    std::vector<std::string_view> Ahead(std::size_t count) const {
        std::vector<std::string_view> lines;
        for (std::size_t at = at_; at < text_.size() && lines.size() < count;) {
            const std::size_t end = LineEnd(at);
            lines.push_back(text_.substr(at, end - at));
            at = end;
        }
        return lines;
    }
    std::string_view Current() const { return text_.substr(at_, LineEnd(at_) - at_); }
    std::string_view Take() {
        const std::size_t end = LineEnd(at_);
        const std::string_view line = text_.substr(at_, end - at_);
        at_ = end;
        return line;
    }
    // Lines left, counting a last one without a line feed.
    std::uint64_t Remaining() const {
        const std::string_view rest = text_.substr(std::min(at_, text_.size()));
        const auto feeds = static_cast<std::uint64_t>(std::count(rest.begin(), rest.end(), '\n'));
        return feeds + (!rest.empty() && rest.back() != '\n' ? 1 : 0);
    }

  private:
    std::size_t LineEnd(std::size_t at) const {
        if (at >= text_.size()) {
            return text_.size();
        }
        const std::size_t feed = text_.find('\n', at);
        return feed == std::string_view::npos ? text_.size() : feed + 1;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// The length of the equal lines that both texts begin with.
std::size_t CommonLeadingLines(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t same = static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin()).first -
        a.begin());
    if (same == a.size() && same == b.size()) {
        return same;
    }
    // Back to the start of the line that differs.
    while (same > 0 && a[same - 1] != '\n') {
        --same;
    }
    return same;
}

// The length of the equal whole lines that both texts end with.
std::size_t CommonTrailingLines(std::string_view a, std::string_view b) {
    std::size_t same = 0;
    const std::size_t n = std::min(a.size(), b.size());
    while (same < n && a[a.size() - 1 - same] == b[b.size() - 1 - same]) {
        ++same;
    }
    if (same == a.size() && same == b.size()) {
        return same;
    }
    // Forward to the start of a line in both (after a line feed).
    while (same > 0 && !((same == a.size() || a[a.size() - 1 - same] == '\n') &&
                         (same == b.size() || b[b.size() - 1 - same] == '\n'))) {
        --same;
    }
    return same;
}

class DiffWriter {
  public:
    explicit DiffWriter(std::size_t maxLines) : maxLines_(maxLines) {}
    void Add(char mark, std::string_view line) {
        if (shown_.size() >= maxLines_) {
            ++more_;
            return;
        }
        if (!line.empty() && line.back() == '\n') {
            line.remove_suffix(1);
        }
        // Escaped between two stand-ins, so that blanks at the line's ends
        // show as blanks.
        const std::string shown =
            EscapeValue("|" + std::string(line.substr(0, kShownLineWidth)) + "|");
        std::string text = std::string(1, mark) + " " + shown.substr(1, shown.size() - 2);
        if (line.size() > kShownLineWidth) {
            text += "...";
        }
        shown_.push_back(std::move(text));
    }
    void AddUnshown(std::uint64_t count) { more_ += count; }
    std::vector<std::string> Finish() {
        if (more_ > 0) {
            shown_.push_back("... and " + std::to_string(more_) + " more line" +
                             (more_ == 1 ? "" : "s") + " differ");
        }
        return std::move(shown_);
    }

  private:
    std::size_t maxLines_;
    std::vector<std::string> shown_;
    std::uint64_t more_ = 0;
};

}  // namespace

std::vector<std::string> ShortLineDiff(std::string_view oldText, std::string_view newText,
                                       std::size_t maxLines) {
    const std::size_t lead = CommonLeadingLines(oldText, newText);
    oldText.remove_prefix(lead);
    newText.remove_prefix(lead);
    const std::size_t trail = CommonTrailingLines(oldText, newText);
    oldText.remove_suffix(trail);
    newText.remove_suffix(trail);

    LineCursor a(oldText);
    LineCursor b(newText);
    DiffWriter writer(maxLines);
    std::uint64_t budget = kComparisonBudget;
    while (!a.AtEnd() || !b.AtEnd()) {
        if (budget == 0) {
            writer.AddUnshown(a.Remaining() + b.Remaining());
            break;
        }
        if (a.AtEnd()) {
            writer.Add('+', b.Take());
            continue;
        }
        if (b.AtEnd()) {
            writer.Add('-', a.Take());
            continue;
        }
        --budget;
        if (a.Current() == b.Current()) {
            a.Take();
            b.Take();
            continue;
        }
        // The nearest pair of equal lines: skip i old and j new lines, the
        // fewest in all first.
        const std::vector<std::string_view> oldAhead = a.Ahead(kLookAhead + 1);
        const std::vector<std::string_view> newAhead = b.Ahead(kLookAhead + 1);
        std::size_t skipOld = 1;
        std::size_t skipNew = 1;
        bool found = false;
        for (std::size_t sum = 1; sum <= 2 * kLookAhead && !found && budget > 0; ++sum) {
            for (std::size_t i = 0; i <= sum && !found && budget > 0; ++i) {
                const std::size_t j = sum - i;
                if (i < oldAhead.size() && j < newAhead.size()) {
                    --budget;
                    if (oldAhead[i] == newAhead[j]) {
                        skipOld = i;
                        skipNew = j;
                        found = true;
                    }
                }
            }
        }
        for (std::size_t i = 0; i < skipOld && !a.AtEnd(); ++i) {
            writer.Add('-', a.Take());
        }
        for (std::size_t j = 0; j < skipNew && !b.AtEnd(); ++j) {
            writer.Add('+', b.Take());
        }
    }
    return writer.Finish();
}

}  // namespace hexmend
