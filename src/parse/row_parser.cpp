#include "parse/row_parser.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "api/workbook_state.h"
#include "cells/column_map.h"
#include "cells/serial_date.h"
#include "cells/text_edit.h"
#include "cells/xml_text.h"
#include "parse/shared_strings.h"

namespace tabulon {
namespace {

inline bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

const char* findText(const char* p, const char* end, std::string_view needle) {
  if (end - p < static_cast<std::ptrdiff_t>(needle.size())) return nullptr;
  std::string_view hay(p, static_cast<std::size_t>(end - p));
  std::size_t at = hay.find(needle);
  return at == std::string_view::npos ? nullptr : p + at;
}

// A tag as the row scanner sees it. The scanner is written out here rather
// than shared with the part scanners because it runs once per tag of the
// largest part of a workbook.
struct RawTag {
  const char* begin = nullptr;  // '<'
  const char* end = nullptr;    // just past '>'
  std::string_view local;       // name without its prefix
  const char* attrs = nullptr;
  const char* attrsEnd = nullptr;
  bool closing = false;
  bool selfClosing = false;
};

// The next element tag at or after p, skipping comments, processing
// instructions, CDATA sections and declarations. False when the text ends
// before a complete tag.
bool readTag(const char* p, const char* end, RawTag& tag) {
  for (;;) {
    p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(end - p)));
    if (p == nullptr || end - p < 2) return false;
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
    tag.begin = p;
    tag.closing = *q == '/';
    if (tag.closing) ++q;
    const char* name = q;
    while (q < end && !isSpace(*q) && *q != '>' && *q != '/') ++q;
    if (q >= end) return false;
    tag.local = std::string_view(name, static_cast<std::size_t>(q - name));
    if (std::size_t colon = tag.local.rfind(':'); colon != std::string_view::npos)
      tag.local.remove_prefix(colon + 1);
    tag.attrs = q;
    // '>' may stand inside a quoted attribute value.
    while (q < end && *q != '>') {
      if (*q == '"' || *q == '\'') {
        const void* close = std::memchr(q + 1, *q, static_cast<std::size_t>(end - q - 1));
        if (close == nullptr) return false;
        q = static_cast<const char*>(close);
      }
      ++q;
    }
    if (q >= end) return false;
    tag.selfClosing = q > tag.attrs && q[-1] == '/';
    tag.attrsEnd = tag.selfClosing ? q - 1 : q;
    tag.end = q + 1;
    return true;
  }
}

// Calls visit(name, value) for each attribute between p and end: any order,
// either quote style, white space around '='.
template <class Visit>
void forEachAttribute(const char* p, const char* end, Visit&& visit) {
  while (p < end) {
    while (p < end && isSpace(*p)) ++p;
    const char* name = p;
    while (p < end && !isSpace(*p) && *p != '=') ++p;
    std::string_view attrName(name, static_cast<std::size_t>(p - name));
    while (p < end && isSpace(*p)) ++p;
    if (p >= end) return;
    if (*p != '=') continue;  // a bare word; the next name starts here
    ++p;
    while (p < end && isSpace(*p)) ++p;
    if (p >= end) return;
    char quote = *p;
    if (quote != '"' && quote != '\'') {
      const char* value = p;
      while (p < end && !isSpace(*p)) ++p;
      visit(attrName, std::string_view(value, static_cast<std::size_t>(p - value)));
      continue;
    }
    const char* value = ++p;
    const void* close = std::memchr(p, quote, static_cast<std::size_t>(end - p));
    const char* valueEnd = close ? static_cast<const char*>(close) : end;
    visit(attrName, std::string_view(value, static_cast<std::size_t>(valueEnd - value)));
    if (close == nullptr) return;
    p = valueEnd + 1;
  }
}

template <class Int>
bool parseInt(std::string_view text, Int& value) {
  text = trim(text);
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr != text.data();
}

// A number written in full (surrounding white space allowed).
bool parseNumber(std::string_view text, double& value) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

class RowParser {
 public:
  RowParser(const SheetContext& context, std::vector<RowLine>& rows)
      : context_(context), rows_(rows) {}

