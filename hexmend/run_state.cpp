#include "run_state.h"

#include <cstdio>

namespace hexmend {

Bytes FileBuffer;
Lines BlockLines;
std::string PatchFileDir;
bool SilentMode = false;
bool VerbatimMode = false;
bool CheckMode = false;
PatchDataState PatchData;

std::string PositionText(std::int32_t position) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X", static_cast<std::uint32_t>(position));
    return text;
}

void ResetRunState() {
    Bytes().swap(FileBuffer);
    Lines().swap(BlockLines);
    PatchFileDir.clear();
    SilentMode = false;
    VerbatimMode = false;
    CheckMode = false;
    PatchData = PatchDataState{};
}

}  // namespace hexmend
