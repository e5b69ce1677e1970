// The row reader: tags with the three attributes a cell needs, cell
// contents, and the scan over a block's rows that hands each row and cell
// to an output. The text renderer and the
// typed column builder both read rows through scanRows, so they agree on
// every row and cell by construction.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "cells/xml_text.h"
#include "parse/structural_index.h"
#include "parse/xml_lexer.h"

namespace tabulon::rowscan {

using lexer::isSpace;

// True when text holds a ';' or a carriage return. Two library scans beat
// a search for either character, which tests every byte against the set.
inline bool holdsEditedCharacter(std::string_view text) {
  return !text.empty() && (std::memchr(text.data(), ';', text.size()) != nullptr ||
                           std::memchr(text.data(), '\r', text.size()) != nullptr);
}

// The element names the row scan acts on, by local name.
enum class Name : std::uint8_t { Other, Row, C, V, Is };

inline Name classify(const char* name, std::size_t length) {
  switch (length) {
    case 1:
      return name[0] == 'c' ? Name::C : name[0] == 'v' ? Name::V : Name::Other;
    case 2:
      return name[0] == 'i' && name[1] == 's' ? Name::Is : Name::Other;
    case 3:
      return name[0] == 'r' && name[1] == 'o' && name[2] == 'w' ? Name::Row : Name::Other;
    default:
      return Name::Other;
  }
}

// A tag as the row scanner sees it, with the three attributes it reads.
struct RawTag {
  const char* begin = nullptr;  // '<'
  const char* end = nullptr;    // just past '>'
  Name name = Name::Other;
  bool closing = false;
  bool selfClosing = false;
  bool hasR = false;
  std::string_view r, s, t;     // attributes named exactly r, s and t
};

inline void keepAttribute(std::string_view name, std::string_view value, RawTag& tag) {
  if (name.size() != 1) return;
  switch (name[0]) {
    case 'r':
      if (!tag.hasR) {
        tag.r = value;
        tag.hasR = true;
      }
      break;
    case 's':
      if (tag.s.data() == nullptr) tag.s = value;
      break;
    case 't':
      if (tag.t.data() == nullptr) tag.t = value;
      break;
  }
}

// Reads the attributes from p up to the tag's '>', keeping r, s and t
// (whole names: "xr:r" or "spans" never match). Returns the position just
// past '>', or nullptr when the text ends first. A '<' cannot stand inside a
// tag: a damaged tag ends just before it, so that every '<' the block
// cutter sees starts a tag here too and the rows do not depend on where
// the text was cut.
inline const char* readAttributes(structural::Index& index, const char* p, RawTag& tag) {
  lexer::TagClose close;
  const char* after = lexer::walkAttributes(
      p, index.end(), close, [&tag](std::string_view name, std::string_view value) { keepAttribute(name, value, tag); });
  tag.selfClosing = close.selfClosing;
  return after;
}

// The next element tag at or after p, skipping comments, processing
// instructions, CDATA sections and declarations. False when the text ends
// before a complete tag.
inline bool readTag(structural::Index& index, const char* p, RawTag& tag) {
  const char* end = index.end();
  for (;;) {
    p = index.nextLt(p);
    if (end - p < 2) return false;
    if (lexer::opensSpecialMarkup(p, end)) {
      p = lexer::afterSpecialMarkup(p, end);
      if (p == nullptr) return false;
      continue;
    }
    const char* q = p + 1;
    tag = RawTag{};
    tag.begin = p;
    tag.closing = *q == '/';
    if (tag.closing) ++q;
    const char* name = q;
    q = lexer::nameEnd(q, end);
    const std::string_view local = lexer::localName(name, q);
    tag.name = classify(local.data(), local.size());
    if (tag.closing) {
      q = lexer::endTagStop(q, end);
      tag.end = q < end && *q == '>' ? q + 1 : q;
      return true;
    }
    if (q >= end) return false;
    if (q == name && *q != '>' && *q != '/') {
      // "<" followed by white space or '=': not a tag.
      p = q;
      continue;
    }
    tag.end = readAttributes(index, q, tag);
    return tag.end != nullptr;
  }
}

template <class Int>
inline bool parseInt(std::string_view text, Int& value) {
  text = trimXmlSpace(text);
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr != text.data();
}

// A number written in full (surrounding white space allowed).
inline bool parseNumber(std::string_view text, double& value) {
  text = trimXmlSpace(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

// The position of a cell reference such as "AB12": its letters up to the
// first digit, read as a column number even beyond the last column the
// lines can hold. Lower-case letters name the same column, as they do for
// the programs that write them. 0 when the letters are no column name.
inline std::uint32_t positionOfReference(std::string_view ref) {
  std::uint32_t position = 0;
  std::size_t letters = 0;
  for (char c : ref) {
    if (c >= '0' && c <= '9') break;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') return 0;
    // Past seven letters the position is beyond any line; stop counting.
    if (++letters <= 7) position = position * 26 + static_cast<std::uint32_t>(c - 'A' + 1);
  }
  return letters <= 7 ? position : UINT32_MAX;
}

// False for a reference without column letters: empty, or digits first.
inline bool namesColumn(std::string_view ref) {
  ref = trimXmlSpace(ref);
  return !ref.empty() && !(ref.front() >= '0' && ref.front() <= '9');
}

// A table index written in decimal (surrounding white space allowed).
inline bool parseIndex(std::string_view text, std::uint64_t& index) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && isSpace(*p)) ++p;
  const char* digits = p;
  std::uint64_t value = 0;
  while (p < end && *p >= '0' && *p <= '9' && p - digits < 18) value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
  if (p == digits) return false;
  while (p < end && isSpace(*p)) ++p;
  if (p != end) {
    // A sign, more digits than any table holds, or trailing text: read it
    // the general way so that "+3" and "3x" keep their former meaning.
    std::int64_t general = -1;
    if (!parseInt(text, general) || general < 0) return false;
    value = static_cast<std::uint64_t>(general);
  }
  index = value;
  return true;
}


// One cell as read from the sheet, before its value is resolved.
struct CellInput {
  // Column from the reference (or following the previous cell): 0 for
  // letters that name no column, UINT32_MAX beyond any column.
  std::uint32_t position = 0;
  std::string_view type, style;  // the t and s attributes
  std::string_view value;        // the <v> text
  std::string_view inlineContent;  // between <is> and </is>
  bool hasValue = false;
  bool hasInline = false;
  bool valueEdited = false;  // value holds '&', ';' or a carriage return
};

// Reads the content of the cell whose start tag is tag and whose content
// starts at p; returns where the row scan goes on. cell.position must be
// set by the caller.
inline const char* readCell(structural::Index& index, const RawTag& tag, const char* p, CellInput& cell) {
  const char* end = index.end();
  cell.type = tag.t;
  cell.style = tag.s;
  cell.value = {};
  cell.inlineContent = {};
  cell.hasValue = cell.hasInline = false;
  cell.valueEdited = false;
  if (tag.selfClosing) return p;

  // The usual form, "<v>text</v></c>", without the general tag reader.
  if (end - p >= 3 && p[0] == '<' && p[1] == 'v' && p[2] == '>') {
    const char* v = p + 3;
    bool edited = false;
    const char* q = index.valueEnd(v, edited);
    if (end - q >= 8 && std::memcmp(q, "</v></c>", 8) == 0) {
      cell.value = std::string_view(v, static_cast<std::size_t>(q - v));
      cell.hasValue = true;
      cell.valueEdited = edited;
      return q + 8;
    }
  }

  RawTag inner;
  while (readTag(index, p, inner)) {
    if (inner.name == Name::C && inner.closing) {
      p = inner.end;
      break;
    }
    if (inner.name == Name::C || inner.name == Name::Row) {
      // The cell was not closed: the tag belongs to the row scan.
      p = inner.begin;
      break;
    }
    p = inner.end;
    if (inner.closing || inner.selfClosing) continue;
    if (inner.name == Name::V) {
      const char* valueEnd = index.valueEnd(p, cell.valueEdited);
      cell.value = std::string_view(p, static_cast<std::size_t>(valueEnd - p));
      cell.hasValue = true;
      p = valueEnd;
    } else if (inner.name == Name::Is) {
      const char* contentStart = p;
      const char* contentEnd = end;
      RawTag t;
      while (readTag(index, p, t)) {
        if (t.closing && t.name == Name::Is) {
          contentEnd = t.begin;
          p = t.end;
          break;
        }
        if (t.name == Name::C || t.name == Name::Row) {
          contentEnd = t.begin;
          p = t.begin;
          break;
        }
        p = t.end;
      }
      if (contentEnd == end) p = end;
      cell.inlineContent = std::string_view(contentStart, static_cast<std::size_t>(contentEnd - contentStart));
      cell.hasInline = true;
    }
  }
  return p;
}

// Reads every row element of block in document order and hands it to out:
//   out.startRow(bool numbered, std::string_view r)  a row starts
//   bool out.cell(const CellInput&)  a cell with a value or inline text;
//       false asks to read the row again from its start (out has reset it)
//   out.finishRow()                  the row ended
//   bool out.stopped() (optional)    after startRow: true ends the scan
// Text outside row elements (the sheet's header and trailer) is ignored.
// path chooses how the structural index is worked out; every path reads
// the same rows.
template <class Output>
void scanRows(std::string_view block, Output& out, structural::Path path = structural::chosen()) {
  const char* p = block.data();
  structural::Index index(p, p + block.size(), path);
  bool inRow = false;
  const char* rowContent = nullptr;
  std::uint32_t previous = 0;  // position of the row's previous cell
  RawTag tag;
  CellInput cell;
  while (readTag(index, p, tag)) {
    p = tag.end;
    if (tag.name == Name::Row) {
      if (inRow) out.finishRow();
      inRow = false;
      if (tag.closing) continue;
      out.startRow(tag.hasR, tag.r);
      // An output that has read every row it wants ends the scan.
      if constexpr (requires { out.stopped(); }) {
        if (out.stopped()) return;
      }
      rowContent = p;
      previous = 0;
      if (tag.selfClosing) out.finishRow();
      else inRow = true;
    } else if (inRow && tag.name == Name::C && !tag.closing) {
      // A cell without a reference follows the previous one, also beyond
      // the last column; so does one whose reference has no column letters
      // (r="1", r="0"), which some writers give every cell.
      if constexpr (requires { out.cellElement(); }) out.cellElement();
      cell.position = tag.hasR && namesColumn(tag.r) ? positionOfReference(tag.r)
                      : previous == UINT32_MAX        ? UINT32_MAX
                                                      : previous + 1;
      previous = cell.position;
      p = readCell(index, tag, p, cell);
      if ((cell.hasValue || cell.hasInline) && !out.cell(cell)) {
        p = rowContent;
        previous = 0;
      }
    }
  }
  if (inRow) out.finishRow();
}

}  // namespace tabulon::rowscan
