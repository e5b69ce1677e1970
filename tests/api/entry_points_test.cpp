// The host's view: return codes, lifecycle and the exported state.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "support/host_library.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"

namespace tabulon::test {
namespace {

Workbook oneSheet(const std::string& name, const std::string& value, int rows = 1) {
  std::string xml;
  for (int r = 1; r <= rows; ++r)
    xml += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>" + value + "</v></c></row>";
  Workbook book;
  book.sheets = {{name, worksheet("A1:A" + std::to_string(rows), xml)}};
  return book;
}

TEST(EntryPoints, ExportsPlainNames) {
  HostLibrary& lib = host();
  for (const char* name : {"openExcel", "getSheetData", "closeExcel", "version", "max_row",
                           "max_col", "max_abs_col", "Styles", "xlsFile"})
    EXPECT_NO_THROW(lib.symbol<void*>(name)) << name;
}

TEST(EntryPoints, VersionIsConstant) {
  HostLibrary& lib = host();
  const char* first = lib.version();
  EXPECT_STREQ(first, "Tabulon - Version 0.2.60 - Merrowind");
  EXPECT_EQ(first, lib.version());
}

TEST(EntryPoints, OpenReturnCodes) {
  HostLibrary& lib = host();
  TempDir dir;
  std::string book = dir.file("book.xlsx");
  oneSheet("S", "1").write(book);
  std::string link = dir.file("link.xlsx");
  ASSERT_EQ(symlink(book.c_str(), link.c_str()), 0);

  struct Case {
    std::string path;
    int expected;
  } cases[] = {
      {dir.path(), -1},                                     // a directory
      {dir.file("missing.xlsx"), -2},                       // nothing there
      {dir.write("text.xlsx", std::string(100, 'x')), -2},  // not a zip archive
      {dir.write("short.xlsx", "0123456789"), -2},
      {"/dev/null", -1},                                    // not a regular file
      {link, 0},                                            // a link is followed
      {book, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(lib.openExcel(c.path.c_str()), c.expected) << c.path;
  EXPECT_EQ(lib.openExcel(nullptr), -1);
  lib.closeExcel();
}

TEST(EntryPoints, LifecycleBeforeOpenAndAfterClose) {
  HostLibrary& lib = host();
  lib.closeExcel();
  EXPECT_STREQ(lib.getSheetData("S"), "0");
  EXPECT_STREQ(lib.getSheetData(nullptr), "0");
  EXPECT_EQ(lib.closeExcel(), 0);
  EXPECT_EQ(lib.closeExcel(), 0);

  TempDir dir;
  std::string book = dir.file("book.xlsx");
  oneSheet("S", "42").write(book);
  ASSERT_EQ(lib.openExcel(book.c_str()), 0);
  const char* text = lib.getSheetData("S");
  EXPECT_STREQ(text, "42;\n");
  EXPECT_EQ(lib.closeExcel(), 0);
  // The last text stays readable after close; the sheet names do not.
  EXPECT_STREQ(text, "42;\n");
  EXPECT_STREQ(lib.getSheetData("S"), "0");
}

TEST(EntryPoints, SecondWorkbookReplacesTheFirst) {
  HostLibrary& lib = host();
  TempDir dir;
  std::string a = dir.file("a.xlsx"), b = dir.file("b.xlsx");
  oneSheet("Data", "from-a", 100).write(a);
  oneSheet("Data", "from-b", 10).write(b);
  ASSERT_EQ(lib.openExcel(a.c_str()), 0);
  std::string textA = lib.getSheetData("Data");
  EXPECT_NE(textA.find("from-a"), std::string::npos);
  // No close in between.
  ASSERT_EQ(lib.openExcel(b.c_str()), 0);
  std::string textB = lib.getSheetData("Data");
  EXPECT_EQ(textB.find("from-a"), std::string::npos);
  EXPECT_EQ(std::count(textB.begin(), textB.end(), '\n'), 10);
  // Running maxima are never lowered.
  EXPECT_GE(*lib.max_row, 100);
  EXPECT_GE(*lib.max_col, 1);
  lib.closeExcel();
}

TEST(EntryPoints, FailedOpenKeepsNothingOfTheOldArchive) {
  HostLibrary& lib = host();
  TempDir dir;
  std::string a = dir.file("a.xlsx");
  oneSheet("Data", "x").write(a);
  ASSERT_EQ(lib.openExcel(a.c_str()), 0);
  EXPECT_EQ(lib.openExcel(dir.file("missing.xlsx").c_str()), -2);
  // The sheet list still names "Data", but its part went with the archive.
  EXPECT_STREQ(lib.getSheetData("Data"), "0");
  lib.closeExcel();
}

}  // namespace
}  // namespace tabulon::test
