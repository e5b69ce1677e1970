// Workbook handles: the same results from a file and from memory, the same
// refusals of bad input on every way in, misuse refused without a crash,
// reads from many threads identical to reads one after another, and a
// forked child that goes on reading.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/arrow_text.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

#if defined(__SANITIZE_THREAD__)
#define TABULON_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TABULON_UNDER_TSAN 1
#endif
#endif

namespace tabulon::test {
namespace {

// A workbook whose cells depend on seed: strings, numbers and dates on
// the first sheet (rows of them), a small second sheet, an empty third.
Workbook book(int seed, int rows) {
  std::string xml;
  xml.reserve(static_cast<std::size_t>(rows) * 120);
  for (int r = 1; r <= rows; ++r) {
    const std::string n = std::to_string(r);
    xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"s\"><v>" + std::to_string((r + seed) % 3) + "</v></c>";
    xml += "<c r=\"B" + n + "\"><v>" + std::to_string(r * 7 + seed) + ".25</v></c>";
    if (r % 3 == 0) xml += "<c r=\"C" + n + "\" s=\"1\"><v>" + std::to_string(40000 + r % 5000) + "</v></c>";
    xml += "</row>";
  }
  Workbook b;
  b.sheets = {{"Data", worksheet("A1:C" + std::to_string(rows), xml)},
              {"Small", worksheet("A1:B2", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>seed " +
                                               std::to_string(seed) + "</t></is></c></row>"
                                               "<row r=\"2\"><c r=\"B2\" s=\"2\"><v>45000.5</v></c></row>")},
              {"Empty", worksheet("A1", "")}};
  b.sharedStrings = "<si><t>zero</t></si><si><t>one;1</t></si><si><t>two</t></si>";
  b.numFmts = "<numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd hh:mm\"/>";
  b.cellXfs = "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/>";
  return b;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// "T:" and the text, or "E<code>: " and the failure's text.
std::string readText(TabulonWorkbook* workbook, const char* name, std::int64_t index, unsigned flags = 0) {
  TabulonStatus status;
  TabulonTextOptions options{flags, 0};
  std::size_t length = 1;
  char* text = tabulonReadText(workbook, name, index, &options, &length, &status);
  if (text == nullptr) {
    EXPECT_EQ(length, 0u);
    return "E" + std::to_string(status.code) + ": " + status.text;
  }
  EXPECT_EQ(status.code, TABULON_OK);
  EXPECT_EQ(length, std::strlen(text));
  std::string result = "T:" + std::string(text, length);
  tabulonFree(text);
  return result;
}

std::string readColumns(TabulonWorkbook* workbook, const char* name, std::int64_t index) {
  TabulonStatus status;
  ArrowSchema schema;
  ArrowArray array;
  TabulonReadOptions options{};
  options.max_rows = -1;
  options.header = index == 0 && name == nullptr;
  if (tabulonReadColumns(workbook, name, index, &options, &schema, &array, &status) != 0) {
    EXPECT_EQ(schema.release, nullptr);
    EXPECT_EQ(array.release, nullptr);
    return "E" + std::to_string(status.code) + ": " + status.text;
  }
  std::string text = arrowText(schema, array);
  schema.release(&schema);
  array.release(&array);
  return text;
}

// Everything a host can read of the workbook, in one text.
std::string everything(TabulonWorkbook* workbook) {
  TabulonStatus status;
  const std::int64_t count = tabulonSheetCount(workbook, &status);
  std::string all = "sheets " + std::to_string(count) + "\n";
  for (std::int64_t i = 0; i < count; ++i) {
    TabulonSheetInfo info;
    EXPECT_EQ(tabulonSheetInfo(workbook, i, &info, &status), 0) << status.text;
    all += std::string(info.name) + " " + std::to_string(info.kind) + " " + std::to_string(info.visibility) + "\n";
    all += readText(workbook, info.name, 0) + readText(workbook, nullptr, i, TABULON_TEXT_ALL_DATES);
    all += readColumns(workbook, info.name, 0) + readColumns(workbook, nullptr, i);
  }
  return all;
}

TabulonWorkbook* openPath(const std::string& path) {
  TabulonStatus status;
  TabulonWorkbook* workbook = tabulonOpen(path.c_str(), &status);
  EXPECT_NE(workbook, nullptr) << status.text;
  EXPECT_EQ(status.code, TABULON_OK);
  EXPECT_STREQ(status.text, "");
  return workbook;
}

void closeOk(TabulonWorkbook* workbook) {
  TabulonStatus status;
  EXPECT_EQ(tabulonClose(workbook, &status), 0) << status.text;
}

TEST(Handles, MemoryGivesWhatTheFileGives) {
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book(1, 50).write(path);
  const std::string bytes = fileBytes(path);

  TabulonWorkbook* fromFile = openPath(path);
  const std::string expected = everything(fromFile);
  EXPECT_NE(expected.find("Small 0 0"), std::string::npos) << expected;
  for (unsigned flags : {0u, TABULON_BORROW}) {
    TabulonStatus status;
    TabulonWorkbook* fromMemory = tabulonOpenMemory(bytes.data(), bytes.size(), flags, &status);
    ASSERT_NE(fromMemory, nullptr) << status.text;
    EXPECT_EQ(everything(fromMemory), expected) << "flags " << flags;
    closeOk(fromMemory);
  }
  // A copy does not depend on the caller's bytes once open.
  {
    std::string scratch = bytes;
    TabulonWorkbook* copied = tabulonOpenMemory(scratch.data(), scratch.size(), 0, nullptr);
    ASSERT_NE(copied, nullptr);
    std::fill(scratch.begin(), scratch.end(), '\0');
    scratch = std::string();
    EXPECT_EQ(everything(copied), expected);
    closeOk(copied);
  }
  // And what the fixed entry points give for the same sheets.
  ASSERT_EQ(openExcel(path.c_str()), 0);
  EXPECT_EQ("T:" + std::string(getSheetData("Data")), readText(fromFile, "Data", 0));
  EXPECT_EQ("T:" + std::string(getSheetText("Small", TABULON_TEXT_ALL_DATES)),
            readText(fromFile, nullptr, 1, TABULON_TEXT_ALL_DATES));
  closeExcel();
  // Two handles on one file are independent.
  TabulonWorkbook* again = openPath(path);
  EXPECT_NE(again, fromFile);
  closeOk(fromFile);
  EXPECT_EQ(everything(again), expected);
  closeOk(again);
}

TEST(Handles, SheetsByNameAndPosition) {
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book(2, 3).write(path);
  TabulonWorkbook* workbook = openPath(path);
  TabulonStatus status;
  ASSERT_EQ(tabulonSheetCount(workbook, &status), 3);
  EXPECT_EQ(readText(workbook, "Small", 0), readText(workbook, nullptr, 1));
  // The name wins over the position.
  EXPECT_EQ(readText(workbook, "Small", 2), readText(workbook, nullptr, 1));
  EXPECT_EQ(readText(workbook, "Empty", 0), "T:");
  EXPECT_EQ(readColumns(workbook, "Empty", 0), "+s 0 rows\n");
  for (std::int64_t bad : {std::int64_t{-1}, std::int64_t{3}, INT64_MAX}) {
    EXPECT_EQ(readText(workbook, nullptr, bad).rfind("E8: no sheet at position", 0), 0u) << bad;
    EXPECT_EQ(readColumns(workbook, nullptr, bad).rfind("E8: no sheet at position", 0), 0u) << bad;
    TabulonSheetInfo info;
    EXPECT_EQ(tabulonSheetInfo(workbook, bad, &info, &status), -1);
    EXPECT_EQ(status.code, TABULON_NO_SUCH_SHEET);
  }
  EXPECT_EQ(readText(workbook, "small", 0).rfind("E8: no sheet named \"small\"", 0), 0u);
  closeOk(workbook);
}

// Every way in refuses bad bytes alike: a file, copied bytes, borrowed
// bytes and the fixed entry point, with the same code and reason.
TEST(Handles, BadInputIsRefusedAlikeOnEveryWayIn) {
  TempDir dir;
  const std::string good = zipBytes(book(3, 5).members());
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"shorter than an end record", "PK\x05\x06"},
      {"not a zip archive", std::string(4000, 'x')},
      {"an older binary format", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0')},
      {"truncated to its first half", good.substr(0, good.size() / 2)},
      {"end record cut off", good.substr(0, good.size() - 10)},
      {"central directory cut out", good.substr(0, good.size() / 2) + good.substr(good.size() - 22)},
  };
  for (const Case& c : cases) {
    const std::string path = dir.write("bad.xlsx", c.bytes);
    TabulonStatus byPath;
    ASSERT_EQ(tabulonOpen(path.c_str(), &byPath), nullptr) << c.what;
    EXPECT_NE(byPath.code, TABULON_OK) << c.what;
    const std::string prefix = path + ": ";
    ASSERT_EQ(std::string(byPath.text).rfind(prefix, 0), 0u) << c.what << ": " << byPath.text;
    const std::string reason = byPath.text + prefix.size();
    EXPECT_FALSE(reason.empty()) << c.what;
    for (unsigned flags : {0u, TABULON_BORROW}) {
      TabulonStatus byMemory;
      EXPECT_EQ(tabulonOpenMemory(c.bytes.data(), c.bytes.size(), flags, &byMemory), nullptr) << c.what;
      EXPECT_EQ(byMemory.code, byPath.code) << c.what;
      EXPECT_EQ(std::string(byMemory.text), reason) << c.what;
    }
    EXPECT_EQ(openExcel(path.c_str()), -2) << c.what;
    int code = -1;
    EXPECT_EQ(std::string(lastError(&code)), byPath.text) << c.what;
    EXPECT_EQ(code, byPath.code) << c.what;
  }
  TabulonStatus status;
  EXPECT_EQ(tabulonOpenMemory(nullptr, 0, 0, &status), nullptr);
  EXPECT_EQ(status.code, TABULON_NOT_A_ZIP);
}

TEST(Handles, MisuseIsAnErrorNeverACrash) {
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book(4, 3).write(path);
  TabulonWorkbook* closed = openPath(path);
  closeOk(closed);
  // Never returned by an open, though it looks like a handle.
  TabulonWorkbook* madeUp = reinterpret_cast<TabulonWorkbook*>(reinterpret_cast<std::uintptr_t>(closed) + 16 * 1000);
  for (TabulonWorkbook* bad : {static_cast<TabulonWorkbook*>(nullptr), closed, madeUp}) {
    TabulonStatus status;
    EXPECT_EQ(tabulonClose(bad, &status), -1);
    EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
    EXPECT_EQ(tabulonSheetCount(bad, &status), -1);
    EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
    TabulonSheetInfo info;
    EXPECT_EQ(tabulonSheetInfo(bad, 0, &info, &status), -1);
    EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
    EXPECT_EQ(readText(bad, "Data", 0).rfind("E10: ", 0), 0u);
    EXPECT_EQ(readColumns(bad, nullptr, 0).rfind("E10: ", 0), 0u);
    // Without a status too.
    EXPECT_EQ(tabulonClose(bad, nullptr), -1);
    EXPECT_EQ(tabulonReadText(bad, "Data", 0, nullptr, nullptr, nullptr), nullptr);
  }
  TabulonWorkbook* open = openPath(path);
  TabulonStatus status;
  EXPECT_EQ(tabulonSheetInfo(open, 0, nullptr, &status), -1);
  EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
  EXPECT_EQ(tabulonReadColumns(open, "Data", 0, nullptr, nullptr, nullptr, &status), -1);
  EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
  EXPECT_EQ(tabulonOpenMemory("PK", 2, 4, &status), nullptr);
  EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
  EXPECT_EQ(tabulonOpenMemory(nullptr, 100, 0, &status), nullptr);
  EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
  EXPECT_EQ(tabulonOpen(nullptr, &status), nullptr);
  EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
  tabulonFree(nullptr);
  closeOk(open);
  EXPECT_EQ(tabulonClose(open, &status), -1);  // twice
  EXPECT_EQ(status.code, TABULON_INVALID_ARGUMENT);
}

void runThreads(int count, const std::function<void(int)>& body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (std::thread& thread : threads) thread.join();
}

TEST(HandleThreads, DifferentWorkbooksAtOnce) {
  TempDir dir;
  constexpr int kBooks = 4;
  std::vector<std::string> paths, expected;
  for (int i = 0; i < kBooks; ++i) {
    paths.push_back(dir.file("book" + std::to_string(i) + ".xlsx"));
    book(10 + i, 3000).write(paths.back());
    TabulonWorkbook* workbook = openPath(paths.back());
    expected.push_back(everything(workbook));
    closeOk(workbook);
  }
  std::vector<std::string> got(kBooks);
  runThreads(kBooks, [&](int t) {
    // Half from memory, half from the file.
    const std::string bytes = fileBytes(paths[t]);
    TabulonWorkbook* workbook = t % 2 ? tabulonOpen(paths[t].c_str(), nullptr)
                                      : tabulonOpenMemory(bytes.data(), bytes.size(), TABULON_BORROW, nullptr);
    got[t] = everything(workbook) + everything(workbook);
    tabulonClose(workbook, nullptr);
  });
  for (int i = 0; i < kBooks; ++i) EXPECT_EQ(got[i], expected[i] + expected[i]) << "workbook " << i;
}

TEST(HandleThreads, OneHandleFromManyThreads) {
  TempDir dir;
  const std::string path = dir.file("big.xlsx");
  // Over 4 MiB of sheet text: more than one block per read.
  book(20, 45000).write(path);
  const std::string small = dir.file("small.xlsx");
  book(21, 200).write(small);
  TabulonWorkbook* workbook = openPath(path);
  const std::string expected = everything(workbook);
  ASSERT_EQ(openExcel(small.c_str()), 0);
  const std::string expectedDefault = getSheetData("Data");

  constexpr int kThreads = 4;
  std::vector<std::string> got(kThreads);
  std::atomic<bool> defaultSame{true};
  std::thread fixed([&] {
    // The fixed entry points at the same time: they share nothing with
    // the handles.
    for (int i = 0; i < 3; ++i)
      if (getSheetData("Data") != expectedDefault) defaultSame = false;
  });
  runThreads(kThreads, [&](int t) { got[t] = everything(workbook); });
  fixed.join();
  EXPECT_TRUE(defaultSame);
  closeExcel();
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(got[t] == expected) << "thread " << t;
  closeOk(workbook);
}

TEST(HandleThreads, CloseWhileOthersRead) {
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book(30, 20000).write(path);
  const std::string bytes = fileBytes(path);
  TabulonWorkbook* reference = openPath(path);
  const std::string expected = readText(reference, "Data", 0);
  closeOk(reference);

  // Borrowed bytes: closing must wait for the reads still using them.
  std::string* borrowed = new std::string(bytes);
  TabulonWorkbook* workbook = tabulonOpenMemory(borrowed->data(), borrowed->size(), TABULON_BORROW, nullptr);
  ASSERT_NE(workbook, nullptr);
  constexpr int kThreads = 3;
  std::atomic<int> reads{0};
  std::vector<int> wrong(kThreads, 0), refused(kThreads, 0);
  std::thread closer([&] {
    while (reads.load() < kThreads) std::this_thread::yield();
    TabulonStatus status;
    EXPECT_EQ(tabulonClose(workbook, &status), 0) << status.text;
    std::fill(borrowed->begin(), borrowed->end(), 'x');
    delete borrowed;
  });
  runThreads(kThreads, [&](int t) {
    for (;;) {
      const std::string text = readText(workbook, "Data", 0);
      if (text.rfind("E10: ", 0) == 0) {
        refused[t] = 1;
        return;
      }
      if (text != expected) ++wrong[t];
      ++reads;
    }
  });
  closer.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(wrong[t], 0) << "thread " << t;
    EXPECT_EQ(refused[t], 1) << "thread " << t;
  }
}

#ifndef TABULON_UNDER_TSAN
// A child forked after the parent used the library (its workers running,
// a handle open) reads that handle and opens others.
TEST(HandleFork, ChildReadsAfterTheParentUsedTheLibrary) {
  TempDir dir;
  const std::string path = dir.file("book.xlsx");
  book(40, 60000).write(path);
  TabulonWorkbook* workbook = openPath(path);
  const std::string expected = everything(workbook);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool same = everything(workbook) == expected;
    TabulonWorkbook* another = tabulonOpen(path.c_str(), nullptr);
    same = same && another != nullptr && everything(another) == expected;
    tabulonClose(another, nullptr);
    same = same && tabulonClose(workbook, nullptr) == 0;
    _exit(same ? 0 : 1);
  }
  // The parent reads the same handle meanwhile: the file is shared.
  EXPECT_EQ(everything(workbook), expected);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  closeOk(workbook);
}
#endif

}  // namespace
}  // namespace tabulon::test
