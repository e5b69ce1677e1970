#include "csv_text.h"

#include <algorithm>

namespace tabulon::cli {

namespace {

void appendField(std::string& csv, std::string_view field) {
  if (field.find_first_of(",\"\n\r") == std::string_view::npos) {
    csv += field;
    return;
  }
  csv += '"';
  for (char c : field) {
    if (c == '"') csv += '"';
    csv += c;
  }
  csv += '"';
}

}  // namespace

std::size_t rowWidth(std::string_view text) {
  std::size_t widest = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    widest = std::max(widest, static_cast<std::size_t>(std::count(line.begin(), line.end(), ';')));
    start = end + 1;
  }
  return widest;
}

std::string toCsv(std::string_view text) {
  const std::size_t width = std::max<std::size_t>(rowWidth(text), 1);
  std::string csv;
  csv.reserve(text.size() + text.size() / 8);
  std::size_t pos = 0;
  while (pos < text.size()) {
    // One row: width fields, each ended by ';'. A field may run over line
    // ends because it holds no ';' of its own.
    for (std::size_t field = 0; field < width && pos < text.size(); ++field) {
      std::size_t end = text.find(';', pos);
      if (end == std::string_view::npos) end = text.size();
      if (field > 0) csv += ',';
      std::string_view value = text.substr(pos, end - pos);
      // Without a closing ';' the text was cut short: the line end that
      // closes the row is not part of the last field.
      if (end == text.size() && !value.empty() && value.back() == '\n') value.remove_suffix(1);
      appendField(csv, value);
      pos = end + 1;
    }
    csv += "\r\n";
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  return csv;
}

}  // namespace tabulon::cli
