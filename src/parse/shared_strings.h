// The shared string table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One decoded text per string item, in document order.
std::vector<std::string> getSharedStrings(std::string text);

namespace tabulon {

// getSharedStrings over a view of the part, without a copy of it.
std::vector<std::string> readSharedStrings(std::string_view text);

// The text of one string item's content (a shared-string item or an inline
// string): the decoded texts of its runs, concatenated in document order.
std::string collectRuns(std::string_view itemContent);

}  // namespace tabulon
