// Worksheet rows to finished row lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parse/cell_value.h"

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

// Merges the line of a later row element into the line of an earlier one
// with the same row number: a field the later line fills replaces the
// earlier one's, an empty field keeps it. The result has as many fields as
// the longer line. Lines split exactly at ';', since no field holds one,
// except inside the quotes of quoted text (SheetContext::quoted).
void mergeRowLine(std::string& earlier, std::string_view later, bool quoted = false);

// Every row element of the block, in document order. Text outside row
// elements (the sheet's header and trailer) is ignored.
void parseRowBlock(std::string_view block, const SheetContext& context,
                   std::vector<RowLine>& rows);

}  // namespace tabulon
