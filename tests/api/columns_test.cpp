// Typed columns through the host entry points: types, extent, options,
// failures, and agreement with the text of the same cells.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cells/date_time.h"
#include "support/host_library.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

using ReadColumns = int (*)(const char*, const TabulonReadOptions*, ArrowSchema*, ArrowArray*);
using LastError = const char* (*)(int*);
using GetSheetText = const char* (*)(const char*, unsigned);

// A column as a test reads it: its name, its format, and each row's value
// written out ("-" for a missing one).
struct ReadColumn {
  std::string name;
  std::string format;
  std::vector<std::string> cells;
  bool operator==(const ReadColumn&) const = default;
};

void PrintTo(const ReadColumn& c, std::ostream* os) {
  *os << c.name << " [" << c.format << "]";
  for (const std::string& cell : c.cells) *os << " |" << cell;
}

bool present(const ArrowArray& a, std::int64_t i) {
  if (a.buffers == nullptr || a.n_buffers == 0) return false;
  auto validity = static_cast<const std::uint8_t*>(a.buffers[0]);
  return validity == nullptr || (validity[i >> 3] >> (i & 7) & 1);
}

std::string number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

std::vector<ReadColumn> decode(const ArrowSchema& schema, const ArrowArray& array) {
  std::vector<ReadColumn> columns;
  EXPECT_STREQ(schema.format, "+s");
  EXPECT_EQ(schema.n_children, array.n_children);
  for (std::int64_t c = 0; c < schema.n_children; ++c) {
    const ArrowSchema& s = *schema.children[c];
    const ArrowArray& a = *array.children[c];
    EXPECT_EQ(a.length, array.length);
    ReadColumn column{s.name, s.format, {}};
    std::int64_t nulls = 0;
    for (std::int64_t i = 0; i < a.length; ++i) {
      if (column.format == "n" || !present(a, i)) {
        column.cells.push_back("-");
        ++nulls;
        continue;
      }
      if (column.format == "g") {
        column.cells.push_back(number(static_cast<const double*>(a.buffers[1])[i]));
      } else if (column.format == "b") {
        auto bits = static_cast<const std::uint8_t*>(a.buffers[1]);
        column.cells.push_back(bits[i >> 3] >> (i & 7) & 1 ? "true" : "false");
      } else if (column.format == "tsu:") {
        column.cells.push_back(microsText(static_cast<const std::int64_t*>(a.buffers[1])[i]));
      } else if (column.format == "i") {
        EXPECT_STREQ(s.dictionary->format, "u");
        const ArrowArray& d = *a.dictionary;
        auto index = static_cast<const std::int32_t*>(a.buffers[1])[i];
        auto offsets = static_cast<const std::int32_t*>(d.buffers[1]);
        auto chars = static_cast<const char*>(d.buffers[2]);
        EXPECT_LT(index, d.length);
        column.cells.push_back(std::string(chars + offsets[index], chars + offsets[index + 1]));
      }
    }
    EXPECT_EQ(a.null_count, nulls) << column.name;
    columns.push_back(std::move(column));
  }
  return columns;
}

struct Result {
  int status = 0;
  int code = 0;
  std::string error;
  std::int64_t rows = 0;
  std::vector<ReadColumn> columns;
};

Result readSheet(const Workbook& book, const TabulonReadOptions* options = nullptr, const char* sheet = nullptr) {
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book.write(path);
  HostLibrary& lib = host();
  Result result;
  if (lib.openExcel(path.c_str()) != 0) {
    result.status = -2;
    return result;
  }
  ArrowSchema schema;
  ArrowArray array;
  const std::string name = sheet ? sheet : book.sheets.at(0).first;
  result.status = lib.symbol<ReadColumns>("readColumns")(name.c_str(), options, &schema, &array);
  result.error = lib.symbol<LastError>("lastError")(&result.code);
  lib.closeExcel();
  if (result.status == 0) {
    // The columns outlive the workbook.
    result.rows = array.length;
    result.columns = decode(schema, array);
    schema.release(&schema);
    array.release(&array);
    EXPECT_EQ(schema.release, nullptr);
    EXPECT_EQ(array.release, nullptr);
  } else {
    EXPECT_EQ(schema.release, nullptr);
    EXPECT_EQ(array.release, nullptr);
  }
  return result;
}

