// Row blocks to row lines, with the tables given directly.
#include <gtest/gtest.h>

#include "parse/row_parser.h"
#include "api/interface_helpers.h"

#include "api/workbook_state.h"

namespace tabulon {
namespace {

struct Tables {
  std::vector<std::string> strings{"zero", "one", "a;b", "", "мотоциклами; ремонт;é", "abc\r\ndef"};
  std::vector<int> styles{0, 1};
};

std::vector<RowLine> parse(std::string_view block, std::uint32_t width, bool date1904 = false) {
  static const Tables tables;
  SheetContext context;
  context.sharedStrings = &tables.strings;
  context.styles = &tables.styles;
  context.width = width;
  context.date1904 = date1904;
  std::vector<RowLine> rows;
  parseRowBlock(block, context, rows);
  return rows;
}

// The line of the only row holding a value.
std::string line(std::string_view block, std::uint32_t width = 3) {
  std::string found = "<no row>";
  for (const RowLine& row : parse(block, width))
    if (row.hasValue) found = row.line;
  return found;
}

struct Case {
  const char* what;
  const char* block;
  const char* expected;
};

TEST(RowParser, WrittenForms) {
  const Case cases[] = {
      {"canonical", R"(<row r="1"><c r="A1" t="s"><v>1</v></c><c r="C1"><v>3</v></c></row>)", "one;;3;"},
      {"prefixed names", R"(<x:row r="1"><x:c r="B1" t="s"><x:v>0</x:v></x:c></x:row>)", ";zero;;"},
      {"attributes in any order and quotes", R"(<row spans='1:3' r = '2'><c t='s' s="0" r='C2'><v>1</v></c></row>)",
       ";;one;"},
      {"white space between tags", "<row r=\"1\">\n  <c r=\"A1\">\n    <v>5</v>\n  </c>\n</row>", "5;;;"},
      {"cells without references follow the previous one",
       R"(<row r="1"><c><v>a</v></c><c r="C1"><v>c</v></c><c><v>d</v></c></row>)", "a;;c;d;"},
      {"formula elements are not values", R"(<row r="1"><c r="A1"><f>SUM(B1:C1)</f><v>9</v></c></row>)", "9;;;"},
      {"type of the formula is not the cell's", R"(<row r="1"><c r="A1"><f t="shared" si="0"/><v>2</v></c></row>)", "2;;;"},
      {"whole attribute names: xr:s is not s", R"(<row r="1"><c r="A1" xr:s="1"><v>45000</v></c></row>)", "45000;;;"},
      {"date style", R"(<row r="1"><c r="A1" s="1"><v>45000.5</v></c></row>)", "2023-03-15 12:00:00;;;"},
      {"ISO date", R"(<row r="1"><c r="A1" t="d"><v>2017-03-16</v></c><c r="B1" t="d"><v>2021-01-01T10:10:51.894</v></c>)"
                   R"(<c r="C1" t="d" s="1"><v>2021-01-01T10:10:10Z</v></c></row>)",
       "2017-03-16 00:00:00;2021-01-01 10:10:52;2021-01-01 10:10:10;"},
      {"ISO date that is none stays as written", R"(<row r="1"><c r="A1" t="d"><v>2017-02-30</v></c><c r="B1" t="d"><v>x;y</v></c></row>)",
       "2017-02-30;xy;;"},
      {"date style on a boolean is not a date", R"(<row r="1"><c r="A1" s="1" t="b"><v>1</v></c></row>)", "1;;;"},
      {"shared string loses its ';' only", R"(<row r="1"><c r="A1" t="s"><v>2</v></c></row>)", "ab;;;"},
      {"the character after a ';' keeps all its bytes", R"(<row r="1"><c r="B1" t="s"><v>4</v></c></row>)",
       ";мотоциклами ремонтé;;"},
      {"a carriage return goes, the line feed stays", R"(<row r="1"><c r="A1" t="s"><v>5</v></c></row>)",
       "abc\ndef;;;"},
      {"escaped carriage return in a formula string", R"(<row r="1"><c r="A1" t="str"><v>abc_x000D_
def;x</v></c></row>)", "abc\ndefx;;;"},
      {"inline string with runs", R"(<row r="1"><c r="A1" t="inlineStr"><is><r><t>in</t></r><r><t>line</t></r></is></c></row>)",
       "inline;;;"},
      {"unclosed cell ends at the next cell", R"(<row r="1"><c r="A1"><v>1</v><c r="B1"><v>2</v></c></row>)", "1;2;;"},
      {"comment between cells", R"(<row r="1"><c r="A1"><v>1</v></c><!-- <c r="B1"><v>x</v></c> --></row>)", "1;;;"},
      {"'>' inside an attribute value", R"(<row r="1"><c r="B1" x="a>b"><v>v</v></c></row>)", ";v;;"},
      {"cell beyond the width widens the line", R"(<row r="1"><c r="E1"><v>e</v></c></row>)", ";;;;e;"},
  };
  for (const Case& c : cases) EXPECT_EQ(line(c.block), c.expected) << c.what;
}

TEST(RowParser, Date1904) {
  std::vector<RowLine> rows = parse(R"(<row r="1"><c r="A1" s="1"><v>0</v></c></row>)", 1, true);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].line, "1904-01-01 00:00:00;");
}

