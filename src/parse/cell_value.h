// What a cell holds: its value resolved against the workbook's tables,
// shared by the text renderer and the typed column builder.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parse/row_scan.h"
#include "parse/text_budget.h"

namespace tabulon {

// What the row jobs of one sheet read; nobody changes it while they run.
struct SheetContext {
  const std::vector<std::string>* sharedStrings = nullptr;
  // Per cell format, 1 when its numbers are written as dates.
  const std::vector<int>* styles = nullptr;
  bool date1904 = false;
  // Fields per line as the sheet's dimension states; a row holding a cell
  // further right gets more, and the join widens every line to match.
  std::uint32_t width = 0;
  // Per shared string, 1 when it holds a ';' or a carriage return (see
  // markEditedStrings); when absent each row job works it out itself.
  const std::vector<std::uint8_t>* sharedStringEdits = nullptr;
  // Per cell format, its NumberKind (see cells/date_format.h); read by the
  // typed columns when they tell every kind apart. May be absent.
  const std::vector<std::uint8_t>* numberKinds = nullptr;
  // What the text may grow to; nullptr: no limit.
  TextBudget* textBudget = nullptr;
  // Text keeps every character of a cell: a field holding ';', '"', a
  // carriage return or a line feed is written between double quotes, each
  // '"' doubled (else such characters are dropped as the row lines demand).
  bool quoted = false;
  // When set, the row jobs add the cell elements they met (valued or not).
  std::atomic<std::uint64_t>* cellElements = nullptr;
};

// For each string, 1 when it holds a ';' or a carriage return, which the
// row lines cannot carry as they are.
std::vector<std::uint8_t> markEditedStrings(const std::vector<std::string>& strings);

enum class CellType : std::uint8_t {
  None,        // no value: nothing to write
  Number,      // a number cell (the text may still not read as a number)
  Date,        // a number cell of a date format; serial is set
  IsoDate,     // a date cell (t="d"): text is its stored ISO 8601 value
  Boolean,
  Error,
  Text,        // inline, formula or other string text
  SharedText,  // shared string number shared
};

struct ResolvedCell {
  CellType type = CellType::None;
  // The cell's text as written to a row line before ';' and carriage
  // returns are dropped: the stored value (decoded), or the string. For a
  // Date, the text to write when the serial has no date text.
  std::string_view text;
  double serial = 0;         // Date: the serial in the 1900 system
  std::uint32_t shared = 0;  // SharedText: the string's index
  bool edit = false;         // text holds ';' or a carriage return
  // None only: the cell holds text, and that text is empty.
  bool emptyText = false;
};

// Resolves cell into resolved; text may point into scratch. edits marks the
// shared strings that hold ';' or a carriage return. Cells whose text is
// empty resolve to None (with emptyText set for string cells).
void resolveCell(const rowscan::CellInput& cell, const SheetContext& context,
                 const std::vector<std::uint8_t>& edits, std::string& scratch, ResolvedCell& resolved);

}  // namespace tabulon