Workbook typedBook(const std::string& dimension, const std::string& rows) {
  Workbook book;
  book.sheets = {{"Data", worksheet(dimension, rows)}};
  book.sharedStrings = "<si><t>name</t></si><si><t>when</t></si><si><t>a;b&#13;</t></si><si><t></t></si>";
  // 0 general, 1 built-in date, 2 custom date, 3 custom number, 4 fraction
  book.numFmts = "<numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd hh:mm\"/>"
                 "<numFmt numFmtId=\"165\" formatCode=\"0.00&quot; kg&quot;\"/>";
  book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/>"
                 "<xf numFmtId=\"12\"/>";
  return book;
}

TEST(Columns, TypesFromStoredCells) {
  Workbook book = typedBook("A1:G4",
      "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
      "<c r=\"C1\" t=\"inlineStr\"><is><t>flag</t></is></c><c r=\"D1\"><v>7</v></c>"
      "<c r=\"F1\" t=\"str\"><v>mixed</v></c><c r=\"G1\"><v>12</v></c></row>"
      "<row r=\"2\"><c r=\"A2\" s=\"3\"><v>1.5</v></c><c r=\"B2\" s=\"1\"><v>45000.5</v></c>"
      "<c r=\"C2\" t=\"b\"><v>1</v></c><c r=\"D2\" t=\"s\"><v>2</v></c>"
      "<c r=\"F2\"><v>1.50</v></c><c r=\"G2\" s=\"4\"><v>1.5</v></c></row>"
      "<row r=\"4\"><c r=\"A4\"><v>-2E3</v></c><c r=\"B4\" s=\"2\"><v>45000.25</v></c>"
      "<c r=\"C4\" t=\"b\"><v>0</v></c><c r=\"D4\" t=\"inlineStr\"><is><t>x</t></is></c>"
      "<c r=\"F4\" s=\"2\"><v>45000</v></c><c r=\"G4\" t=\"e\"><v>#N/A</v></c></row>");
  TabulonReadOptions options{};
  options.max_rows = -1;
  options.header = 1;
  Result r = readSheet(book, &options);
  ASSERT_EQ(r.status, 0) << r.error;
  EXPECT_EQ(r.code, TABULON_OK);
  EXPECT_EQ(r.rows, 3);
  std::vector<ReadColumn> expected = {
      {"name", "g", {"1.5", "-", "-2000"}},
      {"when", "tsu:", {"2023-03-15 12:00:00", "-", "2023-03-15 06:00:00"}},
      {"flag", "b", {"true", "-", "false"}},
      {"7", "i", {"a;b\r", "-", "x"}},  // text keeps every character
      {"", "n", {"-", "-", "-"}},      // an empty column inside the extent
      {"mixed", "i", {"1.50", "-", "2023-03-15 00:00:00"}},
      {"12", "i", {"1.5", "-", "#N/A"}},  // a fraction format is a number; an error is text
  };
  EXPECT_EQ(r.columns, expected);
}

TEST(Columns, ExtentIgnoresDimensionAndLeadingSpace) {
  // Values from C3 to D5: two columns, three rows; the dimension's claim
  // of thousands of columns adds nothing.
  Workbook book = typedBook("A1:XFD1048576",
      "<row r=\"3\"><c r=\"C3\"><v>1</v></c></row>"
      "<row r=\"4\"><c r=\"A4\" s=\"0\"/><c r=\"Z4\" t=\"s\"><v>3</v></c></row>"
      "<row r=\"5\"><c r=\"D5\"><v>2</v></c></row><row r=\"9\"><c r=\"E9\"/></row>");
  Result r = readSheet(book);
  ASSERT_EQ(r.status, 0) << r.error;
  EXPECT_EQ(r.rows, 3);
  std::vector<ReadColumn> expected = {{"C", "g", {"1", "-", "-"}}, {"D", "g", {"-", "-", "2"}}};
  EXPECT_EQ(r.columns, expected);
}

