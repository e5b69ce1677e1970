// Running one hostile workbook through the host's calls.
#pragma once

#include <string>

#include "support/host_library.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"

namespace tabulon::test {

// What a host sees: openExcel's code, then the sheet's text when it opened.
struct Outcome {
  int open = 0;
  std::string text;  // getSheetData's text; "" when the open failed
};

inline Outcome runBytes(const std::string& archive, const std::string& sheet) {
  TempDir dir;
  const std::string path = dir.write("hostile.xlsx", archive);
  HostLibrary& lib = host();
  Outcome outcome{lib.openExcel(path.c_str()), ""};
  if (outcome.open == 0) outcome.text = lib.getSheetData(sheet.c_str());
  lib.closeExcel();
  return outcome;
}

inline Outcome runBook(const Workbook& book, const std::string& sheet) {
  return runBytes(zipBytes(book.members()), sheet);
}

// A workbook of one sheet "S" holding rows, with a dimension when given.
inline Workbook sheetBook(const std::string& dimension, const std::string& rows) {
  Workbook book;
  book.sheets = {{"S", worksheet(dimension, rows)}};
  return book;
}

}  // namespace tabulon::test
