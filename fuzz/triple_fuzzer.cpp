// The two triple parsers of zq-style lines on any value. A valid triple has
// a position and two non-empty values, and writing it back in its own form
// reads the same again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/value_notation.h"
#include "core/zq_engine.h"
#include "fuzz_check.h"

namespace {

using hexmend::Triple;

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

void CheckShape(const Triple& triple) {
    if (triple.valid) {
        FUZZ_CHECK(triple.position >= 0, "a valid triple has a position");
        FUZZ_CHECK(!triple.oldValue.empty() && !triple.newValue.empty(),
                   "a valid triple has both values");
    }
}

void CheckSame(const Triple& a, std::int32_t position, const Triple& b, const char* what) {
    FUZZ_CHECK(
        b.valid && b.position == position && b.oldValue == a.oldValue && b.newValue == a.newValue,
        what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);

    const Triple plain = hexmend::ParsePlainTriple(value);
    CheckShape(plain);
    if (plain.valid) {
        const std::int32_t position = plain.position;
        const Triple again = hexmend::ParsePlainTriple(hexmend::PositionText(position) + "," +
                                                       plain.oldValue + "," + plain.newValue);
        CheckSame(plain, position, again, "a plain triple reads the same again");
    }

    const Triple quoted = hexmend::ParseQuotedTriple(value, false);
    CheckShape(quoted);
    const std::int32_t quotedPosition = quoted.position;
    // A value ending in ", " would meet its closing backquote as the
    // separator ", `": such a triple cannot be written back.
    const bool writable = !EndsWith(quoted.oldValue, ", ") && !EndsWith(quoted.newValue, ", ");
    if (quoted.valid && writable) {
        const Triple again =
            hexmend::ParseQuotedTriple(" " + hexmend::PositionText(quotedPosition) + ", `" +
                                           quoted.oldValue + "`, `" + quoted.newValue + "`",
                                       false);
        CheckSame(quoted, quotedPosition, again, "a backquoted triple reads the same again");
    }

    bool unescapeFailed = false;
    const Triple unescaped = hexmend::ParseQuotedTriple(value, true, &unescapeFailed);
    CheckShape(unescaped);
    FUZZ_CHECK(unescaped.position == quotedPosition, "unescaping does not move the position");
    if (quotedPosition >= 0 && !unescapeFailed) {
        FUZZ_CHECK(unescaped.oldValue == hexmend::UnescapeValue(quoted.oldValue).bytes &&
                       unescaped.newValue == hexmend::UnescapeValue(quoted.newValue).bytes,
                   "unescaping follows the cutting");
    }
    return 0;
}