TEST(Columns, Options) {
  const std::string rows =
      "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>title</t></is></c></row>"
      "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>n</t></is></c><c r=\"B3\" t=\"inlineStr\"><is><t>m</t></is></c></row>"
      "<row r=\"4\"><c r=\"A4\"><v>1</v></c></row><row r=\"5\"><c r=\"A5\"><v>2</v></c></row>"
      "<row r=\"7\"><c r=\"A7\"><v>3</v></c><c r=\"B7\"><v>4</v></c></row>";
  struct Rows {
    std::int64_t skip, max;
    int header;
  };
  struct Case {
    const char* what;
    Rows rows_;
    std::int64_t rows;
    std::vector<ReadColumn> columns;
  };
  const Case cases[] = {
      {"skip the title, header", {1, -1, 1}, 4, {{"n", "g", {"1", "2", "-", "3"}}, {"m", "g", {"-", "-", "-", "4"}}}},
      {"two rows only", {1, 2, 1}, 2, {{"n", "g", {"1", "2"}}, {"m", "n", {"-", "-"}}}},
      {"rows to a gap: trailing empty rows go", {1, 3, 1}, 2, {{"n", "g", {"1", "2"}}, {"m", "n", {"-", "-"}}}},
      {"no rows", {1, 0, 1}, 0, {{"n", "n", {}}, {"m", "n", {}}}},
      {"everything, no header", {0, -1, 0}, 6,
       {{"A", "i", {"title", "n", "1", "2", "-", "3"}}, {"B", "i", {"-", "m", "-", "-", "-", "4"}}}},
      {"skip past the end", {10, -1, 1}, 0, {}},
  };
  for (const Case& c : cases) {
    TabulonReadOptions options{};
    options.skip_rows = c.rows_.skip;
    options.max_rows = c.rows_.max;
    options.header = c.rows_.header;
    Result r = readSheet(typedBook("", rows), &options);
    ASSERT_EQ(r.status, 0) << c.what << ": " << r.error;
    EXPECT_EQ(r.rows, c.rows) << c.what;
    EXPECT_EQ(r.columns, c.columns) << c.what;
  }
}

TEST(Columns, LaterCellsWinAndRowsMayComeOutOfOrder) {
  Workbook book = typedBook("",
      "<row r=\"2\"><c r=\"B2\"><v>1</v></c><c r=\"A2\"><v>2</v></c><c r=\"B2\"><v>3</v></c></row>"
      "<row r=\"1\"><c r=\"A1\"><v>4</v></c></row>"
      "<row r=\"2\"><c r=\"C2\"><v>5</v></c></row>"
      "<row><c><v>6</v></c></row>");  // follows the row before it: row 3
  Result r = readSheet(book);
  ASSERT_EQ(r.status, 0) << r.error;
  std::vector<ReadColumn> expected = {
      {"A", "g", {"4", "2", "6"}}, {"B", "g", {"-", "3", "-"}}, {"C", "g", {"-", "5", "-"}}};
  EXPECT_EQ(r.columns, expected);
}

TEST(Columns, DateSystem1904) {
  Workbook book = typedBook("", "<row r=\"1\"><c r=\"A1\" s=\"1\"><v>0</v></c><c r=\"B1\" s=\"2\"><v>1.5</v></c></row>");
  book.date1904 = true;
  Result r = readSheet(book);
  ASSERT_EQ(r.status, 0) << r.error;
  std::vector<ReadColumn> expected = {{"A", "tsu:", {"1904-01-01 00:00:00"}},
                                      {"B", "tsu:", {"1904-01-02 12:00:00"}}};
  EXPECT_EQ(r.columns, expected);
}

