#include "cells/xml_text.h"

#include <cstdint>
#include <cstring>

namespace tabulon {

namespace {


int digitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the reference that starts with the '&' at raw[0]. Returns how many
// bytes it spans, or 0 when it is not one that decodes (it is then kept).
std::size_t decodeReference(std::string& out, std::string_view raw) {
  struct Named {
    std::string_view text;
    char value;
  };
  static constexpr Named kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  if (raw.size() < 2) return 0;
  if (raw[1] != '#') {
    for (const Named& named : kNamed) {
      if (raw.starts_with(named.text)) {
        out.push_back(named.value);
        return named.text.size();
      }
    }
    return 0;
  }
  std::size_t pos = 2;
  const bool hex = pos < raw.size() && raw[pos] == 'x';
  if (hex) ++pos;
  const int base = hex ? 16 : 10;
  const std::size_t first_digit = pos;
  std::uint32_t cp = 0;
  bool too_large = false;
  for (; pos < raw.size(); ++pos) {
    const int d = digitValue(raw[pos], hex);
    if (d < 0) break;
    // Past the last code point the value is invalid anyway; stop growing it
    // so that long digit runs cannot overflow.
    if (!too_large) {
      cp = cp * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
      too_large = cp > 0x10FFFF;
    }
  }
  if (pos == first_digit || pos >= raw.size() || raw[pos] != ';') return 0;
  if (too_large || cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  appendUtf8(out, cp);
  return pos + 1;
}

// Appends literal character data with its line ends normalised as an XML
// reader does: "\r\n" and a lone "\r" become "\n". A carriage return that
// is part of the text is written as a reference and survives.
void appendLiteral(std::string& out, std::string_view raw) {
  if (raw.empty()) return;
  const char* cr = static_cast<const char*>(std::memchr(raw.data(), '\r', raw.size()));
  if (cr == nullptr) {
    out.append(raw);
    return;
  }
  std::size_t pos = 0;
  while (cr != nullptr) {
    const std::size_t at = static_cast<std::size_t>(cr - raw.data());
    out.append(raw.substr(pos, at - pos));
    out.push_back('\n');
    pos = at + 1;
    if (pos < raw.size() && raw[pos] == '\n') ++pos;
    cr = pos < raw.size() ? static_cast<const char*>(std::memchr(raw.data() + pos, '\r', raw.size() - pos))
                          : nullptr;
  }
  out.append(raw.substr(pos));
}

}  // namespace

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void appendDecodedXml(std::string& out, std::string_view raw) {
  if (raw.empty()) return;  // its data() may be null, which memchr must not see
  const char* amp = static_cast<const char*>(std::memchr(raw.data(), '&', raw.size()));
  if (amp == nullptr) {
    appendLiteral(out, raw);
    return;
  }
  std::size_t pos = 0;
  while (amp != nullptr) {
    const std::size_t at = static_cast<std::size_t>(amp - raw.data());
    appendLiteral(out, raw.substr(pos, at - pos));
    const std::size_t used = decodeReference(out, raw.substr(at));
    if (used == 0) {
      out.push_back('&');
      pos = at + 1;
    } else {
      pos = at + used;
    }
    amp = static_cast<const char*>(std::memchr(raw.data() + pos, '&', raw.size() - pos));
  }
  appendLiteral(out, raw.substr(pos));
}

namespace {

// The unit of the escape "_xHHHH_" at text[at], or -1 when there is none.
long escapedUnit(std::string_view text, std::size_t at) {
  if (at + 7 > text.size() || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_') return -1;
  long unit = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    const int d = digitValue(text[i], true);
    if (d < 0) return -1;
    unit = unit * 16 + d;
  }
  return unit;
}

}  // namespace

void decodeCharacterEscapes(std::string& text) {
  std::size_t at = text.find("_x");
  if (at == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  for (; at != std::string::npos; at = text.find("_x", pos)) {
    out.append(text, pos, at - pos);
    long unit = escapedUnit(text, at);
    std::size_t used = 7;
    std::uint32_t cp = static_cast<std::uint32_t>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      long low = escapedUnit(text, at + 7);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
        used = 14;
      } else {
        unit = -1;
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      unit = -1;
    }
    if (unit <= 0) {
      out.push_back('_');
      pos = at + 1;
      continue;
    }
    appendUtf8(out, cp);
    pos = at + used;
  }
  out.append(text, pos, std::string::npos);
  text.swap(out);
}

}  // namespace tabulon
