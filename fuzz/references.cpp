// Cell references and column letters on arbitrary text.
#include <map>

#include "cells/column_map.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  static const std::map<std::string, unsigned long> map = CreateMap();
  const std::string_view text = fuzz::asText(data, size);

  const std::vector<unsigned long> rc = ExcelRangeToRC(text);
  fuzz::require(rc.size() == 4, "a range gives other than four numbers");
  fuzz::require(rc[1] <= kLastMappedColumn && rc[3] <= kLastMappedColumn, "a column past the map");

  const unsigned long column = ExcelColFromString(std::string(text));
  fuzz::require(column <= kLastMappedColumn, "a column past the map");
  // The computed lookup answers what the map answers.
  const std::string_view letters = text.substr(0, text.find_first_of("0123456789"));
  fuzz::require(columnFromLetters(letters) == lookupColumn(map, letters), "computed column differs from the map");
  fuzz::require(map.size() == kLastMappedColumn, "a lookup changed the map");
  return 0;
}
