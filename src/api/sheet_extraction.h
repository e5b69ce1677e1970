// Reading one sheet of a loaded workbook, as text or as typed columns. The
// workbook is only read: any number of these may run at once on one
// workbook, each with its own pipeline state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/text_target.h"
#include "api/workbook.h"
#include "base/failure.h"
#include "parse/sheet_columns.h"
#include "parse/sheet_pipeline.h"

namespace tabulon {

// The platform's hardware threads, at least 1.
unsigned hardwareThreads();

// How a sheet's text is written.
struct TextOptions {
  bool allDates = false;  // numbers of custom date formats as dates too
  // The most text the caller accepts, in bytes; 0: no limit of its own.
  // The text is held against it, the machine's memory and the workbook's
  // compressed size (see output_budget.h) whatever it says.
  std::uint64_t maxBytes = 0;
  // Lines end at the last column holding a value, not at the dimension's.
  bool trim = false;
  // Every character of a cell kept, fields quoted where needed (see
  // SheetContext::quoted).
  bool quoted = false;
};

// The options of the TABULON_TEXT_* flags and a caller's byte limit.
TextOptions textOptionsOf(unsigned flags, std::uint64_t maxBytes = 0);

// A sheet's rendered rows: the lines in row order, ready to be joined
// into the sheet's text.
struct SheetRows {
  // Slot r holds row r's line (without its line end) for rows up to the
  // format's last row; slots of rows without values stay empty.
  std::vector<std::string> slots;
  // Lines of rows numbered beyond the last slot (only damaged files have
  // them), in row order, written after the slots.
  std::vector<std::string> beyond;
  std::uint32_t width = 0;  // fields per line
  int maxRow = 0;           // largest row number stored
  int maxColumn = 0;        // largest column number stored
  // Cell elements the part held, with or without a value.
  std::uint64_t cellElements = 0;

  // Bytes of the joined text: every line that is not empty, plus "\n".
  std::size_t textSize() const;
  // Writes the joined text (textSize() bytes, no terminator) to to.
  void writeText(char* to) const;
  std::string text() const;
};

// What a host is told of rows that came out empty although the part held
// cell elements, none with a value the text can show; "" otherwise.
// textSize: the rows' textSize(), which the caller has worked out already.
std::string emptySheetNote(const SheetRows& rows, std::size_t textSize);

// Which sheet: by name when name is not null, else by 0-based position
// among all sheets.
struct SheetChoice {
  const char* name = nullptr;
  std::int64_t index = 0;
};

// The archive member of the chosen sheet; "" for a sheet without cells.
// Throws a Failure for an unknown name or a position out of range.
std::string sheetPart(const Workbook& workbook, const SheetChoice& sheet);
inline std::string sheetPart(const Workbook& workbook, const char* sheetName) {
  if (sheetName == nullptr) throw Failure(TABULON_INVALID_ARGUMENT, "no sheet name given");
  return sheetPart(workbook, SheetChoice{sheetName, 0});
}

// What a text written into a target comes to.
struct TextFacts {
  std::size_t size = 0;            // bytes of text written
  std::uint64_t cellElements = 0;  // as in SheetRows
  bool read = false;               // the sheet had rows to read
  std::uint32_t width = 0;         // fields per line
  int maxRow = 0, maxColumn = 0;   // as in SheetRows
};

// The chosen sheet's text, written into target (which it is grown in) as
// the rows are read: the text of extractRows, without a line of its own
// per row. Throws as extractRows does.
TextFacts extractText(const Workbook& workbook, const SheetChoice& sheet, TextTarget& target, unsigned threads,
                      std::size_t blockBytes = kBlockBytes, const TextOptions& options = {});

// The same over worksheet XML in memory, read in the given number of blocks.
TextFacts renderText(const Workbook& workbook, std::string_view sheetXml, unsigned blocks, TextTarget& target,
                     const TextOptions& options = {});

// The note of emptySheetNote from the count of cell elements.
std::string emptySheetNote(std::uint64_t cellElements, std::size_t textSize);

// The chosen sheet's rows, read with the given number of threads and
// block size. Throws a Failure (unknown sheet, unreadable part) or an
// allocation failure.
SheetRows extractRows(const Workbook& workbook, const SheetChoice& sheet, unsigned threads,
                      std::size_t blockBytes = kBlockBytes, const TextOptions& options = {});

// Rows of worksheet XML in memory, read in the given number of blocks.
SheetRows renderRows(const Workbook& workbook, std::string_view sheetXml, unsigned blocks,
                     const TextOptions& options = {});

// The text getSheetData gives for the named sheet of workbook (nullptr:
// none open), read with the given threads and block size: "0" on failure.
std::string extractSheet(const Workbook* workbook, const char* sheetName, unsigned threads,
                         std::size_t blockBytes = kBlockBytes, const TextOptions& options = {});

// The text of worksheet XML in memory, read in the given number of blocks.
std::string renderSheet(const Workbook& workbook, std::string_view sheetXml, unsigned blocks,
                        const TextOptions& options = {});

// The named sheet's typed columns. Throws a Failure (unknown sheet,
// unreadable part, extent too large) or an allocation failure.
SheetColumns extractColumns(const Workbook& workbook, const SheetChoice& sheet, const ColumnOptions& options,
                            unsigned threads, std::size_t blockBytes = kBlockBytes);
inline SheetColumns extractColumns(const Workbook& workbook, const char* sheetName, const ColumnOptions& options,
                                   unsigned threads, std::size_t blockBytes = kBlockBytes) {
  if (sheetName == nullptr) throw Failure(TABULON_INVALID_ARGUMENT, "no sheet name given");
  return extractColumns(workbook, SheetChoice{sheetName, 0}, options, threads, blockBytes);
}

// Typed columns of worksheet XML in memory, read in the given number of
// blocks, with workbook's tables.
SheetColumns readColumnsOf(const Workbook& workbook, std::string_view sheetXml, const ColumnOptions& options,
                           unsigned blocks);

// The reference of the sheet's dimension element ("A1:D10"); empty when the
// header before the rows has none.
std::string_view findDimension(std::string_view sheetXml);

}  // namespace tabulon
