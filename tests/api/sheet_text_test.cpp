// The text joined straight into the host's buffer as blocks are read is
// the text of the rows joined after the last block, for every way a sheet
// can leave the usual order (each sends the join to its general path at a
// different point), every block size and thread count, and both targets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "api/default_workbook.h"
#include "api/sheet_extraction.h"
#include "api/text_target.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

// Rows 1..count of two cells: a shared string and a number.
std::string plainRows(int from, int count) {
  std::string xml;
  for (int r = from; r < from + count; ++r) {
    const std::string n = std::to_string(r);
    xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"s\"><v>" + std::to_string(r % 3) + "</v></c><c r=\"B" + n +
           "\"><v>" + n + "</v></c></row>";
  }
  return xml;
}

std::string inlineCell(const std::string& ref, const std::string& text) {
  return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

struct Case {
  const char* what;
  std::string dimension;
  std::string rows;
};

TEST(SheetText, JoinedAsReadIsTheJoinedRows) {
  const std::string awkward = "<row r=\"2\">" + inlineCell("A2", "semi;colon") + inlineCell("B2", "line\nfeed") +
                              inlineCell("C2", "&quot;quoted&quot;") + "</row>";
  const Case cases[] = {
      {"rows in order", "A1:B300", plainRows(1, 300)},
      {"rows without numbers and gaps", "A1:B300",
       plainRows(1, 100) + "<row><c r=\"A101\"><v>1</v></c></row>" + plainRows(150, 100)},
      {"a row out of order late", "A1:B300", plainRows(1, 200) + plainRows(50, 1) + plainRows(201, 50)},
      {"a row repeated: its cells join", "A1:D300",
       plainRows(1, 120) + "<row r=\"120\"><c r=\"D120\"><v>again</v></c></row>" + plainRows(121, 10)},
      {"a cell beyond the dimension", "A1:B300",
       plainRows(1, 150) + "<row r=\"151\"><c r=\"F151\"><v>far</v></c></row>" + plainRows(152, 100)},
      {"rows beyond the last row and without a place", "A1:B300",
       plainRows(1, 100) + "<row r=\"2000000\"><c r=\"A2000000\"><v>beyond</v></c></row>" +
           "<row r=\"-4\"><c r=\"A1\"><v>negative</v></c></row>" +
           "<row r=\"2147483647\"><c r=\"A1\"><v>max</v></c></row><row><c r=\"A1\"><v>past max</v></c></row>" +
           plainRows(101, 50)},
      {"awkward texts, then a row out of order", "A1:C300",
       awkward + plainRows(3, 100) + awkward + plainRows(103, 100)},
      {"no dimension", "", plainRows(1, 200)},
      {"rows narrower than the first", "", "<row r=\"1\"><c r=\"D1\"><v>wide</v></c></row>" + plainRows(2, 200)},
      {"a cell naming no column", "", "<row r=\"1\"><c r=\"1\"><v>x</v></c></row>" + plainRows(2, 50)},
      {"no rows", "A1:A1", ""},
  };
  Workbook book;
  for (const Case& c : cases) book.sheets.push_back({c.what, worksheet(c.dimension, c.rows)});
  book.sharedStrings = "<si><t>zero</t></si><si><t>one</t></si><si><t>two</t></si>";
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book.write(path);
  ASSERT_EQ(openExcel(path.c_str()), 0);
  const tabulon::Workbook& loaded = *openWorkbook();
  for (const Case& c : cases) {
    for (unsigned flags : {0u, TABULON_TEXT_TRIM, TABULON_TEXT_QUOTED, TABULON_TEXT_TRIM | TABULON_TEXT_QUOTED}) {
      const TextOptions options = textOptionsOf(flags);
      const SheetChoice sheet{c.what, 0};
      const SheetRows rows = extractRows(loaded, sheet, 1, SIZE_MAX, options);
      const std::string expected = rows.text();
      for (unsigned threads : {1u, 2u, 5u}) {
        for (std::size_t blockBytes : {std::size_t{1}, std::size_t{300}, kBlockBytes}) {
          std::string text = "left from before";
          StringTarget target(text);
          const TextFacts facts = extractText(loaded, sheet, target, threads, blockBytes, options);
          target.finish(facts.size);
          EXPECT_EQ(text, expected) << c.what << ", flags " << flags << ", " << threads << " threads, blocks of "
                                    << blockBytes;
          EXPECT_EQ(facts.width, rows.width) << c.what;
          EXPECT_EQ(facts.maxRow, rows.maxRow) << c.what;
          EXPECT_EQ(facts.maxColumn, rows.maxColumn) << c.what;
          EXPECT_EQ(facts.cellElements, rows.cellElements) << c.what;
        }
      }
      MallocTarget target;
      const TextFacts facts = extractText(loaded, sheet, target, 2, 300, options);
      char* text = target.release(facts.size);
      EXPECT_EQ(std::string(text, facts.size), expected) << c.what << ", flags " << flags;
      EXPECT_EQ(text[facts.size], '\0');
      std::free(text);
    }
  }
  closeExcel();
}

// A text past the caller's limit fails whichever join it reached.
TEST(SheetText, OverTheLimitFails) {
  Workbook book;
  book.sheets = {{"S", worksheet("A1:B2000", plainRows(1, 2000))}};
  book.sharedStrings = "<si><t>zero</t></si><si><t>one</t></si><si><t>two</t></si>";
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book.write(path);
  ASSERT_EQ(openExcel(path.c_str()), 0);
  TextOptions options;
  options.maxBytes = 5000;
  std::string text;
  StringTarget target(text);
  EXPECT_THROW(extractText(*openWorkbook(), SheetChoice{"S", 0}, target, 2, 300, options), Failure);
  closeExcel();
}

}  // namespace
}  // namespace tabulon::test
