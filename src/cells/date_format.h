// Which number formats show a number as a date or a time.
#pragma once

#include <string_view>

namespace tabulon {

// The built-in number formats that are dates or times: 14 to 22 and the
// elapsed-time forms 45 to 47.
bool isBuiltInDateFormat(int id);

// True when a format code writes date or time parts: d, m, y, h or s
// outside quoted text, escaped characters and bracketed colours,
// conditions and locales, or an elapsed time [h], [m], [s]. Only the first
// section counts (the one positive numbers use).
bool isDateFormatCode(std::string_view code);

}  // namespace tabulon
