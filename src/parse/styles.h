// The cell format table.
#pragma once

#include <string_view>
#include <vector>

// One flag per cell format of the styles part: 1 when its number format id
// is a built-in date format (12..22), else 0.
std::vector<int> getStyles(std::string_view text);
