#include "api/workbook.h"

namespace tabulon {

SheetContext contextOf(const Workbook& workbook, bool allDates) {
  SheetContext context;
  context.sharedStrings = workbook.strings;
  context.styles = allDates ? &workbook.dateStyles : &workbook.styles;
  context.date1904 = workbook.date1904;
  context.sharedStringEdits = &workbook.sharedStringEdits;
  context.numberKinds = &workbook.numberKinds;
  return context;
}

}  // namespace tabulon
