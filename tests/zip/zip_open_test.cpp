// Opening archives: the entry list, folder entries, duplicates, failures.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "archive_helpers.h"
#include "zip/zip_archive.h"

namespace tabulon::test {
namespace {

using Zippy::ZipArchive;
using Names = std::vector<std::string>;

void put16(std::string& bytes, std::size_t at, std::uint16_t v) {
  bytes[at] = static_cast<char>(v & 0xff);
  bytes[at + 1] = static_cast<char>(v >> 8);
}

std::uint32_t get32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

void append(std::string& out, std::uint64_t v, int size) {
  for (int i = 0; i < size; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

// Archives of more than 65,535 members need the 64-bit end records; the
// classic record then holds 0xffff in its two member counts.
std::string withZip64End(std::string zip, std::uint64_t count) {
  std::size_t end = zip.size() - 22;
  std::uint64_t directorySize = get32(zip, end + 12);
  std::uint64_t directoryOffset = get32(zip, end + 16);
  std::string tail = zip.substr(end);
  zip.resize(end);
  std::uint64_t recordOffset = zip.size();
  append(zip, 0x06064b50, 4);
  append(zip, 44, 8);
  append(zip, 45, 2);
  append(zip, 45, 2);
  append(zip, 0, 4);
  append(zip, 0, 4);
  append(zip, count, 8);
  append(zip, count, 8);
  append(zip, directorySize, 8);
  append(zip, directoryOffset, 8);
  append(zip, 0x07064b50, 4);
  append(zip, 0, 4);
  append(zip, recordOffset, 8);
  append(zip, 1, 4);
  put16(tail, 8, 0xffff);
  put16(tail, 10, 0xffff);
  return zip + tail;
}

TEST(ZipOpen, ListsMembersThenTheFoldersTheyNeed) {
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"xl/workbook.xml", "<workbook/>"},
                                  {"xl/worksheets/sheet1.xml", "<worksheet/>"},
                                  {"top.txt", "top"}}));
  EXPECT_TRUE(archive.IsOpen());
  EXPECT_EQ(allNames(archive), (Names{"xl/workbook.xml", "xl/worksheets/sheet1.xml", "top.txt",
                                      "xl/", "xl/worksheets/"}));
  EXPECT_EQ(archive.GetEntryNames(), (Names{"xl/workbook.xml", "xl/worksheets/sheet1.xml", "top.txt"}));

  Zippy::ZipEntry folder = archive.GetEntry("xl/");
  EXPECT_TRUE(folder.IsDirectory());
  EXPECT_TRUE(folder.GetBytes().empty());
}

TEST(ZipOpen, FolderEntriesAndChangedFlags) {
  Member legacy{"legacy", "", true};
  legacy.externalAttributes = 0x10;
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"xl/", ""},
                                  {"xl/workbook.xml", "<workbook/>"},
                                  {"a/", ""},
                                  {"a/b/c.txt", "c"},
                                  legacy,
                                  {"d.txt", "d"}}));
  ASSERT_EQ(allNames(archive), (Names{"xl/", "xl/workbook.xml", "a/", "a/b/c.txt", "legacy", "d.txt", "a/b/"}));
  // Set on folders that hold a file directly and on folders Open made.
  std::vector<bool> changed;
  for (const auto& entry : archive.Entries()) changed.push_back(entry.changed);
  EXPECT_EQ(changed, (std::vector<bool>{true, false, false, false, false, false, true}));
  // A folder by its DOS attribute, though its name has no "/".
  EXPECT_TRUE(archive.GetEntry("legacy").IsDirectory());
  EXPECT_EQ(archive.GetEntryNames(), (Names{"xl/workbook.xml", "a/b/c.txt", "d.txt"}));
}

TEST(ZipOpen, DuplicateNeighboursKeepTheLaterMember) {
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"a.txt", "a1"},
                                  {"a.txt", "a2"},
                                  {"a.txt", "a3"},
                                  {"c.txt", "c1"},
                                  {"d.txt", "d"},
                                  {"c.txt", "c2"}}));
  EXPECT_EQ(allNames(archive), (Names{"a.txt", "c.txt", "d.txt", "c.txt"}));
  EXPECT_EQ(archive.GetEntry("a.txt").GetText(), "a3");
  // Apart, both stay; lookup finds the first.
  EXPECT_EQ(archive.GetEntry("c.txt").GetText(), "c1");
}

