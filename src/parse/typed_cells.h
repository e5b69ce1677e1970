// The typed output of the row reader: every cell of a block with its
// stored type, ready to be placed into columns.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "parse/cell_value.h"
#include "parse/row_numbers.h"

namespace tabulon {

enum class TypedKind : std::uint8_t {
  Number,      // number holds the value; text the stored value
  Date,        // micros holds the date-time; text the date as the sheet's text writes it
  Boolean,     // number holds 0 or 1; text the stored value
  Text,        // text is the string (empty only when kinds are told apart)
  SharedText,  // shared is the shared string's index
  // Only when kinds are told apart (TypedSelection::kinds):
  Duration,   // micros holds the elapsed time; text as the sheet's text writes it
  TimeOfDay,  // micros since midnight; text as the sheet's text writes it
  Error,      // text is the error's text ("#N/A")
};

struct TypedCell {
  std::uint32_t row;     // index of the cell's row element in the block
  std::uint16_t column;  // 1-based
  TypedKind kind;
  std::uint32_t textOffset;  // into the block's arena
  std::uint32_t textLength;
  union {
    double number;
    std::int64_t micros;
    std::uint32_t shared;
  };
};

using RowHead = RowNumber;

// Which cells a block reads, and how. Rows whose number the block knows
// (written, or following a written one) are left unread outside
// [firstRow, lastRow]; the placing of cells applies the same bounds to
// every row, so the bounds only save work. Rows come in ascending order in
// the format: a known row beyond stopAfter ends the block.
struct TypedSelection {
  bool kinds = false;  // tell durations, times of day, errors and empty text apart
  // Per column number (index 0 unused), nonzero when the column is read;
  // nullptr: every column.
  const std::vector<std::uint8_t>* columns = nullptr;
  std::int64_t firstRow = 0;
  std::int64_t lastRow = INT64_MAX;
  const std::atomic<std::int64_t>* stopAfter = nullptr;  // nullptr: read every row
};

// What one block's rows hold, in document order.
struct TypedBlock {
  std::vector<RowHead> rows;
  std::vector<TypedCell> cells;  // cells with a value in a column that exists
  std::string arena;             // texts of the cells
  // The number of the first row holding a cell, when the block knows it;
  // kNoCell when no row holds one, kUnknownRow when that row's number
  // depends on earlier blocks.
  static constexpr std::int64_t kNoCell = -1, kUnknownRow = -2;
  std::int64_t firstCellRow = kNoCell;
  bool stopped = false;  // a row beyond stopAfter ended the block

  // Empty, as made, with its memory kept.
  void clear() {
    rows.clear();
    cells.clear();
    arena.clear();
    firstCellRow = kNoCell;
    stopped = false;
  }
};

// Reads the rows of block into result. context.styles should count every
// date format (the workbook's own codes too). firstCell (may be null) is
// called once, as soon as result.firstCellRow is known to hold a cell.
void readTypedBlock(std::string_view block, const SheetContext& context, const TypedSelection& selection,
                    TypedBlock& result, const std::function<void()>* firstCell = nullptr);

// Every cell, every row, kinds as before.
inline void readTypedBlock(std::string_view block, const SheetContext& context, TypedBlock& result) {
  readTypedBlock(block, context, TypedSelection{}, result);
}

}  // namespace tabulon
