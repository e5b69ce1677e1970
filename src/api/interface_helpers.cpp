// Functions the host interface exports beside the entry points, kept for
// callers built against them. Nothing in the library calls them: the entry
// points render through the sheet pipeline. The text helpers removeChar
// and replaceAll (cells/text_edit) and the column map (cells/column_map)
// are exported for the same reason.
#include <algorithm>

#include "api/interface_helpers.h"
#include "api/default_workbook.h"
#include "api/workbook_state.h"
#include "cells/column_map.h"
#include "parse/row_numbers.h"
#include "parse/row_parser.h"

void getWsData(std::string_view block) {
  using namespace tabulon;
  SheetContext context;
  context.sharedStrings = &SharedStrings;
  context.styles = &Styles;
  context.date1904 = openWorkbook() != nullptr && openWorkbook()->date1904;
  context.width = static_cast<std::uint32_t>(std::min<unsigned long>(max_abs_col, kLastMappedColumn));
  std::vector<RowLine> rows;
  parseRowBlock(block, context, rows);

  RowCounter counter;
  for (RowLine& row : rows) {
    const std::int64_t number = counter.next(RowNumber{row.number, row.numbered});
    if (!row.hasValue || placeOf(number) == RowPlace::None || static_cast<std::uint64_t>(number) >= retMT.size())
      continue;
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