TEST(RowParser, RowNumbersAndEmptyRows) {
  std::vector<RowLine> rows = parse(
      R"(<sheetData><row r="3"><c r="A3"><v>1</v></c></row><row/><row><c r="A5" s="0"/></row>)"
      R"(<row r="bad"><c r="A1"><v>2</v></c></row></sheetData>)",
      1);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_TRUE(rows[0].numbered);
  EXPECT_EQ(rows[0].number, 3);
  EXPECT_FALSE(rows[1].numbered);
  EXPECT_FALSE(rows[1].hasValue);
  EXPECT_FALSE(rows[2].hasValue);
  EXPECT_TRUE(rows[3].numbered);
  EXPECT_EQ(rows[3].number, 0);  // unreadable: row 0, as an unset number
}

TEST(MergeRowLine, LaterFieldsFillAndReplace) {
  struct MergeCase {
    const char* earlier;
    const char* later;
    const char* expected;
  };
  const MergeCase cases[] = {
      {"a;;;", ";b;;", "a;b;;"},
      {"a;b;;", "x;;;", "x;b;;"},        // a later cell of the same column replaces
      {"a;b;c;", ";;;", "a;b;c;"},       // an empty field removes nothing
      {"a;;", ";;c;d;", "a;;c;d;"},      // as wide as the wider line
      {"a;b;c;", ";y;", "a;y;c;"},
      {"line\nfeed;;", ";z;", "line\nfeed;z;"},
      {";;", ";;", ";;"},
  };
  for (const MergeCase& c : cases) {
    std::string line = c.earlier;
    mergeRowLine(line, c.later);
    EXPECT_EQ(line, c.expected) << c.earlier << " + " << c.later;
  }
}

// The exported block renderer writes retMT slots; a row met again, in the
// same block or a later one, joins the line already there.
TEST(GetWsData, RepeatedRowsJoinTheirSlot) {
  SharedStrings = {"s0", "s1"};
  Styles = {0};
  max_abs_col = 3;
  retMT.assign(10, std::string());
  getWsData(R"(<row r="8"><c r="A8"><v>a</v></c></row><row r="8"><c r="B8" t="s"><v>1</v></c></row>)");
  getWsData(R"(<row r="2"><c r="C2"><v>c</v></c></row><row r="8"><c r="A8"><v>A</v></c><c r="C8"/></row>)");
  EXPECT_EQ(retMT[8], "A;s1;;");
  EXPECT_EQ(retMT[2], ";;c;");
  SharedStrings.clear();
  Styles.clear();
  retMT.clear();
}

TEST(RowParser, TruncatedBlocksEndCleanly) {
  const std::string full = R"(<row r="1"><c r="A1" t="s"><v>1</v></c><c r="B1"><v>2</v></c></row>)";
  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    std::vector<RowLine> rows = parse(std::string_view(full).substr(0, cut), 2);
    EXPECT_LE(rows.size(), 1u);
  }
}

}  // namespace
}  // namespace tabulon
