// Columns grown block by block are the columns assembled from every
// block's cells at the end, for every kind of cell, kinds that mix in a
// column, and every option; a sheet out of the usual order is told apart.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/failure.h"
#include "parse/row_blocks.h"
#include "parse/sheet_columns.h"
#include "parse/typed_cells.h"
#include "support/same_columns.h"

namespace tabulon::test {
namespace {

std::string cell(const std::string& ref, const std::string& value, const std::string& attributes = "") {
  return "<c r=\"" + ref + "\"" + attributes + "><v>" + value + "</v></c>";
}

std::string row(int number, const std::string& cells, bool numbered = true) {
  return (numbered ? "<row r=\"" + std::to_string(number) + "\">" : std::string("<row>")) + cells + "</row>";
}

// Kinds of every sort, one column each, over rows 2-7 under a header row:
// numbers written in other forms than their shortest, dates (one the
// 1900-02-29 that never was), booleans written as words, shared and
// inline text, errors, empty text, and columns that mix kinds.
std::string everyKind() {
  std::string xml = row(1, cell("A1", "0", " t=\"s\"") + cell("B1", "1", " t=\"s\"") + cell("C1", "date", " t=\"str\"") +
                               cell("D1", "7") + cell("H1", "mixed", " t=\"str\""));
  const char* numbers[] = {"1", "1.50", "1e3", " 7 ", "-0.25", "123456789012345678"};
  const char* dates[] = {"45000", "60", "45000.5", "61", "1", "59"};
  const char* booleans[] = {"1", "0", "true", "FALSE", "1", "0"};
  for (int r = 2; r <= 7; ++r) {
    const std::string n = std::to_string(r);
    const int k = r - 2;
    std::string cells = cell("A" + n, numbers[k]) + cell("B" + n, dates[k], " s=\"1\"") +
                        cell("C" + n, booleans[k], " t=\"b\"") + cell("D" + n, std::to_string(k % 2), " t=\"s\"");
    if (r != 4) cells += "<c r=\"E" + n + "\" t=\"inlineStr\"><is><t>in" + std::to_string(r % 3) + "</t></is></c>";
    if (r % 2 == 0) cells += cell("F" + n, "#N/A", " t=\"e\"");
    cells += "<c r=\"G" + n + "\" t=\"inlineStr\"><is><t></t></is></c>";
    // Column H: a number, a date, a boolean, a text, an error, a number.
    switch (k) {
      case 0: cells += cell("H" + n, "2.50"); break;
      case 1: cells += cell("H" + n, "60", " s=\"1\""); break;
      case 2: cells += cell("H" + n, "TRUE", " t=\"b\""); break;
      case 3: cells += cell("H" + n, "1", " t=\"s\""); break;
      case 4: cells += cell("H" + n, "#DIV/0!", " t=\"e\""); break;
      default: cells += cell("H" + n, "0.1"); break;
    }
    // Column I: integers, then one that is not.
    cells += cell("I" + n, r == 7 ? "7.5" : n);
    xml += row(r, cells, r != 5);
  }
  return xml;
}

// The usual table: many rows, gaps between some, a column present in one
// row of three.
std::string longTable() {
  std::string xml;
  for (int r = 1; r <= 400; ++r) {
    if (r % 37 == 0) continue;
    const std::string n = std::to_string(r);
    std::string cells = cell("A" + n, n) + cell("B" + n, std::to_string(r % 2), " t=\"s\"") +
                        cell("C" + n, std::to_string(40000 + r), " s=\"1\"");
    if (r % 3 == 0) cells += cell("E" + n, std::to_string(r) + ".25");
    xml += row(r, cells);
  }
  return xml;
}

struct Reading {
  const char* what;
  ColumnOptions options;
};

std::vector<Reading> readings() {
  std::vector<Reading> list;
  const auto add = [&](const char* what, auto change) {
    ColumnOptions options;
    change(options);
    list.push_back({what, options});
  };
  add("every cell", [](ColumnOptions&) {});
  add("header", [](ColumnOptions& o) { o.header = true; });
  add("kinds", [](ColumnOptions& o) { o.kinds = true; });
  add("kinds and header", [](ColumnOptions& o) { o.kinds = o.header = true; });
  add("skip and at most", [](ColumnOptions& o) { o.skipRows = 1; o.maxRows = 3; o.header = true; });
  add("skip from the first row", [](ColumnOptions& o) { o.skipRows = 2; o.skipFromFirstRow = true; o.maxRows = 50; });
  add("exact rows", [](ColumnOptions& o) { o.firstRow = 3; o.lastRow = 6; });
  add("rows from", [](ColumnOptions& o) { o.firstRow = 4; });
  add("columns", [](ColumnOptions& o) { o.columns = {1, 3, 8, 9}; o.header = true; });
  add("column range", [](ColumnOptions& o) { o.firstColumn = 2; o.lastColumn = 12; });
  add("first column only", [](ColumnOptions& o) { o.firstColumn = 3; });
  add("text columns", [](ColumnOptions& o) { o.textColumns = {1, 2, 3, 8}; });
  add("text columns with kinds", [](ColumnOptions& o) { o.textColumns = {1, 2, 3, 6, 8}; o.kinds = true; });
  add("none wanted", [](ColumnOptions& o) { o.firstRow = 5000; });
  return list;
}

// Reads the blocks of xml, cut in count, as the pipeline does for options.
std::vector<TypedBlock> readBlocks(const std::string& xml, unsigned count, const ColumnOptions& options,
                                   const SheetContext& context) {
  std::vector<std::uint8_t> flags;
  std::int64_t stop = 0;
  TypedSelection selection = selectionFor(options, flags, stop);
  std::atomic<std::int64_t> stopAfter{stop};
  selection.stopAfter = &stopAfter;
  std::vector<TypedBlock> blocks;
  for (std::string_view piece : cutRowBlocks(xml, count)) {
    blocks.emplace_back();
    readTypedBlock(piece, context, selection, blocks.back());
  }
  return blocks;
}

struct Sheet {
  const char* what;
  std::string xml;
  bool usualOrder;
};

TEST(GrowingColumns, SameAsAssembledAtTheEnd) {
  const std::vector<std::string> strings{"alpha", "beta"};
  const std::vector<int> styles{0, 1};
  SheetContext context;
  context.sharedStrings = &strings;
  context.styles = &styles;
  const Sheet sheets[] = {
      {"every kind", everyKind(), true},
      {"a long table", longTable(), true},
      {"a row out of order", row(3, cell("A3", "3")) + row(2, cell("A2", "2")), false},
      {"cells out of order", row(1, cell("B1", "2") + cell("A1", "1")), false},
      {"a row repeated", row(1, cell("A1", "1")) + row(1, cell("A1", "x", " t=\"str\"")), false},
      {"a row beyond the last", row(1, cell("A1", "1")) + row(2000000, cell("A2000000", "2")), false},
      {"rows without a place", row(-3, cell("A1", "0")) + row(1, cell("A1", "1")) + row(2, cell("A2", "2")), true},
  };
  for (const Sheet& sheet : sheets) {
    for (const Reading& reading : readings()) {
      for (unsigned count : {1u, 3u, 8u}) {
        std::vector<TypedBlock> blocks = readBlocks(sheet.xml, count, reading.options, context);
        GrowingColumns grown(strings, reading.options, UINT64_MAX);
        // Room set aside, too little or too much, changes nothing.
        grown.expectRows(count == 3 ? 100 : count == 8 ? 5000 : 0);
        bool ordered = true;
        for (const TypedBlock& block : blocks) ordered = grown.add(block) && ordered;
        const SheetColumns kept = assembleColumns(blocks, strings, reading.options, UINT64_MAX);
        // A sheet out of order may still keep its order in the rows wanted.
        if (sheet.usualOrder) {
          EXPECT_TRUE(ordered) << sheet.what << ", " << reading.what;
        }
        if (!ordered) continue;
        EXPECT_EQ(columnsDifference(grown.finish(), kept), "")
            << sheet.what << ", " << reading.what << ", " << count << " blocks";
      }
    }
  }
}

// Columns too large for the memory allowed fail while they grow.
TEST(GrowingColumns, RefusedBeyondTheLimit) {
  const std::vector<std::string> strings;
  const std::vector<int> styles{0};
  SheetContext context;
  context.sharedStrings = &strings;
  context.styles = &styles;
  const std::string xml = row(1, cell("A1", "1")) + row(1000000, cell("A1000000", "2"));
  const ColumnOptions options;
  std::vector<TypedBlock> blocks = readBlocks(xml, 1, options, context);
  GrowingColumns grown(strings, options, 1u << 20);
  const auto read = [&] {
    for (const TypedBlock& block : blocks) grown.add(block);
    grown.finish();
  };
  EXPECT_THROW(read(), Failure);
}

}  // namespace
}  // namespace tabulon::test
