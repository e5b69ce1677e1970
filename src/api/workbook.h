// One loaded workbook: everything its sheets are read with, built whole by
// loading and released as a whole. Nothing changes it once loaded (but for the
// buffers its reads keep, each taken by one read at a time), so any
// number of reads may use it at once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "parse/cell_value.h"
#include "parse/read_stock.h"
#include "zip/zip_archive.h"

namespace tabulon {

struct Workbook {
  // The archive the workbook was loaded from; it stays open with it, and
  // whoever owns the workbook owns it.
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
  // Per cell format: the NumberKind of its numbers (dates told apart from
  // durations and times of day).
  std::vector<std::uint8_t> numberKinds;
  bool date1904 = false;
  std::map<std::string, unsigned long> columnMap;

  // Buffers its reads reuse (see read_stock.h); reads change nothing else.
  std::shared_ptr<ReadStock> stock = std::make_shared<ReadStock>();

  // The shared strings wherever they live: its own, or the exported table
  // once it became the process-default workbook (api/default_workbook).
  const std::vector<std::string>* strings = &sharedStrings;
};

// What a sheet's row jobs read. allDates: numbers of any date format are
// dates (else only those of built-in date formats).
SheetContext contextOf(const Workbook& workbook, bool allDates);

}  // namespace tabulon
