// The shared string table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One decoded text per string item, in document order.
std::vector<std::string> getSharedStrings(std::string text);

namespace tabulon {

// The text of one string item's content (a shared-string item or an inline
// string): the decoded texts of its runs, concatenated in document order.
std::string collectRuns(std::string_view itemContent);

}  // namespace tabulon
