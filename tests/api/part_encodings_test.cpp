// Workbooks whose parts are written in UTF-16 without a byte-order mark or
// in an encoding their declaration names read as UTF-8 text.
#include <gtest/gtest.h>

#include <iconv.h>

#include <string>

#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

std::string encode(const std::string& utf8, const char* encoding) {
  iconv_t cd = iconv_open(encoding, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << encoding;
  std::string out(utf8.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size(), outLeft = out.size();
  char* to = out.data();
  EXPECT_NE(iconv(cd, &in, &inLeft, &to, &outLeft), static_cast<std::size_t>(-1)) << encoding;
  out.resize(out.size() - outLeft);
  iconv_close(cd);
  return out;
}

struct Opened {
  int open;
  std::string list, text, error;
  int code;
};

Opened openAndRead(const std::vector<Member>& members) {
  TempDir dir;
  const std::string path = dir.write("book.xlsx", zipBytes(members));
  Opened o;
  o.open = openExcel(path.c_str());
  o.code = TABULON_OK;
  if (o.open == 0) {
    o.list = listSheets();
    o.text = getSheetData("Série");
  }
  o.error = lastError(&o.code);
  closeExcel();
  return o;
}

Workbook sampleBook(const std::string& declaration) {
  Workbook book;
  book.sheets = {{"Série", declaration + "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
                               "<c r=\"B1\" t=\"inlineStr\"><is><t>Ça</t></is></c></row></sheetData></worksheet>"}};
  book.sharedStrings = "<si><t>Année</t></si>";
  return book;
}

TEST(PartEncodings, EveryPartReadsAsUtf8) {
  const std::string utf16decl = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>";
  struct Case {
    const char* what;
    const char* encoding;   // iconv's name for re-encoding
    std::string declaration;
    const char* part;       // "" for every part of the sheet, the workbook and the strings
  } cases[] = {
      {"UTF-16 little-endian without a mark", "UTF-16LE", utf16decl, ""},
      {"UTF-16 big-endian without a mark", "UTF-16BE", utf16decl, ""},
      {"UTF-16 with a mark", "UTF-16", utf16decl, ""},
      {"a sheet in ISO-8859-1", "ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
       "xl/worksheets/sheet1.xml"},
      {"a sheet in windows-1252", "WINDOWS-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>",
       "xl/worksheets/sheet1.xml"},
  };
  for (const Case& c : cases) {
    const Workbook book = sampleBook(c.declaration);
    std::vector<Member> members = book.members();
    for (Member& m : members) {
      const bool chosen = std::string(c.part).empty()
                              ? m.name == "xl/workbook.xml" || m.name == "xl/sharedStrings.xml" ||
                                    m.name == "xl/worksheets/sheet1.xml"
                              : m.name == c.part;
      if (!chosen) continue;
      if (m.name != "xl/worksheets/sheet1.xml") {
        // The builder writes these parts without a declaration: give them one.
        const std::size_t at = m.bytes.rfind("?>", 60);
        m.bytes = c.declaration + (at == std::string::npos ? m.bytes : m.bytes.substr(at + 2));
      }
      m.bytes = encode(m.bytes, c.encoding);
    }
    const Opened o = openAndRead(members);
    ASSERT_EQ(o.open, 0) << c.what << ": " << o.error;
    EXPECT_EQ(o.list, "Série\n") << c.what;
    EXPECT_EQ(o.text, "Année;Ça;\n") << c.what << ": " << o.error;
  }
}

TEST(PartEncodings, AnUnknownEncodingFailsNamingIt) {
  const Workbook book = sampleBook("<?xml version=\"1.0\" encoding=\"x-mystery-8\"?>");
  const Opened o = openAndRead(book.members());
  ASSERT_EQ(o.open, 0);
  EXPECT_EQ(o.text, "0");
  EXPECT_EQ(o.code, TABULON_UNKNOWN_ENCODING);
  EXPECT_NE(o.error.find("\"x-mystery-8\""), std::string::npos) << o.error;
}

}  // namespace
}  // namespace tabulon::test
