// Parts of any encoding transcoded to UTF-8: the result is always valid
// UTF-8, UTF-8 parts pass unchanged, and the only failure is an encoding
// the platform does not know.
#include <cstdint>

#include "base/failure.h"
#include "cells/text_encoding.h"
#include "fuzz_support.h"

namespace {

// Well-formed as RFC 3629 says: no overlong form, surrogate, or code point
// past U+10FFFF. Written apart from the library's own check on purpose.
bool validUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    std::uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    static constexpr std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tabulon::fuzz::require;
  const std::string_view raw = tabulon::fuzz::asText(data, size);
  const tabulon::PartEncoding encoding = tabulon::partEncoding(raw);
  require(tabulon::needsTranscoding(raw) == (encoding.kind != tabulon::PartEncoding::Utf8),
          "needsTranscoding disagrees with partEncoding");
  std::string text;
  try {
    text = tabulon::partToUtf8(raw, "part");
  } catch (const tabulon::Failure& failure) {
    require(failure.kind() == TABULON_UNKNOWN_ENCODING && encoding.kind == tabulon::PartEncoding::Named,
            "a failure other than an unknown named encoding");
    return 0;
  }
  if (encoding.kind == tabulon::PartEncoding::Utf8) {
    require(text == raw, "a UTF-8 part changed");
  } else {
    require(validUtf8(text), "the transcoded part is not UTF-8");
  }
  return 0;
}
