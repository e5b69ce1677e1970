// Reading members: lookup, caching, and the checks on damaged members.
#include <gtest/gtest.h>

#include "archive_helpers.h"
#include "largest_allocation.h"
#include "zip/zip_archive.h"

namespace tabulon::test {
namespace {

using Zippy::ZipArchive;

TEST(ZipRead, LookupIsExactAndCaseSensitive) {
  TempDir dir;
  ZipArchive archive;
  // The second name is not UTF-8: it must be matched as the bytes stored.
  archive.Open(writeArchive(dir, {{"xl/workbook.xml", "<workbook/>"}, {"xl/caf\xe9.xml", "cafe"}}));
  EXPECT_EQ(archive.GetEntry("xl/workbook.xml").GetText(), "<workbook/>");
  EXPECT_EQ(archive.GetEntry("xl/caf\xe9.xml").GetText(), "cafe");
  for (const char* name : {"XL/workbook.xml", "xl/Workbook.xml", "/xl/workbook.xml",
                           "./xl/workbook.xml", "xl\\workbook.xml", "xl/workbook.xm", "workbook.xml",
                           "xl/caf\xc3\xa9.xml"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(runtimeErrorOf([&] { archive.GetEntry(name); }), "file not found");
  }
}

TEST(ZipRead, MemberIsReadOnce) {
  TempDir dir;
  ZipArchive archive;
  // b.xml first and large, so no read buffer still holds it.
  writeArchive(dir, {{"b.xml", sheetLikeText(300000)}, {"a.xml", sheetLikeText(50000)}});
  archive.Open(dir.file("archive.zip"));
  Zippy::ZipEntry first = archive.GetEntry("a.xml");
  const unsigned char* bytes = first.GetBytes().data();

  // Wipe the file under the open archive: only a member never read needs it.
  dir.write("archive.zip", "");
  Zippy::ZipEntry again = archive.GetEntry("a.xml");
  EXPECT_EQ(again.GetBytes().data(), bytes);
  EXPECT_EQ(again.GetText(), sheetLikeText(50000));
  EXPECT_NE(runtimeErrorOf([&] { archive.GetEntry("b.xml"); }), "(no error)");
}

TEST(ZipRead, StoredAndDeflatedMembers) {
  TempDir dir;
  std::string big = sheetLikeText(3 << 20);
  std::string binary;
  for (int i = 0; i < 1000; ++i) binary += static_cast<char>(i * 7);
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"stored.bin", binary, true}, {"big.xml", big}, {"bin", binary}}));
  EXPECT_EQ(archive.GetEntry("stored.bin").GetText(), binary);
  EXPECT_EQ(archive.GetEntry("big.xml").GetText(), big);
  EXPECT_EQ(archive.GetEntry("bin").GetText(), binary);
}

TEST(ZipRead, EmptyMembersGiveEmptyText) {
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"deflated.xml", ""}, {"stored.xml", "", true}}));
  for (const char* name : {"deflated.xml", "stored.xml"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(archive.GetEntry(name).GetText(), "");
    int calls = 0;
    archive.StreamEntry(name, [&](std::string_view) { return ++calls > 0; });
    EXPECT_EQ(calls, 0);
  }
}

// Each damaged member fails the same way whether read whole or streamed.
TEST(ZipRead, DamagedMembers) {
  const std::string text = sheetLikeText(20000);
  const std::string deflated = deflateRaw(text);
  const auto size = static_cast<std::uint32_t>(text.size());
  // Compressed bytes written as given, declared as deflated.
  auto rawDeflate = [&](const std::string& bytes, std::uint32_t declared) {
    Member m{"m.xml", bytes, true};
    m.method = 8;
    m.uncompressedSize = declared;
    return m;
  };
  auto with = [&](auto change) {
    Member m{"m.xml", text};
    change(m);
    return m;
  };

  struct Case {
    const char* what;
    Member member;
    const char* message;
  };
  const Case cases[] = {
      {"wrong CRC", with([](Member& m) { m.crc32 = 0x12345678; }), "CRC-32 check failed"},
      {"wrong CRC, stored", with([](Member& m) { m.stored = true; m.crc32 = 1; }), "CRC-32 check failed"},
      {"invalid block type", rawDeflate("\xff\xff\xff\xff\xff\xff", 100),
       "decompression failed or archive is corrupted"},
      {"cut short", rawDeflate(deflated.substr(0, deflated.size() / 2), size),
       "decompression failed or archive is corrupted"},
      {"declared too large", with([&](Member& m) { m.uncompressedSize = size + 10; }),
       "unexpected decompressed size"},
      {"declared too small", with([&](Member& m) { m.uncompressedSize = size - 10; }),
       "unexpected decompressed size"},
      {"bzip2", with([](Member& m) { m.method = 12; }), "unsupported method"},
      {"encrypted", with([](Member& m) { m.flags = 1; }), "unsupported encryption"},
      {"stored sizes differ", with([&](Member& m) { m.stored = true; m.uncompressedSize = size + 1; }),
       "invalid header or archive is corrupted"},
      {"compressed size past the file", with([](Member& m) { m.compressedSize = 0x7fffffff; }),
       "invalid header or archive is corrupted"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZipArchive archive;
    archive.Open(writeArchive(dir, {c.member, {"ok.xml", "fine"}}));
    EXPECT_EQ(archive.GetEntry("ok.xml").GetText(), "fine");
    EXPECT_EQ(runtimeErrorOf([&] { archive.GetEntry("m.xml"); }), c.message);
    EXPECT_TRUE(archive.Entries()[0].data.empty());
    // Nothing was kept: a second try fails the same way.
    EXPECT_EQ(runtimeErrorOf([&] { archive.GetEntry("m.xml"); }), c.message);
    EXPECT_EQ(runtimeErrorOf([&] { streamed(archive, "m.xml", 1000); }), c.message);
    EXPECT_EQ(archive.GetEntry("ok.xml").GetText(), "fine");
  }
}

// A few bytes that claim to inflate to 4 GB are refused before any buffer
// is sized from the claim.
TEST(ZipRead, ImplausibleSizeIsRefusedBeforeAllocating) {
  TempDir dir;
  Member bomb{"bomb.xml", std::string(300, 'a')};
  bomb.uncompressedSize = 0xfffffff0u;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {bomb}));

  resetLargestAllocation();
  EXPECT_EQ(runtimeErrorOf([&] { archive.GetEntry("bomb.xml"); }), "invalid header or archive is corrupted");
  EXPECT_EQ(runtimeErrorOf([&] { streamed(archive, "bomb.xml"); }), "invalid header or archive is corrupted");
  EXPECT_LT(largestAllocation(), std::size_t{1} << 20);
}

}  // namespace
}  // namespace tabulon::test
