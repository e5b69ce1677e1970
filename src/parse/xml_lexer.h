// The lexical layer every scanner of worksheet text shares: byte classes,
// where names end, where end tags end, and how comments, CDATA sections,
// processing instructions and declarations are stepped over. The block
// cutter and the row reader both use it, so they agree on every row end.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tabulon::lexer {

// Byte classes for the scanning loops: one table lookup per byte instead
// of a chain of comparisons.
enum : std::uint8_t {
  kLt = 1,        // '<'
  kSpace = 2,     // white space
  kNameStop = 4,  // ends a name: white space, '>', '/', '='
  kEdit = 8,      // needs decoding or erasing: '&', ';', '\r'
  kGt = 16,       // '>'
  kQuote = 32,    // '"' or '\''
};

constexpr std::array<std::uint8_t, 256> makeClasses() {
  std::array<std::uint8_t, 256> c{};
  c['<'] = kLt;
  for (unsigned char s : {' ', '\t', '\n', '\r'}) c[s] |= kSpace | kNameStop;
  c['>'] |= kNameStop | kGt;
  c['/'] |= kNameStop;
  c['='] |= kNameStop;
  c['&'] |= kEdit;
  c[';'] |= kEdit;
  c['\r'] |= kEdit;
  c['"'] |= kQuote;
  c['\''] |= kQuote;
  return c;
}
inline constexpr std::array<std::uint8_t, 256> kClass = makeClasses();

inline std::uint8_t classOf(char c) { return kClass[static_cast<unsigned char>(c)]; }
inline bool isSpace(char c) { return classOf(c) & kSpace; }


inline const char* findText(const char* p, const char* end, std::string_view needle) {
  if (end - p < static_cast<std::ptrdiff_t>(needle.size())) return nullptr;
  std::string_view hay(p, static_cast<std::size_t>(end - p));
  std::size_t at = hay.find(needle);
  return at == std::string_view::npos ? nullptr : p + at;
}

// The next '<' at or after p, or end. Most distances are a few bytes, where
// a plain loop beats a library call.
inline const char* findLt(const char* p, const char* end) {
  const char* stop = std::min(end, p + 32);
  while (p < stop) {
    if (*p == '<') return p;
    ++p;
  }
  if (p >= end) return end;
  const void* hit = std::memchr(p, '<', static_cast<std::size_t>(end - p));
  return hit ? static_cast<const char*>(hit) : end;
}

// Past a name that starts at p: it ends at white space, '>', '/', '=' or
// '<' (a '<' cannot stand inside a tag: a damaged tag ends before it).
inline const char* nameEnd(const char* p, const char* end) {
  while (p < end && !(classOf(*p) & (kNameStop | kLt))) ++p;
  return p;
}

// The local part of the name [name, stop): after its last ':'.
inline std::string_view localName(const char* name, const char* stop) {
  const char* local = name;
  for (const char* q = name; q < stop; ++q)
    if (*q == ':') local = q + 1;
  return std::string_view(local, static_cast<std::size_t>(stop - local));
}

// An end tag has no attributes: it stops at its first '>' or at a '<' that
// comes first. Returns that '>' or '<', or end when the text ends first.
inline const char* endTagStop(const char* p, const char* end) {
  while (p < end && *p != '>' && *p != '<') ++p;
  return p;
}

// True when the '<' at lt opens a comment, CDATA section, processing
// instruction or declaration rather than an element tag.
inline bool opensSpecialMarkup(const char* lt, const char* end) {
  return end - lt >= 2 && (lt[1] == '!' || lt[1] == '?');
}

// Past the special markup whose '<' is at lt: a comment ends at "-->", a
// CDATA section at "]]>", a processing instruction at "?>", any other
// declaration at its first '>'. nullptr when the text ends first.
inline const char* afterSpecialMarkup(const char* lt, const char* end) {
  const char* q = lt + 1;
  std::string_view terminator = ">";
  if (*q == '?') terminator = "?>";
  else if (end - q >= 3 && q[1] == '-' && q[2] == '-') terminator = "-->";
  else if (end - q >= 8 && std::memcmp(q, "![CDATA[", 8) == 0) terminator = "]]>";
  const char* stop = findText(q + 1, end, terminator);
  return stop == nullptr ? nullptr : stop + terminator.size();
}

}  // namespace tabulon::lexer
