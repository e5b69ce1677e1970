// The process-wide names the host interface exports. They belong to the
// fixed entry points (api/default_workbook), which keep them in step with
// the process-default workbook; nothing else in the library reads or
// writes them, and the workbook handles never touch them. Only the host's
// calling thread writes them, except the slots of retMT and the two
// running maxima that getWsData fills.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "tabulon.h"
#include "zip/zip_archive.h"

extern std::vector<std::string> SharedStrings;   // shared string table, decoded
extern "C" std::vector<int> Styles;              // 1 per cell format that is a date format
extern std::vector<std::string> SheetsNames;     // sheet names in workbook order
extern std::map<std::string, unsigned long> columnMap;  // "A".."YYY" -> 1..17575
extern "C" Zippy::ZipArchive xlsFile;            // the open workbook's archive
extern std::string out;                          // text of the last getSheetData
extern std::vector<std::string> retMT;           // lines of the last rendered sheet, by row number

extern "C" unsigned long max_abs_col;  // field count of the sheet last rendered
extern "C" int max_row;                // largest row number stored since load
extern "C" int max_col;                // largest column number stored since load

// The text last returned by listSheets.
extern std::string SheetsList;

// How the last entry point call ended, for lastError.
extern TabulonFailure LastFailureKind;
extern std::string LastFailureText;

// Raises a running maximum shared by concurrent row jobs; never lowers it.
inline void raiseMaximum(int& maximum, int value) {
  std::atomic_ref<int> shared(maximum);
  int seen = shared.load();
  while (value > seen && !shared.compare_exchange_weak(seen, value)) {
  }
}
