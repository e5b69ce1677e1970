// Rendering one worksheet of the loaded workbook into out and retMT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "api/workbook.h"
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

// Renders worksheet XML with the given number of row blocks (parallel jobs)
// into retMT and out, and returns out's characters. Throws on allocation
// failure, leaving out and retMT to the caller to reset.
const char* renderSheet(const Workbook& workbook, std::string_view sheetXml, unsigned blocks,
                        const TextOptions& options = {});

// getSheetData of workbook (nullptr: none open) with an explicit number of
// worker threads and block size. On failure records why and returns "0".
const char* extractSheet(const Workbook* workbook, const char* sheetName, unsigned threads,
                         std::size_t blockBytes = kBlockBytes, const TextOptions& options = {});

// The named sheet's typed columns. Throws a Failure (unknown sheet,
// unreadable part, extent too large) or an allocation failure.
SheetColumns extractColumns(const Workbook& workbook, const char* sheetName, const ColumnOptions& options,
                            unsigned threads, std::size_t blockBytes = kBlockBytes);

// Typed columns of worksheet XML in memory, read in the given number of
// blocks, with workbook's tables.
SheetColumns readColumnsOf(const Workbook& workbook, std::string_view sheetXml, const ColumnOptions& options,
                           unsigned blocks);

// The archive member of the named sheet; "" for a sheet without cells.
// Throws a Failure for an unknown name.
std::string sheetPart(const Workbook& workbook, const char* sheetName);

// The reference of the sheet's dimension element ("A1:D10"); empty when the
// header before the rows has none.
std::string_view findDimension(std::string_view sheetXml);

}  // namespace tabulon
