#include "api/sheet_extraction.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <climits>
#include <cstdint>
#include <thread>
#include <vector>

#include "api/failure_record.h"
#include "api/workbook.h"
#include "api/workbook_state.h"
#include "base/failure.h"
#include "cells/column_map.h"
#include "parse/row_parser.h"
#include "parse/sheet_columns.h"
#include "parse/typed_cells.h"
#include "parse/sheet_pipeline.h"
#include "parse/xml_scan.h"

namespace tabulon {
namespace {

// Rows up to the format's last row get a slot of retMT; a row numbered
// beyond it (only damaged files have one) is still rendered, after them,
// so that one absurd number cannot make the slot table huge.
constexpr std::int64_t kLastSlotRow = 1048576;

struct Placed {
  std::int64_t number;
  std::string* line;
};

// Resolves row numbers (a row without one follows the previous row),
// places every row that holds a value, widens lines to the sheet's final
// width, and joins them into out.
void join(std::vector<std::vector<RowLine>>& blocks, std::uint32_t width) {
  out.clear();
  retMT.clear();
  std::uint32_t finalWidth = width;
  // Sized by the rows present, not by the dimension, which may overstate.
  std::int64_t lastSlot = 0;
  std::int64_t previous = 0;
  for (auto& rows : blocks) {
    for (RowLine& row : rows) {
      std::int64_t number = row.numbered ? row.number : previous + 1;
      previous = number;
      row.number = static_cast<std::int32_t>(std::clamp<std::int64_t>(number, -1, INT_MAX));
      if (number > INT_MAX) row.hasValue = false;  // beyond any row a host can be told of
      if (!row.hasValue || number < 0) continue;
      finalWidth = std::max(finalWidth, row.fields);
      if (number <= kLastSlotRow) lastSlot = std::max(lastSlot, number);
    }
  }

  retMT.resize(static_cast<std::size_t>(lastSlot) + 1);
  std::vector<Placed> beyond;
  for (auto& rows : blocks) {
    for (RowLine& row : rows) {
      if (!row.hasValue || row.number < 0) continue;
      if (row.fields < finalWidth) row.line.append(finalWidth - row.fields, ';');
      raiseMaximum(max_row, row.number);
      raiseMaximum(max_col, static_cast<int>(row.maxColumn));
      if (row.number <= kLastSlotRow) {
        // Some writers split one row into several elements: their cells
        // join, in document order. Rare, so only a taken slot pays for it.
        std::string& slot = retMT[static_cast<std::size_t>(row.number)];
        if (slot.empty()) slot = std::move(row.line);
        else mergeRowLine(slot, row.line);
      } else {
        beyond.push_back({row.number, &row.line});
      }
    }
  }
  // Rows with equal numbers join in document order, as in the slots; the
  // first of each run keeps the merged line.
  std::stable_sort(beyond.begin(), beyond.end(),
                   [](const Placed& a, const Placed& b) { return a.number < b.number; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < beyond.size(); ++i) {
    if (kept > 0 && beyond[kept - 1].number == beyond[i].number) {
      mergeRowLine(*beyond[kept - 1].line, *beyond[i].line);
    } else {
      beyond[kept++] = beyond[i];
    }
  }
  beyond.resize(kept);

  std::size_t total = 0;
  for (const std::string& line : retMT) total += line.empty() ? 0 : line.size() + 1;
  for (const Placed& p : beyond) total += p.line->size() + 1;
  out.reserve(total);
  for (const std::string& line : retMT) {
    if (line.empty()) continue;
    out += line;
    out += '\n';
  }
  for (const Placed& p : beyond) {
    out += *p.line;
    out += '\n';
  }
  max_abs_col = finalWidth;
}

std::uint32_t dimensionWidth(std::string_view sheetXml) {
  std::vector<unsigned long> extent = ExcelRangeToRC(findDimension(sheetXml));
  return static_cast<std::uint32_t>(std::min<unsigned long>(extent[3], kLastMappedColumn));
}

// The text output of the sheet pipeline: each block's row lines, joined in
// block order at the end.
class TextSink : public RowBlockSink {
 public:
  TextSink(const Workbook& workbook, const TextOptions& options)
      : context_(contextOf(workbook, options.allDates)) {}

  void begin(std::string_view head) override {
    context_.width = dimensionWidth(head);
    max_abs_col = context_.width;
  }

  void addBlock(std::size_t) override { results_.add(); }

  void read(std::size_t index, std::string_view block) override {
    parseRowBlock(block, context_, results_.at(index));
  }

  const char* join() {
    std::vector<std::vector<RowLine>> blocks = results_.take();
    tabulon::join(blocks, context_.width);
    return out.c_str();
  }

 private:
  SheetContext context_;
  BlockResults<std::vector<RowLine>> results_;
};

// The typed output of the sheet pipeline: each block's cells, placed into
// columns at the end. Dates are read by every date format. A read that
// wants rows up to some row tells the row jobs where to stop: known from
// the options, or, when the skip counts from the first row holding a
// value, as soon as the earliest blocks show where that row is.
class ColumnSink : public RowBlockSink {
 public:
  ColumnSink(const Workbook& workbook, const ColumnOptions& options)
      : context_(contextOf(workbook, true)), strings_(*workbook.strings), options_(options) {
    std::int64_t stop = INT64_MAX;
    selection_ = selectionFor(options, columnFlags_, stop);
    stopAfter_.store(stop, std::memory_order_relaxed);
    selection_.stopAfter = &stopAfter_;
    limited_ = options.maxRows >= 0 || options.lastRow > 0;
  }

  void begin(std::string_view) override {}

  void addBlock(std::size_t) override {
    results_.add();
    std::lock_guard lock(mutex_);
    states_.emplace_back();
  }

  void read(std::size_t index, std::string_view block) override {
    TypedBlock& result = results_.at(index);
    const std::function<void()> firstCell = [&] { settle(index, result.firstCellRow, false); };
    readTypedBlock(block, context_, selection_, result,
                   stopDependsOnCells(options_) ? &firstCell : nullptr);
    if (result.stopped) stoppedBlock_.store(true, std::memory_order_relaxed);
    if (stopDependsOnCells(options_)) settle(index, result.firstCellRow, true);
  }

  bool enough() const override { return stoppedBlock_.load(std::memory_order_relaxed); }

  // A few hundred rows fit in the first 64 KiB of a sheet.
  std::size_t firstBlockBytes(std::size_t usual) const override {
    return limited_ ? std::min<std::size_t>(usual, 64u << 10) : usual;
  }

  SheetColumns assemble() {
    std::vector<TypedBlock> blocks = results_.take();
    return assembleColumns(blocks, strings_, options_, memoryLimit());
  }

 private:
  struct BlockState {
    std::int64_t firstCellRow = TypedBlock::kNoCell;
    bool done = false;
  };

  // Records what block index showed, and, once the blocks before the
  // first one holding a cell are all read, sets the row to stop after.
  void settle(std::size_t index, std::int64_t firstCellRow, bool done) {
    std::lock_guard lock(mutex_);
    states_[index].firstCellRow = firstCellRow;
    states_[index].done = states_[index].done || done;
    for (const BlockState& state : states_) {
      if (state.firstCellRow == TypedBlock::kUnknownRow) return;  // earlier blocks decide its number
      if (state.firstCellRow >= 0) {
        const std::int64_t stop = lastWantedRow(options_, state.firstCellRow);
        if (stop < stopAfter_.load(std::memory_order_relaxed)) stopAfter_.store(stop, std::memory_order_relaxed);
        return;
      }
      if (!state.done) return;
    }
  }

  // What the columns of one sheet may take: half the machine's memory, so
  // that a sheet's extent alone cannot push the host out of memory.
  static std::uint64_t memoryLimit() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || size <= 0) return UINT64_MAX;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) / 2;
  }

