// The cell format table.
#pragma once

#include <string_view>
#include <vector>

// One flag per cell format of the styles part: 1 when its number format id
// is a built-in date format (12..22), else 0.
std::vector<int> getStyles(std::string_view text);

namespace tabulon {

// The number format id of each cell format (xf of cellXfs) of the styles
// part, in order; 0, the default format, where it is missing or unreadable.
std::vector<int> cellFormatIds(std::string_view text);

}  // namespace tabulon
