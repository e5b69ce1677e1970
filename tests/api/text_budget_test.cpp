// A sheet's text is held against its budget before and while it is
// written: within the budget it is whole, one byte beyond it the read
// fails with the size the text would have had.
#include <gtest/gtest.h>

#include <string>

#include "api/default_workbook.h"
#include "api/sheet_extraction.h"
#include "base/failure.h"
#include "api/workbook.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

struct Case {
  const char* what;
  const char* dimension;
  std::string rows;
  bool trim;
};

TEST(TextBudget, TheLimitIsExactWhateverMakesTheText) {
  std::string manyUses, wide;
  for (int r = 1; r <= 9; ++r)
    manyUses += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\" t=\"s\"><v>0</v></c>"
                "<c r=\"C" + std::to_string(r) + "\"><v>" + std::to_string(r) + "</v></c></row>";
  // Narrow rows widened to the widest one by the join.
  for (int r = 1; r <= 5; ++r) wide += "<row r=\"" + std::to_string(r) + "\"><c r=\"A1\"><v>1</v></c></row>";
  wide += "<row r=\"6\"><c r=\"AX6\"><v>2</v></c></row>";
  const Case cases[] = {
      {"one shared string used by many cells", "A1:C9", manyUses, false},
      {"narrow rows widened to the widest", "A1", wide, true},
      {"the dimension's width", "A1:CV6", wide, false},
      {"rows out of column order", "A1:D1",
       "<row r=\"1\"><c r=\"D1\"><v>4</v></c><c r=\"A1\" t=\"s\"><v>0</v></c></row>", false},
  };
  for (const Case& c : cases) {
    Workbook book;
    book.sheets = {{"S", worksheet(c.dimension, c.rows)}};
    book.sharedStrings = "<si><t>" + std::string(40, 'w') + "</t></si>";
    TempDir dir;
    const std::string path = dir.file("book.xlsx");
    book.write(path);
    ASSERT_EQ(openExcel(path.c_str()), 0) << c.what;
    TextOptions options;
    options.trim = c.trim;
    const tabulon::Workbook& loaded = *openWorkbook();
    const SheetChoice sheet{"S", 0};
    const std::string whole = extractRows(loaded, sheet, 2, 64, options).text();
    ASSERT_GT(whole.size(), 40u) << c.what;

    options.maxBytes = whole.size();
    EXPECT_EQ(extractRows(loaded, sheet, 2, 64, options).text(), whole) << c.what;

    options.maxBytes = whole.size() - 1;
    std::string why;
    try {
      extractRows(loaded, sheet, 2, 64, options);
      ADD_FAILURE() << c.what << ": a text one byte beyond its limit was read";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), TABULON_OUT_OF_MEMORY) << c.what;
      why = failure.what();
    }
    const std::string size = std::to_string(whole.size()) + " bytes, more than the " +
                             std::to_string(whole.size() - 1) + " bytes";
    EXPECT_NE(why.find("the sheet's text would be " + size), std::string::npos) << c.what << ": " << why;
    closeExcel();
  }
}

}  // namespace
}  // namespace tabulon::test
