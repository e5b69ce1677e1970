// Hostile worksheet and workbook content through the host's calls: each
// gives the right text (or "0") and columns (or a clean failure), and
// memory that follows what is present, never what the file claims.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <sys/resource.h>

#include "api/sheet_extraction.h"
#include "api/default_workbook.h"
#include "hostile_run.h"
#include "memory_watch.h"
#include "tabulon.h"

namespace tabulon::test {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

std::string row(const std::string& number, const std::string& cells) {
  return (number.empty() ? "<row>" : "<row r=\"" + number + "\">") + cells + "</row>";
}

std::string cell(const std::string& ref, const std::string& value, const std::string& extra = "") {
  return "<c" + (ref.empty() ? "" : " r=\"" + ref + "\"") + extra + "><v>" + value + "</v></c>";
}

// Column letters of n (1-based), past the mapped range too.
std::string letters(unsigned long n) {
  std::string s;
  for (; n > 0; n = (n - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (n - 1) % 26));
  return s;
}

TEST(HostileSheets, AddressSpaceIsLimited) {
  if (!addressSpaceLimited()) GTEST_SKIP() << "sanitizer build: no address-space limit";
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &limit), 0);
  EXPECT_LE(limit.rlim_cur, kAddressSpaceLimit);
}

// Cells past the last mapped column ("YYY", 17,575) have no field.
TEST(HostileSheets, OneRowOfHundredThousandCells) {
  constexpr unsigned long kCells = 100000;
  std::string expected;
  for (unsigned long c = 1; c <= 17575; ++c) expected += std::to_string(c) + ";";
  expected += "\n";
  for (bool withRefs : {false, true}) {
    std::string cells;
    for (unsigned long c = 1; c <= kCells; ++c)
      cells += cell(withRefs ? letters(c) + "1" : "", std::to_string(c));
    Outcome outcome = runBook(sheetBook("", row("1", cells)), "S");
    EXPECT_EQ(outcome.open, 0);
    EXPECT_TRUE(outcome.text == expected) << (withRefs ? "with" : "without") << " references: "
                                          << outcome.text.substr(0, 100);
    EXPECT_EQ(outcome.columns.status, 0);
    EXPECT_EQ(outcome.columns.rows, 1);
    EXPECT_EQ(outcome.columns.width, 17575);
    EXPECT_EQ(outcome.columns.filled, 17575);
  }
}

TEST(HostileSheets, OneMegabyteSharedString) {
  std::string big;
  for (std::size_t i = 0; big.size() < kMiB; ++i) big += "word" + std::to_string(i % 1000) + " ";
  Workbook book = sheetBook("A1:C1", row("1", cell("A1", "0", " t=\"s\"") + cell("C1", "0", " t=\"s\"")));
  book.sharedStrings = "<si><t>" + big + "</t></si>";
  Outcome outcome = runBook(book, "S");
  EXPECT_EQ(outcome.open, 0);
  EXPECT_TRUE(outcome.text == big + ";;" + big + ";\n") << outcome.text.size();
  EXPECT_EQ(outcome.columns.status, 0);
  EXPECT_EQ(outcome.columns.width, 3);
  EXPECT_EQ(outcome.columns.filled, 2);
}

// Indexes that name no shared string give an empty field; indexes that
// name no cell format leave the number as written.
TEST(HostileSheets, TableIndexesOutOfRange) {
  const char* indexes[] = {"2147483647", "-1", "-2147483648", "2147483648", "99999999999999999999999", "", "x", " 1 "};
  std::string cells, expected;
  unsigned long column = 0;
  for (const char* index : indexes) {
    cells += cell(letters(++column) + "1", index, " t=\"s\"");
    expected += std::string(index) == " 1 " ? "b;" : ";";
    cells += cell(letters(++column) + "1", "45000.5", std::string(" s=\"") + index + "\"");
    expected += std::string(index) == " 1 " ? "2023-03-15 12:00:00;" : "45000.5;";
  }
  Workbook book = sheetBook("", row("1", cells));
  book.sharedStrings = "<si><t>a</t></si><si><t>b</t></si>";
  book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/>";
  Outcome outcome = runBook(book, "S");
  EXPECT_EQ(outcome.open, 0);
  EXPECT_EQ(outcome.text, expected + "\n");
  EXPECT_EQ(outcome.columns.status, 0);
  EXPECT_EQ(outcome.columns.rows, 1);
}