TEST(ZipOpen, LongNamesAreCutTo511Bytes) {
  TempDir dir;
  std::string longName = std::string(600, 'n') + ".xml";
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{longName, "long"}}));
  std::string cut(511, 'n');
  EXPECT_EQ(allNames(archive), Names{cut});
  EXPECT_EQ(archive.GetEntry(cut).GetText(), "long");
  EXPECT_EQ(runtimeErrorOf([&] { archive.GetEntry(longName); }), "file not found");
}

TEST(ZipOpen, EmptyArchive) {
  TempDir dir;
  ZipArchive archive;
  std::string path = writeArchive(dir, {});
  archive.Open(path);
  EXPECT_TRUE(archive.IsOpen());
  EXPECT_EQ(archive.Path(), path);
  EXPECT_TRUE(archive.Entries().empty());
  EXPECT_EQ(runtimeErrorOf([&] { archive.GetEntry("xl/workbook.xml"); }), "file not found");
}

TEST(ZipOpen, FailuresLeaveNoEntries) {
  TempDir dir;
  std::string good = zipBytes({{"xl/workbook.xml", "<workbook/>"}});
  const std::size_t end = good.size() - 22;

  std::string multidisk = good;
  put16(multidisk, end + 4, 1);
  std::string directoryPastEnd = good;
  directoryPastEnd[end + 19] = '\x7f';
  std::string brokenMemberHeader = good;
  brokenMemberHeader[get32(good, end + 16)] = 'X';

  struct Case {
    const char* what;
    std::string bytes;  // the file's content; no file for "missing"
    const char* message;
  };
  const Case cases[] = {
      {"missing", "", "file open failed"},
      {"empty file", "", "not a ZIP archive"},
      {"10 bytes", "0123456789", "not a ZIP archive"},
      {"100-byte text", std::string(100, 't'), "failed finding central directory"},
      {"multidisk", multidisk, "unsupported multidisk archive"},
      {"directory past the end", directoryPastEnd, "invalid header or archive is corrupted"},
      {"broken member header", brokenMemberHeader, "invalid header or archive is corrupted"},
  };
  ZipArchive archive;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each failure follows a good Open: nothing of it may survive.
    archive.Open(dir.write("good.zip", good));
    std::string path = std::strcmp(c.what, "missing") == 0 ? dir.file("none.zip") : dir.write("bad.zip", c.bytes);
    EXPECT_EQ(runtimeErrorOf([&] { archive.Open(path); }), c.message);
    EXPECT_FALSE(archive.IsOpen());
    EXPECT_TRUE(archive.Entries().empty());
    EXPECT_THROW(archive.GetEntry("xl/workbook.xml"), Zippy::ZipLogicError);
  }
}

std::size_t openFileCount() {
  auto fds = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(fds, std::filesystem::directory_iterator()));
}

TEST(ZipOpen, HoldsOneFileHandleUntilClose) {
  TempDir dir;
  std::string good = writeArchive(dir, {{"a.txt", "a"}});
  std::string bad = dir.write("bad.zip", std::string(100, 't'));
  std::size_t before = openFileCount();
  ZipArchive archive;
  for (int round = 0; round < 3; ++round) {
    archive.Open(good);
    EXPECT_EQ(openFileCount(), before + 1);
    EXPECT_ANY_THROW(archive.Open(bad));
    EXPECT_EQ(openFileCount(), before);
    archive.Open(good);
    archive.Close();
    EXPECT_EQ(openFileCount(), before);
  }
}

TEST(ZipOpen, SecondOpenReplacesTheFirst) {
  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"first/a.txt", "a"}}, "first.zip"));
  EXPECT_EQ(archive.GetEntry("first/a.txt").GetText(), "a");
  archive.Open(writeArchive(dir, {{"b.txt", "b"}}, "second.zip"));
  EXPECT_EQ(allNames(archive), Names{"b.txt"});
  EXPECT_EQ(runtimeErrorOf([&] { archive.GetEntry("first/a.txt"); }), "file not found");
  EXPECT_EQ(archive.GetEntry("b.txt").GetText(), "b");
}

