#include "parse/sheet_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

TEST(SheetList, NamesInDocumentOrder) {
  struct Case {
    std::string workbook;
    Names expected;
  };
  const Case cases[] = {
      {"<sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
       "<sheet name=\"A&amp;B\" sheetId=\"2\" r:id=\"rId2\"/></sheets>",
       {"Data", "A&B"}},
      // decoded once only
      {"<sheets><sheet name=\"&amp;lt;x&#38;&#x41;\"/></sheets>", {"&lt;x&A"}},
      // other attribute first, single quotes, white space around '='
      {"<sheets><sheet sheetId='1' name = 'One' r:id='rId1'/>\n"
       "  <sheet\n r:id=\"rId2\"\n name=\"Two\"/></sheets>",
       {"One", "Two"}},
      // prefixed elements
      {"<x:sheets><x:sheet name=\"P\" sheetId=\"1\" r:id=\"rId1\"/></x:sheets>", {"P"}},
      // the plural element and look-alike attributes do not count
      {"<sheets name=\"no\"></sheets>", {}},
      {"<sheets><sheet sheetname=\"no\" name=\"yes\"/></sheets>", {"yes"}},
      {"<sheets><sheet name=\"Spaces kept \"/></sheets>", {"Spaces kept "}},
      {"<sheetPr name=\"no\"/><sheets/>", {}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(getSheetsNames(c.workbook), c.expected) << c.workbook;
}

TEST(SheetList, ScanSheetsGivesRelationshipIds) {
  const std::string workbook =
      "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
      "<sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId3\"/>"
      "<sheet r:id='rId1' sheetId='2' name='B'/>"
      "<x:sheet name=\"C\" ns2:id=\"rId9\" id=\"not this\"/>"
      "<sheet name=\"D\" sheetId=\"4\"/></sheets></workbook>";
  const std::vector<tabulon::SheetRef> sheets = tabulon::scanSheets(workbook);
  ASSERT_EQ(sheets.size(), 4u);
  EXPECT_EQ(sheets[0].name, "A");
  EXPECT_EQ(sheets[0].relId, "rId3");
  EXPECT_EQ(sheets[1].name, "B");
  EXPECT_EQ(sheets[1].relId, "rId1");
  EXPECT_EQ(sheets[2].name, "C");
  EXPECT_EQ(sheets[2].relId, "rId9");
  EXPECT_EQ(sheets[3].name, "D");
  EXPECT_EQ(sheets[3].relId, "");
}

TEST(SheetList, Date1904) {
  struct Case {
    std::string workbook;
    bool expected;
  };
  const Case cases[] = {
      {"<workbookPr date1904=\"1\"/>", true},
      {"<workbookPr date1904=\"true\"/>", true},
      {"<x:workbookPr defaultThemeVersion='1' date1904 = ' TRUE '/>", true},
      {"<workbookPr date1904=\"0\"/>", false},
      {"<workbookPr date1904=\"false\"/>", false},
      {"<workbookPr defaultThemeVersion=\"1\"/>", false},
      {"<workbookPr xdate1904=\"1\"/>", false},
      {"<fileVersion date1904=\"1\"/>", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(tabulon::usesDate1904(c.workbook), c.expected) << c.workbook;
}

}  // namespace
