// The fixed entry points that hosts look up by name, over the one
// process-default workbook. They alone keep the exported tables and the
// lastError slot; reading itself is the same code the handles use.
#include "api/default_workbook.h"

#include <memory>

#include "api/arrow_export.h"
#include "api/failure_record.h"
#include "api/read_options.h"
#include "api/sheet_extraction.h"
#include "api/workbook_loader.h"
#include "api/workbook_open.h"
#include "api/workbook_state.h"
#include "base/failure.h"
#include "base/stage_probe.h"
#include "tabulon.h"

namespace tabulon {
namespace {

constexpr const char kVersion[] = "Tabulon - Version 0.2.60 - Merrowind";

// The process-default workbook; its archive is xlsFile.
std::unique_ptr<Workbook> current;

// Makes workbook the default one and keeps the exported tables in step
// with it; its shared strings move into the exported table, which it reads
// from then on.
void installWorkbook(std::unique_ptr<Workbook> workbook) {
  // Copies first: if one fails, nothing has changed yet.
  std::vector<std::string> names = workbook->sheetNames;
  std::vector<int> styles = workbook->styles;
  current.reset();
  SharedStrings = std::move(workbook->sharedStrings);
  workbook->sharedStrings.clear();
  workbook->strings = &SharedStrings;
  SheetsNames = std::move(names);
  Styles = std::move(styles);
  columnMap = std::move(workbook->columnMap);
  current = std::move(workbook);
}

// Releases the default workbook and empties the exported tables.
void releaseWorkbook() {
  current.reset();
  std::vector<std::string>().swap(SharedStrings);
  std::vector<std::string>().swap(retMT);
  columnMap.clear();
  SheetsNames.clear();
  Styles.clear();
}

// A sheet's text as getSheetData and getSheetText return it: into out,
// with the running maxima raised; "0" on failure. Only getSheetData, the
// entry point retMT belongs to, fills retMT: it then reads each row into
// a line of its own; getSheetText joins the rows straight into out.
const char* renderDefault(const char* sheetName, const TextOptions& options, bool fillRows) {
  static const char kFailed[] = "0";
  retMT.clear();
  try {
    if (current == nullptr) throw Failure(TABULON_NO_WORKBOOK, "no workbook is open");
    if (sheetName == nullptr) throw Failure(TABULON_INVALID_ARGUMENT, "no sheet name given");
    if (fillRows) {
      out.clear();
      SheetRows rows = extractRows(*current, SheetChoice{sheetName, 0}, hardwareThreads(), kBlockBytes, options);
      const std::size_t size = rows.textSize();
      out.resize(size);
      rows.writeText(out.data());
      stageEnded("text written");
      raiseMaximum(max_row, rows.maxRow);
      raiseMaximum(max_col, rows.maxColumn);
      if (!rows.slots.empty() || !rows.beyond.empty()) max_abs_col = rows.width;
      // Said, not printed: a host may tell its user why a sheet came out empty.
      if (std::string note = emptySheetNote(rows, size); !note.empty()) recordFailure(TABULON_OK, std::move(note));
      retMT = std::move(rows.slots);
      stageEnded("retMT");
      return out.c_str();
    }
    StringTarget target(out);
    const TextFacts facts =
        extractText(*current, SheetChoice{sheetName, 0}, target, hardwareThreads(), kBlockBytes, options);
    target.finish(facts.size);
    raiseMaximum(max_row, facts.maxRow);
    raiseMaximum(max_col, facts.maxColumn);
    if (facts.read) max_abs_col = facts.width;
    if (std::string note = emptySheetNote(facts.cellElements, facts.size); !note.empty())
      recordFailure(TABULON_OK, std::move(note));
    return out.c_str();
  } catch (...) {
    recordCurrentException();
    out.clear();
    retMT.clear();
    return kFailed;
  }
}

}  // namespace

const Workbook* openWorkbook() { return current.get(); }

}  // namespace tabulon

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
    try {
      checkPath(path, missing);
    } catch (...) {
      recordCurrentException();
      return -1;
    }
    // Opening releases the previous archive, and with it the workbook
    // read from it, whether or not the new one opens.
    try {
      openArchiveFile(xlsFile, path, missing);
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
  return tabulon::renderDefault(sheetName, {}, true);
}

extern "C" const char* getSheetText(const char* sheetName, unsigned flags) {
  tabulon::clearFailure();
  return tabulon::renderDefault(sheetName, tabulon::textOptionsOf(flags), false);
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

extern "C" const char* version(void) { return tabulon::kVersion; }

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
    const ColumnOptions chosen = columnOptionsOf(options);
    if (current == nullptr) throw Failure(TABULON_NO_WORKBOOK, "no workbook is open");
    exportColumns(extractColumns(*current, sheetName, chosen, hardwareThreads()), schema, array);
    stageEnded("exported");
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