  void run(std::string_view block) {
    const char* p = block.data();
    const char* end = p + block.size();
    bool inRow = false;
    RawTag tag;
    while (readTag(p, end, tag)) {
      p = tag.end;
      if (tag.local == "row") {
        if (inRow) finishRow();
        inRow = false;
        if (tag.closing) continue;
        startRow(tag);
        if (tag.selfClosing) finishRow();
        else inRow = true;
      } else if (inRow && tag.local == "c" && !tag.closing) {
        p = cell(tag, p, end);
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

  void startRow(const RawTag& tag) {
    row_ = RowLine{};
    forEachAttribute(tag.attrs, tag.attrsEnd, [&](std::string_view name, std::string_view value) {
      if (name != "r") return;
      row_.numbered = true;
      // Unreadable numbers count as row 0, as an unset number would.
      if (!parseInt(value, row_.number)) row_.number = 0;
    });
    cells_.clear();
    texts_.clear();
    previousColumn_ = 0;
  }

  // Reads one cell whose start tag is tag and whose content starts at p;
  // returns where the row scan goes on.
  const char* cell(const RawTag& tag, const char* p, const char* end) {
    std::string_view ref, style, type;
    bool hasRef = false;
    forEachAttribute(tag.attrs, tag.attrsEnd, [&](std::string_view name, std::string_view value) {
      if (name == "r") {
        ref = value;
        hasRef = true;
      } else if (name == "s") {
        style = value;
      } else if (name == "t") {
        type = value;
      }
    });

    std::uint32_t column;
    if (hasRef) {
      std::size_t letters = 0;
      while (letters < ref.size() && !(ref[letters] >= '0' && ref[letters] <= '9')) ++letters;
      column = static_cast<std::uint32_t>(columnFromLetters(ref.substr(0, letters)));
    } else {
      column = previousColumn_ < kLastMappedColumn ? previousColumn_ + 1 : 0;
    }
    previousColumn_ = column;
    if (tag.selfClosing) return p;

    std::string_view value, inlineContent;
    bool hasValue = false, hasInline = false;
    RawTag inner;
    while (readTag(p, end, inner)) {
      if (inner.local == "c" && inner.closing) {
        p = inner.end;
        break;
      }
      if (inner.local == "c" || inner.local == "row") {
        // The cell was not closed: the tag belongs to the row scan.
        p = inner.begin;
        break;
      }
      p = inner.end;
      if (inner.closing || inner.selfClosing) continue;
      if (inner.local == "v") {
        const void* lt = std::memchr(p, '<', static_cast<std::size_t>(end - p));
        const char* valueEnd = lt ? static_cast<const char*>(lt) : end;
        value = std::string_view(p, static_cast<std::size_t>(valueEnd - p));
        hasValue = true;
        p = valueEnd;
      } else if (inner.local == "is") {
        const char* contentStart = p;
        const char* contentEnd = end;
        RawTag t;
        while (readTag(p, end, t)) {
          if (t.closing && t.local == "is") {
            contentEnd = t.begin;
            p = t.end;
            break;
          }
          if (t.local == "c" || t.local == "row") {
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
    if (!hasValue && !hasInline) return p;

    std::string_view text = resolve(type, style, value, hasValue, inlineContent, hasInline);
    if (!text.empty()) store(column, text);
    return p;
  }

  std::string_view resolve(std::string_view type, std::string_view style, std::string_view value,
                           bool hasValue, std::string_view inlineContent, bool hasInline) {
    if (type == "s") {
      std::int64_t index = -1;
      if (!hasValue || !parseInt(value, index)) return {};
      const std::vector<std::string>& strings = *context_.sharedStrings;
      if (index < 0 || static_cast<std::uint64_t>(index) >= strings.size()) return {};
      return strings[static_cast<std::size_t>(index)];
    }
    if (type == "inlineStr" && hasInline) {
      scratch_ = collectRuns(inlineContent);
      return scratch_;
    }
    if (!hasValue) return {};
    if ((type.empty() || type == "n") && !style.empty() && !value.empty() && isDateStyle(style)) {
      double serial;
      if (parseNumber(value, serial)) {
        if (context_.date1904) serial += kDate1904Offset;
        scratch_ = ExcelSerialToDMY(serial);
        if (!scratch_.empty()) return scratch_;
      }
    }
    if (value.find_first_of("&\r") == std::string_view::npos) return value;
    scratch_.clear();
    appendDecodedXml(scratch_, value);
    return scratch_;
  }

  bool isDateStyle(std::string_view style) const {
    std::int64_t index = -1;
    if (!parseInt(style, index)) return false;
    const std::vector<int>& styles = *context_.styles;
    return index >= 0 && static_cast<std::uint64_t>(index) < styles.size() &&
           styles[static_cast<std::size_t>(index)] == 1;
  }

  void store(std::uint32_t column, std::string_view text) {
    row_.hasValue = true;
    std::size_t offset = texts_.size();
    if (text.find_first_of(";\r") == std::string_view::npos) {
      texts_.append(text);
    } else {
      // A ';' would split the field and a carriage return the line: each
      // goes together with the character after it.
      std::string edited(text);
      removeChar(edited, "\r");
      removeChar(edited, ";");
      texts_.append(edited);
    }
    if (column == 0) {
      texts_.resize(offset);  // letters that name no column: counted, never written
      return;
    }
    cells_.push_back({column, static_cast<std::uint32_t>(offset),
                      static_cast<std::uint32_t>(texts_.size() - offset)});
    row_.maxColumn = std::max(row_.maxColumn, column);
  }

  void finishRow() {
    if (row_.hasValue) buildLine();
    rows_.push_back(std::move(row_));
    row_ = RowLine{};
  }

  void buildLine() {
    bool ordered = true;
    for (std::size_t i = 1; i < cells_.size() && ordered; ++i)
      ordered = cells_[i - 1].column < cells_[i].column;
    if (!ordered) {
      // Out-of-order cells: sort by column; of equal columns the later wins.
      std::stable_sort(cells_.begin(), cells_.end(),
                       [](const Cell& a, const Cell& b) { return a.column < b.column; });
    }
    row_.fields = std::max(context_.width, row_.maxColumn);
    std::string& line = row_.line;
    line.reserve(texts_.size() + row_.fields);
    std::uint32_t next = 1;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      const Cell& c = cells_[i];
      if (i + 1 < cells_.size() && cells_[i + 1].column == c.column) continue;
      line.append(c.column - next, ';');
      line.append(texts_, c.offset, c.length);
      line.push_back(';');
      next = c.column + 1;
    }
    line.append(row_.fields + 1 - next, ';');
  }

  const SheetContext& context_;
  std::vector<RowLine>& rows_;
  RowLine row_;
  std::vector<Cell> cells_;
  std::string texts_;
  std::string scratch_;
  std::uint32_t previousColumn_ = 0;
};

}  // namespace

void parseRowBlock(std::string_view block, const SheetContext& context, std::vector<RowLine>& rows) {
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
    retMT[static_cast<std::size_t>(number)] = std::move(row.line);
    raiseMaximum(max_row, static_cast<int>(number));
    raiseMaximum(max_col, static_cast<int>(row.maxColumn));
  }
}
