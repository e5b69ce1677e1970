#include "parse/row_parser.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "cells/column_map.h"
#include "cells/serial_date.h"
#include "cells/text_edit.h"
#include "cells/xml_text.h"
#include "parse/row_numbers.h"
#include "parse/row_scan.h"

namespace tabulon {
namespace {

using rowscan::CellInput;

// The line field of a position: 0 for none (beyond the last column).
inline std::uint32_t fieldOf(std::uint32_t position) {
  return position <= kLastMappedColumn ? position : 0;
}

// The row output that builds each row's line of ';'-ended fields.
class TextRows {
 public:
  TextRows(const SheetContext& context, BlockLines& out)
      : context_(context), out_(out), line_(out.text), account_(context.textBudget) {
    if (context.sharedStringEdits == nullptr) ownEdits_ = markEditedStrings(*context.sharedStrings);
    needsEdit_ = context.sharedStringEdits ? context.sharedStringEdits : &ownEdits_;
  }

  ~TextRows() {
    if (context_.cellElements != nullptr) context_.cellElements->fetch_add(cellElements_, std::memory_order_relaxed);
  }
  TextRows(const TextRows&) = delete;
  TextRows& operator=(const TextRows&) = delete;

  void cellElement() { ++cellElements_; }

  void startRow(bool numbered, std::string_view r) {
    row_ = LineHead{};
    row_.row = rowNumberOf(numbered, r);
    collecting_ = false;
    rowStart_ = line_.size();
    resetRow();
  }

  bool cell(const CellInput& cell) {
    resolveCell(cell, context_, *needsEdit_, scratch_, resolved_);
    if (resolved_.type == CellType::None) return true;
    std::string_view text = resolved_.text;
    bool edit = resolved_.edit;
    if (resolved_.type == CellType::Date || resolved_.type == CellType::IsoDate) {
      // Date cells stored as ISO 8601 text are written like every other
      // date, so that a column holds one form; text that is no such date
      // stays as written.
      dateText_ = resolved_.type == CellType::Date ? ExcelSerialToDMY(resolved_.serial)
                                                   : IsoDateToTimestamp(trimXmlSpace(text));
      if (!dateText_.empty()) {
        text = dateText_;
        edit = false;
      }
    }
    if (context_.quoted) {
      if (text.find_first_of(";\"\r\n") != std::string_view::npos) {
        edited_.assign(1, '"');
        for (char c : text) {
          if (c == '"') edited_ += '"';
          edited_ += c;
        }
        edited_ += '"';
        text = edited_;
      }
    } else if (edit) {
      // A ';' would split the field and a carriage return the line: each
      // goes, and only it.
      edited_.assign(text);
      eraseSeparators(edited_);
      text = edited_;
    }
    if (store(fieldOf(cell.position), text)) return true;
    // Cells out of column order: read the row again, collecting.
    account_.refund(rowCharged_);
    resetRow();
    collecting_ = true;
    return false;
  }

  void finishRow() {
    if (row_.hasValue) {
      row_.fields = std::max(context_.width, row_.maxColumn);
      // The separators and the line end; cell texts were charged as stored.
      const bool write = account_.charge(collecting_ ? row_.fields + 1 : row_.fields + 2 - nextColumn_);
      if (!write) {
        line_.resize(rowStart_);  // beyond the budget: the row is only counted
      } else {
        if (collecting_) buildCollectedLine();
        else line_.append(row_.fields + 1 - nextColumn_, ';');
      }
    } else {
      line_.resize(rowStart_);
    }
    row_.length = line_.size() - rowStart_;
    out_.rows.push_back(row_);
    row_ = LineHead{};
    collecting_ = false;
  }

 private:
  struct Cell {
    std::uint32_t column;
    std::uint32_t offset;  // into texts_
    std::uint32_t length;
  };

  void resetRow() {
    rowCharged_ = 0;
    row_.hasValue = false;
    row_.maxColumn = 0;
    line_.resize(rowStart_);
    nextColumn_ = 1;
    cells_.clear();
    texts_.clear();
  }

