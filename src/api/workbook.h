// One open workbook: everything its sheets are read with, built whole by
// loading and replaced or released as a whole.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "parse/cell_value.h"
#include "zip/zip_archive.h"

namespace tabulon {

struct Workbook {
  // The archive the workbook was loaded from; it stays open with it.
  Zippy::ZipArchive* archive = nullptr;
  std::vector<std::string> sheetNames;
  // Each sheet's worksheet member, in the order of sheetNames; "" for a
  // sheet without cells of its own (chart sheets).
  std::vector<std::string> sheetParts;
  // Per sheet, in the order of sheetNames: its TabulonSheetKind and its
  // TabulonSheetVisibility. Shorter than sheetNames (or empty) means
  // worksheet and visible for the sheets beyond.
  std::vector<int> sheetKinds;
  std::vector<int> sheetVisibility;
  // The shared strings, and per string whether it holds ';' or a carriage
  // return (worked out once per load, not per sheet).
  std::vector<std::string> sharedStrings;
  std::vector<std::uint8_t> sharedStringEdits;
  std::vector<int> styles;      // per cell format: 1 for a built-in date format
  std::vector<int> dateStyles;  // per cell format: 1 for any date format
  bool date1904 = false;
  std::map<std::string, unsigned long> columnMap;

  // The shared strings wherever they live: the exported table once the
  // workbook is installed (see installWorkbook), its own before.
  const std::vector<std::string>* strings = &sharedStrings;
};

// What a sheet's row jobs read. allDates: numbers of any date format are
// dates (else only those of built-in date formats).
SheetContext contextOf(const Workbook& workbook, bool allDates);

// The open workbook, or nullptr.
const Workbook* openWorkbook();

// Makes workbook the open one and keeps the exported tables in step with
// it; its shared strings move into the exported table, which it reads from
// then on.
void installWorkbook(std::unique_ptr<Workbook> workbook);

// Releases the open workbook and empties the exported tables.
void releaseWorkbook();

}  // namespace tabulon
