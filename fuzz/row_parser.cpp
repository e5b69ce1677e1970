// The row parser on arbitrary text with small tables chosen by the input's
// first bytes (see fuzz_support.h). Every line it builds has one ';' per
// field, at least the sheet's width and its right-most cell.
#include <algorithm>

#include "cells/column_map.h"
#include "fuzz_support.h"
#include "parse/row_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  using fuzz::require;
  fuzz::Tables tables;
  const std::string_view xml = fuzz::takeTables(fuzz::asText(data, size), tables);

  SheetContext context;
  context.sharedStrings = &tables.strings;
  context.styles = &tables.styles;
  context.date1904 = tables.date1904;
  context.width = tables.width;

  std::vector<RowLine> rows;
  parseRowBlock(xml, context, rows);
  for (const RowLine& row : rows) {
    require(row.maxColumn <= kLastMappedColumn, "a column past the map");
    if (!row.hasValue) {
      require(row.line.empty(), "a line for a row without values");
      continue;
    }
    require(row.fields >= context.width && row.fields >= row.maxColumn, "a line narrower than its row");
    require(static_cast<std::size_t>(std::count(row.line.begin(), row.line.end(), ';')) == row.fields,
            "a line whose ';' count is not its field count");
    require(row.line.find('\r') == std::string::npos, "a carriage return left in a line");
  }
  return 0;
}
