// The files a patch file names: what a front-end must have at hand before a
// run can read them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hexmend {

struct FileReference {
    enum class Role { kSource, kTarget, kReplacement };
    Role role = Role::kSource;
    // The name as the patch file writes it, to be resolved against the
    // patch file's folder.
    std::string name;
};

// The files a run of the patch file text reads or writes: its "sourcefile"
// and "targetfile" when they are given, then the file of every replace_file
// patch of the regular blocks that are enabled, in order.
std::vector<FileReference> ReferencedFiles(std::string_view text);

}  // namespace hexmend
