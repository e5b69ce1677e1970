// Typed columns of a sheet, assembled from the typed cells of its blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parse/typed_cells.h"

namespace tabulon {

enum class ColumnType : std::uint8_t { Null, Boolean, Number, Date, Text };

// One column, as plain buffers in the layout the host interface hands out.
struct Column {
  std::string name;
  ColumnType type = ColumnType::Null;
  std::int64_t nulls = 0;
  std::vector<std::uint8_t> validity;  // bit i set: row i has a value; empty when nulls == 0
  std::vector<std::uint8_t> bits;      // Boolean: bit-packed values
  std::vector<double> numbers;         // Number
  std::vector<std::int64_t> micros;    // Date
  std::vector<std::int32_t> indexes;   // Text: into the dictionary
  std::vector<std::int32_t> offsets;   // Text: dictionary offsets (size + 1)
  std::string characters;              // Text: dictionary bytes
};

struct SheetColumns {
  std::int64_t rows = 0;
  std::vector<Column> columns;
};

struct ColumnOptions {
  std::int64_t skipRows = 0;
  std::int64_t maxRows = -1;  // < 0: all
  bool header = false;
};

// Places the cells of the blocks (in document order) into columns: one per
// sheet column from the first to the last holding a value, one row per
// sheet row from the first to the last holding a value, after the
// options. Of cells at the same place the later wins. Each column's type
// follows its cells' kinds; mixed kinds give text. Throws a Failure of
// kind out-of-memory when the extent needs more than memoryLimit bytes.
SheetColumns assembleColumns(std::vector<TypedBlock>& blocks, const std::vector<std::string>& sharedStrings,
                             const ColumnOptions& options, std::uint64_t memoryLimit);

// The letters of a column number ("A" for 1).
std::string columnLetters(std::uint32_t column);

}  // namespace tabulon
