// What a workbook's first worksheet holds, read once before timing.
#ifndef TABULON_BENCH_SHEET_CENSUS_H
#define TABULON_BENCH_SHEET_CENSUS_H

#include <cstdint>
#include <string>

namespace bench {

struct SheetCensus {
  bool ok = false;
  std::uint64_t xmlBytes = 0;         // xl/worksheets/sheet1.xml, inflated
  std::uint64_t zippedBytes = 0;      // the same member as stored
  std::uint64_t stringsBytes = 0;     // xl/sharedStrings.xml, inflated
  std::uint64_t rows = 0;             // <row> elements
  std::uint64_t cells = 0;            // <c> elements
  std::string dimension;              // the dimension's ref, as written
};

SheetCensus takeCensus(const std::string& workbook);

}  // namespace bench

#endif
