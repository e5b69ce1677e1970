// Streaming a member in pieces instead of keeping it.
#include <gtest/gtest.h>

#include "archive_helpers.h"
#include "zip/zip_archive.h"

namespace tabulon::test {
namespace {

using Zippy::ZipArchive;

TEST(ZipStream, SameBytesAsGetEntryInSmallPieces) {
  const std::string text = sheetLikeText(6 << 20);
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"deflated.xml", text}, {"stored.xml", text, true}}));
  for (const char* name : {"deflated.xml", "stored.xml"}) {
    SCOPED_TRACE(name);
    std::string joined;
    std::size_t pieces = 0;
    archive.StreamEntry(name, [&](std::string_view piece) {
      EXPECT_LE(piece.size(), 4096u);
      EXPECT_FALSE(piece.empty());
      joined += piece;
      ++pieces;
      return true;
    }, 4096);
    EXPECT_EQ(joined, text);
    EXPECT_GE(pieces, text.size() / 4096);
    // Streaming keeps nothing.
    for (const auto& entry : archive.Entries()) {
      if (entry.info.name == name) {
        EXPECT_TRUE(entry.data.empty());
      }
    }
    EXPECT_EQ(archive.GetEntry(name).GetText(), text);
    // Once cached, the cached bytes are streamed.
    EXPECT_EQ(streamed(archive, name, 100000), text);
  }
}

TEST(ZipStream, SinkCanStopEarly) {
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"a.xml", sheetLikeText(1 << 20)}}));
  int calls = 0;
  archive.StreamEntry("a.xml", [&](std::string_view) { return ++calls < 3; }, 1000);
  EXPECT_EQ(calls, 3);
}

TEST(ZipStream, ChecksTheCrcAtTheEnd) {
  const std::string text = sheetLikeText(3 << 20);
  Member member{"a.xml", text};
  member.crc32 = 0xdeadbeef;
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {member}));
  std::size_t seen = 0;
  EXPECT_EQ(runtimeErrorOf([&] {
              archive.StreamEntry("a.xml", [&](std::string_view piece) {
                seen += piece.size();
                return true;
              }, 65536);
            }),
            "CRC-32 check failed");
  EXPECT_EQ(seen, text.size());
}

TEST(ZipStream, FoldersAndMissingNames) {
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"xl/a.xml", "a"}}));
  int calls = 0;
  archive.StreamEntry("xl/", [&](std::string_view) { return ++calls > 0; });
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(runtimeErrorOf([&] { streamed(archive, "xl/A.xml"); }), "file not found");
}

}  // namespace
}  // namespace tabulon::test
