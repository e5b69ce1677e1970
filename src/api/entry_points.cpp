// The plain C entry points that hosts look up by name.
#include <sys/stat.h>

#include <cerrno>

#include "api/sheet_extraction.h"
#include "api/workbook_loader.h"
#include "api/workbook_state.h"
#include "tabulon.h"

namespace {

constexpr const char kVersion[] = "Tabulon - Version 0.2.60 - Merrowind";

}  // namespace

extern "C" int openExcel(const char* path) {
  SheetsList.clear();
  try {
    if (path == nullptr) return -1;
    struct stat status;
    if (stat(path, &status) == 0) {
      if (!S_ISREG(status.st_mode)) return -1;
    } else if (errno != ENOENT && errno != ENOTDIR) {
      return -1;  // exists but cannot be examined
    }
    // A missing file is reported by the archive, like any file it cannot open.
    try {
      xlsFile.Open(path);
    } catch (...) {
      return -2;
    }
    tabulon::loadWorkbook();
    return 0;
  } catch (...) {
    return -1;
  }
}

extern "C" const char* getSheetData(const char* sheetName) {
  return tabulon::extractSheet(sheetName, tabulon::hardwareThreads());
}

extern "C" int closeExcel(void) {
  xlsFile.Close();
  std::vector<std::string>().swap(retMT);
  columnMap.clear();
  SheetsNames.clear();
  Styles.clear();
  SheetsParts.clear();
  SheetsList.clear();
  Date1904 = false;
  return 0;
}

extern "C" const char* listSheets(void) {
  try {
    std::string list;
    for (const std::string& name : SheetsNames) {
      list += name;
      list += '\n';
    }
    SheetsList = std::move(list);
  } catch (...) {
    SheetsList.clear();
  }
  return SheetsList.c_str();
}

extern "C" const char* version(void) { return kVersion; }
