// Loading the workbook-wide tables after the archive has opened.
#pragma once

#include <memory>

#include "api/workbook.h"
#include "zip/zip_archive.h"

namespace tabulon {

// Reads the sheet list, the cell formats and the shared strings of the
// workbook in archive, parses them in parallel and returns the workbook.
// Throws on failure (a Failure naming a missing or damaged part, or an
// allocation failure).
std::unique_ptr<Workbook> loadWorkbook(Zippy::ZipArchive& archive);

}  // namespace tabulon
