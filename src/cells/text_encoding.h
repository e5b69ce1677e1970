// Parts written in UTF-16: a few writers store XML that way, with a
// byte-order mark; the scanners read UTF-8 only.
#pragma once

#include <string>
#include <string_view>

namespace tabulon {

// True when text starts with a UTF-16 byte-order mark (either order).
bool startsWithUtf16Mark(std::string_view text);

// The UTF-8 form of UTF-16 text that starts with a byte-order mark (the mark
// dropped). Unpaired surrogates and a trailing odd byte become U+FFFD.
std::string utf16ToUtf8(std::string_view text);

}  // namespace tabulon
