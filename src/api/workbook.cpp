#include "api/workbook.h"

#include "api/workbook_state.h"

namespace tabulon {
namespace {

// The one workbook a process holds.
std::unique_ptr<Workbook> current;

}  // namespace

SheetContext contextOf(const Workbook& workbook, bool allDates) {
  SheetContext context;
  context.sharedStrings = workbook.strings;
  context.styles = allDates ? &workbook.dateStyles : &workbook.styles;
  context.date1904 = workbook.date1904;
  context.sharedStringEdits = &workbook.sharedStringEdits;
  context.numberKinds = &workbook.numberKinds;
  return context;
}

const Workbook* openWorkbook() { return current.get(); }

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

void releaseWorkbook() {
  current.reset();
  std::vector<std::string>().swap(SharedStrings);
  std::vector<std::string>().swap(retMT);
  columnMap.clear();
  SheetsNames.clear();
  Styles.clear();
}

}  // namespace tabulon
