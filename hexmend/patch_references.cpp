#include "patch_references.h"

#include "patch_blocks.h"
#include "patch_text.h"
#include "regular_engine.h"

namespace hexmend {

std::vector<FileReference> ReferencedFiles(std::string_view text) {
    const Lines lines = PrepareLines(text);
    std::vector<FileReference> files;
    for (const auto& [role, key] : {std::pair{FileReference::Role::kSource, "sourcefile"},
                                    std::pair{FileReference::Role::kTarget, "targetfile"}}) {
        std::string name = LookupKey(lines, key);
        if (!name.empty()) {
            files.push_back({role, std::move(name)});
        }
    }
    for (const PatchBlock& block : ListBlocks(lines)) {
        if (block.style != BlockStyle::kRegular || !block.enabled) {
            continue;
        }
        const auto first = lines.begin() + static_cast<std::ptrdiff_t>(block.firstLine);
        for (std::string& name : ReplacementFileNames(
                 Lines(first, first + static_cast<std::ptrdiff_t>(block.lineCount)))) {
            if (!name.empty()) {
                files.push_back({FileReference::Role::kReplacement, std::move(name)});
            }
        }
    }
    return files;
}

}  // namespace hexmend
