#include "zq_engine.h"

#include "patch_text.h"
#include "reporter.h"
#include "run_state.h"

namespace hexmend {

bool ApplyZqStylePatch() {
    PatchData.position = -1;
    if (LookupKey(BlockLines, "patch_enable ") != " `yes`") {
        ReportMessage("  skipped", false);
        return true;
    }
    ReportMessage("  processing ...", false);
    for (const std::string& line : BlockLines) {
        if (KeyText(line).substr(0, 8) == "replace_") {
            ReportMessage("patch actions are not available in this build", true);
            return false;
        }
    }
    return true;
}

Triple ParseQuotedTriple(std::string_view, bool, bool*) {
    return Triple{};
}
Triple ParsePlainTriple(std::string_view) {
    return Triple{};
}

}  // namespace hexmend
