// The library's sheet text turned into RFC 4180 CSV.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tabulon::cli {

// The number of fields of the sheet's rows: the most ';' on any one line.
// Every row has the same number of fields; a row whose cell holds a line feed
// spreads them over several lines, so only a line that holds a whole row
// shows the full count.
std::size_t rowWidth(std::string_view text);

// The sheet text as CSV: one record per row, ended by "\r\n"; the field
// after a row's last ';' (always empty) is dropped; a field holding '"', ',',
// '\n' or '\r' is quoted, its quotes doubled. A row continues over line ends
// until it holds width fields, so a cell with a line feed stays one field.
std::string toCsv(std::string_view text);

}  // namespace tabulon::cli
