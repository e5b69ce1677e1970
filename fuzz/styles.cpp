// The cell format table on arbitrary text.
#include "fuzz_support.h"
#include "parse/styles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<int> flags = getStyles(tabulon::fuzz::asText(data, size));
  // Every flag comes from an element of its own, at least "<xf>" long.
  tabulon::fuzz::require(flags.size() <= size / 4, "more formats than the part can hold");
  for (int flag : flags) tabulon::fuzz::require(flag == 0 || flag == 1, "a flag other than 0 or 1");
  return 0;
}
