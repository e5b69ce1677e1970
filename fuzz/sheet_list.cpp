// The workbook part's sheet list and date system on arbitrary text.
#include "fuzz_support.h"
#include "parse/sheet_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  const std::string_view text = fuzz::asText(data, size);
  const std::vector<SheetRef> sheets = scanSheets(text);
  const std::vector<std::string> names = getSheetsNames(std::string(text));
  fuzz::require(names.size() == sheets.size(), "getSheetsNames and scanSheets count differently");
  for (std::size_t i = 0; i < names.size(); ++i) {
    fuzz::require(names[i] == sheets[i].name, "getSheetsNames and scanSheets name differently");
    // Decoding never lengthens a text.
    fuzz::require(names[i].size() <= size && sheets[i].relId.size() <= size, "decoded name longer than the part");
  }
  (void)usesDate1904(text);
  return 0;
}
