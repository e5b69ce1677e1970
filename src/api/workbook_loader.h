// Loading the workbook-wide tables after the archive has opened.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "zip/zip_archive.h"

namespace tabulon {

// Reads the sheet list, the cell formats, the shared strings and the column
// map of the workbook open in xlsFile, parses them in parallel and moves
// them into the workbook state. Throws on failure; tables taken before the
// failure have been replaced, the others are unchanged.
void loadWorkbook();

// The name of the archive entry called name: exact match first, else the
// first whose name differs only in ASCII letter case.
std::optional<std::string> findEntryName(const Zippy::ZipArchive& archive, std::string_view name);

}  // namespace tabulon
