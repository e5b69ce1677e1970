// Decoding of character data cut out of an XML part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tabulon {

// XML white space: blank, tab, line feed, carriage return.
constexpr bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// s without the XML white space at either end.
inline std::string_view trimXmlSpace(std::string_view s) {
  while (!s.empty() && isXmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isXmlSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Appends the UTF-8 form of the code point cp (at most 0x10FFFF).
void appendUtf8(std::string& out, std::uint32_t cp);

// Appends raw to out with the five predefined entities (&amp; &lt; &gt;
// &quot; &apos;) and numeric references (&#NN; &#xHH;, valid code points as
// UTF-8) decoded once. A reference that is unknown or malformed is kept as
// written. Line ends in the literal text are normalised ("\r\n" and "\r"
// become "\n"), as an XML reader does.
void appendDecodedXml(std::string& out, std::string_view raw);

inline std::string decodeXml(std::string_view raw) {
  std::string decoded;
  decoded.reserve(raw.size());
  appendDecodedXml(decoded, raw);
  return decoded;
}

// Decodes, in place and once, the spreadsheet's own character escapes in
// string text: "_xHHHH_" (four hex digits) stands for that UTF-16 unit,
// written this way for characters XML cannot carry (a carriage return is
// "_x000D_"); "_x005F_" protects a literal "_". A surrogate pair of two
// escapes becomes one character; a lone surrogate or "_x0000_" stays as
// written.
void decodeCharacterEscapes(std::string& text);

}  // namespace tabulon
