// Damaged and hostile archives through the host's calls: every one gives a
// clean result (-1, -2, "0" or the right text) without a large allocation.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "hostile_run.h"
#include "memory_watch.h"
#include "zip_surgery.h"

namespace tabulon::test {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// A small workbook: sheet "S" with two rows, a shared string and a date.
Workbook smallBook() {
  Workbook book = sheetBook("A1:B2",
                            "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" s=\"1\"><v>45000.5</v></c></row>"
                            "<row r=\"2\"><c r=\"A2\"><v>7</v></c></row>");
  book.sharedStrings = "<si><t>hello</t></si>";
  book.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/>";
  return book;
}
const char kSmallText[] = "hello;2023-03-15 12:00:00;\n7;;\n";

std::vector<Member> membersWith(const std::string& name, const std::function<void(Member&)>& change) {
  std::vector<Member> members = smallBook().members();
  bool found = false;
  for (Member& m : members) {
    if (m.name != name) continue;
    change(m);
    found = true;
  }
  if (!found) throw std::runtime_error("no member " + name);
  return members;
}

TEST(HostileArchives, FixtureRendersWhenIntact) {
  Outcome outcome = runBook(smallBook(), "S");
  EXPECT_EQ(outcome.open, 0);
  EXPECT_EQ(outcome.text, kSmallText);
}

// A header that claims gigabytes for a member of a few bytes is refused
// before any buffer is sized from it. (0xffffffff defers to a zip64 field
// that is not there: no archive.)
TEST(HostileArchives, MemberClaimingGigabytes) {
  struct Case {
    const char* member;
    bool stored;
    Outcome expected;
  } cases[] = {
      {"xl/worksheets/sheet1.xml", false, {0, "0"}},
      {"xl/worksheets/sheet1.xml", true, {0, "0"}},
      {"xl/workbook.xml", false, {-1, ""}},
      {"xl/sharedStrings.xml", false, {-1, ""}},
      {"xl/styles.xml", true, {-1, ""}},
  };
  for (const Case& c : cases) {
    for (std::uint32_t claim : {0xffffffffu, 0xfffffffeu, 0x80000000u, 0x40000000u}) {
      std::vector<Member> members = membersWith(c.member, [&](Member& m) {
        m.stored = c.stored;
        m.uncompressedSize = claim;
      });
      const Outcome expected = claim == 0xffffffffu ? Outcome{-2, ""} : c.expected;
      resetLargestRequest();
      Outcome outcome = runBytes(zipBytes(members), "S");
      EXPECT_EQ(outcome.open, expected.open) << c.member << " claims " << claim;
      EXPECT_EQ(outcome.text, expected.text) << c.member << " claims " << claim;
      EXPECT_LT(largestRequest(), 16 * kMiB) << c.member << " claims " << claim;
    }
  }
}

// A true claim at deflate's full ratio is honoured and the text is right.
// Memory follows the file's size times the ratio; the sheet's text buffer
// may take up to twice that while it grows.
TEST(HostileArchives, MemberInflatingAThousandfold) {
  Workbook book = smallBook();
  std::string& sheet = book.sheets[0].second;
  sheet.insert(sheet.find("<sheetData>"), std::string(32 * kMiB, ' '));
  const std::string archive = zipBytes(book.members());
  resetLargestRequest();
  Outcome outcome = runBytes(archive, "S");
  EXPECT_EQ(outcome.open, 0);
  EXPECT_EQ(outcome.text, kSmallText);
  EXPECT_LE(largestRequest(), 2 * (1032 * archive.size() + 4096));
  std::printf("32 MiB sheet from a %zu-byte archive: largest request %.1f MiB\n", archive.size(),
              static_cast<double>(largestRequest()) / kMiB);
}

// Central directory records that point at one member's data: each entry
// reads the same bytes, so the sheets show the same text (or fail cleanly).
TEST(HostileArchives, OverlappingMembers) {
  Workbook book = smallBook();
  book.sheets.push_back({"T", worksheet("", "<row r=\"1\"><c r=\"A1\"><v>other</v></c></row>")});
  std::string archive = zipBytes(book.members());
  const std::size_t first = centralRecordOf(archive, "xl/worksheets/sheet1.xml");
  const std::size_t second = centralRecordOf(archive, "xl/worksheets/sheet2.xml");
  for (std::size_t field : {central::kCrc, central::kCompressedSize, central::kUncompressedSize, central::kLocalOffset})
    write32(archive, second + field, read32(archive, first + field));
  Outcome outcome = runBytes(archive, "T");
  EXPECT_EQ(outcome.open, 0);
  EXPECT_TRUE(outcome.text == kSmallText || outcome.text == "0") << outcome.text;
}

// Many sheets over one small compressed member: each sheet read inflates
// it again, and what one sheet needed is given back before the next, so
// memory does not grow with the number of sheets read.
TEST(HostileArchives, ManySheetsOverOneMember) {
  constexpr int kSheets = 40;
  Workbook book = smallBook();
  book.sheets[0].second.insert(book.sheets[0].second.find("<sheetData>"), std::string(4 * kMiB, ' '));
  for (int i = 2; i <= kSheets; ++i) book.sheets.push_back({"S" + std::to_string(i), "<row/>"});
  std::string archive = zipBytes(book.members());
  const std::size_t first = centralRecordOf(archive, "xl/worksheets/sheet1.xml");
  for (int i = 2; i <= kSheets; ++i) {
    const std::size_t other = centralRecordOf(archive, "xl/worksheets/sheet" + std::to_string(i) + ".xml");
    for (std::size_t field : {central::kCrc, central::kCompressedSize, central::kUncompressedSize, central::kLocalOffset})
      write32(archive, other + field, read32(archive, first + field));
  }
  TempDir dir;
  const std::string path = dir.write("overlap.xlsx", archive);
  HostLibrary& lib = host();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  const std::size_t before = residentNow();
  for (int i = 2; i <= kSheets; ++i) {
    std::string text = lib.getSheetData(("S" + std::to_string(i)).c_str());
    EXPECT_TRUE(text == kSmallText || text == "0") << i << ": " << text.substr(0, 80);
  }
  const std::size_t holding = residentNow();
  lib.closeExcel();
  // Kept copies would take 160 MiB. Sanitizer builds hold freed memory in
  // quarantine, so resident size says nothing there.
  if (addressSpaceLimited()) {
    EXPECT_LT(holding, before + 80 * kMiB);
  }
  std::printf("%d sheets over one %zu-byte archive (4 MiB each inflated): resident grew %.1f MiB\n",
              kSheets, archive.size(), (static_cast<double>(holding) - static_cast<double>(before)) / kMiB);
}

// A central directory that lies about sizes or offsets.
TEST(HostileArchives, LyingCentralDirectory) {
  const std::string intact = zipBytes(smallBook().members());
  const std::uint32_t fileSize = static_cast<std::uint32_t>(intact.size());
  struct Case {
    const char* what;
    const char* member;
    std::size_t field;
    std::function<std::uint32_t(std::uint32_t)> value;  // from the true value
    Outcome expected;
  } cases[] = {
      {"compressed size past the file", "xl/worksheets/sheet1.xml", central::kCompressedSize,
       [&](std::uint32_t) { return fileSize + 1; }, {0, "0"}},
      {"compressed size 0xffffffff", "xl/worksheets/sheet1.xml", central::kCompressedSize,
       [](std::uint32_t) { return 0xffffffffu; }, {-2, ""}},
      {"compressed size too small", "xl/worksheets/sheet1.xml", central::kCompressedSize,
       [](std::uint32_t v) { return v / 2; }, {0, "0"}},
      {"uncompressed size too small", "xl/worksheets/sheet1.xml", central::kUncompressedSize,
       [](std::uint32_t v) { return v - 1; }, {0, "0"}},
      {"uncompressed size too large", "xl/worksheets/sheet1.xml", central::kUncompressedSize,
       [](std::uint32_t v) { return v + 1; }, {0, "0"}},
      {"crc wrong", "xl/worksheets/sheet1.xml", central::kCrc,
       [](std::uint32_t v) { return v ^ 1; }, {0, "0"}},
      {"offset past the file", "xl/worksheets/sheet1.xml", central::kLocalOffset,
       [&](std::uint32_t) { return fileSize + 100; }, {0, "0"}},
      {"offset 0xffffffff", "xl/worksheets/sheet1.xml", central::kLocalOffset,
       [](std::uint32_t) { return 0xffffffffu; }, {-2, ""}},
      {"offset inside other data", "xl/worksheets/sheet1.xml", central::kLocalOffset,
       [](std::uint32_t v) { return v + 40; }, {0, "0"}},
      {"offset at another member", "xl/worksheets/sheet1.xml", central::kLocalOffset,
       [](std::uint32_t) { return 0u; }, {0, "0"}},
      {"workbook offset past the file", "xl/workbook.xml", central::kLocalOffset,
       [&](std::uint32_t) { return fileSize * 2; }, {-1, ""}},
      {"shared strings size past the file", "xl/sharedStrings.xml", central::kCompressedSize,
       [&](std::uint32_t) { return fileSize; }, {-1, ""}},
  };
  for (const Case& c : cases) {
    std::string archive = intact;
    const std::size_t record = centralRecordOf(archive, c.member);
    write32(archive, record + c.field, c.value(read32(archive, record + c.field)));
    resetLargestRequest();
    Outcome outcome = runBytes(archive, "S");
    EXPECT_EQ(outcome.open, c.expected.open) << c.what;
    EXPECT_EQ(outcome.text, c.expected.text) << c.what;
    EXPECT_LT(largestRequest(), 16 * kMiB) << c.what;
  }
}

// The end record lies about the directory: no archive.
TEST(HostileArchives, LyingEndRecord) {
  const std::string intact = zipBytes(smallBook().members());
  const std::size_t end = intact.size() - kEndRecordSize;
  struct Case {
    const char* what;
    std::size_t field;
    std::uint32_t value;
    int bytes;
  } cases[] = {
      {"directory offset past the file", 16, 0x7fffffff, 4},
      {"directory offset 0", 16, 0, 4},
      {"directory size too large", 12, 0x00ffffff, 4},
      {"directory size 0", 12, 0, 4},
      {"more members than written", 10, 0xfff0, 2},
      {"fewer members than written", 10, 1, 2},
  };
  for (const Case& c : cases) {
    std::string archive = intact;
    for (int i = 0; i < c.bytes; ++i)
      archive[end + c.field + static_cast<std::size_t>(i)] = static_cast<char>((c.value >> (8 * i)) & 0xff);
    if (c.field == 10) {  // both member counts
      archive[end + 8] = archive[end + 10];
      archive[end + 9] = archive[end + 11];
    }
    Outcome outcome = runBytes(archive, "S");
    EXPECT_EQ(outcome.open, -2) << c.what;
  }
}

// Every cut of the file loses its end record: no archive. Member data
// overwritten under an intact directory fails that member only.
TEST(HostileArchives, TruncatedArchive) {
  const std::string intact = zipBytes(smallBook().members());
  for (std::size_t keep = 0; keep < intact.size(); keep += 1 + keep / 16) {
    Outcome outcome = runBytes(intact.substr(0, keep), "S");
    EXPECT_EQ(outcome.open, -2) << "kept " << keep << " of " << intact.size();
  }
  // Member data cut out, the directory intact.
  const std::size_t sheet = read32(intact, centralRecordOf(intact, "xl/worksheets/sheet1.xml") + central::kLocalOffset);
  std::string holed = intact;
  for (std::size_t i = sheet + 40; i < sheet + 80; ++i) holed[i] = '\0';
  Outcome outcome = runBytes(holed, "S");
  EXPECT_EQ(outcome.open, 0);
  EXPECT_EQ(outcome.text, "0");
}

// An archive of 100,000 members, half of them in folders of their own.
TEST(HostileArchives, HundredThousandMembers) {
  constexpr int kMembers = 100000;
  std::vector<Member> members = smallBook().members();
  for (int i = 0; i < kMembers; ++i) {
    std::string n = std::to_string(i);
    members.push_back({i % 2 ? "xl/media/m" + n + ".bin" : "d" + n + "/m.bin", n, true});
  }
  const std::string archive = withZip64End(zipBytes(members), members.size());
  TempDir dir;
  const std::string path = dir.write("many.xlsx", archive);
  HostLibrary& lib = host();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(lib.openExcel(path.c_str()), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(std::string(lib.getSheetData("S")), kSmallText);
  lib.closeExcel();
  std::printf("openExcel of %d members: %.2f s\n", kMembers, seconds);
}

}  // namespace
}  // namespace tabulon::test
