// A literal reader of rows written in the canonical form: fixed texts
// "<row r=\"", "<c r=\"", "<v>", "s=\"", "t=\"" found by plain substring
// search, as the first version of this library read them. The tests
// compare the library with it on canonical sheets: the tolerant reader
// must give the same bytes there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tabulon::test {

// The sheet text for sheetXml (dimension, rows, join), with the shared
// strings and date flags given.
std::string literalSheetText(std::string_view sheetXml, const std::vector<std::string>& sharedStrings,
                             const std::vector<int>& dateStyles);

}  // namespace tabulon::test
