// The cell formats whose numbers are dates, by every date format the
// workbook uses: built-in ones and its own format codes.
#pragma once

#include <string_view>
#include <vector>

namespace tabulon {

// One flag per cell format (xf of cellXfs) of the styles part: 1 when its
// number format is a built-in date format or a format code of the part's
// numFmts that writes date or time parts, else 0.
std::vector<int> readDateStyles(std::string_view stylesXml);

}  // namespace tabulon