TEST(Columns, IsoDateCells) {
  Workbook book = typedBook("",
      "<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2017-03-16</v></c><c r=\"B1\" t=\"d\"><v>2021-01-01T10:10:10.6Z</v></c></row>"
      "<row r=\"2\"><c r=\"A2\" t=\"d\"><v>2017-02-30</v></c><c r=\"B2\" t=\"d\"><v>1999-12-31T23:59</v></c></row>");
  Result r = readSheet(book);
  ASSERT_EQ(r.status, 0) << r.error;
  std::vector<ReadColumn> expected = {
      {"A", "i", {"2017-03-16 00:00:00", "2017-02-30"}},  // no such day: text as written
      {"B", "tsu:", {"2021-01-01 10:10:11", "1999-12-31 23:59:00"}}};
  EXPECT_EQ(r.columns, expected);
}

// "inf" reads as a number to the parser but is no value a sheet holds:
// text as written, whether or not its cell format is a date format.
TEST(Columns, NonFiniteNumbersAreText) {
  Workbook book = typedBook("",
      "<row r=\"1\"><c r=\"A1\"><v>inf</v></c><c r=\"B1\" s=\"2\"><v>inf</v></c></row>");
  Result r = readSheet(book);
  ASSERT_EQ(r.status, 0) << r.error;
  std::vector<ReadColumn> expected = {{"A", "i", {"inf"}}, {"B", "i", {"inf"}}};
  EXPECT_EQ(r.columns, expected);
}

TEST(Columns, EmptySheetIsNotAFailure) {
  Result r = readSheet(typedBook("A1", ""));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.rows, 0);
  EXPECT_TRUE(r.columns.empty());
}

TEST(Columns, Failures) {
  Result unknown = readSheet(typedBook("", ""), nullptr, "Nope");
  EXPECT_EQ(unknown.status, -1);
  EXPECT_EQ(unknown.code, TABULON_NO_SUCH_SHEET);
  EXPECT_NE(unknown.error.find("\"Data\""), std::string::npos) << unknown.error;

  Workbook missingPart = typedBook("", "");
  missingPart.extra.clear();
  HostLibrary& lib = host();
  lib.closeExcel();
  ArrowSchema schema;
  ArrowArray array;
  int code = -1;
  EXPECT_EQ(lib.symbol<ReadColumns>("readColumns")("Data", nullptr, &schema, &array), -1);
  lib.symbol<LastError>("lastError")(&code);
  EXPECT_EQ(code, TABULON_NO_WORKBOOK);
  EXPECT_EQ(lib.symbol<ReadColumns>("readColumns")("Data", nullptr, nullptr, nullptr), -1);
  lib.symbol<LastError>("lastError")(&code);
  EXPECT_EQ(code, TABULON_INVALID_ARGUMENT);
}

// Each cell written as the text writes it equals the text's field.
TEST(Columns, AgreeWithTheTextOfAllDates) {
  Workbook book = typedBook("A1:D3",
      "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\" s=\"2\"><v>45000.75</v></c>"
      "<c r=\"C1\" t=\"s\"><v>0</v></c><c r=\"D1\" t=\"b\"><v>1</v></c></row>"
      "<row r=\"3\"><c r=\"A3\"><v>2.25</v></c><c r=\"B3\" s=\"1\"><v>1</v></c>"
      "<c r=\"C3\" t=\"inlineStr\"><is><t>z</t></is></c></row>");
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book.write(path);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  const std::string text = lib.symbol<GetSheetText>("getSheetText")("Data", TABULON_TEXT_ALL_DATES);
  EXPECT_EQ(text, "1;2023-03-15 18:00:00;name;1;\n2.25;1900-01-01 00:00:00;z;;\n");
  // The text of getSheetData keeps the serial of a custom date format.
  EXPECT_EQ(std::string(lib.getSheetData("Data")), "1;45000.75;name;1;\n2.25;1900-01-01 00:00:00;z;;\n");
  lib.closeExcel();
}

