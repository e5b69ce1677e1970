// Cutting worksheet XML into blocks of whole rows for parallel row jobs.
#pragma once

#include <string_view>
#include <vector>

namespace tabulon {

// Position just past the first row end tag ("</row>", any prefix) that
// begins at or after from; npos when there is none. start (<= from) must
// lie outside comments, CDATA sections and processing instructions: a row
// end tag inside one of them is text, not a row end.
std::size_t afterRowEnd(std::string_view text, std::size_t start, std::size_t from);

// Cuts text into count blocks (count >= 1): block i starts where block i-1
// ended and ends just past the first row end tag at or after its start plus
// text.size() / count; the last block ends at the end of the text. Blocks
// are disjoint, cover the text in order, and never split a row; some may be
// empty.
std::vector<std::string_view> cutRowBlocks(std::string_view text, unsigned count);

}  // namespace tabulon