// Row 0 has a slot of its own and comes first; negative rows have none;
// the last int row comes after the others, and a row past it is dropped.
// In the columns the last int row is the one after row 1,048,576.
TEST(HostileSheets, RowNumbersAtTheEdges) {
  const std::string rows = row("2147483647", cell("A2147483647", "max")) + row("", cell("A1", "past")) +
                           row("-1", cell("A1", "negative")) + row("-2147483648", cell("A1", "lowest")) +
                           row("0", cell("A0", "zero")) + row("1", cell("A1", "one"));
  resetLargestRequest();
  Outcome outcome = runBook(sheetBook("A1:A2147483647", rows), "S");
  EXPECT_EQ(outcome.open, 0);
  EXPECT_EQ(outcome.text, "zero;\none;\nmax;\n");
  EXPECT_LT(largestRequest(), 4 * kMiB);
  EXPECT_EQ(outcome.columns.status, 0);
  EXPECT_EQ(outcome.columns.rows, 1048578);
  EXPECT_EQ(outcome.columns.width, 1);
  EXPECT_LT(outcome.columns.request, 16 * kMiB);
}

// A row numbered 2147483647 alone, after row 1, and one past it, with and
// without a dimension that claims it.
TEST(HostileSheets, RowNumberedAtTheLastInt) {
  struct Case {
    const char* what;
    std::string dimension;
    std::string rows;
    std::string text;
    std::int64_t columnRows;
  } cases[] = {
      {"alone", "", row("2147483647", cell("B2147483647", "7")), ";7;\n", 1},
      {"alone, claimed", "A1:B2147483647", row("2147483647", cell("B2147483647", "7")), ";7;\n", 1},
      {"after row 1", "", row("1", cell("A1", "1")) + row("2147483647", cell("A2147483647", "2")), "1;\n2;\n",
       1048577},
      {"unnumbered after it: past the last int", "",
       row("2147483647", cell("", "1")) + row("", cell("", "2")), "1;\n", 1},
      // A number that is no int is unreadable, and so row 0.
      {"past the last int", "", row("2147483648", cell("A2147483648", "1")), "1;\n", 1},
  };
  for (const Case& c : cases) {
    resetLargestRequest();
    Outcome outcome = runBook(sheetBook(c.dimension, c.rows), "S");
    EXPECT_EQ(outcome.open, 0) << c.what;
    EXPECT_EQ(outcome.text, c.text) << c.what;
    EXPECT_EQ(outcome.columns.status, 0) << c.what;
    EXPECT_EQ(outcome.columns.rows, c.columnRows) << c.what;
    EXPECT_LT(outcome.columns.request, 16 * kMiB) << c.what;
  }
}

// Two cells at A1 and XFD1048576: an extent of 1,048,576 rows by 16,384
// columns, of which two hold a value. The columns without values take no
// buffers, so this is cheap; failing for memory would be allowed, anything
// else is not.
TEST(HostileSheets, TwoCellsAtOppositeCorners) {
  for (const char* dimension : {"", "A1:XFD1048576"}) {
    const auto start = std::chrono::steady_clock::now();
    Outcome outcome =
        runBook(sheetBook(dimension, row("1", cell("A1", "1")) + row("1048576", cell("XFD1048576", "2"))), "S");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(outcome.open, 0);
    EXPECT_TRUE(outcome.text == "1" + std::string(16384, ';') + "\n" + std::string(16383, ';') + "2;\n")
        << outcome.text.substr(0, 40);
    if (outcome.columns.status != 0) {
      EXPECT_EQ(outcome.columns.code, TABULON_OUT_OF_MEMORY);
    } else {
      EXPECT_EQ(outcome.columns.rows, 1048576);
      EXPECT_EQ(outcome.columns.width, 16384);
      EXPECT_EQ(outcome.columns.filled, 2);
      EXPECT_LT(outcome.columns.request, 16 * kMiB);
    }
    std::printf("A1 and XFD1048576 (dimension \"%s\"): columns %s in %.2f s, peak resident %.0f MiB\n", dimension,
                outcome.columns.status == 0 ? "read" : "refused", seconds,
                static_cast<double>(peakResident()) / kMiB);
  }
}

