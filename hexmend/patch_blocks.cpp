#include "patch_blocks.h"

#include "patch_text.h"

namespace hexmend {
namespace {

// The key of a regular block's and of a zq-style block's enable line.
constexpr std::string_view kRegularEnable = "enabled";
constexpr std::string_view kZqEnable = "patch_enable ";

PatchBlock Describe(const Lines& block) {
    PatchBlock described;
    const std::string name = LookupKey(block, "name");
    if (!LookupKey(block, kRegularEnable).empty() && !name.empty()) {
        described.style = BlockStyle::kRegular;
        described.name = name;
        described.enabled = LookupKey(block, kRegularEnable) == "true";
        return described;
    }
    const std::string zqName = LookupKey(block, "patch_name ");
    if (!zqName.empty()) {
        described.style = BlockStyle::kZq;
        described.name = zqName;
        described.enabled = LookupKey(block, kZqEnable) == " `yes`";
    }
    return described;
}

}  // namespace

std::vector<PatchBlock> ListBlocks(const Lines& lines) {
    std::vector<PatchBlock> blocks;
    bool inside = false;
    std::size_t first = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsOpeningTag(lines[i])) {
            inside = true;
            first = i + 1;
        } else if (IsClosingTag(lines[i]) && inside) {
            inside = false;
            PatchBlock block = Describe(Lines(lines.begin() + static_cast<std::ptrdiff_t>(first),
                                              lines.begin() + static_cast<std::ptrdiff_t>(i)));
            block.line = static_cast<int>(first);
            block.firstLine = first;
            block.lineCount = i - first;
            blocks.push_back(std::move(block));
        }
    }
    return blocks;
}

bool SwitchBlock(std::string_view text, int line, bool on, std::string* result) {
    const Lines lines = PrepareLines(text);
    const std::vector<LineSpan> spans = SplitLineSpans(text);
    for (const PatchBlock& block : ListBlocks(lines)) {
        if (block.line != line || block.style == BlockStyle::kNeither) {
            continue;
        }
        const bool regular = block.style == BlockStyle::kRegular;
        const std::string_view key = regular ? kRegularEnable : kZqEnable;
        const std::string_view value =
            regular ? (on ? "true" : "false") : (on ? " `yes`" : " `no`");
        for (std::size_t i = block.firstLine; i < block.firstLine + block.lineCount; ++i) {
            if (lines[i].find('=') == std::string::npos ||
                !EqualsIgnoringCase(KeyText(lines[i]), key)) {
                continue;
            }
            // The raw line's first "=" is the trimmed line's: only blanks
            // and tabs were trimmed.
            const std::string_view raw = text.substr(spans[i].begin, spans[i].size);
            const std::size_t valueBegin = spans[i].begin + raw.find('=') + 1;
            *result = std::string(text.substr(0, valueBegin));
            *result += value;
            *result += text.substr(spans[i].begin + spans[i].size);
            return true;
        }
        // No enable line: a zq-style block is off without one.
        *result = std::string(text);
        if (on) {
            const LineSpan& tag = spans[block.firstLine - 1];
            const std::size_t tagEnd = tag.begin + tag.size;
            const std::string_view lineEnd =
                text.substr(tagEnd, spans[block.firstLine].begin - tagEnd);
            result->insert(spans[block.firstLine].begin,
                           "patch_enable = `yes`" + std::string(lineEnd));
        }
        return true;
    }
    return false;
}

}  // namespace hexmend
