#include "cells/column_map.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

const std::map<std::string, unsigned long>& builtMap() {
  static const std::map<std::string, unsigned long> map = CreateMap();
  return map;
}

TEST(CreateMap, HoldsEveryNameFromAToYYY) {
  const auto& map = builtMap();
  EXPECT_EQ(map.size(), 17575u);
  const std::pair<std::string, unsigned long> known[] = {
      {"A", 1},   {"Z", 26},    {"AA", 27},      {"AZ", 52},      {"BA", 53},
      {"ZZ", 702}, {"AAA", 703}, {"XFD", 16384}, {"YYY", 17575},
  };
  for (const auto& [letters, number] : known) {
    EXPECT_EQ(tabulon::lookupColumn(map, letters), number) << letters;
  }
}

const std::string kNonKeys[] = {"YYZ", "ZZZ", "a", "", "AAAA", "A1", "aa", "Aa", "1", "$A"};

TEST(CreateMap, AbsentNamesLookUpAsZeroWithoutInsertion) {
  const auto& map = builtMap();
  for (const std::string& letters : kNonKeys) {
    EXPECT_EQ(map.count(letters), 0u) << letters;
    EXPECT_EQ(tabulon::lookupColumn(map, letters), 0u) << letters;
  }
  EXPECT_EQ(map.size(), 17575u);
  EXPECT_EQ(tabulon::lookupColumn({}, "A"), 0u);
}

TEST(ColumnFromLetters, AgreesWithTheMap) {
  const auto& map = builtMap();
  std::vector<bool> seen(17576, false);
  for (const auto& [letters, number] : map) {
    ASSERT_EQ(tabulon::columnFromLetters(letters), number) << letters;
    ASSERT_TRUE(number >= 1 && number <= 17575 && !seen[number]) << letters;
    seen[number] = true;
  }
  for (const std::string& letters : kNonKeys) {
    EXPECT_EQ(tabulon::columnFromLetters(letters), 0u) << letters;
  }
}

TEST(ExcelColFromString, UsesTheLeadingLetters) {
  const std::pair<std::string, unsigned long> cases[] = {
      {"A1", 1},      {"AB", 28}, {"XFD1048576", 16384}, {"YYY9", 17575}, {"ZZZ1", 0},
      {"a1", 0},      {"1A", 0},  {"", 0},               {"A1B", 0},      {"$A$1", 0},
  };
  for (const auto& [ref, column] : cases) EXPECT_EQ(ExcelColFromString(ref), column) << ref;
}

TEST(ExcelRangeToRC, GivesFirstAndLastRowAndColumn) {
  using Result = std::vector<unsigned long>;
  const std::pair<std::string, Result> cases[] = {
      {"A1:D10", {1, 1, 10, 4}},
      {"B2:D10", {2, 2, 10, 4}},
      {"A1:XFD1048576", {1, 1, 1048576, 16384}},
      {"A1", {1, 1, 1, 1}},
      {"C7", {7, 3, 7, 3}},
      {"b2:d10", {2, 0, 10, 0}},
      {"A5:C", {5, 1, 5, 3}},    // the second part carries row 5
      {"A:C", {0, 1, 0, 3}},
      {"A1:", {1, 1, 1, 0}},
      {"$A$1", {0, 0, 0, 0}},
      {"", {0, 0, 0, 0}},
      {"A12$:B3", {12, 1, 3, 2}},  // only the leading run of digits counts
      {"A12x:B3", {2, 0, 3, 2}},   // two letters in all: "A1" and "2x"
      {"A+1:B2", {0, 1, 2, 2}},    // no sign
      {"A1:B2:C3", {1, 1, 1, 0}},  // the second part is "B2:C3"
      {"A18446744073709551615", {18446744073709551615ul, 1, 18446744073709551615ul, 1}},
      {"A7:B18446744073709551616", {7, 1, 7, 2}},  // too large: row carried
      {"A00000000000000000000000003", {3, 1, 3, 1}},
  };
  for (const auto& [range, expected] : cases) EXPECT_EQ(ExcelRangeToRC(range), expected) << range;
}

}  // namespace
