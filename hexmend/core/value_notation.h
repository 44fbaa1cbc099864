// The value notation of patch blocks: numbers, escapes, hexadecimal byte
// lists, doubles, UTF-8 slots and XOR masking. Pure functions; they report
// nothing. An invalid value gives an empty result (or a false flag from
// UnescapeValue), and the calling engine words the message.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/bytes.h"

namespace hexmend {

// Reads a 32-bit integer: optional leading blanks, one optional sign, then
// decimal digits, or a hexadecimal marker ("$", "x", "X", "0x", "0X") and at
// most eight significant hex digits taken as a 32-bit pattern. Anything else
// (trailing characters included) gives fallback.
std::int32_t ParseInt(std::string_view text, std::int32_t fallback);

// Bare hexadecimal digits as a 32-bit pattern ("ff" -> 255, "FFFFFFFF" -> -1);
// -1 for anything else. Same as ParseInt("$" + text, -1).
std::int32_t HexValue(std::string_view text);

struct UnescapeResult {
    bool ok = true;
    // The decoded bytes; when !ok, those decoded before the first fault.
    Bytes bytes;
};
// Replaces backslash escapes (\\ \' \" \a \b \f \n \r \t \v \xHH).
UnescapeResult UnescapeValue(std::string_view text);

// The inverse of UnescapeValue, for a value of a regular-style line:
// UnescapeValue(EscapeValue(bytes)) gives bytes back for any bytes. The
// result holds only the printable characters 0x20..0x7E, never a blank at
// its start or end (nothing an editor trims or a reader could take for the
// line's end), and never a lone backslash: "\\" stands for a backslash, the
// named escapes for their control characters and "\xHH" (upper-case) for
// every other byte outside 0x21..0x7E.
Bytes EscapeValue(std::string_view bytes);

// UnescapeValue on text's own storage, for values too large to copy: text
// becomes the decoded bytes (when false is returned, those decoded before
// the first fault). Returns the flag of UnescapeValue.
bool UnescapeInPlace(Bytes& text);

// "DE AD be ef" -> DE AD BE EF; blanks anywhere are dropped. Empty when
// invalid (odd digit count, a pair that is not two hex digits).
Bytes HexToBytes(std::string_view text);

// The inverse of HexToBytes: upper-case pairs separated by one blank
// ("DE AD BE EF"); empty for no bytes.
std::string BytesToHex(std::string_view bytes);

// A decimal or marked-hexadecimal integer 0..255 as one byte; empty otherwise.
Bytes IntValueToByte(std::string_view text);

// A decimal number with "." or "," as separator, as the 8 bytes of the
// nearest double, least significant first; empty when it is not a number or
// is beyond the range of a double.
Bytes FloatValueToBytes(std::string_view text);

// Each character of strict UTF-8 text (up to U+FFFF) as its UTF-8 bytes
// padded with zero bytes to 4; empty when the text is not such UTF-8.
Bytes TextToUtf8Slots(std::string_view text);

// Every byte XORed with key (0..255); a key of 0 masks with 0x80.
Bytes XorMask(std::string_view bytes, int key);

}  // namespace hexmend
