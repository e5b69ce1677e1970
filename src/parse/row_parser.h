// Worksheet rows to finished row lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parse/cell_value.h"
#include "parse/row_numbers.h"

namespace tabulon {

// One row element of a block, in document order.
struct RowLine {
  std::int32_t number = 0;      // as written in r; meaningless when !numbered
  bool numbered = false;        // false: no r, the previous row's number + 1
  bool hasValue = false;        // at least one cell with non-empty text
  std::uint32_t fields = 0;     // ';'-ended fields in line
  std::uint32_t maxColumn = 0;  // largest column of a stored cell
  std::string line;             // "" unless hasValue
};

// One row element of a block, in document order, whose line (when it has
// a value) follows the line of the row before in BlockLines::text.
struct LineHead {
  RowNumber row;
  bool hasValue = false;        // at least one cell with non-empty text
  std::uint32_t fields = 0;     // ';'-ended fields in its line
  std::uint32_t maxColumn = 0;  // largest column of a stored cell
  std::size_t length = 0;       // bytes of its line: 0 unless hasValue
};

// What one block's rows render to: a record per row and their lines, one
// after another in one text, so that a block costs two buffers however
// many rows it has, and a buffer kept from an earlier block is reused.
struct BlockLines {
  std::vector<LineHead> rows;
  std::string text;
  void clear() {
    rows.clear();
    text.clear();
  }
};

// Merges the line of a later row element into the line of an earlier one
// with the same row number: a field the later line fills replaces the
// earlier one's, an empty field keeps it. The result has as many fields as
// the longer line. Lines split exactly at ';', since no field holds one,
// except inside the quotes of quoted text (SheetContext::quoted).
void mergeRowLine(std::string& earlier, std::string_view later, bool quoted = false);

// Every row element of the block, in document order, appended to lines.
// Text outside row elements (the sheet's header and trailer) is ignored.
void parseRowBlock(std::string_view block, const SheetContext& context, BlockLines& lines);

// The same, each row with a line of its own (for callers that keep lines
// apart, such as the exported block renderer).
void parseRowBlock(std::string_view block, const SheetContext& context,
                   std::vector<RowLine>& rows);

}  // namespace tabulon
