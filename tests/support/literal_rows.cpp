#include "support/literal_rows.h"

#include <charconv>
#include <map>

#include "cells/column_map.h"
#include "cells/serial_date.h"
#include "cells/text_edit.h"

namespace tabulon::test {
namespace {

std::string_view until(std::string_view text, std::size_t from, char stop) {
  if (from > text.size()) return {};
  std::size_t end = text.find(stop, from);
  return text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
}

}  // namespace

std::string literalSheetText(std::string_view xml, const std::vector<std::string>& sharedStrings,
                             const std::vector<int>& dateStyles) {
  static const std::map<std::string, unsigned long> columns = CreateMap();
  std::size_t dim = xml.find("<dimension ref=\"");
  std::string_view ref = dim == std::string_view::npos ? std::string_view() : until(xml, dim + 16, '"');
  std::vector<unsigned long> extent = ExcelRangeToRC(ref);
  const unsigned long width = extent[3];
  std::vector<std::string> slots(extent[2] + 1);

  std::size_t rowStart = xml.find("<row r=\"");
  while (rowStart != std::string_view::npos) {
    std::size_t rowEnd = xml.find("</row>", rowStart + 9);
    std::string_view row = xml.substr(rowStart, rowEnd == std::string_view::npos ? std::string_view::npos
                                                                                    : rowEnd - rowStart);
    if (row.find("</v></c>") != std::string_view::npos) {
      std::string_view digits = until(row, 8, '"');
      int number = 0;
      std::from_chars(digits.data(), digits.data() + digits.size(), number);
      std::vector<std::string> cells(width + 1);
      int counted = 0;
      std::size_t at = row.find("<c r=\"");
      while (at != std::string_view::npos) {
        std::size_t next = row.find("<c r=\"", at + 6);
        std::string_view cell = row.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at);
        at = next;
        std::size_t v = cell.find("<v>");
        if (v == std::string_view::npos) continue;
        std::string value(until(cell, v + 3, '<'));
        std::string_view cellRef = until(cell, cell.find("r=\"") + 3, '"');
        std::string letters(cellRef.substr(0, cellRef.size() > digits.size() ? cellRef.size() - digits.size() : 0));
        auto found = columns.find(letters);
        unsigned long column = found == columns.end() ? 0 : found->second;
        std::size_t s = cell.find("s=\"");
        std::string style = s == std::string_view::npos ? "" : std::string(until(cell, s + 3, '"'));
        std::size_t t = cell.find("t=\"");
        if (t != std::string_view::npos && until(cell, t + 3, '"') == "s") {
          value = sharedStrings.at(std::stoul(value));
        } else if (!style.empty() && dateStyles.at(std::stoul(style)) == 1 && !value.empty()) {
          value = ExcelSerialToDMY(std::stod(value));
        }
        if (value.empty()) continue;
        ++counted;
        eraseSeparators(value);
        cells.at(column) = value;
      }
      if (counted > 0) {
        std::string line;
        for (unsigned long c = 1; c <= width; ++c) line += cells[c] + ";";
        slots.at(static_cast<std::size_t>(number)) = line;
      }
    }
    if (rowEnd == std::string_view::npos) break;
    rowStart = xml.find("<row r=\"", rowEnd);
  }
  std::string text;
  for (const std::string& line : slots)
    if (!line.empty()) text += line + "\n";
  return text;
}

}  // namespace tabulon::test
