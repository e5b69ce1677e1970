// Arbitrary workbook bytes through the host's calls: openExcel, listSheets,
// getSheetData and readColumns for every sheet (and one unknown name),
// closeExcel; then the same bytes opened from memory as a workbook handle,
// which must open or fail as the file did, with every sheet's text the
// same and its columns well formed. Each sheet is also rendered in small blocks (sizes from the
// input's last byte): neither its text nor its columns may depend on where
// the blocks are cut or on the number of threads. The two outputs must
// agree: both succeed or both fail (running out of memory aside, as each
// needs its own amount), the columns hold a value in as many rows as the
// text has lines with one, and a failed readColumns leaves both structs
// released.
#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "api/sheet_extraction.h"
#include "api/default_workbook.h"
#include "api/workbook_state.h"
#include "base/failure.h"
#include "fuzz_support.h"
#include "support/cell_slice.h"
#include "support/same_columns.h"
#include "tabulon.h"

namespace {

using tabulon::fuzz::require;

// Sheets larger than this (inflated) skip the checks of cuts and options.
constexpr std::size_t kLargeSheet = 256 * 1024;

int lastCode() {
  int code = -1;
  lastError(&code);
  return code;
}

// Lines of a sheet's text, and those with at least one non-empty field.
void countLines(const std::string& text, std::size_t& lines, std::size_t& filled) {
  lines = filled = 0;
  bool any = false;
  for (char c : text) {
    if (c == '\n') {
      ++lines;
      filled += any ? 1 : 0;
      any = false;
    } else if (c != ';') {
      any = true;
    }
  }
}

constexpr const char kUnion[] = "+ud:0,1,2,3,4,5,6,7";

bool present(const ArrowSchema& schema, const ArrowArray& array, std::int64_t i) {
  if (std::strcmp(schema.format, "n") == 0) return false;
  if (std::strcmp(schema.format, kUnion) == 0) return static_cast<const std::int8_t*>(array.buffers[0])[i] != 0;
  const auto* validity = static_cast<const std::uint8_t*>(array.buffers[0]);
  return validity == nullptr || (validity[i >> 3] >> (i & 7) & 1);
}

// Rows of the struct array with a value in some column; every buffer a
// row points into is read once, so that the sanitizers see a short one.
std::size_t rowsWithValues(const ArrowSchema& schema, const ArrowArray& array) {
  require(std::strcmp(schema.format, "+s") == 0, "the columns are not a struct array");
  require(schema.n_children == array.n_children, "schema and array have different widths");
  require(array.length >= 0 && array.null_count == 0, "the struct array's length or nulls are wrong");
  std::vector<std::uint8_t> filled(static_cast<std::size_t>(array.length), 0);
  for (std::int64_t c = 0; c < array.n_children; ++c) {
    const ArrowSchema& s = *schema.children[c];
    const ArrowArray& a = *array.children[c];
    require(a.length == array.length, "a column's length differs from the rows");
    std::int64_t nulls = 0;
    for (std::int64_t i = 0; i < a.length; ++i) {
      if (!present(s, a, i)) {
        ++nulls;
        continue;
      }
      filled[static_cast<std::size_t>(i)] = 1;
      volatile std::uint8_t touch = 0;
      const auto isFormat = [&](const char* f) { return std::strcmp(s.format, f) == 0; };
      if (isFormat("b")) {
        touch = static_cast<const std::uint8_t*>(a.buffers[1])[i >> 3];
      } else if (isFormat("g") || isFormat("tsu:") || isFormat("l") || isFormat("tDu") || isFormat("ttu")) {
        touch = static_cast<const std::uint8_t*>(a.buffers[1])[8 * i + 7];
      } else if (isFormat(kUnion)) {
        require(a.n_buffers == 2 && a.n_children == 8 && s.n_children == 8, "a union column's layout is wrong");
        const std::int8_t code = static_cast<const std::int8_t*>(a.buffers[0])[i];
        const std::int32_t at = static_cast<const std::int32_t*>(a.buffers[1])[i];
        require(code > 0 && code < 8 && at >= 0 && at < a.children[code]->length,
                "a union cell points outside its child");
        const ArrowArray& child = *a.children[code];
        if (code == 6 || code == 7) {
          const auto* offsets = static_cast<const std::int32_t*>(child.buffers[1]);
          require(offsets[at] <= offsets[at + 1], "text offsets go backwards");
          if (offsets[at + 1] > offsets[at])
            touch = static_cast<const std::uint8_t*>(child.buffers[2])[offsets[at + 1] - 1];
        } else {
          touch = static_cast<const std::uint8_t*>(child.buffers[1])[code == 1 ? at >> 3 : 8 * at + 7];
        }
      } else if (std::strcmp(s.format, "i") == 0) {
        const std::int32_t index = static_cast<const std::int32_t*>(a.buffers[1])[i];
        require(index >= 0 && index < a.dictionary->length, "a text index outside its dictionary");
        const auto* offsets = static_cast<const std::int32_t*>(a.dictionary->buffers[1]);
        require(offsets[index] <= offsets[index + 1], "dictionary offsets go backwards");
        if (offsets[index + 1] > offsets[index])
          touch = static_cast<const std::uint8_t*>(a.dictionary->buffers[2])[offsets[index + 1] - 1];
      } else {
        tabulon::fuzz::broken("a column of an unknown format");
      }
      (void)touch;
    }
    require(a.null_count == (std::strcmp(s.format, kUnion) == 0 ? 0 : nulls), "a column's null count is wrong");
  }
  return static_cast<std::size_t>(std::count(filled.begin(), filled.end(), 1));
}

bool sameColumns(const tabulon::SheetColumns& a, const tabulon::SheetColumns& b) {
  return tabulon::test::columnsDifference(a, b).empty();
}

// The columns, or the failure's kind in failed.
tabulon::SheetColumns tryColumns(const std::function<tabulon::SheetColumns()>& read, int& failed) {
  failed = TABULON_OK;
  try {
    return read();
  } catch (const tabulon::Failure& failure) {
    failed = failure.kind();
  } catch (const std::bad_alloc&) {
    failed = TABULON_OUT_OF_MEMORY;
  } catch (...) {
    failed = TABULON_INTERNAL;
  }
  return {};
}

// readColumns of one sheet against its text (getSheetData's, already taken).
void checkHostColumns(const std::string& name, const std::string& text, int textCode,
                      const TabulonReadOptions* options) {
  ArrowSchema schema;
  ArrowArray array;
  std::memset(&schema, 0x5a, sizeof schema);
  std::memset(&array, 0x5a, sizeof array);
  const int status = readColumns(name.c_str(), options, &schema, &array);
  const int code = lastCode();
  require(status == 0 || status == -1, "readColumns returned another code");
  if (status != 0) {
    require(schema.release == nullptr && array.release == nullptr, "a failed readColumns left a struct unreleased");
    require(code != TABULON_OK, "a failed readColumns recorded no failure");
  } else {
    require(code == TABULON_OK, "a successful readColumns recorded a failure");
    require(schema.release != nullptr && array.release != nullptr, "readColumns succeeded without structs");
  }
  if (options == nullptr) {
    const bool textFailed = text == "0";
    if (textFailed != (status != 0)) {
      // Each output sizes its own result: only one may run out of memory.
      require((textFailed && textCode == TABULON_OUT_OF_MEMORY) || (status != 0 && code == TABULON_OUT_OF_MEMORY),
              "the text and the columns disagree on whether the sheet can be read");
    } else if (textFailed) {
      require(code == textCode || code == TABULON_OUT_OF_MEMORY || textCode == TABULON_OUT_OF_MEMORY,
              "the text and the columns fail for different reasons");
    }
    if (status == 0 && !textFailed) {
      // A line of the text may come from cells of columns the columns
      // cannot hold (past the last one), and may be blank when the text
      // edited every character away; a line with a field is a row with a
      // value.
      std::size_t lines = 0, filled = 0;
      countLines(text, lines, filled);
      const std::size_t rows = rowsWithValues(schema, array);
      require(filled <= rows && rows <= lines, "the columns and the text hold values in different rows");
    }
  } else if (status == 0) {
    rowsWithValues(schema, array);
  }
  if (status == 0) {
    array.release(&array);
    schema.release(&schema);
    require(schema.release == nullptr && array.release == nullptr, "release left a struct unreleased");
  }
}

// The columns do not depend on threads, block sizes or in-memory cuts.
void checkColumnCuts(const std::string& name, std::size_t blockBytes) {
  const tabulon::ColumnOptions all;
  int wholeFailed = 0;
  const tabulon::SheetColumns whole =
      tryColumns([&] { return tabulon::extractColumns(*tabulon::openWorkbook(), name.c_str(), all, 1, SIZE_MAX); }, wholeFailed);
  for (unsigned threads : {1u, 3u}) {
    int failed = 0;
    const tabulon::SheetColumns cut =
        tryColumns([&] { return tabulon::extractColumns(*tabulon::openWorkbook(), name.c_str(), all, threads, blockBytes); }, failed);
    require(failed == wholeFailed || failed == TABULON_OUT_OF_MEMORY || wholeFailed == TABULON_OUT_OF_MEMORY,
            "the columns fail or not by where the sheet is cut");
    require(failed != 0 || wholeFailed != 0 || sameColumns(cut, whole),
            "the columns depend on where the sheet is cut into blocks");
  }
  if (wholeFailed != 0) return;
  const std::string part = tabulon::sheetPart(*tabulon::openWorkbook(), name.c_str());
  if (part.empty()) return;
  std::string xml;
  try {
    xml = xlsFile.GetEntry(part).GetText();
  } catch (...) {
    return;  // read through the stream above; a whole copy may still fail
  }
  int oneFailed = 0;
  const tabulon::SheetColumns one = tryColumns([&] { return tabulon::readColumnsOf(*tabulon::openWorkbook(), xml, all, 1); }, oneFailed);
  for (unsigned blocks : {2u, 5u}) {
    int failed = 0;
    const tabulon::SheetColumns cut = tryColumns([&] { return tabulon::readColumnsOf(*tabulon::openWorkbook(), xml, all, blocks); }, failed);
    require(failed == oneFailed || failed == TABULON_OUT_OF_MEMORY || oneFailed == TABULON_OUT_OF_MEMORY,
            "the in-memory columns fail or not by the number of blocks");
    require(failed != 0 || oneFailed != 0 || sameColumns(cut, one),
            "the in-memory columns depend on the number of blocks");
  }
}

// The bytes opened from memory, as a handle: refused as the file was
// (opened: openExcel's result, code: its failure), and each sheet's text
// as getSheetData gave it (texts, "0" for a failure).
void checkMemoryHandle(const std::uint8_t* data, std::size_t size, int opened, int code,
                       const std::vector<std::string>& texts) {
  TabulonStatus status;
  TabulonWorkbook* workbook = tabulonOpenMemory(data, size, TABULON_BORROW, &status);
  require((workbook != nullptr) == (opened == 0) || status.code == TABULON_OUT_OF_MEMORY ||
              code == TABULON_OUT_OF_MEMORY,
          "memory and file open differently");
  if (workbook == nullptr) {
    require(opened != -2 || status.code == code || status.code == TABULON_OUT_OF_MEMORY ||
                code == TABULON_OUT_OF_MEMORY,
            "memory and file are refused for different reasons");
    return;
  }
  const std::int64_t count = tabulonSheetCount(workbook, &status);
  require(count >= 0, "an open handle has no sheet count");
  for (std::int64_t i = 0; i < count && static_cast<std::size_t>(i) < texts.size(); ++i) {
    std::size_t length = 0;
    char* text = tabulonReadText(workbook, nullptr, i, nullptr, &length, &status);
    if (text == nullptr) {
      require(status.code != TABULON_OK, "a failed read recorded no failure");
      require(texts[i] == "0" || status.code == TABULON_OUT_OF_MEMORY, "memory fails where the file reads");
    } else {
      require(std::strlen(text) == length, "the text's length is wrong");
      require(texts[i] == "0" || texts[i] == std::string(text, length), "memory and file give different text");
      tabulonFree(text);
    }
    ArrowSchema schema;
    ArrowArray array;
    if (tabulonReadColumns(workbook, nullptr, i, nullptr, &schema, &array, &status) == 0) {
      rowsWithValues(schema, array);
      array.release(&array);
      schema.release(&schema);
    } else {
      require(schema.release == nullptr && array.release == nullptr, "a failed read left a struct unreleased");
    }
  }
  require(tabulonClose(workbook, &status) == 0, "closing an open handle failed");
  require(tabulonClose(workbook, &status) == -1 && status.code == TABULON_INVALID_ARGUMENT,
          "closing twice was not refused");
}

// A selection drawn from seed, as a host would pass it.
struct Drawn {
  TabulonReadOptions options{};
  std::vector<std::int64_t> columns;
};

Drawn drawSelection(std::uint64_t seed) {
  Drawn d;
  const auto take = [&](unsigned n) {
    const auto v = static_cast<std::int64_t>(seed % n);
    seed /= n;
    return v;
  };
  d.options.max_rows = take(6) - 1;
  d.options.skip_rows = take(3);
  d.options.flags = TABULON_READ_KINDS | (take(2) ? TABULON_SKIP_FROM_FIRST_ROW : 0u);
  if (take(2)) {
    d.options.first_row = take(6);
    d.options.last_row = take(2) ? d.options.first_row + take(30) : 0;
  }
  if (take(2)) {
    d.options.first_column = take(4);
    d.options.last_column = take(2) ? d.options.first_column + take(4) : 0;
  }
  if (take(3) == 0) {
    for (std::int64_t c = 1; c <= 8; ++c)
      if (take(2)) d.columns.push_back(c);
    d.options.columns = d.columns.data();
    d.options.column_count = static_cast<std::int64_t>(d.columns.size());
  }
  return d;
}

tabulon::ColumnOptions columnOptions(const TabulonReadOptions& o, const std::vector<std::int64_t>& columns) {
  tabulon::ColumnOptions c;
  c.skipRows = o.skip_rows;
  c.maxRows = o.max_rows;
  c.skipFromFirstRow = (o.flags & TABULON_SKIP_FROM_FIRST_ROW) != 0;
  c.kinds = true;
  c.firstRow = o.first_row;
  c.lastRow = o.last_row;
  c.firstColumn = static_cast<std::uint32_t>(o.first_column);
  c.lastColumn = static_cast<std::uint32_t>(o.last_column);
  for (std::int64_t column : columns) c.columns.push_back(static_cast<std::uint32_t>(column));
  return c;
}

// A random selection equals the same slice of the whole sheet's columns
// (read from row 1), and reads the same in any cut. A limited read ends at
// the first row beyond the last wanted one in document order, so the
// slice holds only for rows in the format's order.
void checkSelection(const std::string& name, std::size_t blockBytes, std::uint64_t seed) {
  using namespace tabulon;
  const Drawn drawn = drawSelection(seed);
  const TabulonReadOptions& o = drawn.options;
  ColumnOptions whole;
  whole.kinds = true;
  whole.skipFromFirstRow = true;
  int wholeFailed = 0, partFailed = 0, cutFailed = 0;
  const SheetColumns all = tryColumns([&] { return extractColumns(*openWorkbook(), name.c_str(), whole, 1, SIZE_MAX); }, wholeFailed);
  const ColumnOptions chosen = columnOptions(o, drawn.columns);
  const SheetColumns part = tryColumns([&] { return extractColumns(*openWorkbook(), name.c_str(), chosen, 1, SIZE_MAX); }, partFailed);
  const SheetColumns cut = tryColumns([&] { return extractColumns(*openWorkbook(), name.c_str(), chosen, 3, blockBytes); }, cutFailed);
  if (partFailed != 0 || cutFailed != 0 || wholeFailed != 0) {
    require(partFailed == cutFailed || partFailed == TABULON_OUT_OF_MEMORY || cutFailed == TABULON_OUT_OF_MEMORY,
            "a selection fails or not by where the sheet is cut");
    return;
  }
  require(sameColumns(part, cut), "a selection depends on where the sheet is cut into blocks");
  const std::string sheetPart = tabulon::sheetPart(*openWorkbook(), name.c_str());
  if (sheetPart.empty()) return;
  std::string xml;
  try {
    xml = xlsFile.GetEntry(sheetPart).GetText();
  } catch (...) {
    return;
  }
  if (!test::rowsInFormatOrder(xml)) return;

  // Where the selection lies on the sheet.
  test::Slice slice;
  slice.firstColumn = static_cast<std::uint32_t>(std::max<std::int64_t>(1, o.first_column));
  slice.lastColumn = o.last_column > 0 ? static_cast<std::uint32_t>(o.last_column) : UINT32_MAX;
  for (std::int64_t c : drawn.columns) slice.columns.push_back(static_cast<std::uint32_t>(c));
  const std::int64_t lowRow = std::max<std::int64_t>(1, o.first_row);
  const std::int64_t highRow = o.last_row > 0 ? o.last_row : INT64_MAX;
  std::int64_t first = 0;
  if ((o.flags & TABULON_SKIP_FROM_FIRST_ROW) || (o.first_row > 0 && o.last_row > 0)) {
    first = lowRow;
  } else {
    // The first row holding a value in the selection, from the whole read.
    first = INT64_MAX;
    for (const Column& column : all.columns) {
      const std::uint32_t number = test::columnNumber(column.name);
      bool wanted = number >= slice.firstColumn && number <= slice.lastColumn;
      if (!slice.columns.empty())
        wanted = wanted && std::find(slice.columns.begin(), slice.columns.end(), number) != slice.columns.end();
      if (!wanted) continue;
      for (std::int64_t row = lowRow; row <= std::min(highRow, all.rows) && row < first; ++row)
        if (test::kindCell(column, static_cast<std::size_t>(row - 1)) != "0") first = row;
    }
    if (first == INT64_MAX) {
      require(part.columns.empty() && part.rows == 0, "a selection without values gave columns");
      return;
    }
  }
  slice.firstRow = first + o.skip_rows;
  slice.lastRow = highRow;
  if (o.max_rows >= 0) slice.lastRow = std::min(slice.lastRow, slice.firstRow + o.max_rows - 1);
  const std::string difference = test::sliceDifference(all, part, slice);
  if (!difference.empty()) tabulon::fuzz::broken(("a selection differs from the slice of the whole sheet: " + difference).c_str());
}

// Bad options fail before any work, whatever the sheet.
void checkBadOptions(const std::string& name, std::uint64_t seed) {
  TabulonReadOptions o{};
  switch (seed % 4) {
    case 0: o.first_row = 5, o.last_row = 4; break;
    case 1: o.last_column = 16385; break;
    case 2: o.skip_rows = -1; break;
    default: o.column_count = -1; break;
  }
  ArrowSchema schema;
  ArrowArray array;
  require(readColumns(name.c_str(), &o, &schema, &array) == -1 && lastCode() == TABULON_INVALID_ARGUMENT,
          "bad options were not refused");
  require(schema.release == nullptr && array.release == nullptr, "refused options left a struct unreleased");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tabulon::fuzz::ScratchFile file(".xlsx");
  const std::string& path = file.write(data, size);

  const int opened = openExcel(path.c_str());
  require(opened == 0 || opened == -1 || opened == -2, "openExcel returned another code");
  const int openCode = lastCode();
  std::vector<std::string> texts;
  const char* list = listSheets();
  require(list != nullptr, "listSheets returned null");
  if (opened == 0) {
    std::size_t expected = 0;
    for (const std::string& name : SheetsNames) expected += name.size() + 1;
    require(std::strlen(list) <= expected, "listSheets longer than the names");
    // Copied: a sheet's text replaces the previous one's.
    const std::vector<std::string> names = SheetsNames;
    const std::uint8_t last = size > 0 ? data[size - 1] : 0;
    // Selections from a hash of the input, so that they vary with it.
    std::uint64_t seed = 1469598103934665603ull;
    for (std::size_t k = 0; k < size; ++k) seed = (seed ^ data[k]) * 1099511628211ull;
    const std::size_t smallest = 1 + last % 200;
    // Options from the same byte: a header, skipped rows, a row limit.
    TabulonReadOptions options{};
    options.skip_rows = last % 3;
    options.max_rows = last % 5 == 0 ? -1 : last % 4;
    options.header = last & 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string& name = names[i];
      const char* text = getSheetData(name.c_str());
      require(text != nullptr, "getSheetData returned null");
      const int textCode = lastCode();
      const std::string whole = text;
      texts.push_back(whole);
      // At most about 64 blocks, so that a sheet that inflates to
      // megabytes does not turn into a million jobs.
      std::size_t blockBytes = smallest, partBytes = 0;
      const std::vector<std::string>& parts = tabulon::openWorkbook()->sheetParts;
      for (const auto& entry : xlsFile.Entries()) {
        if (i < parts.size() && entry.info.name == parts[i]) {
          blockBytes = std::max<std::size_t>(blockBytes, entry.info.uncompressedSize / 64);
          partBytes = entry.info.uncompressedSize;
        }
      }
      require(whole == tabulon::extractSheet(tabulon::openWorkbook(), name.c_str(), 2, blockBytes),
              "the text depends on where the sheet is cut into blocks");
      if (whole != "0" && !whole.empty()) {
        // Every byte is charged before it is written: one byte less than
        // the text is a refusal, never a shorter text.
        tabulon::TextOptions tight;
        tight.maxBytes = whole.size() - 1;
        bool refused = false;
        try {
          tabulon::extractRows(*tabulon::openWorkbook(), tabulon::SheetChoice{name.c_str(), 0}, 2, blockBytes, tight);
        } catch (const tabulon::Failure& failure) {
          refused = failure.kind() == TABULON_OUT_OF_MEMORY;
        } catch (const std::bad_alloc&) {
          refused = true;
        }
        require(refused, "a text beyond the caller's limit was read");
      }
      checkHostColumns(name, whole, textCode, nullptr);
      // A sheet that inflates to megabytes is read six more times below:
      // the engine would spend its time there rather than on new inputs.
      if (partBytes > kLargeSheet) continue;
      checkHostColumns(name, whole, textCode, &options);
      checkColumnCuts(name, blockBytes);
      const Drawn drawn = drawSelection(seed + i);
      checkHostColumns(name, whole, textCode, &drawn.options);
      checkSelection(name, blockBytes, seed + i);
      checkBadOptions(name, seed + i);
    }
    const char* unknown = "\x01no such sheet";
    if (std::find(names.begin(), names.end(), unknown) == names.end()) {
      require(std::strcmp(getSheetData(unknown), "0") == 0, "an unknown sheet did not give \"0\"");
      ArrowSchema schema;
      ArrowArray array;
      require(readColumns(unknown, nullptr, &schema, &array) == -1 && lastCode() == TABULON_NO_SUCH_SHEET,
              "an unknown sheet gave columns");
      require(schema.release == nullptr && array.release == nullptr, "a failed readColumns left a struct unreleased");
    }
  }
  require(closeExcel() == 0, "closeExcel returned other than 0");
  checkMemoryHandle(data, size, opened, openCode, texts);
  return 0;
}
