// Whole sheets rendered through the host entry points.
#include <gtest/gtest.h>

#include "support/host_library.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"

namespace tabulon::test {
namespace {

// Renders the first sheet of book through the loaded library.
std::string render(const Workbook& book, const std::string& sheet = "") {
  TempDir dir;
  std::string path = dir.file("book.xlsx");
  book.write(path);
  HostLibrary& lib = host();
  if (lib.openExcel(path.c_str()) != 0) return "<open failed>";
  std::string text = lib.getSheetData(sheet.empty() ? book.sheets.at(0).first.c_str() : sheet.c_str());
  lib.closeExcel();
  return text;
}

Workbook sheetBook(const std::string& dimension, const std::string& rows) {
  Workbook book;
  book.sheets = {{"Sheet1", worksheet(dimension, rows)}};
  book.sharedStrings = "<si><t>Name</t></si><si><t>Total</t></si>";
  book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"12\"/><xf numFmtId=\"13\"/>";
  return book;
}

TEST(SheetRender, WorkedExample) {
  Workbook book = sheetBook("A1:E3",
      "<row r=\"2\" spans=\"1:5\"><c r=\"A2\" t=\"s\"><v>0</v></c><c r=\"B2\"><v>42.5</v></c>"
      "<c r=\"C2\" s=\"1\"><v>45000.5</v></c><c r=\"E2\" t=\"s\"><v>1</v></c></row>");
  EXPECT_EQ(render(book), "Name;42.5;2023-03-15 12:00:00;;Total;\n");
  EXPECT_EQ(*host().max_abs_col, 5u);
  EXPECT_GE(*host().max_row, 2);
  EXPECT_GE(*host().max_col, 5);
}

// Each case: the dimension, the sheetData content, and the expected text.
struct Case {
  const char* what;
  const char* dimension;
  const char* rows;
  const char* expected;
};

const Case kCases[] = {
    {"gaps between rows leave no line", "A1:C5",
     "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\"><c r=\"B2\"><v>2</v></c></row>"
     "<row r=\"5\"><c r=\"C5\"><v>5</v></c></row>",
     "1;;;\n;2;;\n;;5;\n"},
    {"rows without values leave no line", "A1:B3",
     "<row r=\"1\"><c r=\"A1\" s=\"0\"/></row><row r=\"2\"><c r=\"A2\"><v></v></c></row>"
     "<row r=\"3\"><c r=\"B3\"><v>x</v></c></row>",
     ";x;\n"},
    {"a sheet without cells is empty, not a failure", "A1", "", ""},
    {"numbers, booleans and errors as written", "A1:D1",
     "<row r=\"1\"><c r=\"A1\"><v>1E-3</v></c><c r=\"B1\"><v>0.30000000000000004</v></c>"
     "<c r=\"C1\" t=\"b\"><v>1</v></c><c r=\"D1\" t=\"e\"><v>#N/A</v></c></row>",
     "1E-3;0.30000000000000004;1;#N/A;\n"},
    {"an escaped carriage return goes, the line feed after it stays", "A1:B1",
     "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>3</v></c><c r=\"B1\" t=\"str\"><v>x_x000D_\ny</v></c></row>",
     "ABC\nDEF;x\ny;\n"},
    {"empty shared string does not count", "A1:A1",
     "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>2</v></c></row>", ""},
    {"carriage return and ';' erased, one character each", "A1:D1",
     "<row r=\"1\"><c r=\"A1\" t=\"str\"><v>a&#13;\nb</v></c><c r=\"B1\" t=\"str\"><v>x;yz</v></c>"
     "<c r=\"C1\" t=\"str\"><v>line\r\nend</v></c><c r=\"D1\" t=\"inlineStr\"><is><t>a;éb</t></is></c></row>",
     "a\nb;xyz;line\nend;aéb;\n"},
    {"later cell of the same column wins", "A1:B1",
     "<row r=\"1\"><c r=\"A1\"><v>first</v></c><c r=\"A1\"><v>second</v></c></row>", "second;;\n"},
    {"letters beyond the last column count but are not written", "A1:B1",
     "<row r=\"1\"><c r=\"ZZZ1\"><v>lost</v></c></row>", ";;\n"},
    {"lower-case references name the same column", "A1:B1",
     "<row r=\"1\"><c r=\"b1\"><v>b</v></c></row>", ";b;\n"},
    {"formula type is not the cell type", "A1:B1",
     "<row r=\"1\"><c r=\"A1\"><f t=\"shared\" ref=\"A1:A2\" si=\"0\">B1</f><v>7</v></c></row>", "7;;\n"},
    {"fraction formats are numbers, not dates", "A1:B1",
     "<row r=\"1\"><c r=\"A1\" s=\"2\"><v>0.5</v></c><c r=\"B1\" s=\"3\"><v>45000.25</v></c></row>",
     "0.5;45000.25;\n"},
    {"ISO dates written like serial dates", "A1:C2",
     "<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2017-03-16</v></c><c r=\"B1\" t=\"d\" s=\"1\"><v>2021-01-01T10:10:10</v></c>"
     "<c r=\"C1\" t=\"d\"><v>not a date</v></c></row>"
     "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>42810</v></c><c r=\"B2\" s=\"1\"><v>43206.805447106482</v></c></row>",
     "2017-03-16 00:00:00;2021-01-01 10:10:10;not a date;\n2017-03-16 00:00:00;2018-04-16 19:19:51;;\n"},
    {"date style with empty value stays empty", "A1:A1",
     "<row r=\"1\"><c r=\"A1\" s=\"1\"><v></v></c></row>", ""},
    // Decoded once to "1 < 2 &amp;", whose ';' then goes like any other.
    {"entities in cell text are decoded once", "A1:B1",
     "<row r=\"1\"><c r=\"A1\" t=\"str\"><v>1 &lt; 2 &amp;amp;</v></c><c r=\"B1\" t=\"e\"><v>&#35;REF!</v></c></row>",
     "1 < 2 &amp;#REF!;\n"},
    // As written by some reporting tools: such cells follow the previous one.
    {"references without column letters follow the previous cell", "A1:C2",
     "<row r=\"1\"><c r=\"1\"><v>a</v></c><c r=\"1\"><v>b</v></c><c r=\"C1\"><v>c</v></c></row>"
     "<row r=\"2\"><c r=\"0\"><v>d</v></c><c r=\"\"><v>e</v></c></row>",
     "a;b;c;\nd;e;;\n"},
};

TEST(SheetRender, Cases) {
  for (const Case& c : kCases) {
    Workbook book = sheetBook(c.dimension, c.rows);
    book.sharedStrings += "<si><t/></si><si><t>ABC_x000D_\nDEF</t></si>";
    EXPECT_EQ(render(book), c.expected) << c.what;
  }
}

// Conversion failures never drop rows: the text is kept, or left empty
// for a shared-string index that names no string.
TEST(SheetRender, BadIndexesKeepTheRow) {
  Workbook book = sheetBook("A1:C4",
      "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>x</v></c><c r=\"B1\"><v>b1</v></c></row>"
      "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>-1</v></c><c r=\"B2\" t=\"s\"><v>2147483647</v></c><c r=\"C2\"><v>c2</v></c></row>"
      "<row r=\"3\"><c r=\"A3\" s=\"x\"><v>1</v></c><c r=\"B3\" s=\"99\"><v>2</v></c><c r=\"C3\" s=\"-1\"><v>3</v></c></row>"
      "<row r=\"4\"><c r=\"A4\" s=\"1\" t=\"str\"><v>not a number</v></c><c r=\"B4\" s=\"1\"><v>abc</v></c>"
      "<c r=\"C4\" s=\"1\"><v>1e300</v></c></row>");
  EXPECT_EQ(render(book), ";b1;;\n;;c2;\n1;2;3;\nnot a number;abc;1e300;\n");
}

TEST(SheetRender, ExtentGrowsToTheCells) {
  // Dimension too small, missing, and far too large.
  Workbook small = sheetBook("A1:B2",
      "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"4\"><c r=\"D4\"><v>4</v></c></row>");
  EXPECT_EQ(render(small), "1;;;;\n;;;4;\n");
  EXPECT_EQ(*host().max_abs_col, 4u);

  Workbook none = sheetBook("", "<row r=\"1\"><c r=\"C1\"><v>c</v></c></row>");
  EXPECT_EQ(render(none), ";;c;\n");

  Workbook huge = sheetBook("A1:A2000000000", "<row r=\"3\"><c r=\"A3\"><v>3</v></c></row>");
  EXPECT_EQ(render(huge), "3;\n");
}

TEST(SheetRender, RowNumbers) {
  // Row 0 and rows beyond the format's last row are kept; negative rows
  // have no place. Equal numbers: one row, a later cell replacing an
  // earlier one of its column.
  Workbook book = sheetBook("A1:A3",
      "<row r=\"2\"><c r=\"A2\"><v>first two</v></c></row>"
      "<row r=\"-4\"><c r=\"A1\"><v>negative</v></c></row>"
      "<row r=\"0\"><c r=\"A1\"><v>zero</v></c></row>"
      "<row r=\"2147483647\"><c r=\"A1\"><v>max</v></c></row>"
      "<row r=\"2\"><c r=\"A2\"><v>second two</v></c></row>"
      "<row r=\"3\"><c r=\"A3\"><v>three</v></c></row>"
      "<row r=\"3\"><c r=\"A3\"/></row>");
  EXPECT_EQ(render(book), "zero;\nsecond two;\nthree;\nmax;\n");
}

// Some writers split one row into several row elements with one number.
TEST(SheetRender, RepeatedRowElementsMerge) {
  Workbook book = sheetBook("A1:D9",
      "<row r=\"8\"><c r=\"A8\"><v>a</v></c><c r=\"B8\"><v>b</v></c></row>"
      "<row r=\"8\"><c r=\"C8\"><v>c</v></c><c r=\"B8\"><v>B</v></c></row>"
      "<row r=\"8\"><c r=\"A8\" s=\"0\"/><c r=\"D8\"><v></v></c></row>"  // no values: nothing goes
      "<row><c r=\"D9\"><v>next</v></c></row>"
      "<row r=\"3\"><c r=\"A3\"><v>three</v></c></row>"
      "<row r=\"8\"><c r=\"D8\" t=\"s\"><v>1</v></c></row>"               // later, after other rows
      "<row r=\"3000000\"><c r=\"A3000000\"><v>far</v></c></row>"
      "<row r=\"2000000\"><c r=\"B2000000\"><v>x</v></c></row>"
      "<row r=\"3000000\"><c r=\"B3000000\"><v>away</v></c><c r=\"E3000000\"><v>wide</v></c></row>");
  EXPECT_EQ(render(book),
            "three;;;;;\n"
            "a;B;c;Total;;\n"
            ";;;next;;\n"
            ";x;;;;\n"
            "far;away;;;wide;\n");
}

TEST(SheetRender, InlineStrings) {
  Workbook book = sheetBook("A1:B2",
      "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Head &amp; er</t></is></c>"
      "<c r=\"B1\" t=\"inlineStr\"><is><r><t>ri</t></r><r><t xml:space=\"preserve\">ch </t></r></is></c></row>"
      "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row>");
  EXPECT_EQ(render(book), "Head & er;rich ;\n1;;\n");
}

TEST(SheetRender, UnknownNamesAndTwoSheets) {
  Workbook book;
  book.sheets = {{"Alpha", worksheet("A1", "<row r=\"1\"><c r=\"A1\"><v>a</v></c></row>")},
                 {"Beta", worksheet("A1:B1", "<row r=\"1\"><c r=\"B1\"><v>b</v></c></row>")}};
  TempDir dir;
  std::string path = dir.file("two.xlsx");
  book.write(path);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  EXPECT_STREQ(lib.getSheetData("alpha"), "0");
  EXPECT_STREQ(lib.getSheetData("Alpha "), "0");
  EXPECT_STREQ(lib.getSheetData("Alpha"), "a;\n");
  EXPECT_STREQ(lib.getSheetData("Alpha"), "a;\n");
  EXPECT_STREQ(lib.getSheetData("Beta"), ";b;\n");
  lib.closeExcel();
}

TEST(SheetRender, OptionalParts) {
  // No shared strings and no styles: the workbook opens.
  Workbook book;
  book.sheets = {{"N", worksheet("A1", "<row r=\"1\"><c r=\"A1\"><v>5</v></c></row>")}};
  EXPECT_EQ(render(book), "5;\n");

  // A worksheet part that is missing is a failure, not an empty sheet.
  Workbook missing;
  missing.sheets = {{"Gone", worksheet("A1", "")}};
  auto members = missing.members();
  members.erase(std::remove_if(members.begin(), members.end(),
                               [](const Member& m) { return m.name == "xl/worksheets/sheet1.xml"; }),
                members.end());
  TempDir dir;
  std::string path = dir.file("gone.xlsx");
  writeZip(path, members);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  EXPECT_STREQ(lib.getSheetData("Gone"), "0");
  lib.closeExcel();

  // Without the workbook part there is nothing to load.
  Workbook noBook;
  noBook.sheets = {{"S", worksheet("A1", "")}};
  auto parts = noBook.members();
  parts.erase(std::remove_if(parts.begin(), parts.end(),
                             [](const Member& m) { return m.name == "xl/workbook.xml"; }),
              parts.end());
  std::string bare = dir.file("bare.xlsx");
  writeZip(bare, parts);
  EXPECT_EQ(lib.openExcel(bare.c_str()), -1);
  lib.closeExcel();
}

TEST(SheetRender, SheetsFoundThroughRelationships) {
  // Parts numbered against the sheet order, a chart sheet in between, and
  // a sheet without a relationship whose position's part is another's.
  const std::string head = "<?xml version=\"1.0\"?>";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  std::vector<Member> members = {
      {"xl/workbook.xml", head +
           "<workbook xmlns:r=\"r\"><sheets><sheet name=\"First\" sheetId=\"1\" r:id=\"rId7\"/>"
           "<sheet name=\"Chart\" sheetId=\"2\" r:id=\"rId8\"/>"
           "<sheet name=\"Last\" sheetId=\"3\" r:id=\"rId9\"/>"
           "<sheet name=\"Module\" sheetId=\"4\" r:id=\"\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels", head +
           "<Relationships><Relationship Id=\"rId7\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet3.xml\"/>"
           "<Relationship Id=\"rId8\" Type=\"" + rel + "chartsheet\" Target=\"chartsheets/sheet1.xml\"/>"
           "<Relationship Target=\"/xl/worksheets/sheet1.xml\" Id=\"rId9\" Type=\"" + rel + "worksheet\"/>"
           "</Relationships>"},
      {"xl/worksheets/sheet1.xml", worksheet("A1", "<row r=\"1\"><c r=\"A1\"><v>last</v></c></row>")},
      {"xl/worksheets/sheet3.xml", worksheet("A1", "<row r=\"1\"><c r=\"A1\"><v>first</v></c></row>")},
      {"xl/chartsheets/sheet1.xml", "<chartsheet/>"},
      {"xl/worksheets/sheet4.xml", worksheet("A1", "<row r=\"1\"><c r=\"A1\"><v>unclaimed</v></c></row>")},
  };
  TempDir dir;
  std::string path = dir.file("moved.xlsx");
  writeZip(path, members);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  EXPECT_STREQ(lib.getSheetData("First"), "first;\n");
  EXPECT_STREQ(lib.getSheetData("Chart"), "");
  EXPECT_STREQ(lib.getSheetData("Last"), "last;\n");
  // No relationship: by position, the part no other sheet claims.
  EXPECT_STREQ(lib.getSheetData("Module"), "unclaimed;\n");
  lib.closeExcel();

  // The same with its position's part claimed by another sheet: no cells.
  members[0].bytes.replace(members[0].bytes.find("Module\" sheetId=\"4\""), 6, "Modul2");
  members.push_back({"xl/worksheets/sheet2.xml", worksheet("A1", "<row r=\"1\"><c r=\"A1\"><v>x</v></c></row>")});
  members[1].bytes.replace(members[1].bytes.find("</Relationships>"), 0,
                           "<Relationship Id=\"rId10\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet4.xml\"/>");
  std::string claimed = dir.file("claimed.xlsx");
  writeZip(claimed, members);
  ASSERT_EQ(lib.openExcel(claimed.c_str()), 0);
  EXPECT_STREQ(lib.getSheetData("Modul2"), "");
  lib.closeExcel();

  // Folders separated by backslashes.
  for (Member& m : members) std::replace(m.name.begin(), m.name.end(), '/', '\\');
  std::string backslashed = dir.file("backslashed.xlsx");
  writeZip(backslashed, members);
  ASSERT_EQ(lib.openExcel(backslashed.c_str()), 0);
  EXPECT_STREQ(lib.getSheetData("First"), "first;\n");
}

// Some writers store every part in UTF-16 with a byte-order mark.
TEST(SheetRender, PartsWrittenInUtf16) {
  auto utf16 = [](const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
      out += c;
      out += '\0';
    }
    return out;
  };
  Workbook book = sheetBook("A1:B1",
      "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c><c r=\"B1\" s=\"1\"><v>45000</v></c></row>");
  std::vector<Member> members = book.members();
  for (Member& m : members)
    if (m.name.rfind("xl/", 0) == 0) m.bytes = utf16(m.bytes);
  TempDir dir;
  std::string path = dir.file("utf16.xlsx");
  writeZip(path, members);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  EXPECT_STREQ(lib.getSheetData("Sheet1"), "Total;2023-03-15 00:00:00;\n");
  lib.closeExcel();
}

}  // namespace
}  // namespace tabulon::test
