#include "csv_text.h"

#include "tabulon.h"

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

// The end of the quoted field that starts at pos: just past its closing
// quote (or the text's end when it has none).
std::size_t quotedEnd(std::string_view text, std::size_t pos) {
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    if (text[i] != '"') continue;
    if (i + 1 < text.size() && text[i + 1] == '"') ++i;
    else return i + 1;
  }
  return text.size();
}

}  // namespace

unsigned textFlags(bool csv) {
  return TABULON_TEXT_ALL_DATES | TABULON_TEXT_TRIM | (csv ? TABULON_TEXT_QUOTED : 0u);
}

std::string toCsv(std::string_view text) {
  std::string csv;
  csv.reserve(text.size() + text.size() / 8);
  std::size_t pos = 0;
  while (pos < text.size()) {
    bool first = true;
    while (pos < text.size() && text[pos] != '\n') {
      if (!first) csv += ',';
      first = false;
      if (text[pos] == '"') {
        const std::size_t end = quotedEnd(text, pos);
        csv.append(text, pos, end - pos);
        pos = end;
        // Only a ';' can follow the closing quote; anything else belongs
        // to the field, as the library never writes it.
        const std::size_t stop = text.find_first_of(";\n", pos);
        const std::size_t to = stop == std::string_view::npos ? text.size() : stop;
        csv.append(text, pos, to - pos);
        pos = to;
      } else {
        const std::size_t stop = text.find_first_of(";\n", pos);
        const std::size_t to = stop == std::string_view::npos ? text.size() : stop;
        appendField(csv, text.substr(pos, to - pos));
        pos = to;
      }
      if (pos < text.size() && text[pos] == ';') ++pos;
    }
    csv += "\r\n";
    ++pos;  // the line end
  }
  return csv;
}

}  // namespace tabulon::cli
