// Running one hostile workbook through the host's calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "memory_watch.h"
#include "support/host_library.h"
#include "support/temp_dir.h"
#include "support/xlsx_builder.h"
#include "tabulon.h"

namespace tabulon::test {

// What readColumns gave for the sheet.
struct ColumnsOutcome {
  int status = 0;             // readColumns' result
  int code = TABULON_OK;      // lastError's code after it
  std::int64_t rows = 0;      // on success: the struct array's length
  std::int64_t width = 0;     // on success: its columns
  std::int64_t filled = 0;    // on success: columns of a type other than null
  std::size_t request = 0;    // the largest single allocation it made
};

// What a host sees: openExcel's code, then the sheet's text and columns
// when it opened.
struct Outcome {
  // Cases state what they expect as {open, text}.
  Outcome(int open = 0, std::string text = "") : open(open), text(std::move(text)) {}

  int open;
  std::string text;  // getSheetData's text; "" when the open failed
  ColumnsOutcome columns;
};

// readColumns of the open workbook's sheet. The largest request seen
// before it is kept for the caller, who measures the text.
inline ColumnsOutcome hostColumns(HostLibrary& lib, const std::string& sheet) {
  using ReadColumns = int (*)(const char*, const TabulonReadOptions*, ArrowSchema*, ArrowArray*);
  using LastError = const char* (*)(int*);
  const std::size_t before = largestRequest();
  resetLargestRequest();
  ArrowSchema schema;
  ArrowArray array;
  // Garbage where release goes: a failure must clear it.
  std::memset(&schema, 0x5a, sizeof schema);
  std::memset(&array, 0x5a, sizeof array);
  ColumnsOutcome result;
  result.status = lib.symbol<ReadColumns>("readColumns")(sheet.c_str(), nullptr, &schema, &array);
  const std::string error = lib.symbol<LastError>("lastError")(&result.code);
  result.request = largestRequest();
  setLargestRequest(before);
  if (result.status == 0) {
    EXPECT_EQ(result.code, TABULON_OK);
    result.rows = array.length;
    result.width = array.n_children;
    for (std::int64_t c = 0; c < schema.n_children; ++c)
      result.filled += std::strcmp(schema.children[c]->format, "n") != 0 ? 1 : 0;
    schema.release(&schema);
    array.release(&array);
    EXPECT_EQ(schema.release, nullptr);
    EXPECT_EQ(array.release, nullptr);
  } else {
    EXPECT_EQ(result.status, -1);
    EXPECT_NE(result.code, TABULON_OK) << error;
    EXPECT_EQ(schema.release, nullptr) << "a failed readColumns left the schema unreleased";
    EXPECT_EQ(array.release, nullptr) << "a failed readColumns left the array unreleased";
  }
  return result;
}

// The text and the columns refuse the same sheets for the same reason;
// only running out of memory is each output's own, as each sizes its own
// result (the text's lines are as wide as the widest row, the columns as
// long as the extent).
inline void expectSameRefusal(const Outcome& outcome, int textCode) {
  const bool textFailed = outcome.text == "0";
  const bool columnsFailed = outcome.columns.status != 0;
  if (textFailed && columnsFailed) {
    EXPECT_TRUE(outcome.columns.code == textCode || outcome.columns.code == TABULON_OUT_OF_MEMORY ||
                textCode == TABULON_OUT_OF_MEMORY)
        << "text failure " << textCode << ", columns failure " << outcome.columns.code;
  } else if (textFailed) {
    EXPECT_EQ(textCode, TABULON_OUT_OF_MEMORY) << "the text failed where the columns did not";
  } else if (columnsFailed) {
    EXPECT_EQ(outcome.columns.code, TABULON_OUT_OF_MEMORY) << "the columns failed where the text did not";
  }
}

inline Outcome runBytes(const std::string& archive, const std::string& sheet) {
  using LastError = const char* (*)(int*);
  TempDir dir;
  const std::string path = dir.write("hostile.xlsx", archive);
  HostLibrary& lib = host();
  Outcome outcome(lib.openExcel(path.c_str()));
  if (outcome.open == 0) {
    outcome.text = lib.getSheetData(sheet.c_str());
    int textCode = TABULON_OK;
    lib.symbol<LastError>("lastError")(&textCode);
    outcome.columns = hostColumns(lib, sheet);
    expectSameRefusal(outcome, textCode);
  }
  lib.closeExcel();
  return outcome;
}

inline Outcome runBook(const Workbook& book, const std::string& sheet) {
  return runBytes(zipBytes(book.members()), sheet);
}

// A workbook of one sheet "S" holding rows, with a dimension when given.
inline Workbook sheetBook(const std::string& dimension, const std::string& rows) {
  Workbook book;
  book.sheets = {{"S", worksheet(dimension, rows)}};
  return book;
}

}  // namespace tabulon::test
