// Column letters and cell references to numbers.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Every column name from "A" (1) to "YYY" (17,575) with its number.
std::map<std::string, unsigned long> CreateMap();

// Column number of a reference such as "AB12"; 0 when its letters are not a
// column of the map.
unsigned long ExcelColFromString(std::string ref);

// First row, first column, last row, last column of "A1:D10" or "C7".
std::vector<unsigned long> ExcelRangeToRC(std::string_view range);

namespace tabulon {

constexpr unsigned long kLastMappedColumn = 17575;  // "YYY"

// What a lookup of letters in the map of CreateMap answers, computed without
// the map: 1..17575 for upper-case names up to "YYY", else 0.
unsigned long columnFromLetters(std::string_view letters);

// Lookup in a column map: the mapped number, or 0 (nothing is inserted).
unsigned long lookupColumn(const std::map<std::string, unsigned long>& map,
                           std::string_view letters);

}  // namespace tabulon
