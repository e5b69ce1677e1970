// The shared string table and run collection on arbitrary text.
#include "fuzz_support.h"
#include "parse/shared_strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tabulon;
  const std::string_view text = fuzz::asText(data, size);
  const std::vector<std::string> table = getSharedStrings(std::string(text));
  std::size_t total = 0;
  for (const std::string& item : table) total += item.size();
  // Items are cut out of the text and decoding never lengthens: together
  // they can never be longer than the part.
  fuzz::require(total <= size, "shared strings longer than their part");
  fuzz::require(table.size() <= size / 4, "more items than the part can hold");
  fuzz::require(collectRuns(text).size() <= size, "runs longer than their content");
  return 0;
}