// An extent whose columns would take more memory than there is: a row of
// numbers across every column and one cell in the last row needs 16,384
// columns of a million numbers (about 140 GB). The columns fail for memory
// before allocating them; the text, two lines, is read. Under the address
// space limit, 300 such columns (2.5 GB) fail when allocated.
TEST(HostileSheets, ExtentTooLargeForTheColumns) {
  std::vector<unsigned long> widths = {16384};
  if (addressSpaceLimited()) widths.push_back(300);
  for (unsigned long width : widths) {
    std::string first;
    for (unsigned long c = 1; c <= width; ++c) first += cell("", "1");
    Outcome outcome = runBook(sheetBook("", row("1", first) + row("1048576", cell("A1048576", "2"))), "S");
    EXPECT_EQ(outcome.open, 0) << width;
    EXPECT_EQ(std::count(outcome.text.begin(), outcome.text.end(), '\n'), 2) << width;
    EXPECT_EQ(outcome.columns.status, -1) << width;
    EXPECT_EQ(outcome.columns.code, TABULON_OUT_OF_MEMORY) << width;
  }
}

// A dimension is a claim: lines and slots follow the cells present.
TEST(HostileSheets, DimensionsClaimingFarMoreThanPresent) {
  const std::string threeCells =
      row("1", cell("A1", "1")) + row("2", cell("B2", "2")) + row("3", cell("C3", "3"));
  struct Case {
    const char* dimension;
    std::string expected;
  } cases[] = {
      {"A1:XFD1048576", "1" + std::string(16384, ';') + "\n;2" + std::string(16383, ';') + "\n;;3" +
                            std::string(16382, ';') + "\n"},
      {"A1:A2000000000", "1;;;\n;2;;\n;;3;\n"},
      {"A1:C99999999999999999999999", "1;;;\n;2;;\n;;3;\n"},
      // Past the last mapped column ("YYY"): the width comes from the cells.
      {"A1:ZZZ5", "1;;;\n;2;;\n;;3;\n"},
      {"A1:YYY1048576", "1" + std::string(17575, ';') + "\n;2" + std::string(17574, ';') + "\n;;3" +
                            std::string(17573, ';') + "\n"},
  };
  for (const Case& c : cases) {
    resetLargestRequest();
    Outcome outcome = runBook(sheetBook(c.dimension, threeCells), "S");
    EXPECT_EQ(outcome.open, 0) << c.dimension;
    EXPECT_TRUE(outcome.text == c.expected) << c.dimension << ": " << outcome.text.substr(0, 60);
    EXPECT_LT(largestRequest(), 4 * kMiB) << c.dimension;
    EXPECT_EQ(outcome.columns.status, 0) << c.dimension;
    EXPECT_EQ(outcome.columns.rows, 3) << c.dimension;
    EXPECT_EQ(outcome.columns.width, 3) << c.dimension;
    EXPECT_LT(outcome.columns.request, 4 * kMiB) << c.dimension;
  }
}

// Every line has the sheet's width: a stated width of 17,575 columns makes
// each one-cell row 17,576 bytes of text, so 200,000 tiny rows ask for
// about 3.5 GB. Under the address-space limit that must end in "0", not in
// a crash. The columns do not widen rows: one column of 200,000 numbers.
TEST(HostileSheets, WideDimensionTimesManyRows) {
  if (!addressSpaceLimited()) GTEST_SKIP() << "needs the address-space limit";
  std::string rows;
  for (int i = 0; i < 200000; ++i) rows += "<row><c><v>1</v></c></row>";
  const std::string archive = zipBytes(sheetBook("A1:YYY1", rows).members());
  Outcome outcome = runBytes(archive, "S");
  EXPECT_EQ(outcome.open, 0);
  EXPECT_EQ(outcome.text, "0");
  EXPECT_EQ(outcome.columns.status, 0);
  EXPECT_EQ(outcome.columns.rows, 200000);
  EXPECT_EQ(outcome.columns.width, 1);
  std::printf("200,000 rows of 17,575 fields from a %zu-byte archive: peak resident %.0f MiB\n",
              archive.size(), static_cast<double>(peakResident()) / kMiB);
}

