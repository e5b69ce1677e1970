// Arbitrary workbook bytes through the host's calls: openExcel, listSheets,
// getSheetData for every sheet (and one unknown name), closeExcel.
#include <algorithm>
#include <cstring>

#include "api/workbook_state.h"
#include "fuzz_support.h"
#include "tabulon.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tabulon::fuzz::require;
  static const tabulon::fuzz::ScratchFile file(".xlsx");
  const std::string& path = file.write(data, size);

  const int opened = openExcel(path.c_str());
  require(opened == 0 || opened == -1 || opened == -2, "openExcel returned another code");
  const char* list = listSheets();
  require(list != nullptr, "listSheets returned null");
  if (opened == 0) {
    std::size_t expected = 0;
    for (const std::string& name : SheetsNames) expected += name.size() + 1;
    require(std::strlen(list) <= expected, "listSheets longer than the names");
    // Copied: a sheet's text replaces the previous one's.
    const std::vector<std::string> names = SheetsNames;
    for (const std::string& name : names) {
      const char* text = getSheetData(name.c_str());
      require(text != nullptr, "getSheetData returned null");
    }
    require(std::strcmp(getSheetData("\x01no such sheet"), "0") == 0 ||
                std::find(names.begin(), names.end(), "\x01no such sheet") != names.end(),
            "an unknown sheet did not give \"0\"");
  }
  require(closeExcel() == 0, "closeExcel returned other than 0");
  return 0;
}
