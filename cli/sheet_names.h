// The sheet names of the open workbook, as the program lists them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tabulon::cli {

// The lines of listSheets' text, one name each.
std::vector<std::string> splitLines(std::string_view text);

// The names quoted and separated for a message: 'a', 'b', 'c'.
std::string quotedList(const std::vector<std::string>& names);

}  // namespace tabulon::cli
