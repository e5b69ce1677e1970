// The text of a sheet does not depend on how many row blocks it is cut
// into, so it does not depend on the machine's core count.
#include <gtest/gtest.h>

#include <cstdint>

#include "api/sheet_extraction.h"
#include "api/default_workbook.h"
#include "parse/row_blocks.h"
#include "support/cell_slice.h"
#include "support/same_columns.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

std::string rowsOf(int count, bool withGaps) {
  std::string xml;
  for (int r = 1; r <= count; ++r) {
    std::string n = std::to_string(r);
    // Every seventh row has no r (it follows the previous row), every
    // eleventh is repeated, and the two elements' cells join.
    bool numbered = !(withGaps && r % 7 == 0);
    xml += numbered ? "<row r=\"" + n + "\">" : "<row>";
    xml += "<c r=\"A" + n + "\" t=\"s\"><v>" + std::to_string(r % 3) + "</v></c>";
    xml += "<c r=\"B" + n + "\"><v>" + n + ".5</v></c>";
    if (r % 5 == 0) xml += "<c r=\"C" + n + "\" s=\"1\"><v>" + std::to_string(40000 + r) + "</v></c>";
    xml += "</row>";
    if (withGaps && r % 11 == 0)
      xml += "<row r=\"" + n + "\"><c r=\"D" + n + "\"><v>again</v></c></row>";
  }
  return xml;
}

// Checks the text against expected too, unless that is null.
void expectSameForEveryCount(const std::string& sheetXml, const char* expected = nullptr) {
  Workbook book;
  book.sheets = {{"S", sheetXml}};
  book.sharedStrings = "<si><t>zero</t></si><si><t>one</t></si><si><t>two</t></si>";
  book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/>";
  TempDir dir;
  std::string path = dir.file("book.xlsx");
  book.write(path);
  ASSERT_EQ(openExcel(path.c_str()), 0);
  // One thread, one block: the whole text in a single scan.
  std::string reference = extractSheet(openWorkbook(), "S", 1, SIZE_MAX);
  ASSERT_FALSE(reference.empty());
  if (expected != nullptr) {
    EXPECT_EQ(reference, expected);
  }
  for (unsigned threads : {1u, 2u, 3u, 8u, 64u}) {
    for (std::size_t blockBytes : {std::size_t{1}, std::size_t{700}, std::size_t{65536}, kBlockBytes}) {
      // Tiny blocks on a big sheet only make the test slow.
      if (blockBytes < 4096 && sheetXml.size() > (1u << 20)) continue;
      EXPECT_EQ(std::string(extractSheet(openWorkbook(), "S", threads, blockBytes)), reference)
          << threads << " threads, blocks of " << blockBytes << " bytes";
    }
  }
  // The in-memory cutter too, with one block per thread.
  std::string xml = sheetXml.rfind("<?xml", 0) == 0 ? sheetXml : worksheet("", sheetXml);
  for (unsigned blocks : {1u, 2u, 3u, 8u, 64u})
    EXPECT_EQ(std::string(renderSheet(*openWorkbook(), xml, blocks)), reference) << blocks << " blocks";
  closeExcel();
}

TEST(BlockInvariance, TwoRows) { expectSameForEveryCount(worksheet("A1:C2", rowsOf(2, false))); }

TEST(BlockInvariance, RowsPackedAtTheStartOfALongText) {
  std::string xml = worksheet("A1:C30", rowsOf(30, true));
  xml.insert(xml.rfind("</worksheet>"), "<!--" + std::string(200000, ' ') + "-->");
  expectSameForEveryCount(xml);
}

TEST(BlockInvariance, HundredThousandRows) {
  expectSameForEveryCount(worksheet("A1:D100000", rowsOf(100000, true)));
}

// One row split into elements that fall into different blocks: the cells
// join in document order, whichever job read each element.
TEST(BlockInvariance, RepeatedRowElementsAcrossBlocks) {
  std::string rows;
  for (int r = 1; r <= 40; ++r) {
    std::string n = std::to_string(r);
    rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c></row>";
    // Row 5 again after every tenth row, a different column each time, and
    // column B a second time at the end.
    if (r % 10 == 0)
      rows += "<row r=\"5\"><c r=\"" + std::string(1, static_cast<char>('A' + r / 10)) + "5\"><v>r" + n +
              "</v></c></row>";
  }
  rows += "<row r=\"5\"><c r=\"B5\"><v>last</v></c></row>";
  std::string expected;
  for (int r = 1; r <= 40; ++r)
    expected += r == 5 ? "5;last;r20;r30;r40;\n" : std::to_string(r) + ";;;;;\n";
  expectSameForEveryCount(worksheet("A1:E40", rows), expected.c_str());
}

