// The lexical layer every reader of XML text shares: byte classes, white
// space, where names end, where quoted values and end tags end, how the
// attributes of a tag are walked, and how comments, CDATA sections,
// processing instructions and declarations are stepped over. The part
// readers, the block cutter and the row reader all build on it, so they
// agree on every tag and every row end of a sheet.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "cells/xml_text.h"

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
  for (int b = 0; b < 256; ++b)
    if (isXmlSpace(static_cast<char>(b))) c[static_cast<std::size_t>(b)] |= kSpace | kNameStop;
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

inline const char* skipSpace(const char* p, const char* end) {
  while (p < end && isSpace(*p)) ++p;
  return p;
}

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

// The end of a quoted value whose text starts at p: its closing quote, or a
// '<' that comes first (the tag was damaged and ends there), or end.
inline const char* quotedValueEnd(const char* p, const char* end, char quote) {
  while (p < end && *p != quote && *p != '<') ++p;
  return p;
}

// An end tag has no attributes: it stops at its first '>' or at a '<' that
// comes first. Returns that '>' or '<', or end when the text ends first.
inline const char* endTagStop(const char* p, const char* end) {
  while (p < end && *p != '>' && *p != '<') ++p;
  return p;
}

// Walks the attributes of a start tag from p, just past its name, to the
// tag's end, calling keep(name, value) for each "name=value" (either quote,
// or none; white space around '='); a bare word or a stray quoted text
// carries no value. Returns the position just past the tag's '>' (selfClosing set
// for "/>"), the '<' before which a damaged tag ends (damaged set), or
// nullptr when the text ends first (an attribute cut off by the end is
// still kept).
struct TagClose {
  bool selfClosing = false;
  bool damaged = false;
};

// Inlined into each reader: it runs once per tag of a sheet's rows.
template <class Keep>
[[gnu::always_inline]] inline const char* walkAttributes(const char* p, const char* end, TagClose& close, Keep&& keep) {
  for (;;) {
    // The usual form, ' x="value"', for one-letter names.
    while (end - p >= 4 && p[0] == ' ' && p[2] == '=' && p[3] == '"' &&
           !(classOf(p[1]) & (kNameStop | kLt | kQuote))) {
      const char* v = p + 4;
      const char* q = quotedValueEnd(v, end, '"');
      keep(std::string_view(p + 1, 1), std::string_view(v, static_cast<std::size_t>(q - v)));
      if (q >= end) return nullptr;
      if (*q == '<') return close.damaged = true, q;
      p = q + 1;
    }
    p = skipSpace(p, end);
    if (p >= end) return nullptr;
    const char c = *p;
    if (c == '>') return p + 1;
    if (c == '<') return close.damaged = true, p;
    if (c == '/') {
      if (p + 1 < end && p[1] == '>') {
        close.selfClosing = true;
        return p + 2;
      }
      ++p;
      continue;
    }
    if (classOf(c) & kQuote) {
      // A stray quoted text; skip it whole, since it may hold '>'.
      p = quotedValueEnd(p + 1, end, c);
      if (p >= end) return nullptr;
      if (*p == '<') return close.damaged = true, p;
      ++p;
      continue;
    }
    const char* name = p;
    p = nameEnd(p, end);
    const std::string_view nameText(name, static_cast<std::size_t>(p - name));
    p = skipSpace(p, end);
    if (p >= end) return nullptr;
    if (*p != '=') continue;  // a bare word; the next name starts here
    p = skipSpace(p + 1, end);
    if (p >= end) {
      keep(nameText, std::string_view());
      return nullptr;
    }
    const char quote = *p;
    if (classOf(quote) & kQuote) {
      const char* v = p + 1;
      p = quotedValueEnd(v, end, quote);
      keep(nameText, std::string_view(v, static_cast<std::size_t>(p - v)));
      if (p >= end) return nullptr;
      if (*p == '<') return close.damaged = true, p;
      ++p;
    } else {
      const char* v = p;
      while (p < end && !(classOf(*p) & (kSpace | kGt | kLt))) ++p;
      keep(nameText, std::string_view(v, static_cast<std::size_t>(p - v)));
    }
  }
}

// What a '<' opens.
enum class Markup : std::uint8_t { Element, Comment, CData, ProcessingInstruction, Declaration };

inline Markup markupAt(const char* lt, const char* end) {
  if (end - lt < 2) return Markup::Element;
  if (lt[1] == '?') return Markup::ProcessingInstruction;
  if (lt[1] != '!') return Markup::Element;
  const std::string_view rest(lt, static_cast<std::size_t>(end - lt));
  if (rest.starts_with("<!--")) return Markup::Comment;
  if (rest.starts_with("<![CDATA[")) return Markup::CData;
  return Markup::Declaration;
}

// True when the '<' at lt opens a comment, CDATA section, processing
// instruction or declaration rather than an element tag.
inline bool opensSpecialMarkup(const char* lt, const char* end) {
  return end - lt >= 2 && (lt[1] == '!' || lt[1] == '?');
}

// Special markup: its text between opener and closer, and where it ends.
struct Special {
  Markup kind = Markup::Element;
  const char* content = nullptr;     // after the opener ("<!--", "<![CDATA[", "<?", "<!")
  const char* contentEnd = nullptr;  // before the closer, or the end of the text
  const char* after = nullptr;       // past the closer; nullptr when the text ends first
};

// Reads the special markup whose '<' is at lt: a comment ends at the first
// "-->" after "<!--", a CDATA section at "]]>", a processing instruction at
// "?>", a declaration at the first '>' outside quoted literals and outside
// the brackets of an internal subset.
inline Special readSpecialMarkup(const char* lt, const char* end) {
  Special s;
  s.kind = markupAt(lt, end);
  std::string_view opener = "<!", closer;
  switch (s.kind) {
    case Markup::Comment: opener = "<!--", closer = "-->"; break;
    case Markup::CData: opener = "<![CDATA[", closer = "]]>"; break;
    case Markup::ProcessingInstruction: opener = "<?", closer = "?>"; break;
    default: break;
  }
  s.content = std::min(end, lt + opener.size());
  s.contentEnd = end;
  if (!closer.empty()) {
    if (const char* stop = findText(s.content, end, closer)) {
      s.contentEnd = stop;
      s.after = stop + closer.size();
    }
    return s;
  }
  int brackets = 0;
  for (const char* q = s.content; q < end; ++q) {
    const char c = *q;
    if (c == '"' || c == '\'') {
      const void* close = std::memchr(q + 1, c, static_cast<std::size_t>(end - q - 1));
      if (close == nullptr) return s;
      q = static_cast<const char*>(close);
    } else if (c == '[') {
      ++brackets;
    } else if (c == ']') {
      if (brackets > 0) --brackets;
    } else if (c == '>' && brackets == 0) {
      s.contentEnd = q;
      s.after = q + 1;
      return s;
    }
  }
  return s;
}

// Past the special markup whose '<' is at lt; nullptr when the text ends first.
inline const char* afterSpecialMarkup(const char* lt, const char* end) { return readSpecialMarkup(lt, end).after; }

// True when special markup may open in [p, end): a "<!" or "<?" there.
inline bool holdsSpecialMarkup(const char* p, const char* end) {
  for (char mark : {'!', '?'}) {
    for (const char* q = p; q < end;) {
      const void* hit = std::memchr(q, mark, static_cast<std::size_t>(end - q));
      if (hit == nullptr) break;
      const char* at = static_cast<const char*>(hit);
      if (at > p && at[-1] == '<') return true;
      q = at + 1;
    }
  }
  return false;
}

}  // namespace tabulon::lexer
