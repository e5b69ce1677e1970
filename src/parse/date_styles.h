// The cell formats whose numbers are dates, by every date format the
// workbook uses: built-in ones and its own format codes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tabulon {

// One flag per cell format (xf of cellXfs) of the styles part: 1 when its
// number format is a built-in date format or a format code of the part's
// numFmts that writes date or time parts, else 0.
std::vector<int> readDateStyles(std::string_view stylesXml);

// One NumberKind per cell format of the styles part, for the formats that
// readDateStyles counts as dates (Plain for every other): what a number
// of that format stands for.
std::vector<std::uint8_t> readNumberKinds(std::string_view stylesXml);

}  // namespace tabulon
