#include "parse/row_parser.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "api/workbook_state.h"
#include "cells/column_map.h"
#include "cells/serial_date.h"
#include "cells/text_edit.h"
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
  TextRows(const SheetContext& context, std::vector<RowLine>& rows) : context_(context), rows_(rows) {
    if (context.sharedStringEdits == nullptr) ownEdits_ = markEditedStrings(*context.sharedStrings);
    needsEdit_ = context.sharedStringEdits ? context.sharedStringEdits : &ownEdits_;
  }

  void startRow(bool numbered, std::string_view r) {
    row_ = RowLine{};
    if (numbered) {
      row_.numbered = true;
      // Unreadable numbers count as row 0, as an unset number would.
      if (!rowscan::parseInt(r, row_.number)) row_.number = 0;
    }
    collecting_ = false;
    resetRow();
  }

  bool cell(const CellInput& cell) {
    resolveCell(cell, context_, *needsEdit_, scratch_, resolved_);
    if (resolved_.type == CellType::None) return true;
    std::string_view text = resolved_.text;
    bool edit = resolved_.edit;
    if (resolved_.type == CellType::Date) {
      dateText_ = ExcelSerialToDMY(resolved_.serial);
      if (!dateText_.empty()) {
        text = dateText_;
        edit = false;
      }
    }
    if (edit) {
      // A ';' would split the field and a carriage return the line: each
      // goes together with the character after it.
      edited_.assign(text);
      removeChar(edited_, "\r");
      removeChar(edited_, ";");
      text = edited_;
    }
    if (store(fieldOf(cell.position), text)) return true;
    // Cells out of column order: read the row again, collecting.
    resetRow();
    collecting_ = true;
    return false;
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

 private:
  struct Cell {
    std::uint32_t column;
    std::uint32_t offset;  // into texts_
    std::uint32_t length;
  };

  void resetRow() {
    row_.hasValue = false;
    row_.maxColumn = 0;
    line_.clear();
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
      std::size_t offset = texts_.size();
      texts_.append(text);
      cells_.push_back({column, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(text.size())});
      return true;
    }
    if (column < nextColumn_) return false;
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
  bool collecting_ = false;
  std::string line_;
  std::uint32_t nextColumn_ = 1;
  std::vector<Cell> cells_;
  std::string texts_;
  std::string scratch_;
  std::string dateText_;
  std::string edited_;
  ResolvedCell resolved_;
};

}  // namespace

void parseRowBlock(std::string_view block, const SheetContext& context, std::vector<RowLine>& rows) {
  // Room for rows of 32 bytes and more: regrowing would copy every row
  // already read, and room never used costs no memory.
  rows.reserve(rows.size() + block.size() / 32 + 1);
  TextRows output(context, rows);
  rowscan::scanRows(block, output);
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
