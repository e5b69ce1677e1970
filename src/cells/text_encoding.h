// Parts written in other encodings than UTF-8. The scanners read UTF-8
// only; a part in UTF-16 (with or without a byte-order mark) or in an
// encoding its XML declaration names is transcoded once, whole, before
// it is read.
#pragma once

#include <string>
#include <string_view>

namespace tabulon {

// True when text starts with a UTF-16 byte-order mark (either order).
bool startsWithUtf16Mark(std::string_view text);

// The UTF-8 form of UTF-16 text that starts with a byte-order mark (the mark
// dropped). Unpaired surrogates and a trailing odd byte become U+FFFD.
std::string utf16ToUtf8(std::string_view text);

// How a part's bytes are written, told from its first bytes: a byte-order
// mark, "<?xml" in UTF-16 of either order, or the encoding its XML
// declaration names.
struct PartEncoding {
  enum Kind { Utf8, Utf16Little, Utf16Big, Named } kind = Utf8;
  std::string name;  // Named: as the declaration writes it
};
PartEncoding partEncoding(std::string_view head);

// True when the part whose text starts with head is not UTF-8 (or ASCII).
bool needsTranscoding(std::string_view head);

// The UTF-8 form of a whole part. Bytes that do not belong to the encoding
// become U+FFFD. An encoding the platform's converter does not know throws
// a Failure (TABULON_UNKNOWN_ENCODING) naming it and part.
std::string partToUtf8(std::string_view text, std::string_view part);

}  // namespace tabulon