  // False when the cell lies left of one already written.
  bool store(std::uint32_t column, std::string_view text) {
    row_.hasValue = true;
    if (column == 0) return true;  // letters that name no column: counted, never written
    row_.maxColumn = std::max(row_.maxColumn, column);
    if (collecting_) {
      if (!account_.charge(text.size())) return true;
      std::size_t offset = texts_.size();
      texts_.append(text);
      cells_.push_back({column, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(text.size())});
      return true;
    }
    if (column < nextColumn_) return false;
    // Charged before it is written, so that a long text beyond the
    // budget is never copied.
    const std::uint64_t bytes = column - nextColumn_ + text.size() + 1;
    rowCharged_ += bytes;
    if (!account_.charge(bytes)) {
      nextColumn_ = column + 1;
      return true;
    }
    line_.append(column - nextColumn_, ';');
    line_.append(text);
    line_.push_back(';');
    nextColumn_ = column + 1;
    return true;
  }

  // The line of a row whose cells were not in column order: sorted by
  // column, and of equal columns the later wins.
  void buildCollectedLine() {
    std::stable_sort(cells_.begin(), cells_.end(),
                     [](const Cell& a, const Cell& b) { return a.column < b.column; });
    line_.resize(rowStart_);
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
  BlockLines& out_;
  // The block's text: the row's line is written at its end, from rowStart_.
  std::string& line_;
  std::size_t rowStart_ = 0;
  TextAccount account_;
  std::uint64_t cellElements_ = 0;
  std::uint64_t rowCharged_ = 0;  // charged for the row's line so far (in column order)
  std::vector<std::uint8_t> ownEdits_;
  const std::vector<std::uint8_t>* needsEdit_ = nullptr;
  LineHead row_;
  bool collecting_ = false;
  std::uint32_t nextColumn_ = 1;
  std::vector<Cell> cells_;
  std::string texts_;
  std::string scratch_;
  std::string dateText_;
  std::string edited_;
  ResolvedCell resolved_;
};

}  // namespace

namespace {

// The ';'-ended fields of a line; quoted: a field that starts with '"'
// runs to its closing quote (a doubled quote stays inside).
std::vector<std::string_view> splitFields(std::string_view line, bool quoted) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start < line.size()) {
    std::size_t from = start;
    if (quoted && line[start] == '"') {
      for (from = start + 1; from < line.size(); ++from) {
        if (line[from] != '"') continue;
        if (from + 1 < line.size() && line[from + 1] == '"') ++from;
        else break;
      }
    }
    const std::size_t end = line.find(';', from);
    if (end == std::string_view::npos) break;
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

}  // namespace

void mergeRowLine(std::string& earlier, std::string_view later, bool quoted) {
  const std::string kept = std::move(earlier);
  const std::vector<std::string_view> a = splitFields(kept, quoted);
  const std::vector<std::string_view> b = splitFields(later, quoted);
  earlier.clear();
  earlier.reserve(kept.size() + later.size());
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i < b.size() && !b[i].empty()) earlier.append(b[i]);
    else if (i < a.size()) earlier.append(a[i]);
    earlier.push_back(';');
  }
}

void parseRowBlock(std::string_view block, const SheetContext& context, BlockLines& lines) {
  // Room for rows of 32 bytes and more: regrowing would copy every row
  // already read, and room never used costs no memory.
  lines.rows.reserve(lines.rows.size() + block.size() / 32 + 1);
  TextRows output(context, lines);
  rowscan::scanRows(block, output);
}

void parseRowBlock(std::string_view block, const SheetContext& context, std::vector<RowLine>& rows) {
  BlockLines lines;
  parseRowBlock(block, context, lines);
  rows.reserve(rows.size() + lines.rows.size());
  std::size_t at = 0;
  for (const LineHead& head : lines.rows) {
    RowLine row;
    row.number = head.row.number;
    row.numbered = head.row.numbered;
    row.hasValue = head.hasValue;
    row.fields = head.fields;
    row.maxColumn = head.maxColumn;
    row.line.assign(lines.text, at, head.length);
    at += head.length;
    rows.push_back(std::move(row));
  }
}

}  // namespace tabulon
