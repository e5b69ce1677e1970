// The typed output of the row reader: every cell of a block with its
// stored type, ready to be placed into columns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parse/cell_value.h"

namespace tabulon {

enum class TypedKind : std::uint8_t {
  Number,      // number holds the value; text the stored value
  Date,        // micros holds the date-time
  Boolean,     // number holds 0 or 1; text the stored value
  Text,        // text is the string
  SharedText,  // shared is the shared string's index
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

struct RowHead {
  std::int32_t number = 0;  // as written in r; meaningless when !numbered
  bool numbered = false;    // false: the previous row's number + 1
};

// What one block's rows hold, in document order.
struct TypedBlock {
  std::vector<RowHead> rows;
  std::vector<TypedCell> cells;  // cells with a value in a column that exists
  std::string arena;             // texts of the cells
};

// Reads the rows of block into result. context.styles should count every
// date format (the workbook's own codes too).
void readTypedBlock(std::string_view block, const SheetContext& context, TypedBlock& result);

}  // namespace tabulon
