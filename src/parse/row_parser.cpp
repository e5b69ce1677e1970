#include "parse/row_parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>

#include "api/workbook_state.h"
#include "cells/column_map.h"
#include "cells/serial_date.h"
#include "cells/text_edit.h"
#include "cells/xml_text.h"
#include "parse/shared_strings.h"

namespace tabulon {
namespace {

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
constexpr std::array<std::uint8_t, 256> kClass = makeClasses();

inline std::uint8_t classOf(char c) { return kClass[static_cast<unsigned char>(c)]; }
inline bool isSpace(char c) { return classOf(c) & kSpace; }


const char* findText(const char* p, const char* end, std::string_view needle) {
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

// True when text holds a ';' or a carriage return. Two library scans beat
// a search for either character, which tests every byte against the set.
bool holdsEditedCharacter(std::string_view text) {
  return !text.empty() && (std::memchr(text.data(), ';', text.size()) != nullptr ||
                           std::memchr(text.data(), '\r', text.size()) != nullptr);
}

// The element names the row scan acts on, by local name.
enum class Name : std::uint8_t { Other, Row, C, V, Is };

Name classify(const char* name, std::size_t length) {
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
// The scanner is written out here rather than shared with the part
// scanners because it runs once per tag of the largest part of a workbook.
struct RawTag {
  const char* begin = nullptr;  // '<'
  const char* end = nullptr;    // just past '>'
  Name name = Name::Other;
  bool closing = false;
  bool selfClosing = false;
  bool hasR = false;
  std::string_view r, s, t;     // attributes named exactly r, s and t
};

// Reads the attributes from p up to the tag's '>', keeping r, s and t
// (whole names: "xr:r" or "spans" never match). Returns the position just
// past '>', or nullptr when the text ends first. A '<' cannot stand inside a
// tag: a damaged tag ends just before it, so that every '<' the block
// cutter sees starts a tag here too and the rows do not depend on where
// the text was cut.
void keepAttribute(char name, std::string_view value, RawTag& tag) {
  switch (name) {
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

const char* readAttributes(const char* p, const char* end, RawTag& tag) {
  for (;;) {
    // The usual form, ' x="value"', for one-letter names.
    while (end - p >= 4 && p[0] == ' ' && p[2] == '=' && p[3] == '"' && !(classOf(p[1]) & kNameStop)) {
      const char* v = p + 4;
      const char* q = v;
      while (q < end && *q != '"' && *q != '<') ++q;
      if (q >= end) return nullptr;
      keepAttribute(p[1], std::string_view(v, static_cast<std::size_t>(q - v)), tag);
      if (*q == '<') return q;
      p = q + 1;
    }
    while (p < end && (classOf(*p) & kSpace)) ++p;
    if (p >= end) return nullptr;
    char c = *p;
    if (c == '>') return p + 1;
    if (c == '<') return p;
    if (c == '/') {
      if (p + 1 < end && p[1] == '>') {
        tag.selfClosing = true;
        return p + 2;
      }
      ++p;
      continue;
    }
    if (classOf(c) & kQuote) {
      // A stray quoted text; skip it whole, since it may hold '>'.
      ++p;
      while (p < end && *p != c && *p != '<') ++p;
      if (p >= end) return nullptr;
      if (*p == '<') return p;
      ++p;
      continue;
    }
    const char* name = p;
    while (p < end && !(classOf(*p) & (kNameStop | kLt))) ++p;
    std::size_t nameLength = static_cast<std::size_t>(p - name);
    while (p < end && (classOf(*p) & kSpace)) ++p;
    if (p >= end) return nullptr;
    if (*p != '=') continue;  // a bare word; the next name starts here
    ++p;
    while (p < end && (classOf(*p) & kSpace)) ++p;
    if (p >= end) return nullptr;
    std::string_view value;
    char quote = *p;
    if (classOf(quote) & kQuote) {
      const char* v = ++p;
      while (p < end && *p != quote && *p != '<') ++p;
      if (p >= end) return nullptr;
      value = std::string_view(v, static_cast<std::size_t>(p - v));
      if (*p == '<') {
        if (nameLength == 1) keepAttribute(*name, value, tag);
        return p;
      }
      ++p;
    } else {
      const char* v = p;
      while (p < end && !(classOf(*p) & (kSpace | kGt | kLt))) ++p;
      value = std::string_view(v, static_cast<std::size_t>(p - v));
    }
    if (nameLength == 1) keepAttribute(*name, value, tag);
  }
}

// The next element tag at or after p, skipping comments, processing
// instructions, CDATA sections and declarations. False when the text ends
// before a complete tag.
bool readTag(const char* p, const char* end, RawTag& tag) {
  for (;;) {
    p = findLt(p, end);
    if (end - p < 2) return false;
    const char* q = p + 1;
    if (*q == '!' || *q == '?') {
      std::string_view terminator = ">";
      if (end - q >= 3 && q[1] == '-' && q[2] == '-') terminator = "-->";
      else if (end - q >= 8 && std::memcmp(q, "![CDATA[", 8) == 0) terminator = "]]>";
      else if (*q == '?') terminator = "?>";
      const char* stop = findText(q + 1, end, terminator);
      if (stop == nullptr) return false;
      p = stop + terminator.size();
      continue;
    }
    tag = RawTag{};
    tag.begin = p;
    tag.closing = *q == '/';
    if (tag.closing) ++q;
    const char* name = q;
    const char* local = q;
    while (q < end && !(classOf(*q) & (kNameStop | kLt))) {
      if (*q == ':') local = q + 1;
      ++q;
    }
    tag.name = classify(local, static_cast<std::size_t>(q - local));
    if (tag.closing) {
      // An end tag has no attributes: it ends at the first '>', or before a
      // '<' or the end of the text, exactly where the block cutter ends a
      // row end tag.
      while (q < end && *q != '>' && *q != '<') ++q;
      tag.end = q < end && *q == '>' ? q + 1 : q;
      return true;
    }
    if (q >= end) return false;
    if (q == name && *q != '>' && *q != '/') {
      // "<" followed by white space or '=': not a tag.
      p = q;
      continue;
    }
    tag.end = readAttributes(q, end, tag);
    return tag.end != nullptr;
  }
}

template <class Int>
bool parseInt(std::string_view text, Int& value) {
  text = trimXmlSpace(text);
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr != text.data();
}

// A number written in full (surrounding white space allowed).
bool parseNumber(std::string_view text, double& value) {
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
std::uint32_t positionOfReference(std::string_view ref) {
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

// The line field of a position: 0 for none (beyond the last column).
inline std::uint32_t fieldOf(std::uint32_t position) {
  return position <= kLastMappedColumn ? position : 0;
}

// A table index written in decimal (surrounding white space allowed).
bool parseIndex(std::string_view text, std::uint64_t& index) {
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

class RowParser {
 public:
  RowParser(const SheetContext& context, std::vector<RowLine>& rows)
      : context_(context), rows_(rows) {
    if (context.sharedStringEdits == nullptr) ownEdits_ = markEditedStrings(*context.sharedStrings);
    needsEdit_ = context.sharedStringEdits ? context.sharedStringEdits : &ownEdits_;
  }

  void run(std::string_view block) {
    const char* p = block.data();
    const char* end = p + block.size();
    bool inRow = false;
    RawTag tag;
    while (readTag(p, end, tag)) {
      p = tag.end;
      if (tag.name == Name::Row) {
        if (inRow) finishRow();
        inRow = false;
        if (tag.closing) continue;
        startRow(tag, p);
        if (tag.selfClosing) finishRow();
        else inRow = true;
      } else if (inRow && tag.name == Name::C && !tag.closing) {
        p = cell(tag, p, end);
        if (restart_) {
          // Cells out of column order: read the row again, collecting.
          restart_ = false;
          p = rowContent_;
          resetRow();
          collecting_ = true;
        }
      }
    }
    if (inRow) finishRow();
  }

 private:
  struct Cell {
    std::uint32_t column;
    std::uint32_t offset;  // into texts_
    std::uint32_t length;
  };

  void startRow(const RawTag& tag, const char* content) {
    row_ = RowLine{};
    if (tag.hasR) {
      row_.numbered = true;
      // Unreadable numbers count as row 0, as an unset number would.
      if (!parseInt(tag.r, row_.number)) row_.number = 0;
    }
    rowContent_ = content;
    collecting_ = false;
    resetRow();
  }

  void resetRow() {
    row_.hasValue = false;
    row_.maxColumn = 0;
    line_.clear();
    nextColumn_ = 1;
    cells_.clear();
    texts_.clear();
    previousColumn_ = 0;
  }

  // Reads one cell whose start tag is tag and whose content starts at p;
  // returns where the row scan goes on.
  const char* cell(const RawTag& tag, const char* p, const char* end) {
    // A cell without a reference follows the previous one, also beyond the
    // last column: such cells have no field, however many follow.
    std::uint32_t position = tag.hasR ? positionOfReference(tag.r)
                                      : previousColumn_ == UINT32_MAX ? UINT32_MAX : previousColumn_ + 1;
    previousColumn_ = position;
    std::uint32_t column = fieldOf(position);
    if (tag.selfClosing) return p;

    std::string_view value, inlineContent;
    bool hasValue = false, hasInline = false;
    std::uint8_t valueClasses = 0;
    // The usual form, "<v>text</v></c>", without the general tag reader.
    if (end - p >= 3 && p[0] == '<' && p[1] == 'v' && p[2] == '>') {
      const char* v = p + 3;
      const char* q = v;
      while (q < end && *q != '<') valueClasses |= classOf(*q++);
      if (end - q >= 8 && std::memcmp(q, "</v></c>", 8) == 0) {
        value = std::string_view(v, static_cast<std::size_t>(q - v));
        resolveAndStore(tag, column, value, true, {}, false, valueClasses);
        return q + 8;
      }
    }

    RawTag inner;
    while (readTag(p, end, inner)) {
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
        const char* valueEnd = findLt(p, end);
        value = std::string_view(p, static_cast<std::size_t>(valueEnd - p));
        valueClasses = 0;
        for (char c : value) valueClasses |= classOf(c);
        hasValue = true;
        p = valueEnd;
      } else if (inner.name == Name::Is) {
        const char* contentStart = p;
        const char* contentEnd = end;
        RawTag t;
        while (readTag(p, end, t)) {
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
        inlineContent = std::string_view(contentStart, static_cast<std::size_t>(contentEnd - contentStart));
        hasInline = true;
      }
    }
    if (hasValue || hasInline) resolveAndStore(tag, column, value, hasValue, inlineContent, hasInline, valueClasses);
    return p;
  }

  void resolveAndStore(const RawTag& tag, std::uint32_t column, std::string_view value, bool hasValue,
                       std::string_view inlineContent, bool hasInline, std::uint8_t valueClasses) {
    std::string_view type = tag.t;
    bool edit = valueClasses & kEdit;
    std::string_view text;
    if (type.size() == 1 && type[0] == 's') {
      std::uint64_t index = 0;
      if (!hasValue || !parseIndex(value, index)) return;
      const std::vector<std::string>& strings = *context_.sharedStrings;
      if (index >= strings.size()) return;
      text = strings[static_cast<std::size_t>(index)];
      edit = (*needsEdit_)[static_cast<std::size_t>(index)] != 0;
    } else if (type == "inlineStr" && hasInline) {
      scratch_ = collectRuns(inlineContent);
      text = scratch_;
      edit = holdsEditedCharacter(text);
    } else {
      if (!hasValue) return;
      text = value;
      if ((type.empty() || type == "n") && !tag.s.empty() && !value.empty() && isDateStyle(tag.s)) {
        double serial;
        if (parseNumber(value, serial)) {
          if (context_.date1904) serial += kDate1904Offset;
          scratch_ = ExcelSerialToDMY(serial);
          if (!scratch_.empty()) {
            text = scratch_;
            edit = false;
          }
        }
      } else if (type.size() == 1 && type[0] == 'd') {
        // Stored as ISO 8601 text, written like every other date so that a
        // column holds one form; text that is no such date stays as written.
        scratch_ = IsoDateToTimestamp(trimXmlSpace(value));
        if (!scratch_.empty()) {
          text = scratch_;
          edit = false;
        }
      }
      const bool stringResult = type == "str";
      if (text.data() == value.data() && (edit || (stringResult && value.find("_x") != std::string_view::npos))) {
        if (value.find_first_of("&\r_") != std::string_view::npos) {
          scratch_.clear();
          appendDecodedXml(scratch_, value);
          if (stringResult) decodeCharacterEscapes(scratch_);
          text = scratch_;
        }
        edit = holdsEditedCharacter(text);
      }
    }
    if (text.empty()) return;
    if (edit) {
      // A ';' would split the field and a carriage return the line: each
      // goes, and only it.
      edited_.assign(text);
      eraseSeparators(edited_);
      text = edited_;
    }
    store(column, text);
  }

  bool isDateStyle(std::string_view style) const {
    std::uint64_t index = 0;
    if (!parseIndex(style, index)) return false;
    const std::vector<int>& styles = *context_.styles;
    return index < styles.size() && styles[static_cast<std::size_t>(index)] == 1;
  }

  void store(std::uint32_t column, std::string_view text) {
    row_.hasValue = true;
    if (column == 0) return;  // letters that name no column: counted, never written
    row_.maxColumn = std::max(row_.maxColumn, column);
    if (collecting_) {
      std::size_t offset = texts_.size();
      texts_.append(text);
      cells_.push_back({column, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(text.size())});
      return;
    }
    if (column < nextColumn_) {
      restart_ = true;
      return;
    }
    line_.append(column - nextColumn_, ';');
    line_.append(text);
    line_.push_back(';');
    nextColumn_ = column + 1;
  }

  void finishRow() {
    if (row_.hasValue) {
      row_.fields = std::max(context_.width, row_.maxColumn);
      if (collecting_) buildCollectedLine();
      else line_.append(row_.fields + 1 - nextColumn_, ';');
      row_.line = line_;
    }
    rows_.push_back(std::move(row_));
    row_ = RowLine{};
    collecting_ = false;
  }

  // The line of a row whose cells were not in column order: sorted by
  // column, and of equal columns the later wins.
  void buildCollectedLine() {
    std::stable_sort(cells_.begin(), cells_.end(),
                     [](const Cell& a, const Cell& b) { return a.column < b.column; });
    line_.clear();
    std::uint32_t next = 1;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      const Cell& c = cells_[i];
      if (i + 1 < cells_.size() && cells_[i + 1].column == c.column) continue;
      line_.append(c.column - next, ';');
      line_.append(texts_, c.offset, c.length);
      line_.push_back(';');
      next = c.column + 1;
    }
    line_.append(row_.fields + 1 - next, ';');
  }

  const SheetContext& context_;
  std::vector<RowLine>& rows_;
  std::vector<std::uint8_t> ownEdits_;
  const std::vector<std::uint8_t>* needsEdit_ = nullptr;
  RowLine row_;
  const char* rowContent_ = nullptr;
  bool collecting_ = false;
  bool restart_ = false;
  std::string line_;
  std::uint32_t nextColumn_ = 1;
  std::vector<Cell> cells_;
  std::string texts_;
  std::string scratch_;
  std::string edited_;
  std::uint32_t previousColumn_ = 0;
};

}  // namespace

std::vector<std::uint8_t> markEditedStrings(const std::vector<std::string>& strings) {
  std::vector<std::uint8_t> edits(strings.size());
  for (std::size_t i = 0; i < strings.size(); ++i) edits[i] = holdsEditedCharacter(strings[i]);
  return edits;
}

namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t end = line.find(';'); end != std::string_view::npos; end = line.find(';', start)) {
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

}  // namespace

void mergeRowLine(std::string& earlier, std::string_view later) {
  const std::string kept = std::move(earlier);
  const std::vector<std::string_view> a = splitFields(kept);
  const std::vector<std::string_view> b = splitFields(later);
  earlier.clear();
  earlier.reserve(kept.size() + later.size());
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i < b.size() && !b[i].empty()) earlier.append(b[i]);
    else if (i < a.size()) earlier.append(a[i]);
    earlier.push_back(';');
  }
}

void parseRowBlock(std::string_view block, const SheetContext& context, std::vector<RowLine>& rows) {
  // Room for rows of 32 bytes and more: regrowing would copy every row
  // already read, and room never used costs no memory.
  rows.reserve(rows.size() + block.size() / 32 + 1);
  RowParser(context, rows).run(block);
}

}  // namespace tabulon

void getWsData(std::string_view block) {
  using namespace tabulon;
  SheetContext context;
  context.sharedStrings = &SharedStrings;
  context.styles = &Styles;
  context.date1904 = Date1904;
  context.width = static_cast<std::uint32_t>(std::min<unsigned long>(max_abs_col, kLastMappedColumn));
  std::vector<RowLine> rows;
  parseRowBlock(block, context, rows);

  std::int64_t previous = 0;
  for (RowLine& row : rows) {
    std::int64_t number = row.numbered ? row.number : previous + 1;
    previous = number;
    if (!row.hasValue || number < 0 || static_cast<std::uint64_t>(number) >= retMT.size()) continue;
    // This entry point keeps every line at max_abs_col fields: cells further
    // right have no field here.
    if (row.fields > context.width) {
      std::size_t cut = 0;
      for (std::uint32_t f = 0; f < context.width; ++f) cut = row.line.find(';', cut) + 1;
      row.line.resize(cut);
      row.maxColumn = std::min(row.maxColumn, context.width);
    }
    // Some writers split one row into several elements: their cells join.
    std::string& slot = retMT[static_cast<std::size_t>(number)];
    if (slot.empty()) slot = std::move(row.line);
    else mergeRowLine(slot, row.line);
    raiseMaximum(max_row, static_cast<int>(number));
    raiseMaximum(max_col, static_cast<int>(row.maxColumn));
  }
}
