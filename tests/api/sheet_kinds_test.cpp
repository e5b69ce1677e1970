// Each sheet's kind and visibility, from the workbook part, the sheets'
// relationships and the package's content types; every sheet stays listed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/default_workbook.h"
#include "api/workbook.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

void replaceIn(std::string& text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

TEST(SheetKinds, KindsAndVisibilityOfEverySheet) {
  Workbook book;
  for (const char* name : {"Data", "Chart", "Dialog", "Macro", "Intl", "Hidden", "Deep"})
    book.sheets.emplace_back(name, "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
  std::vector<Member> members = book.members();
  const std::string officeRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  for (Member& m : members) {
    if (m.name == "xl/workbook.xml") {
      replaceIn(m.bytes, "name=\"Hidden\"", "name=\"Hidden\" state=\"hidden\"");
      replaceIn(m.bytes, "name=\"Deep\"", "name=\"Deep\" state=\"veryHidden\"");
      replaceIn(m.bytes, "name=\"Macro\"", "name=\"Macro\" state=\"visible\"");
    } else if (m.name == "xl/_rels/workbook.xml.rels") {
      // Chart and dialog sheets by their relationship; the macro sheet by
      // its own relationship type, the international one by content type.
      replaceIn(m.bytes, "Id=\"rId2\" Type=\"" + officeRels + "worksheet\"", "Id=\"rId2\" Type=\"" + officeRels + "chartsheet\"");
      replaceIn(m.bytes, "Id=\"rId3\" Type=\"" + officeRels + "worksheet\"", "Id=\"rId3\" Type=\"" + officeRels + "dialogsheet\"");
      replaceIn(m.bytes, "Id=\"rId4\" Type=\"" + officeRels + "worksheet\"",
                "Id=\"rId4\" Type=\"http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet\"");
    } else if (m.name == "[Content_Types].xml") {
      replaceIn(m.bytes, "/xl/worksheets/sheet5.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"",
                "/XL/worksheets/sheet5.xml\" ContentType=\"application/vnd.ms-excel.intlmacrosheet+xml\"");
    }
  }
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  writeZip(path, members);
  ASSERT_EQ(openExcel(path.c_str()), 0);
  const tabulon::Workbook* loaded = openWorkbook();
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->sheetKinds, (std::vector<int>{TABULON_SHEET_WORKSHEET, TABULON_SHEET_CHART, TABULON_SHEET_DIALOG,
                                                  TABULON_SHEET_MACRO, TABULON_SHEET_MACRO, TABULON_SHEET_WORKSHEET,
                                                  TABULON_SHEET_WORKSHEET}));
  EXPECT_EQ(loaded->sheetVisibility, (std::vector<int>{TABULON_VISIBLE, TABULON_VISIBLE, TABULON_VISIBLE, TABULON_VISIBLE,
                                                       TABULON_VISIBLE, TABULON_HIDDEN, TABULON_VERY_HIDDEN}));
  EXPECT_STREQ(listSheets(), "Data\nChart\nDialog\nMacro\nIntl\nHidden\nDeep\n");
  // Hidden sheets read like any other.
  EXPECT_STREQ(getSheetData("Deep"), "1;\n");
  closeExcel();
}

}  // namespace
}  // namespace tabulon::test