  SheetContext context_;
  const std::vector<std::string>& strings_;
  const ColumnOptions& options_;
  std::vector<std::uint8_t> columnFlags_;
  TypedSelection selection_;
  std::atomic<std::int64_t> stopAfter_{INT64_MAX};
  std::atomic<bool> stoppedBlock_{false};
  bool limited_ = false;
  BlockResults<TypedBlock> results_;
  std::mutex mutex_;
  std::deque<BlockState> states_;
};

}  // namespace

unsigned hardwareThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

std::string_view findDimension(std::string_view sheetXml) {
  xml::Tag tag;
  std::size_t pos = 0;
  while (xml::nextTag(sheetXml, pos, tag)) {
    if (tag.localName == "sheetData" || tag.localName == "row") break;
    if (tag.localName == "dimension" && !tag.closing) {
      std::string_view ref;
      if (xml::attribute(tag.attributes, "ref", ref)) return ref;
      break;
    }
    pos = tag.end;
  }
  return {};
}

const char* renderSheet(const Workbook& workbook, std::string_view sheetXml, unsigned blocks,
                        const TextOptions& options) {
  TextSink sink(workbook, options);
  readRowBlocks(sheetXml, blocks, sink);
  return sink.join();
}

std::string sheetPart(const Workbook& workbook, const char* sheetName) {
  if (sheetName == nullptr) throw Failure(TABULON_INVALID_ARGUMENT, "no sheet name given");
  const std::vector<std::string>& names = workbook.sheetNames;
  auto found = std::find(names.begin(), names.end(), std::string_view(sheetName));
  if (found == names.end()) {
    std::string text = "no sheet named \"" + std::string(sheetName) + "\"; the sheets are:";
    for (const std::string& name : names) text += " \"" + name + "\"";
    throw Failure(TABULON_NO_SUCH_SHEET, text);
  }
  std::size_t position = static_cast<std::size_t>(found - names.begin());
  return position < workbook.sheetParts.size() ? workbook.sheetParts[position]
                                               : "xl/worksheets/sheet" + std::to_string(position + 1) + ".xml";
}

SheetColumns extractColumns(const Workbook& workbook, const char* sheetName, const ColumnOptions& options,
                            unsigned threads, std::size_t blockBytes) {
  std::string part = sheetPart(workbook, sheetName);
  ColumnSink sink(workbook, options);
  if (!part.empty())
    streamRowBlocks(*workbook.archive, part, threads, blockBytes, sink);
  return sink.assemble();
}

SheetColumns readColumnsOf(const Workbook& workbook, std::string_view sheetXml, const ColumnOptions& options,
                           unsigned blocks) {
  ColumnSink sink(workbook, options);
  readRowBlocks(sheetXml, blocks, sink);
  return sink.assemble();
}

const char* extractSheet(const Workbook* workbook, const char* sheetName, unsigned threads, std::size_t blockBytes,
                         const TextOptions& options) {
  static const char kFailed[] = "0";
  out.clear();
  retMT.clear();
  try {
    if (workbook == nullptr) throw Failure(TABULON_NO_WORKBOOK, "no workbook is open");
    std::string part = sheetPart(*workbook, sheetName);
    if (part.empty()) return out.c_str();  // not a worksheet: no cells
    TextSink sink(*workbook, options);
    streamRowBlocks(*workbook->archive, part, threads, blockBytes, sink);
    return sink.join();
  } catch (...) {
    recordCurrentException();
    out.clear();
    retMT.clear();
    return kFailed;
  }
}

}  // namespace tabulon