// One shared string of 1,048,576 characters used by 12,000 cells: the text
// would be 12.6 GB from an archive of a few kilobytes. The text is refused
// for its budget, saying how large it would be, having allocated a small
// part of it; the columns hold the string once and read it.
TEST(HostileSheets, OneLongSharedStringUsedByTwelveThousandCells) {
  using GetSheetData = const char* (*)(const char*);
  using LastError = const char* (*)(int*);
  std::string big(1048576, 'x');
  for (std::size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('a' + i % 26);
  std::string rows;
  for (int r = 1; r <= 1000; ++r) {
    std::string cells;
    for (int c = 1; c <= 12; ++c) cells += cell(letters(c) + std::to_string(r), "0", " t=\"s\"");
    rows += row(std::to_string(r), cells);
  }
  Workbook book = sheetBook("A1:L1000", rows);
  book.sharedStrings = "<si><t>" + big + "</t></si>";
  TempDir dir;
  const std::string archive = zipBytes(book.members());
  const std::string path = dir.write("bomb.xlsx", archive);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  const std::size_t residentBefore = residentNow();
  resetLargestRequest();
  const auto start = std::chrono::steady_clock::now();
  const std::string text = lib.symbol<GetSheetData>("getSheetData")("S");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int code = TABULON_OK;
  const std::string why = lib.symbol<LastError>("lastError")(&code);
  const std::size_t largest = largestRequest();
  const std::size_t grown = peakResident() > residentBefore ? peakResident() - residentBefore : 0;
  EXPECT_EQ(text, "0");
  EXPECT_EQ(code, TABULON_OUT_OF_MEMORY);
  EXPECT_NE(why.find("the sheet's text would be 12.6 GB"), std::string::npos) << why;
  EXPECT_LT(largest, 128 * kMiB);
  ColumnsOutcome columns = hostColumns(lib, "S");
  EXPECT_EQ(columns.status, 0);
  EXPECT_EQ(columns.rows, 1000);
  EXPECT_EQ(columns.width, 12);
  lib.closeExcel();
  std::printf("12,000 uses of a 1 MiB string from a %zu-byte archive: refused in %.2f s, largest request "
              "%.0f MiB, resident grew by at most %.0f MiB: %s\n",
              archive.size(), seconds, static_cast<double>(largest) / kMiB, static_cast<double>(grown) / kMiB,
              why.c_str());
}

// Sheets in other encodings, damaged: each is read (bytes outside the
// encoding as U+FFFD) or refused for its encoding, never more.
TEST(HostileSheets, DamagedEncodings) {
  const std::string rows = row("1", cell("A1", "7"));
  std::string utf16;
  for (char c : "<?xml version=\"1.0\"?><worksheet><sheetData>" + rows + "</sheetData></worksheet>")
    if (c != '\0') utf16 += std::string{c, '\0'};
  struct Case {
    const char* what;
    std::string part;
    int code;  // TABULON_OK: the text is "7;\n"
  } cases[] = {
      {"UTF-16 with an unpaired surrogate and an odd last byte",
       utf16.substr(0, utf16.size() - 2) + std::string("\x00\xD8", 2) + std::string("\x3E\x00\x01", 3), TABULON_OK},
      {"a stateful encoding with a stray escape",
       "<?xml version=\"1.0\" encoding=\"ISO-2022-JP\"?>\x1B$B\x30\x21\x1B(B\x1B<worksheet><sheetData>" + rows +
           "</sheetData></worksheet>",
       TABULON_OK},
      {"an encoding name of 4,000 letters",
       "<?xml version=\"1.0\" encoding=\"" + std::string(4000, 'Q') + "\"?><worksheet><sheetData>" + rows +
           "</sheetData></worksheet>",
       TABULON_UNKNOWN_ENCODING},
      {"an encoding iconv does not know",
       "<?xml version=\"1.0\" encoding=\"x-unheard-of\"?><worksheet><sheetData>" + rows + "</sheetData></worksheet>",
       TABULON_UNKNOWN_ENCODING},
      {"a declaration without its closing quote",
       "<?xml version=\"1.0\" encoding=\"latin1?><worksheet><sheetData>" + rows + "</sheetData></worksheet>",
       TABULON_OK},
  };
  for (const Case& c : cases) {
    Workbook book;
    book.sheets = {{"S", "<worksheet/>"}};
    std::vector<Member> members = book.members();
    for (Member& m : members)
      if (m.name == "xl/worksheets/sheet1.xml") m.bytes = c.part;
    resetLargestRequest();
    Outcome outcome = runBytes(zipBytes(members), "S");
    EXPECT_EQ(outcome.open, 0) << c.what;
    if (c.code == TABULON_OK) {
      EXPECT_EQ(outcome.text, "7;\n") << c.what;
    } else {
      EXPECT_EQ(outcome.text, "0") << c.what;
      EXPECT_EQ(outcome.columns.code, c.code) << c.what;
    }
    EXPECT_LT(largestRequest(), 4 * kMiB) << c.what;
  }
}

TEST(HostileSheets, SheetNameOfThousandBytes) {
  std::string name;
  for (int i = 0; name.size() < 1000; ++i) name += i % 3 == 0 ? "\xc3\xa9" : i % 3 == 1 ? "&" : "n";
  name.resize(1000);
  Workbook book = sheetBook("A1", row("1", cell("A1", "7")));
  book.sheets[0].first = name;
  TempDir dir;
  const std::string path = dir.file("long-name.xlsx");
  book.write(path);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  const char* (*listSheets)() = lib.symbol<const char* (*)()>("listSheets");
  EXPECT_EQ(std::string(listSheets()), name + "\n");
  EXPECT_STREQ(lib.getSheetData(name.c_str()), "7;\n");
  std::string other = name;
  other.back() = 'x';
  EXPECT_STREQ(lib.getSheetData(other.c_str()), "0");
  lib.closeExcel();
}

// Cell starts repeated a million times without a value: the scan ends,
// in time that grows with the text, and there is no line.
TEST(HostileSheets, RepeatedCellStartsWithoutValues) {
  constexpr int kRepeats = 1000000;
  const char* pieces[] = {"<c r=\"", "<c r=\"\">", "<c r=\"A1\">", "<c r=\"A1\"><v>", "<c><is><t>"};
  for (const char* piece : pieces) {
    std::string rows = "<row r=\"1\">";
    for (int i = 0; i < kRepeats; ++i) rows += piece;
    const auto start = std::chrono::steady_clock::now();
    Outcome outcome = runBook(sheetBook("A1", rows), "S");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(outcome.open, 0) << piece;
    EXPECT_EQ(outcome.text, "") << piece;
    EXPECT_EQ(outcome.columns.status, 0) << piece;
    EXPECT_EQ(outcome.columns.width, 0) << piece;
    std::printf("%d x '%s': %.2f s\n", kRepeats, piece, seconds);
  }
}

// A row end tag inside a CDATA section, a comment, a processing
// instruction or a damaged tag is not a row end: the rows do not depend on
// where the sheet is cut into blocks. The long variant spans several pieces of the
// inflated stream.
TEST(HostileSheets, RowEndInsideMarkupIsNotARowEnd) {
  const std::string rows[] = {
      row("1", cell("A1", "1") + "<c r=\"B1\" t=\"inlineStr\"><is><t><![CDATA[a</row>b]]></t></is></c>" +
                   cell("C1", "3")),
      row("1", cell("A1", "1") + "<!-- </row> -->" + cell("B1", "2")),
      row("1", cell("A1", "1") + "<?pi </row> ?>" + cell("B1", "2")),
      // A processing instruction whose target starts "--" ends at "?>", not "-->".
      row("1", cell("A1", "1") + "<?-- </row> ?>" + cell("B1", "2")),
      // Damaged tags that swallow a row end: the row scan reads them as one tag.
      row("1", cell("A1", "1") + "<x \"></row>" + cell("B1", "2")),
      row("1", cell("A1", "1") + "<c </row>" + cell("B1", "2")),
  };
  for (const std::string& r : rows) {
    for (int copies : {8, 40000}) {
      std::string xml;
      for (int i = 0; i < copies; ++i) xml += r;
      TempDir dir;
      const std::string path = dir.file("markup.xlsx");
      sheetBook("", xml).write(path);
      ASSERT_EQ(openExcel(path.c_str()), 0);
      const std::string whole = extractSheet(openWorkbook(), "S", 1, std::size_t{1} << 30);
      for (std::size_t blockBytes : {1, 7, 50, 333, 4096, 100000})
        EXPECT_TRUE(extractSheet(openWorkbook(), "S", 2, blockBytes) == whole)
            << blockBytes << "-byte blocks of " << copies << " rows: " << r;
      closeExcel();
    }
  }
}

}  // namespace
}  // namespace tabulon::test
