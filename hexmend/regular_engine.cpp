#include "regular_engine.h"

#include "patch_text.h"
#include "reporter.h"
#include "run_state.h"

namespace hexmend {

bool ApplyRegularPatch() {
    PatchData.position = -1;
    if (LookupKey(BlockLines, "enabled") != "true") {
        ReportMessage("  skipped", false);
        return true;
    }
    ReportMessage("  processing ...", false);
    for (const std::string& line : BlockLines) {
        const std::string_view key = KeyText(line);
        if (key == "action" || key == "position" || key == "olddata" || key == "newdata" ||
            key == "oldpart" || key == "newpart" || line == "combineparts") {
            ReportMessage("patch actions are not available in this build", true);
            return false;
        }
    }
    return true;
}

}  // namespace hexmend
