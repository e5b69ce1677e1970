// The workbook part's sheet list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Sheet names in workbook order, decoded.
std::vector<std::string> getSheetsNames(std::string text);

namespace tabulon {

struct SheetRef {
  std::string name;   // decoded
  std::string relId;  // the relationship id (an attribute "<prefix>:id"), may be ""
  std::string state;  // the state attribute ("hidden", "veryHidden"), "" when absent
};

// Every sheet element of the workbook part, in document order.
std::vector<SheetRef> scanSheets(std::string_view workbookXml);

// True when the workbook's properties select the 1904 date system
// (date1904 is "1" or "true").
bool usesDate1904(std::string_view workbookXml);

}  // namespace tabulon
