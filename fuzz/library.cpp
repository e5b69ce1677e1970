// Arbitrary workbook bytes through the host's calls: openExcel, listSheets,
// getSheetData for every sheet (and one unknown name), closeExcel. Each
// sheet is also rendered in small blocks (sizes from the input's last
// byte): its text must not depend on where the blocks are cut.
#include <algorithm>
#include <cstring>

#include "api/sheet_extraction.h"
#include "api/workbook.h"
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
    const std::size_t smallest = size > 0 ? 1 + data[size - 1] % 200 : 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string& name = names[i];
      const char* text = getSheetData(name.c_str());
      require(text != nullptr, "getSheetData returned null");
      const std::string whole = text;
      // At most about 64 blocks, so that a sheet that inflates to
      // megabytes does not turn into a million jobs.
      std::size_t blockBytes = smallest;
      const std::vector<std::string>& parts = tabulon::openWorkbook()->sheetParts;
      for (const auto& entry : xlsFile.Entries())
        if (i < parts.size() && entry.info.name == parts[i])
          blockBytes = std::max<std::size_t>(blockBytes, entry.info.uncompressedSize / 64);
      require(whole == tabulon::extractSheet(tabulon::openWorkbook(), name.c_str(), 2, blockBytes),
              "the text depends on where the sheet is cut into blocks");
    }
    const char* unknown = "\x01no such sheet";
    require(std::strcmp(getSheetData(unknown), "0") == 0 ||
                std::find(names.begin(), names.end(), unknown) != names.end(),
            "an unknown sheet did not give \"0\"");
  }
  require(closeExcel() == 0, "closeExcel returned other than 0");
  return 0;
}