// A column of mixed kinds writes its dates exactly as the text of all
// dates does: whole seconds cut after a small bias rather than rounded,
// and serial 60 as the 29 February 1900 that a timestamp cannot hold.
TEST(Columns, MixedColumnsWriteDatesAsTheText) {
  struct Case {
    const char* serial;
    const char* text;
  } cases[] = {
      {"1234.567", "1903-05-18 13:36:29"},    // 13:36:28.8, rounded
      {"-123.456", "1899-08-29 13:03:22"},    // before the first day, 13:03:21.6
      {"60", "1900-02-29 00:00:00"},
      {"45000.33333333333", "2023-03-15 08:00:00"},  // a hair short of 08:00:00
  };
  std::string rows = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c></row>";
  std::vector<std::string> expected = {"x"};
  int r = 1;
  for (const Case& c : cases) {
    const std::string n = std::to_string(++r);
    rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\" s=\"2\"><v>" + c.serial + "</v></c></row>";
    expected.push_back(c.text);
  }
  Workbook book = typedBook("", rows);
  Result result = readSheet(book);
  ASSERT_EQ(result.status, 0) << result.error;
  ASSERT_EQ(result.columns.size(), 1u);
  EXPECT_EQ(result.columns[0].format, "i");
  EXPECT_EQ(result.columns[0].cells, expected);

  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book.write(path);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  std::string text;
  for (const std::string& cell : expected) text += cell + ";\n";
  EXPECT_EQ(lib.symbol<GetSheetText>("getSheetText")("Data", TABULON_TEXT_ALL_DATES), text);
  lib.closeExcel();
}

TEST(LastError, OpenFailuresSayWhy) {
  TempDir dir;
  HostLibrary& lib = host();
  auto lastError = lib.symbol<LastError>("lastError");
  int code = -1;
  EXPECT_EQ(lib.openExcel(dir.file("absent.xlsx").c_str()), -2);
  lastError(&code);
  EXPECT_EQ(code, TABULON_NO_SUCH_FILE);
  EXPECT_EQ(lib.openExcel(dir.path().c_str()), -1);
  lastError(&code);
  EXPECT_EQ(code, TABULON_NOT_A_FILE);
  const std::string text = dir.file("text.xlsx");
  FILE* f = std::fopen(text.c_str(), "w");
  std::fputs("this is not an archive, only some words in a file", f);
  std::fclose(f);
  EXPECT_EQ(lib.openExcel(text.c_str()), -2);
  lastError(&code);
  EXPECT_EQ(code, TABULON_NOT_A_SPREADSHEET);
  const std::string noWorkbook = dir.file("noworkbook.xlsx");
  writeZip(noWorkbook, {Member("xl/other.xml", "<x/>")});
  EXPECT_EQ(lib.openExcel(noWorkbook.c_str()), -1);
  EXPECT_NE(std::string(lastError(&code)).find("xl/workbook.xml"), std::string::npos);
  EXPECT_EQ(code, TABULON_MISSING_PART);
  Workbook damaged = typedBook("", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
  const std::string damagedPath = dir.file("damaged.xlsx");
  std::vector<Member> members = damaged.members();
  for (Member& m : members)
    if (m.name == "xl/worksheets/sheet1.xml") m.crc32 = 1;
  writeZip(damagedPath, members);
  ASSERT_EQ(lib.openExcel(damagedPath.c_str()), 0);
  EXPECT_EQ(std::string(lastError(&code)), "");
  EXPECT_EQ(code, TABULON_OK);
  EXPECT_STREQ(lib.getSheetData("Data"), "0");
  EXPECT_NE(std::string(lastError(&code)).find("xl/worksheets/sheet1.xml"), std::string::npos);
  EXPECT_EQ(code, TABULON_DAMAGED_MEMBER);
  EXPECT_STREQ(lib.getSheetData("Other"), "0");
  lastError(&code);
  EXPECT_EQ(code, TABULON_NO_SUCH_SHEET);
  lib.closeExcel();
}

}  // namespace
}  // namespace tabulon::test
