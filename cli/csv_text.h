// The library's sheet text turned into RFC 4180 CSV.
#pragma once

#include <string>
#include <string_view>

namespace tabulon::cli {

// The TABULON_TEXT_* flags the program reads a sheet with: every date
// format as dates, lines ending at the last column holding a value, and
// for CSV every character of a cell kept (quoted text).
unsigned textFlags(bool csv);

// Quoted sheet text (TABULON_TEXT_QUOTED) as CSV: one record per line,
// ended by "\r\n"; the field after a line's last ';' (always empty) is
// dropped. A field the library quoted is copied as it stands, since it is
// quoted as CSV quotes; any other field is quoted when it holds ','.
std::string toCsv(std::string_view text);

}  // namespace tabulon::cli
