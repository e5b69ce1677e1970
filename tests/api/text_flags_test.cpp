// Sheet text for people: lines trimmed to the last column holding a value,
// quoted fields that keep every character, macro and dialog sheets read as
// worksheets, and a word when a sheet's cells show nothing.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

std::string textOf(const Workbook& book, unsigned flags, std::string* note = nullptr) {
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book.write(path);
  if (openExcel(path.c_str()) != 0) return "<open failed>";
  std::string text = getSheetText(book.sheets.at(0).first.c_str(), flags);
  int code = -1;
  const std::string said = lastError(&code);
  EXPECT_EQ(code, TABULON_OK) << said;
  if (note != nullptr) *note = said;
  closeExcel();
  return text;
}

TEST(TextFlags, TrimmedAndQuoted) {
  Workbook book;
  book.sheets = {{"S", worksheet("A1:XFD1048576",
                                 "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"
                                 "<row r=\"2\"><c r=\"C2\" t=\"str\"><v>a;b</v></c><c r=\"A2\"><v>1</v></c></row>"
                                 "<row r=\"3\"><c r=\"B3\" t=\"inlineStr\"><is><t>say \"hi\"</t></is></c></row>")}};
  book.sharedStrings = "<si><t>right,_x000D__x000D_This</t></si>";
  const std::string plain = textOf(book, 0);
  EXPECT_EQ(plain.size(), 3 * 16385u + std::string("right,Thisab1say \"hi\"").size());
  EXPECT_EQ(textOf(book, TABULON_TEXT_TRIM), "right,This;;;\n1;;ab;\n;say \"hi\";;\n");
  EXPECT_EQ(textOf(book, TABULON_TEXT_TRIM | TABULON_TEXT_QUOTED),
            "\"right,\r\rThis\";;;\n1;;\"a;b\";\n;\"say \"\"hi\"\"\";;\n");
}

TEST(TextFlags, MacroAndDialogSheetsShowTheirCells) {
  const std::string cells = "<sheetData><row r=\"1\"><c r=\"A1\"><v>42</v></c></row></sheetData>";
  for (const char* kind : {"xlMacrosheet", "dialogsheet", "xlIntlMacrosheet"}) {
    const std::string rel = "http://schemas.microsoft.com/office/2006/relationships/" + std::string(kind);
    std::vector<Member> members = {
        Member("[Content_Types].xml", "<Types/>"),
        Member("xl/workbook.xml",
               "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
               "<sheets><sheet name=\"M\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"),
        Member("xl/_rels/workbook.xml.rels",
               "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel + "\" Target=\"macrosheets/m1.xml\"/>"
               "</Relationships>"),
        Member("xl/macrosheets/m1.xml", "<xm:macrosheet>" + cells + "</xm:macrosheet>"),
    };
    TempDir dir;
    const std::string path = dir.write("book.xlsm", zipBytes(members));
    ASSERT_EQ(openExcel(path.c_str()), 0) << kind;
    EXPECT_STREQ(getSheetData("M"), "42;\n") << kind;
    closeExcel();
  }
}

TEST(TextFlags, CellsThatShowNothingAreNoted) {
  Workbook book;
  book.sheets = {{"S", worksheet("A1:B2", "<row r=\"1\"><c r=\"A1\" s=\"1\"/><c r=\"B1\"><v></v></c></row>")}};
  std::string note;
  EXPECT_EQ(textOf(book, 0, &note), "");
  EXPECT_EQ(note, "its part holds 2 cell elements, none with a value the text can show");
  book.sheets = {{"S", worksheet("A1", "")}};
  EXPECT_EQ(textOf(book, 0, &note), "");
  EXPECT_EQ(note, "");
  // A sheet whose cells show is no occasion for a note.
  book.sheets = {{"S", worksheet("A1:B1", "<row r=\"1\"><c r=\"A1\" s=\"1\"/><c r=\"B1\"><v>7</v></c></row>")}};
  EXPECT_EQ(textOf(book, 0, &note), ";7;\n");
  EXPECT_EQ(note, "");
}

}  // namespace
}  // namespace tabulon::test
