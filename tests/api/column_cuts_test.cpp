// The typed columns of a sheet do not depend on how many row blocks it is
// cut into, how small the blocks are, or how many threads read them: the
// placing of cells (row numbers that follow the row before, repeated rows,
// later cells winning) happens after the blocks are read, in document
// order.
#include <gtest/gtest.h>

#include <cstdint>

#include "api/sheet_extraction.h"
#include "api/default_workbook.h"
#include "parse/row_blocks.h"
#include "support/same_columns.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

// Equal in every buffer; numbers bit for bit.
::testing::AssertionResult sameColumns(const SheetColumns& a, const SheetColumns& b) {
  const std::string difference = columnsDifference(a, b);
  if (difference.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << difference;
}

std::string cell(const std::string& ref, const std::string& attributes, const std::string& content) {
  return "<c" + (ref.empty() ? "" : " r=\"" + ref + "\"") + attributes + ">" + content + "</c>";
}

// Rows of every cell kind. Column by column:
//   A number, B built-in date, C custom date, D boolean, E shared string,
//   F inline string, G formula string, H error, I ISO date, J mixed kinds,
//   K only in some rows (a column of missing values elsewhere)
// and, from row to row: rows without a number (they follow the row
// before), a number repeated (its later cells win, its other cells stay),
// rows out of order, rows holding no value, rows of text only, cells
// without references, and cells out of column order.
std::string everyKind(int count) {
  std::string xml;
  for (int r = 1; r <= count; ++r) {
    const std::string n = std::to_string(r);
    const int k = r % 13;
    if (k == 3) {  // no value at all: a gap in the columns
      xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\" s=\"1\"/></row>";
      continue;
    }
    if (k == 7) {  // text only, and no number of its own
      xml += "<row>" + cell("E" + n, " t=\"s\"", "<v>" + std::to_string(r % 4) + "</v>") +
             cell("F" + n, " t=\"inlineStr\"", "<is><t>only text " + n + "</t></is>") + "</row>";
      continue;
    }
    xml += k == 5 ? "<row>" : "<row r=\"" + n + "\">";
    std::string cells = cell("A" + n, "", "<v>" + n + ".25</v>") +
                        cell("B" + n, " s=\"1\"", "<v>" + std::to_string(40000 + r) + ".5</v>") +
                        cell("C" + n, " s=\"2\"", "<v>" + std::to_string(30000 + r) + "</v>") +
                        cell("D" + n, " t=\"b\"", std::string("<v>") + (r % 2 ? "1" : "0") + "</v>") +
                        cell("E" + n, " t=\"s\"", "<v>" + std::to_string(r % 4) + "</v>") +
                        cell("F" + n, " t=\"inlineStr\"", "<is><t>in;line" + std::to_string(r % 5) + "</t></is>") +
                        cell("G" + n, " t=\"str\"", "<f>A1</f><v>formula</v>") +
                        cell("H" + n, " t=\"e\"", "<v>#DIV/0!</v>") +
                        cell("I" + n, " t=\"d\"", "<v>2024-02-" + std::to_string(10 + r % 18) + "T10:00:00</v>");
    switch (r % 4) {  // J: a number, a date, a boolean, a string
      case 0: cells += cell("J" + n, "", "<v>1E3</v>"); break;
      case 1: cells += cell("J" + n, " s=\"1\"", "<v>45000</v>"); break;
      case 2: cells += cell("J" + n, " t=\"b\"", "<v>0</v>"); break;
      default: cells += cell("J" + n, " t=\"s\"", "<v>2</v>"); break;
    }
    if (r % 6 == 0) cells += cell("K" + n, "", "<v>-" + n + "</v>");
    if (r % 9 == 0) cells = cell("", "", "<v>99</v>") + cells.substr(cells.find("<c r=\"B"));  // A without r
    if (r % 10 == 0) cells += cell("C" + n, "", "<v>0.5</v>");                         // C again, out of order
    xml += cells + "</row>";
    if (r % 11 == 0)  // the same number again: F is replaced, the rest stays
      xml += "<row r=\"" + n + "\">" + cell("F" + n, " t=\"inlineStr\"", "<is><t>again</t></is>") + "</row>";
    if (r % 17 == 0)  // a row before the ones already read
      xml += "<row r=\"" + std::to_string(r / 2) + "\">" + cell("K" + std::to_string(r / 2), "", "<v>0</v>") +
             "</row>";
  }
  return worksheet("A1:K" + std::to_string(count), xml);
}

class ColumnCuts : public ::testing::Test {
 protected:
  void SetUp() override {
    Workbook book;
    book.sheets = {{"S", xml_}};
    book.sharedStrings = "<si><t>zero</t></si><si><t>one;1</t></si><si><t>two\r</t></si><si><t></t></si>";
    book.numFmts = "<numFmt numFmtId=\"164\" formatCode=\"dd/mm/yyyy hh:mm\"/>";
    book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/>";
    path_ = dir_.file("book.xlsx");
    book.write(path_);
    ASSERT_EQ(openExcel(path_.c_str()), 0);
  }
  void TearDown() override { closeExcel(); }

  const std::string xml_ = everyKind(300);
  TempDir dir_;
  std::string path_;
};

TEST_F(ColumnCuts, ReferenceHoldsEveryKind) {
  const SheetColumns one = readColumnsOf(*openWorkbook(), xml_, {}, 1);
  ASSERT_EQ(one.columns.size(), 11u);
  // C holds dates and, in some rows, a plain number: mixed kinds are text.
  // I (ISO dates) is left out: what type those cells take is still open.
  const ColumnType expected[] = {ColumnType::Number, ColumnType::Date, ColumnType::Text,
                                 ColumnType::Boolean, ColumnType::Text, ColumnType::Text,
                                 ColumnType::Text, ColumnType::Text, one.columns[8].type,
                                 ColumnType::Text, ColumnType::Number};
  for (std::size_t c = 0; c < 11; ++c) EXPECT_EQ(one.columns[c].type, expected[c]) << one.columns[c].name;
  EXPECT_EQ(one.rows, 300);
  EXPECT_GT(one.columns[0].nulls, 0);  // the rows of text only and without values
}

TEST_F(ColumnCuts, SameForEveryNumberOfBlocks) {
  const ColumnOptions choices[] = {{}, {2, -1, true}, {5, 40, true}, {0, 7, false}};
  for (const ColumnOptions& options : choices) {
    const SheetColumns one = readColumnsOf(*openWorkbook(), xml_, options, 1);
    for (unsigned blocks = 2; blocks <= 16; ++blocks)
      EXPECT_TRUE(sameColumns(readColumnsOf(*openWorkbook(), xml_, options, blocks), one))
          << blocks << " blocks, skip " << options.skipRows << ", max " << options.maxRows;
  }
}

// Selections and kinds, read in any cut: the early end of a limited read
// happens at one place in the document whichever job reaches it, even in
// this sheet whose rows are not all in order.
std::vector<ColumnOptions> selections() {
  std::vector<ColumnOptions> chosen;
  const auto add = [&](auto change) {
    ColumnOptions o;
    o.kinds = true;
    change(o);
    chosen.push_back(o);
  };
  add([](ColumnOptions&) {});
  add([](ColumnOptions& o) { o.firstRow = 20, o.lastRow = 150, o.firstColumn = 3, o.lastColumn = 10; });
  add([](ColumnOptions& o) { o.columns = {2, 5, 8}, o.skipRows = 3, o.maxRows = 30; });
  add([](ColumnOptions& o) { o.skipFromFirstRow = true, o.maxRows = 50, o.header = true; });
  add([](ColumnOptions& o) { o.textColumns = {3, 10}, o.lastRow = 120; });
  add([](ColumnOptions& o) { o.kinds = false, o.firstRow = 40, o.maxRows = 9, o.columns = {1, 6, 11}; });
  return chosen;
}

TEST_F(ColumnCuts, SelectionsSameForEveryCut) {
  for (const ColumnOptions& options : selections()) {
    const SheetColumns one = readColumnsOf(*openWorkbook(), xml_, options, 1);
    ASSERT_GT(one.rows, 0);
    for (unsigned blocks : {2u, 5u, 16u})
      EXPECT_TRUE(sameColumns(readColumnsOf(*openWorkbook(), xml_, options, blocks), one))
          << blocks << " blocks, max " << options.maxRows << ", last row " << options.lastRow;
    for (unsigned threads : {1u, 3u})
      for (std::size_t blockBytes : {std::size_t{1}, std::size_t{17}, std::size_t{4096}, kBlockBytes})
        EXPECT_TRUE(sameColumns(extractColumns(*openWorkbook(), "S", options, threads, blockBytes), one))
            << threads << " threads, blocks of " << blockBytes << " bytes, max " << options.maxRows;
  }
}

TEST_F(ColumnCuts, SameForEveryThreadCountAndBlockSize) {
  const ColumnOptions choices[] = {{}, {3, 100, true}};
  for (const ColumnOptions& options : choices) {
    const SheetColumns whole = extractColumns(*openWorkbook(), "S", options, 1, SIZE_MAX);
    EXPECT_TRUE(sameColumns(whole, readColumnsOf(*openWorkbook(), xml_, options, 1)));
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
      for (std::size_t blockBytes : {std::size_t{1}, std::size_t{3}, std::size_t{17}, std::size_t{256},
                                     std::size_t{4096}, kBlockBytes})
        EXPECT_TRUE(sameColumns(extractColumns(*openWorkbook(), "S", options, threads, blockBytes), whole))
            << threads << " threads, blocks of " << blockBytes << " bytes, skip " << options.skipRows;
    }
  }
}

}  // namespace
}  // namespace tabulon::test
