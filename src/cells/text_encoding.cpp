#include "cells/text_encoding.h"

#include "cells/xml_text.h"

#include <cstdint>

namespace tabulon {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

}  // namespace

bool startsWithUtf16Mark(std::string_view text) {
  if (text.size() < 2) return false;
  unsigned char a = static_cast<unsigned char>(text[0]), b = static_cast<unsigned char>(text[1]);
  return (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF);
}

std::string utf16ToUtf8(std::string_view text) {
  std::string out;
  if (!startsWithUtf16Mark(text)) return out;
  const bool little = static_cast<unsigned char>(text[0]) == 0xFF;
  auto unit = [&](std::size_t at) -> std::uint32_t {
    std::uint32_t lo = static_cast<unsigned char>(text[at + (little ? 0 : 1)]);
    std::uint32_t hi = static_cast<unsigned char>(text[at + (little ? 1 : 0)]);
    return hi << 8 | lo;
  };
  out.reserve(text.size() / 2);
  std::size_t at = 2;
  while (at + 1 < text.size()) {
    std::uint32_t u = unit(at);
    at += 2;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (at + 1 < text.size()) {
        std::uint32_t low = unit(at);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          at += 2;
          appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
          continue;
        }
      }
      appendUtf8(out, kReplacement);
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, u);
    }
  }
  if (at < text.size()) appendUtf8(out, kReplacement);
  return out;
}

}  // namespace tabulon
