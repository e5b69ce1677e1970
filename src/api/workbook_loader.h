// Loading the workbook-wide tables after the archive has opened.
#pragma once

namespace tabulon {

// Reads the sheet list, the cell formats, the shared strings and the column
// map of the workbook open in xlsFile, parses them in parallel and moves
// them into the workbook state. Throws on failure; tables taken before the
// failure have been replaced, the others are unchanged.
void loadWorkbook();

}  // namespace tabulon
