#include "cells/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "base/failure.h"
#include "cells/xml_text.h"

namespace tabulon {

bool startsWithUtf16Mark(std::string_view text) {
  if (text.size() < 2) return false;
  unsigned char a = static_cast<unsigned char>(text[0]), b = static_cast<unsigned char>(text[1]);
  return (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF);
}

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;


// UTF-16 units from start to the end of text, in the given byte order.
std::string utf16Units(std::string_view text, bool little, std::size_t start) {
  std::string out;
  auto unit = [&](std::size_t at) -> std::uint32_t {
    std::uint32_t lo = static_cast<unsigned char>(text[at + (little ? 0 : 1)]);
    std::uint32_t hi = static_cast<unsigned char>(text[at + (little ? 1 : 0)]);
    return hi << 8 | lo;
  };
  out.reserve(text.size() / 2);
  std::size_t at = start;
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

// Length of the well-formed UTF-8 sequence at text[at], or 0: no overlong
// form, no surrogate, nothing past U+10FFFF (the rules of RFC 3629).
std::size_t utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  return length;
}

// text with every byte that starts no well-formed sequence made U+FFFD.
// The platform's converter copies UTF-8 "to UTF-8" without checking it
// (five-byte forms pass), so its output is not trusted as it stands.
std::string wellFormedUtf8(std::string text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = utf8SequenceAt(text, at);
    if (length == 0) break;
    at += length;
  }
  if (at == text.size()) return text;
  std::string out(text, 0, at);
  while (at < text.size()) {
    const std::size_t length = utf8SequenceAt(text, at);
    if (length == 0) {
      appendUtf8(out, kReplacement);
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The value of the encoding pseudo-attribute of the XML declaration at the
// start of head (after a UTF-8 mark and white space); "" when none.
std::string_view declaredEncoding(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  while (!head.empty() && isXmlSpace(head[0])) head.remove_prefix(1);
  if (!head.starts_with("<?xml")) return {};
  const std::size_t close = head.find("?>");
  std::string_view declaration = head.substr(0, close == std::string_view::npos ? 512 : close);
  std::size_t at = declaration.find("encoding");
  if (at == std::string_view::npos) return {};
  at += 8;
  while (at < declaration.size() && (declaration[at] == ' ' || declaration[at] == '=')) ++at;
  if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return {};
  const char quote = declaration[at++];
  const std::size_t end = declaration.find(quote, at);
  if (end == std::string_view::npos) return {};
  return declaration.substr(at, end - at);
}

// Encodings read as UTF-8 as they stand: UTF-8 itself and its subset
// ASCII; a declaration of UTF-16 over bytes that are not is a writer's
// mistake, and the bytes win.
bool readsAsUtf8(std::string_view name) {
  for (std::string_view same : {"UTF-8", "UTF8", "US-ASCII", "ASCII", "UTF-16", "UTF16", "UTF-16LE", "UTF-16BE"})
    if (equalsIgnoringCase(name, same)) return true;
  return false;
}

std::string namedToUtf8(std::string_view text, const std::string& name, std::string_view part) {
  iconv_t converter = iconv_open("UTF-8", name.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    // A name is short; a long one is shown cut, as it is damage anyway.
    const std::string shown = name.size() <= 64 ? name : name.substr(0, 64) + "...";
    throw Failure(TABULON_UNKNOWN_ENCODING, "the part " + std::string(part) + " is written in the encoding \"" +
                                                shown + "\", which this system cannot read");
  }
  std::string out;
  try {
    out.resize(text.size() + text.size() / 2 + 16);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    std::size_t written = 0;
    while (inLeft > 0) {
      char* to = out.data() + written;
      std::size_t outLeft = out.size() - written;
      const std::size_t result = iconv(converter, &in, &inLeft, &to, &outLeft);
      written = out.size() - outLeft;
      if (result != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() + inLeft * 2 + 16);
      } else {
        // A byte that does not belong to the encoding, or a sequence cut
        // short at the end: one replacement character, and on.
        out.resize(written);
        appendUtf8(out, kReplacement);
        written = out.size();
        out.resize(written + inLeft * 2 + 16);
        ++in;
        --inLeft;
      }
    }
    out.resize(written);
  } catch (...) {
    iconv_close(converter);
    throw;
  }
  iconv_close(converter);
  return wellFormedUtf8(std::move(out));
}

}  // namespace

std::string utf16ToUtf8(std::string_view text) {
  if (!startsWithUtf16Mark(text)) return {};
  return utf16Units(text, static_cast<unsigned char>(text[0]) == 0xFF, 2);
}

PartEncoding partEncoding(std::string_view head) {
  PartEncoding encoding;
  if (startsWithUtf16Mark(head)) {
    encoding.kind = static_cast<unsigned char>(head[0]) == 0xFF ? PartEncoding::Utf16Little : PartEncoding::Utf16Big;
  } else if (head.starts_with(std::string_view("<\0?\0", 4))) {
    encoding.kind = PartEncoding::Utf16Little;
  } else if (head.starts_with(std::string_view("\0<\0?", 4))) {
    encoding.kind = PartEncoding::Utf16Big;
  } else {
    const std::string_view name = declaredEncoding(head);
    if (!name.empty() && !readsAsUtf8(name)) {
      encoding.kind = PartEncoding::Named;
      encoding.name = std::string(name);
    }
  }
  return encoding;
}

bool needsTranscoding(std::string_view head) { return partEncoding(head).kind != PartEncoding::Utf8; }

std::string partToUtf8(std::string_view text, std::string_view part) {
  const PartEncoding encoding = partEncoding(text);
  const std::size_t mark = startsWithUtf16Mark(text) ? 2 : 0;
  switch (encoding.kind) {
    case PartEncoding::Utf8:
      return std::string(text);
    case PartEncoding::Utf16Little:
      return utf16Units(text, true, mark);
    case PartEncoding::Utf16Big:
      return utf16Units(text, false, mark);
    case PartEncoding::Named:
      break;
  }
  return namedToUtf8(text, encoding.name, part);
}

}  // namespace tabulon
