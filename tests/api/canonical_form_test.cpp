// On sheets written in the canonical form (what desktop spreadsheet
// programs write), the tolerant row reader gives exactly the bytes of a
// literal reader of that form.
#include <gtest/gtest.h>

#include <random>

#include "api/sheet_extraction.h"
#include "support/literal_rows.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

std::string letters(unsigned n) {
  std::string s;
  for (; n > 0; n = (n - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (n - 1) % 26));
  return s;
}

TEST(CanonicalForm, SameBytesAsTheLiteralReader) {
  const std::vector<std::string> strings = {"alpha", "beta gamma", "with;semicolon", "line\r\nbreak",
                                            "", "x", "Ünïcödé"};
  const std::vector<int> dates = {0, 1, 0, 1};  // cell formats 1 and 3 are dates
  std::mt19937 random(7);
  const unsigned width = 12, rows = 5000;
  std::string sheetData;
  for (unsigned r = 1; r <= rows; ++r) {
    if (random() % 17 == 0) continue;  // a gap
    std::string n = std::to_string(r);
    std::string row = "<row r=\"" + n + "\" spans=\"1:" + std::to_string(width) + "\">";
    for (unsigned c = 1; c <= width; ++c) {
      unsigned kind = random() % 9;
      std::string ref = letters(c) + n;
      switch (kind) {
        case 0: break;  // no cell
        case 1: row += "<c r=\"" + ref + "\" s=\"2\"/>"; break;  // style only
        case 2: row += "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string(random() % strings.size()) + "</v></c>"; break;
        case 3: row += "<c r=\"" + ref + "\" s=\"1\"><v>" + std::to_string(30000 + random() % 20000) + "." +
                       std::to_string(random() % 1000) + "</v></c>"; break;
        case 4: row += "<c r=\"" + ref + "\" t=\"b\"><v>" + std::to_string(random() % 2) + "</v></c>"; break;
        case 5: row += "<c r=\"" + ref + "\" t=\"e\"><v>#N/A</v></c>"; break;
        case 6: row += "<c r=\"" + ref + "\" s=\"3\"><f>A1+1</f><v>" + std::to_string(random() % 60000) + "</v></c>"; break;
        case 7: row += "<c r=\"" + ref + "\"><v></v></c>"; break;
        default: row += "<c r=\"" + ref + "\"><v>" + std::to_string(static_cast<int>(random() % 200000) - 100000) +
                        ".0625E-3</v></c>";
      }
    }
    sheetData += row + "</row>";
  }
  const std::string xml = worksheet("A1:" + letters(width) + std::to_string(rows), sheetData);

  Workbook book;
  book.sheets = {{"S", xml}};
  for (const std::string& s : strings) {
    // A carriage return of the text is written as a reference, as writers do.
    std::string escaped = xmlEscape(s);
    for (std::size_t at = escaped.find('\r'); at != std::string::npos; at = escaped.find('\r', at))
      escaped.replace(at, 1, "&#13;");
    book.sharedStrings += "<si><t>" + escaped + "</t></si>";
  }
  book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"2\"/><xf numFmtId=\"22\"/>";
  TempDir dir;
  std::string path = dir.file("canonical.xlsx");
  book.write(path);
  ASSERT_EQ(openExcel(path.c_str()), 0);
  std::string expected = literalSheetText(xml, strings, dates);
  ASSERT_GT(expected.size(), 100000u);
  const std::string text = getSheetData("S");
  std::size_t first = 0;
  while (first < text.size() && first < expected.size() && text[first] == expected[first]) ++first;
  EXPECT_TRUE(text == expected) << "first difference at byte " << first << ": "
                                << text.substr(first > 40 ? first - 40 : 0, 80) << " | "
                                << expected.substr(first > 40 ? first - 40 : 0, 80);
  closeExcel();
}

}  // namespace
}  // namespace tabulon::test
