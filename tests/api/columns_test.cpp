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

// Options of counts only, every other field zero.
TabulonReadOptions counts(std::int64_t skip, std::int64_t most, int header) {
  TabulonReadOptions options{};
  options.skip_rows = skip;
  options.max_rows = most;
  options.header = header;
  return options;
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

// One present cell of a column written out: numbers as "%.15g", dates as
// their text, durations as "<micros>us", times of day as "hh:mm:ss.micros";
// a union's cell as "<kind code>:<the child's cell>".
std::string cellText(const ArrowSchema& s, const ArrowArray& a, std::int64_t i) {
  const std::string format = s.format;
  if (format == "g") return number(static_cast<const double*>(a.buffers[1])[i]);
  if (format == "l") return std::to_string(static_cast<const std::int64_t*>(a.buffers[1])[i]);
  if (format == "b") {
    auto bits = static_cast<const std::uint8_t*>(a.buffers[1]);
    return bits[i >> 3] >> (i & 7) & 1 ? "true" : "false";
  }
  if (format == "tsu:") return microsText(static_cast<const std::int64_t*>(a.buffers[1])[i]);
  if (format == "tDu") return std::to_string(static_cast<const std::int64_t*>(a.buffers[1])[i]) + "us";
  if (format == "ttu") {
    const std::int64_t us = static_cast<const std::int64_t*>(a.buffers[1])[i];
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%06lld", static_cast<long long>(us / 3600000000),
                  static_cast<long long>(us / 60000000 % 60), static_cast<long long>(us / 1000000 % 60),
                  static_cast<long long>(us % 1000000));
    return buf;
  }
  if (format == "u") {
    auto offsets = static_cast<const std::int32_t*>(a.buffers[1]);
    auto chars = static_cast<const char*>(a.buffers[2]);
    return std::string(chars + offsets[i], chars + offsets[i + 1]);
  }
  if (format == "i") {
    EXPECT_STREQ(s.dictionary->format, "u");
    const ArrowArray& d = *a.dictionary;
    auto index = static_cast<const std::int32_t*>(a.buffers[1])[i];
    EXPECT_LT(index, d.length);
    return cellText(*s.dictionary, d, index);
  }
  if (format == "+ud:0,1,2,3,4,5,6,7") {
    EXPECT_EQ(a.n_buffers, 3);
    EXPECT_EQ(a.buffers[0], nullptr);
    EXPECT_EQ(a.n_children, 8);
    const std::int8_t code = static_cast<const std::int8_t*>(a.buffers[1])[i];
    const std::int32_t at = static_cast<const std::int32_t*>(a.buffers[2])[i];
    EXPECT_TRUE(code >= 0 && code < 8);
    EXPECT_LT(at, a.children[code]->length);
    if (code == 0) return "-";
    return std::to_string(code) + ":" + cellText(*s.children[code], *a.children[code], at);
  }
  ADD_FAILURE() << "unknown format " << format;
  return "?";
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
    const bool isUnion = column.format.rfind("+ud:", 0) == 0;
    for (std::int64_t i = 0; i < a.length; ++i) {
      if (column.format == "n" || (!isUnion && !present(a, i))) {
        column.cells.push_back("-");
        ++nulls;
        continue;
      }
      column.cells.push_back(cellText(s, a, i));
    }
    EXPECT_EQ(a.null_count, isUnion ? 0 : nulls) << column.name;
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
  TabulonReadOptions options = counts(0, -1, 1);
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
  struct Case {
    const char* what;
    TabulonReadOptions options;
    std::int64_t rows;
    std::vector<ReadColumn> columns;
  };
  const Case cases[] = {
      {"skip the title, header", counts(1, -1, 1), 4, {{"n", "g", {"1", "2", "-", "3"}}, {"m", "g", {"-", "-", "-", "4"}}}},
      {"two rows only", counts(1, 2, 1), 2, {{"n", "g", {"1", "2"}}, {"m", "n", {"-", "-"}}}},
      {"rows to a gap: trailing empty rows go", counts(1, 3, 1), 2, {{"n", "g", {"1", "2"}}, {"m", "n", {"-", "-"}}}},
      {"no rows", counts(1, 0, 1), 0, {{"n", "n", {}}, {"m", "n", {}}}},
      {"everything, no header", counts(0, -1, 0), 6,
       {{"A", "i", {"title", "n", "1", "2", "-", "3"}}, {"B", "i", {"-", "m", "-", "-", "-", "4"}}}},
      {"skip past the end", counts(10, -1, 1), 0, {}},
  };
  for (const Case& c : cases) {
    Result r = readSheet(typedBook("", rows), &c.options);
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

namespace tabulon::test {
namespace {

// Cells of every kind, one kind (or mixture) per column, in three rows.
// Cell formats: 0 general, 1 built-in [h]:mm:ss (46), 2 custom [h]:mm,
// 3 custom hh:mm, 4 built-in h:mm:ss (21), 5 built-in date (14), 6 custom
// mm:ss.
Workbook kindsBook() {
  const char* rows =
      "<row r=\"1\">"
      "<c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>1</v></c><c r=\"C1\"><v>1E20</v></c>"
      "<c r=\"D1\" s=\"1\"><v>1.5</v></c><c r=\"E1\" s=\"3\"><v>0.5</v></c><c r=\"F1\" s=\"4\"><v>45000.5</v></c>"
      "<c r=\"G1\" t=\"e\"><v>#N/A</v></c><c r=\"H1\" t=\"s\"><v>3</v></c><c r=\"I1\"><v>1.5</v></c>"
      "<c r=\"J1\" t=\"d\"><v>PT24H0M0.000S</v></c><c r=\"K1\" t=\"d\"><v>2024-01-02T03:04:05</v></c>"
      "<c r=\"L1\" t=\"b\"><v>1</v></c></row>"
      "<row r=\"2\">"
      "<c r=\"A2\"><v>-3</v></c><c r=\"B2\"><v>2.5</v></c>"
      "<c r=\"D2\" s=\"2\"><v>0.25</v></c><c r=\"E2\" s=\"4\"><v>0.75</v></c>"
      "<c r=\"H2\" t=\"inlineStr\"><is><t>x</t></is></c><c r=\"I2\" s=\"5\"><v>45000.5</v></c>"
      "<c r=\"J2\" t=\"d\"><v>P1DT0.5S</v></c><c r=\"L2\" t=\"str\"><v>yes</v></c></row>"
      "<row r=\"3\">"
      "<c r=\"A3\"><v>4E3</v></c><c r=\"D3\" s=\"1\"><v>2</v></c><c r=\"E3\" s=\"6\"><v>0.0006944444444444445</v></c>"
      "<c r=\"G3\" t=\"e\"><v>#DIV/0!</v></c><c r=\"H3\" t=\"inlineStr\"><is><t></t></is></c>"
      "<c r=\"I3\" t=\"e\"><v>#REF!</v></c><c r=\"L3\"><v>7</v></c></row>";
  Workbook book;
  book.sheets = {{"Kinds", worksheet("A1:L3", rows)}};
  book.sharedStrings = "<si><t>name</t></si><si><t>when</t></si><si><t>a;b</t></si><si><t></t></si>";
  book.numFmts = "<numFmt numFmtId=\"164\" formatCode=\"[h]:mm\"/><numFmt numFmtId=\"165\" formatCode=\"hh:mm\"/>"
                 "<numFmt numFmtId=\"166\" formatCode=\"mm:ss\"/>";
  book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"46\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/>"
                 "<xf numFmtId=\"21\"/><xf numFmtId=\"14\"/><xf numFmtId=\"166\"/>";
  return book;
}

TabulonReadOptions withFlags(unsigned flags) {
  TabulonReadOptions options{};
  options.max_rows = -1;
  options.flags = flags;
  return options;
}

TEST(ColumnKinds, EveryKindToldApart) {
  const TabulonReadOptions options = withFlags(TABULON_READ_KINDS);
  const Result r = readSheet(kindsBook(), &options);
  ASSERT_EQ(r.status, 0) << r.error;
  const std::vector<ReadColumn> expected = {
      {"A", "l", {"1", "-3", "4000"}},          // integral numbers
      {"B", "g", {"1", "2.5", "-"}},            // one is not
      {"C", "g", {"1e+20", "-", "-"}},          // integral, beyond 64 bits
      {"D", "tDu", {"129600000000us", "21600000000us", "172800000000us"}},  // [h]:mm:ss, [h]:mm
      {"E", "ttu", {"12:00:00.000000", "18:00:00.000000", "00:01:00.000000"}},  // hh:mm, h:mm:ss, mm:ss below 1
      {"F", "tsu:", {"2023-03-15 12:00:00", "-", "-"}},                  // a time format on a whole day
      {"G", "+ud:0,1,2,3,4,5,6,7", {"7:#N/A", "-", "7:#DIV/0!"}},        // errors, a missing cell
      {"H", "i", {"", "x", ""}},                                           // empty texts are present
      {"I", "+ud:0,1,2,3,4,5,6,7", {"2:1.5", "3:2023-03-15 12:00:00", "7:#REF!"}},
      {"J", "tDu", {"86400000000us", "86400500000us", "-"}},             // ISO 8601 durations
      {"K", "tsu:", {"2024-01-02 03:04:05", "-", "-"}},
      {"L", "+ud:0,1,2,3,4,5,6,7", {"1:true", "6:yes", "2:7"}},
  };
  EXPECT_EQ(r.columns, expected);
}

// Without the flag the same cells read as they always have.
TEST(ColumnKinds, WithoutTheFlagTheFiveTypes) {
  const Result r = readSheet(kindsBook());
  ASSERT_EQ(r.status, 0) << r.error;
  const std::vector<ReadColumn> expected = {
      {"A", "g", {"1", "-3", "4000"}},
      {"B", "g", {"1", "2.5", "-"}},
      {"C", "g", {"1e+20", "-", "-"}},
      {"D", "tsu:", {"1900-01-01 12:00:00", "1899-12-31 06:00:00", "1900-01-02 00:00:00"}},
      {"E", "tsu:", {"1899-12-31 12:00:00", "1899-12-31 18:00:00", "1899-12-31 00:01:00"}},
      {"F", "tsu:", {"2023-03-15 12:00:00", "-", "-"}},
      {"G", "i", {"#N/A", "-", "#DIV/0!"}},
      {"H", "i", {"-", "x", "-"}},
      {"I", "i", {"1.5", "2023-03-15 12:00:00", "#REF!"}},
      {"J", "i", {"PT24H0M0.000S", "P1DT0.5S", "-"}},
      {"K", "tsu:", {"2024-01-02 03:04:05", "-", "-"}},
      {"L", "i", {"1", "yes", "7"}},
  };
  EXPECT_EQ(r.columns, expected);
}

// Text columns write each cell as the sheet's text with every date format
// does; that text is getSheetText's with TABULON_TEXT_ALL_DATES.
TEST(ColumnKinds, TextColumnsAsTheSheetTextWritesThem) {
  const std::int64_t asText[] = {4, 5, 9, 10};
  TabulonReadOptions options = withFlags(TABULON_READ_KINDS);
  options.text_columns = asText;
  options.text_column_count = 4;
  const Result r = readSheet(kindsBook(), &options);
  ASSERT_EQ(r.status, 0) << r.error;
  ASSERT_EQ(r.columns.size(), 12u);
  EXPECT_EQ(r.columns[3], (ReadColumn{"D", "i", {"1900-01-01 12:00:00", "1899-12-31 06:00:00", "1900-01-02 00:00:00"}}));
  EXPECT_EQ(r.columns[4], (ReadColumn{"E", "i", {"1899-12-31 12:00:00", "1899-12-31 18:00:00", "1899-12-31 00:01:00"}}));
  EXPECT_EQ(r.columns[8], (ReadColumn{"I", "i", {"1.5", "2023-03-15 12:00:00", "#REF!"}}));
  EXPECT_EQ(r.columns[9], (ReadColumn{"J", "i", {"PT24H0M0.000S", "P1DT0.5S", "-"}}));

  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  kindsBook().write(path);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  const std::string text = lib.symbol<GetSheetText>("getSheetText")("Kinds", TABULON_TEXT_ALL_DATES);
  lib.closeExcel();
  EXPECT_EQ(text,
            "1;1;1E20;1900-01-01 12:00:00;1899-12-31 12:00:00;2023-03-15 12:00:00;#N/A;;1.5;PT24H0M0.000S;"
            "2024-01-02 03:04:05;1;\n"
            "-3;2.5;;1899-12-31 06:00:00;1899-12-31 18:00:00;;;x;2023-03-15 12:00:00;P1DT0.5S;;yes;\n"
            "4E3;;;1900-01-02 00:00:00;1899-12-31 00:01:00;;#DIV/0!;;#REF!;;;7;\n");
}

// Values r*10+c at rows 3 to 8, columns B to E.
Workbook gridBook() {
  std::string rows;
  for (int r = 3; r <= 8; ++r) {
    rows += "<row r=\"" + std::to_string(r) + "\">";
    for (int c = 2; c <= 5; ++c)
      rows += "<c r=\"" + std::string(1, static_cast<char>('A' + c - 1)) + std::to_string(r) + "\"><v>" +
              std::to_string(r * 10 + c) + "</v></c>";
    rows += "</row>";
  }
  Workbook book;
  book.sheets = {{"Grid", worksheet("B3:E8", rows)}};
  return book;
}

// The values of column c (2 to 5) over sheet rows from..to, "-" where the
// grid has none.
ReadColumn gridColumn(const std::string& name, int c, int from, int to) {
  ReadColumn column{name, "g", {}};
  bool any = false;
  for (int r = from; r <= to; ++r) {
    const bool inGrid = r >= 3 && r <= 8 && c >= 2 && c <= 5;
    column.cells.push_back(inGrid ? std::to_string(r * 10 + c) : "-");
    any = any || inGrid;
  }
  if (!any) column.format = "n";
  return column;
}

TEST(ColumnSelections, RangesColumnsSkipsAndLimits) {
  const std::int64_t bd[] = {2, 4};
  const std::int64_t cOnly[] = {3};
  struct Case {
    const char* what;
    TabulonReadOptions options;
    std::vector<ReadColumn> columns;
    std::int64_t rows;
  };
  const auto options = [](std::int64_t fr, std::int64_t lr, std::int64_t fc, std::int64_t lc) {
    TabulonReadOptions o = withFlags(0);
    o.first_row = fr;
    o.last_row = lr;
    o.first_column = fc;
    o.last_column = lc;
    return o;
  };
  TabulonReadOptions columnsBD = options(0, 0, 0, 0);
  columnsBD.columns = bd;
  columnsBD.column_count = 2;
  TabulonReadOptions columnCInRange = options(4, 0, 3, 5);
  columnCInRange.columns = cOnly;
  columnCInRange.column_count = 1;
  TabulonReadOptions skipFromValue = options(0, 0, 0, 0);
  skipFromValue.skip_rows = 2;
  TabulonReadOptions skipFromRow1 = skipFromValue;
  skipFromRow1.flags = TABULON_SKIP_FROM_FIRST_ROW;
  TabulonReadOptions skipFromRange = options(4, 0, 0, 0);
  skipFromRange.skip_rows = 2;
  skipFromRange.flags = TABULON_SKIP_FROM_FIRST_ROW;
  TabulonReadOptions twoRows = options(0, 0, 0, 0);
  twoRows.max_rows = 2;
  TabulonReadOptions headerInRange = options(4, 6, 2, 3);
  headerInRange.header = 1;
  TabulonReadOptions limitInRange = options(4, 0, 5, 5);
  limitInRange.max_rows = 1;
  limitInRange.skip_rows = 1;
  const Case cases[] = {
      {"an exact range", options(4, 5, 2, 3), {gridColumn("B", 2, 4, 5), gridColumn("C", 3, 4, 5)}, 2},
      {"an exact range past the values", options(7, 10, 5, 6), {gridColumn("E", 5, 7, 10), gridColumn("F", 6, 7, 10)}, 4},
      {"two columns", columnsBD, {gridColumn("B", 2, 3, 8), gridColumn("D", 4, 3, 8)}, 6},
      {"a column within a range", columnCInRange, {gridColumn("C", 3, 4, 8)}, 5},
      {"open below: trimmed", options(5, 0, 0, 0),
       {gridColumn("B", 2, 5, 8), gridColumn("C", 3, 5, 8), gridColumn("D", 4, 5, 8), gridColumn("E", 5, 5, 8)}, 4},
      {"skip from the first value", skipFromValue,
       {gridColumn("B", 2, 5, 8), gridColumn("C", 3, 5, 8), gridColumn("D", 4, 5, 8), gridColumn("E", 5, 5, 8)}, 4},
      {"skip from row 1", skipFromRow1,
       {gridColumn("B", 2, 3, 8), gridColumn("C", 3, 3, 8), gridColumn("D", 4, 3, 8), gridColumn("E", 5, 3, 8)}, 6},
      {"skip from the range's first row", skipFromRange,
       {gridColumn("B", 2, 6, 8), gridColumn("C", 3, 6, 8), gridColumn("D", 4, 6, 8), gridColumn("E", 5, 6, 8)}, 3},
      {"two rows", twoRows,
       {gridColumn("B", 2, 3, 4), gridColumn("C", 3, 3, 4), gridColumn("D", 4, 3, 4), gridColumn("E", 5, 3, 4)}, 2},
      {"a header in a range", headerInRange,
       {{"42", "g", {"52", "62"}}, {"43", "g", {"53", "63"}}}, 2},
      {"skip and a limit in a range", limitInRange, {gridColumn("E", 5, 5, 5)}, 1},
      {"rows outside the sheet", options(100, 200, 0, 0), {}, 0},
      {"columns outside the sheet", options(0, 0, 7, 9), {}, 0},
  };
  for (const Case& c : cases) {
    const Result r = readSheet(gridBook(), &c.options);
    ASSERT_EQ(r.status, 0) << c.what << ": " << r.error;
    EXPECT_EQ(r.rows, c.rows) << c.what;
    EXPECT_EQ(r.columns, c.columns) << c.what;
  }
}

// Bad options fail before anything is read: even the sheet's name is not
// looked up.
TEST(ColumnSelections, BadOptionsAreRefusedFirst) {
  const std::int64_t descending[] = {3, 2};
  const std::int64_t beyond[] = {16385};
  const std::int64_t zero[] = {0};
  struct Case {
    const char* what;
    TabulonReadOptions options;
  };
  std::vector<Case> cases;
  const auto add = [&](const char* what, auto change) {
    TabulonReadOptions o = withFlags(0);
    change(o);
    cases.push_back({what, o});
  };
  add("inverted rows", [](TabulonReadOptions& o) { o.first_row = 5, o.last_row = 4; });
  add("inverted columns", [](TabulonReadOptions& o) { o.first_column = 3, o.last_column = 2; });
  add("first column beyond XFD", [](TabulonReadOptions& o) { o.first_column = 16385; });
  add("last column beyond XFD", [](TabulonReadOptions& o) { o.last_column = 16385; });
  add("negative skip", [](TabulonReadOptions& o) { o.skip_rows = -1; });
  add("negative row", [](TabulonReadOptions& o) { o.first_row = -2; });
  add("negative column", [](TabulonReadOptions& o) { o.last_column = -1; });
  add("negative column count", [&](TabulonReadOptions& o) { o.columns = descending, o.column_count = -1; });
  add("negative text column count", [](TabulonReadOptions& o) { o.text_column_count = -3; });
  add("columns not ascending", [&](TabulonReadOptions& o) { o.columns = descending, o.column_count = 2; });
  add("a column beyond XFD", [&](TabulonReadOptions& o) { o.columns = beyond, o.column_count = 1; });
  add("a column 0", [&](TabulonReadOptions& o) { o.columns = zero, o.column_count = 1; });
  add("a text column beyond XFD", [&](TabulonReadOptions& o) { o.text_columns = beyond, o.text_column_count = 1; });
  add("no column list", [](TabulonReadOptions& o) { o.column_count = 2; });
  add("an unknown flag", [](TabulonReadOptions& o) { o.flags = 1u << 7; });
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  gridBook().write(path);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  for (const Case& c : cases) {
    ArrowSchema schema;
    ArrowArray array;
    EXPECT_EQ(lib.symbol<ReadColumns>("readColumns")("no such sheet", &c.options, &schema, &array), -1) << c.what;
    int code = 0;
    const std::string error = lib.symbol<LastError>("lastError")(&code);
    EXPECT_EQ(code, TABULON_INVALID_ARGUMENT) << c.what << ": " << error;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_EQ(schema.release, nullptr) << c.what;
    EXPECT_EQ(array.release, nullptr) << c.what;
  }
  lib.closeExcel();
}

}  // namespace
}  // namespace tabulon::test