TEST(ZipOpen, ClosedArchiveRefusesWithLogicErrors) {
  struct Case {
    const char* message;
    void (*call)(ZipArchive&);
  };
  const Case cases[] = {
      {"Cannot call GetEntry on empty ZipArchive object!", [](ZipArchive& a) { a.GetEntry("x"); }},
      {"Cannot call GetEntry on empty ZipArchive object!",
       [](ZipArchive& a) { a.StreamEntry("x", [](std::string_view) { return true; }); }},
      {"Cannot call GetEntryNames on empty ZipArchive object!", [](ZipArchive& a) { a.GetEntryNames(); }},
      {"Cannot call AddEntry on empty ZipArchive object!", [](ZipArchive& a) { a.AddEntryImpl("x", {}); }},
  };
  TempDir dir;
  std::string path = writeArchive(dir, {{"x", "x"}});
  for (bool afterClose : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.message);
      ZipArchive archive;
      if (afterClose) {
        archive.Open(path);
        archive.Close();
        EXPECT_EQ(archive.Path(), "");
      }
      try {
        c.call(archive);
        ADD_FAILURE() << "no exception";
      } catch (const Zippy::ZipLogicError& e) {
        EXPECT_STREQ(e.what(), c.message);
      }
    }
  }
}

TEST(ZipOpen, EntryNumbering) {
  using Zippy::Impl::ZipEntry;
  std::uint32_t start = ZipEntry::GetNewIndex(-1);
  // A member position above the counter moves it there; below, it steps by one.
  EXPECT_EQ(ZipEntry::GetNewIndex(start + 10), start + 10);
  EXPECT_EQ(ZipEntry::GetNewIndex(0), 0u);
  EXPECT_EQ(ZipEntry::GetNewIndex(-1), start + 12);

  TempDir dir;
  ZipArchive archive;
  archive.Open(writeArchive(dir, {{"a", "a"}, {"b", "b"}, {"c", "c"}}));
  for (std::uint32_t j = 0; j < 3; ++j) EXPECT_EQ(archive.Entries()[j].info.index, j);

  // Created entries: missing folders first, each taking the next number.
  Zippy::ZipEntry added = archive.AddEntryImpl("new/x.txt", {'h', 'i'});
  EXPECT_EQ(added.GetText(), "hi");
  ASSERT_EQ(allNames(archive), (Names{"a", "b", "c", "new/", "new/x.txt"}));
  EXPECT_EQ(archive.Entries()[3].info.index, start + 16);
  EXPECT_EQ(archive.Entries()[4].info.index, start + 17);
  EXPECT_TRUE(archive.Entries()[4].changed);
  EXPECT_EQ(archive.GetEntry("new/x.txt").GetText(), "hi");

  // An existing name gets the new data instead of a second entry.
  archive.AddEntryImpl("b", {'B'});
  EXPECT_EQ(archive.Entries().size(), 5u);
  EXPECT_EQ(archive.GetEntry("b").GetText(), "B");
  EXPECT_TRUE(archive.Entries()[1].changed);
}

TEST(ZipOpen, HundredThousandMembers) {
  constexpr int kMembers = 100000;
  constexpr int kFolders = 100;
  std::vector<Member> members;
  members.reserve(kMembers);
  for (int i = 0; i < kMembers; ++i)
    members.push_back({"d" + std::to_string(i % kFolders) + "/f" + std::to_string(i) + ".xml",
                       std::to_string(i), true});
  TempDir dir;
  ZipArchive archive;
  archive.Open(dir.write("many.zip", withZip64End(zipBytes(members), kMembers)));

  const auto& entries = archive.Entries();
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kMembers + kFolders));
  EXPECT_EQ(entries[kMembers - 1].info.name, members.back().name);
  for (int f = 0; f < kFolders; ++f) {
    EXPECT_EQ(entries[kMembers + f].info.name, "d" + std::to_string(f) + "/");
    EXPECT_TRUE(entries[kMembers + f].changed);
  }
  EXPECT_EQ(archive.GetEntry("d99/f99999.xml").GetText(), "99999");
}

}  // namespace
}  // namespace tabulon::test
