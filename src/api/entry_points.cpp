// The plain C entry points that hosts look up by name.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "api/arrow_export.h"
#include "api/failure_record.h"
#include "api/file_kind.h"
#include "api/sheet_extraction.h"
#include "api/workbook.h"
#include "api/workbook_loader.h"
#include "base/failure.h"
#include "api/workbook_state.h"
#include "tabulon.h"
#include "zip/zip_failure.h"

namespace {

constexpr const char kVersion[] = "Tabulon - Version 0.2.60 - Merrowind";

// The path's status, following links: -1 for something that is not a
// regular file or cannot be examined, 0 otherwise (a missing file included:
// the archive reports it, like any file it cannot open).
int testPath(const char* path, bool& missing) {
  using namespace tabulon;
  missing = false;
  struct stat status;
  if (stat(path, &status) == 0) {
    if (S_ISREG(status.st_mode)) return 0;
    recordFailure(TABULON_NOT_A_FILE, std::string("not a regular file: ") + path);
    return -1;
  }
  if (errno == ENOENT || errno == ENOTDIR) {
    missing = true;
    return 0;
  }
  recordFailure(TABULON_UNREADABLE, std::string("cannot examine ") + path + ": " + std::strerror(errno));
  return -1;
}

}  // namespace

extern "C" int openExcel(const char* path) {
  using namespace tabulon;
  clearFailure();
  SheetsList.clear();
  try {
    if (path == nullptr) {
      recordFailure(TABULON_INVALID_ARGUMENT, "no path given");
      return -1;
    }
    bool missing = false;
    if (testPath(path, missing) != 0) return -1;
    // Opening releases the previous archive, and with it the workbook
    // read from it, whether or not the new one opens.
    try {
      xlsFile.Open(path);
    } catch (const Zippy::ZipRuntimeError& error) {
      releaseWorkbook();
      const TabulonFailure kind = openFailureKind(error);
      if (missing) {
        recordFailure(TABULON_NO_SUCH_FILE, std::string("no such file: ") + path);
      } else if (auto foreign = kind == TABULON_NOT_A_ZIP ? recognizeNonZipFile(path) : std::nullopt) {
        recordFailure(foreign->kind(), std::string(path) + ": " + foreign->what());
      } else {
        recordFailure(kind, std::string(path) + ": " + error.what());
      }
      return -2;
    } catch (...) {
      releaseWorkbook();
      recordCurrentException();
      return -2;
    }
    installWorkbook(loadWorkbook(xlsFile));
    return 0;
  } catch (...) {
    releaseWorkbook();
    recordCurrentException();
    return -1;
  }
}

extern "C" const char* getSheetData(const char* sheetName) {
  tabulon::clearFailure();
  return tabulon::extractSheet(tabulon::openWorkbook(), sheetName, tabulon::hardwareThreads());
}

extern "C" const char* getSheetText(const char* sheetName, unsigned flags) {
  tabulon::clearFailure();
  const tabulon::TextOptions options = tabulon::textOptionsOf(flags);
  return tabulon::extractSheet(tabulon::openWorkbook(), sheetName, tabulon::hardwareThreads(),
                               tabulon::kBlockBytes, options);
}

extern "C" int closeExcel(void) {
  tabulon::clearFailure();
  xlsFile.Close();
  tabulon::releaseWorkbook();
  SheetsList.clear();
  return 0;
}

extern "C" const char* listSheets(void) {
  tabulon::clearFailure();
  try {
    std::string list;
    for (const std::string& name : SheetsNames) {
      list += name;
      list += '\n';
    }
    SheetsList = std::move(list);
  } catch (...) {
    tabulon::recordCurrentException();
    SheetsList.clear();
  }
  return SheetsList.c_str();
}

extern "C" const char* version(void) { return kVersion; }

extern "C" int readColumns(const char* sheetName, const TabulonReadOptions* options, ArrowSchema* schema,
                           ArrowArray* array) {
  using namespace tabulon;
  clearFailure();
  if (schema == nullptr || array == nullptr) {
    recordFailure(TABULON_INVALID_ARGUMENT, "readColumns needs a schema and an array to fill");
    return -1;
  }
  schema->release = nullptr;
  array->release = nullptr;
  try {
    ColumnOptions chosen;
    if (options != nullptr) {
      chosen.skipRows = options->skip_rows;
      chosen.maxRows = options->max_rows;
      chosen.header = options->header != 0;
    }
    const Workbook* workbook = openWorkbook();
    if (workbook == nullptr) throw Failure(TABULON_NO_WORKBOOK, "no workbook is open");
    exportColumns(extractColumns(*workbook, sheetName, chosen, hardwareThreads()), schema, array);
    return 0;
  } catch (...) {
    recordCurrentException();
    return -1;
  }
}

extern "C" const char* lastError(int* code) {
  if (code != nullptr) *code = LastFailureKind;
  return LastFailureText.c_str();
}
