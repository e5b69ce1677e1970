// Rendering one worksheet of the loaded workbook into out and retMT.
#pragma once

#include <cstddef>
#include <string_view>

namespace tabulon {

// The platform's hardware threads, at least 1.
unsigned hardwareThreads();

// Renders worksheet XML with the given number of row blocks (parallel jobs)
// into retMT and out, and returns out's characters. Throws on allocation
// failure, leaving out and retMT to the caller to reset.
const char* renderSheet(std::string_view sheetXml, unsigned blocks);

// Bytes of sheet text per row job: large enough that a job's overhead does
// not show, small enough that inflating and parsing overlap early.
constexpr std::size_t kBlockBytes = 4u << 20;

// getSheetData with an explicit number of worker threads and block size.
const char* extractSheet(const char* sheetName, unsigned threads, std::size_t blockBytes = kBlockBytes);

// The reference of the sheet's dimension element ("A1:D10"); empty when the
// header before the rows has none.
std::string_view findDimension(std::string_view sheetXml);

}  // namespace tabulon