// Selections on a long sheet, read while it streams: each equals the same
// slice of the whole sheet's columns, for every thread count and block
// size, whether the rows it ends at are known before reading (a range, a
// skip from row 1) or only once the first value is found.
TEST(BlockInvariance, SelectionsEqualTheSliceOfTheWholeSheet) {
  Workbook book;
  // Rows from 4 on, so that the first row holding a value is not row 1.
  std::string rows = rowsOf(60000, true);
  rows = rows.substr(rows.find("<row r=\"4\">"));
  book.sheets = {{"S", worksheet("A4:D60000", rows)}};
  book.sharedStrings = "<si><t>zero</t></si><si><t>one</t></si><si><t>two</t></si>";
  book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/>";
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book.write(path);
  ASSERT_EQ(openExcel(path.c_str()), 0);
  ColumnOptions all;
  all.kinds = true;
  all.skipFromFirstRow = true;
  const SheetColumns whole = extractColumns(*openWorkbook(), "S", all, 1, SIZE_MAX);
  ASSERT_EQ(whole.rows, 60000);

  struct Case {
    const char* what;
    ColumnOptions options;
    Slice slice;
  };
  std::vector<Case> cases;
  const auto add = [&](const char* what, auto change, Slice slice) {
    ColumnOptions o = all;
    change(o);
    cases.push_back({what, o, slice});
  };
  add("the first hundred rows", [](ColumnOptions& o) { o.maxRows = 100; }, {1, 100, 1, 4, {}});
  add("a hundred rows after the first value", [](ColumnOptions& o) { o.skipFromFirstRow = false, o.maxRows = 100; },
      {4, 103, 1, 4, {}});
  add("skip and a limit from the first value",
      [](ColumnOptions& o) { o.skipFromFirstRow = false, o.skipRows = 5000, o.maxRows = 7; }, {5004, 5010, 1, 4, {}});
  add("a range in the middle", [](ColumnOptions& o) { o.firstRow = 30000, o.lastRow = 30500, o.firstColumn = 2, o.lastColumn = 3; },
      {30000, 30500, 2, 3, {}});
  add("two columns, to the end", [](ColumnOptions& o) { o.columns = {1, 3}; }, {1, 60000, 1, 4, {1, 3}});
  add("a skip from a range's first row",
      [](ColumnOptions& o) { o.firstRow = 59990, o.skipRows = 3, o.maxRows = 2; }, {59993, 59994, 1, 4, {}});
  for (const Case& c : cases) {
    const SheetColumns reference = extractColumns(*openWorkbook(), "S", c.options, 1, SIZE_MAX);
    EXPECT_EQ(sliceDifference(whole, reference, c.slice), "") << c.what;
    for (unsigned threads : {1u, 2u, 3u}) {
      for (std::size_t blockBytes : {std::size_t{700}, std::size_t{65536}, kBlockBytes})
        EXPECT_EQ(columnsDifference(extractColumns(*openWorkbook(), "S", c.options, threads, blockBytes), reference), "")
            << c.what << ", " << threads << " threads, blocks of " << blockBytes << " bytes";
    }
  }
  closeExcel();
}

TEST(RowBlocks, CutAtRowEnds) {
  std::string text = "<sheetData><row r=\"1\"></row><x:row r=\"2\"></x:row ><row r=\"3\"/></sheetData>";
  for (unsigned n : {1u, 2u, 3u, 5u, 100u}) {
    std::vector<std::string_view> blocks = cutRowBlocks(text, n);
    ASSERT_EQ(blocks.size(), n);
    std::string joined;
    for (const std::string_view& b : blocks) {
      joined += b;
      // A block ends just after a row end, or at the end of the text.
      if (!b.empty() && joined.size() < text.size()) {
        EXPECT_TRUE(b.ends_with("</row>") || b.ends_with("</x:row >")) << b;
      }
    }
    EXPECT_EQ(joined, text);
  }
}

}  // namespace
}  // namespace tabulon::test
