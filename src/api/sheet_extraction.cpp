#include "api/sheet_extraction.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <functional>
#include <mutex>
#include <climits>
#include <cstring>
#include <cstdint>
#include <thread>
#include <vector>

#include "api/output_budget.h"
#include "api/text_target.h"
#include "api/workbook.h"
#include "base/failure.h"
#include "base/stage_probe.h"
#include "cells/column_map.h"
#include "parse/read_stock.h"
#include "parse/row_numbers.h"
#include "parse/row_parser.h"
#include "parse/sheet_columns.h"
#include "parse/typed_cells.h"
#include "parse/sheet_pipeline.h"
#include "parse/xml_scan.h"

namespace tabulon {
namespace {

// The refusal of a text beyond its budget, with the size it would have had.
Failure overBudget(const TextBudget& budget) {
  return Failure(TABULON_OUT_OF_MEMORY, "the sheet's text would be " + sizeText(budget.charged()) +
                                            ", more than the " + sizeText(budget.limit()) +
                                            " a read of this workbook may produce");
}

struct Placed {
  std::int64_t number;
  std::string* line;
};

// Resolves row numbers (row_numbers.h), places every row that holds a
// value, and widens lines to the sheet's final width. Rows within the
// format's rows get a slot; the few beyond come after them, so that one
// absurd number cannot make the slot table huge.
SheetRows placeRows(std::vector<std::vector<RowLine>>& blocks, std::uint32_t width, TextBudget& budget,
                    bool quoted) {
  SheetRows result;
  std::uint32_t finalWidth = width;
  // Sized by the rows present, not by the dimension, which may overstate.
  std::int64_t lastSlot = 0;
  RowCounter counter;
  for (auto& rows : blocks) {
    for (RowLine& row : rows) {
      const std::int64_t number = counter.next(RowNumber{row.number, row.numbered});
      const RowPlace place = placeOf(number);
      // A row without a place is left out: marked by number -1.
      row.number = place == RowPlace::None ? -1 : static_cast<std::int32_t>(number);
      if (!row.hasValue || place == RowPlace::None) continue;
      finalWidth = std::max(finalWidth, row.fields);
      if (place == RowPlace::Sheet) lastSlot = std::max(lastSlot, number);
    }
  }
  // Widening the narrower lines is text too.
  std::uint64_t widening = 0;
  for (const auto& rows : blocks)
    for (const RowLine& row : rows)
      if (row.hasValue && row.number >= 0 && row.fields < finalWidth) widening += finalWidth - row.fields;
  budget.charge(widening);
  if (budget.exceeded()) throw overBudget(budget);

  result.slots.resize(static_cast<std::size_t>(lastSlot) + 1);
  std::vector<Placed> beyond;
  for (auto& rows : blocks) {
    for (RowLine& row : rows) {
      if (!row.hasValue || row.number < 0) continue;
      if (row.fields < finalWidth) row.line.append(finalWidth - row.fields, ';');
      result.maxRow = std::max(result.maxRow, static_cast<int>(row.number));
      result.maxColumn = std::max(result.maxColumn, static_cast<int>(row.maxColumn));
      if (placeOf(row.number) == RowPlace::Sheet) {
        // Some writers split one row into several elements: their cells
        // join, in document order. Rare, so only a taken slot pays for it.
        std::string& slot = result.slots[static_cast<std::size_t>(row.number)];
        if (slot.empty()) slot = std::move(row.line);
        else mergeRowLine(slot, row.line, quoted);
      } else {
        beyond.push_back({row.number, &row.line});
      }
    }
  }
  // Rows with equal numbers join in document order, as in the slots; the
  // first of each run keeps the merged line.
  std::stable_sort(beyond.begin(), beyond.end(),
                   [](const Placed& a, const Placed& b) { return a.number < b.number; });
  for (std::size_t i = 0; i < beyond.size(); ++i) {
    if (!result.beyond.empty() && beyond[i - 1].number == beyond[i].number) {
      mergeRowLine(result.beyond.back(), *beyond[i].line, quoted);
    } else {
      result.beyond.push_back(std::move(*beyond[i].line));
    }
  }
  result.width = finalWidth;
  return result;
}

std::uint32_t dimensionWidth(std::string_view sheetXml) {
  std::vector<unsigned long> extent = ExcelRangeToRC(findDimension(sheetXml));
  return static_cast<std::uint32_t>(std::min<unsigned long>(extent[3], kLastMappedColumn));
}

// The text output of the sheet pipeline: each block's row lines, joined in
// block order at the end.
class TextSink : public RowBlockSink {
 public:
  TextSink(const Workbook& workbook, const TextOptions& options, std::uint64_t sourceBytes)
      : context_(contextOf(workbook, options.allDates)),
        budget_(textLimit(sourceBytes, options.maxBytes)),
        trim_(options.trim) {
    context_.textBudget = &budget_;
    context_.quoted = options.quoted;
    context_.cellElements = &cellElements_;
  }

  void begin(std::string_view head) override { context_.width = trim_ ? 0 : dimensionWidth(head); }

  void addBlock(std::size_t) override { results_.add(); }

  void read(std::size_t index, std::string_view block) override {
    parseRowBlock(block, context_, results_.at(index));
  }

  SheetRows join() {
    std::vector<std::vector<RowLine>> blocks = results_.take();
    if (budget_.exceeded()) throw overBudget(budget_);
    SheetRows rows = placeRows(blocks, context_.width, budget_, context_.quoted);
    rows.cellElements = cellElements_.load();
    return rows;
  }

 private:
  SheetContext context_;
  TextBudget budget_;
  std::atomic<std::uint64_t> cellElements_{0};
  bool trim_;
  BlockResults<std::vector<RowLine>> results_;
};

// The size the archive states for a part (a guide only: it may lie).
std::uint64_t partSize(const Workbook& workbook, const std::string& part) {
  for (const Zippy::Impl::ZipEntry& entry : workbook.archive->Entries())
    if (entry.info.name == part) return entry.info.uncompressedSize;
  return 0;
}

// Where the field count of a line that starts at pos ends: just past its
// fields' last ';' (a quoted field runs to its closing quote).
std::size_t afterFields(std::string_view text, std::size_t pos, std::uint32_t fields, bool quoted) {
  for (std::uint32_t f = 0; f < fields; ++f) {
    if (quoted && pos < text.size() && text[pos] == '"') {
      for (++pos; pos < text.size(); ++pos) {
        if (text[pos] != '"') continue;
        if (pos + 1 < text.size() && text[pos + 1] == '"') ++pos;
        else break;
      }
    }
    pos = text.find(';', pos) + 1;
  }
  return pos;
}

// Joins the lines of a sheet's blocks, handed over in block order as they
// are read, straight into the text's target. In the usual sheet each line
// goes there at once, widened to the lines' width: rows ascending, within
// the format's rows, no wider than the dimension (or, for lines that end
// at their last value, than the first line). A line that is not (a row out
// of order or repeated, a cell beyond that width) sends it and every later
// line to the general join at the end, which takes the lines already
// written back from the text.
class LinePlacer {
 public:
  LinePlacer(TextTarget& target, std::uint32_t width, bool quoted, TextBudget& budget)
      : target_(target), width_(width), quoted_(quoted), budget_(budget) {}

  void place(const BlockLines& block) {
    if (budget_.exceeded()) return;  // the read fails; nothing more is written
    std::size_t at = 0;
    // Widening is text too, charged once per block.
    std::uint64_t widening = 0;
    for (const LineHead& head : block.rows) {
      const std::string_view line = std::string_view(block.text).substr(at, head.length);
      at += head.length;
      const std::int64_t number = counter_.next(head.row);
      const RowPlace place = placeOf(number);
      if (!head.hasValue || place == RowPlace::None) continue;
      maxRow_ = std::max(maxRow_, number);
      maxColumn_ = std::max(maxColumn_, head.maxColumn);
      if (width_ == 0 && head.fields > 0 && runs_.empty() && direct_) width_ = head.fields;
      if (direct_ && place == RowPlace::Sheet && number > last_ && head.fields > 0 && head.fields <= width_ &&
          !line.empty()) {
        const std::size_t wider = width_ - head.fields;
        widening += wider;
        char* text = target_.room(size_ + line.size() + wider + 1);
        std::memcpy(text + size_, line.data(), line.size());
        std::memset(text + size_ + line.size(), ';', wider);
        text[size_ + line.size() + wider] = '\n';
        size_ += line.size() + wider + 1;
        if (!runs_.empty() && runs_.back().first + static_cast<std::int64_t>(runs_.back().count) == number)
          ++runs_.back().count;
        else
          runs_.push_back({number, 1});
        last_ = number;
        continue;
      }
      direct_ = false;
      RowLine row;
      row.number = static_cast<std::int32_t>(number);
      row.numbered = true;
      row.hasValue = true;
      row.fields = head.fields;
      row.maxColumn = head.maxColumn;
      row.line.assign(line);
      later_.push_back(std::move(row));
    }
    if (widening > 0) budget_.charge(widening);
  }

  // The text's size and extent once every block is placed.
  TextFacts finish() {
    if (budget_.exceeded()) throw overBudget(budget_);
    TextFacts facts;
    facts.read = true;
    facts.maxRow = static_cast<int>(maxRow_);
    facts.maxColumn = static_cast<int>(maxColumn_);
    facts.width = width_;
    facts.size = size_;
    if (direct_) return facts;
    std::vector<std::vector<RowLine>> blocks(2);
    const std::string_view written(target_.room(size_), size_);
    std::size_t pos = 0;
    for (const Run& run : runs_) {
      for (std::uint64_t k = 0; k < run.count; ++k) {
        const std::size_t end = afterFields(written, pos, width_, quoted_);
        RowLine row;
        row.number = static_cast<std::int32_t>(run.first + static_cast<std::int64_t>(k));
        row.numbered = true;
        row.hasValue = true;
        row.fields = width_;
        row.line.assign(written.substr(pos, end - pos));
        blocks[0].push_back(std::move(row));
        pos = end + 1;
      }
    }
    blocks[1] = std::move(later_);
    const SheetRows rows = placeRows(blocks, width_, budget_, quoted_);
    facts.size = rows.textSize();
    facts.width = rows.width;
    rows.writeText(target_.room(facts.size));
    return facts;
  }

 private:
  // Lines written for consecutive rows from first on.
  struct Run {
    std::int64_t first;
    std::uint64_t count;
  };

  TextTarget& target_;
  // The lines' width: the dimension's, or that of the first line when
  // lines end at their last value.
  std::uint32_t width_;
  const bool quoted_;
  TextBudget& budget_;
  RowCounter counter_;
  std::size_t size_ = 0;     // bytes written
  std::int64_t last_ = -1;   // the row of the last line written
  std::int64_t maxRow_ = 0;
  std::uint32_t maxColumn_ = 0;
  bool direct_ = true;       // every line so far went straight into the text
  std::vector<Run> runs_;
  std::vector<RowLine> later_;  // the lines from the first that did not
};

// The text output of the sheet pipeline that writes into the host's
// buffer: each block's lines, joined in block order as soon as the blocks
// before it are joined; block results come from the workbook's stock.
class TextStreamSink : public RowBlockSink {
 public:
  // partBytes: the size of the sheet's XML, when known (else 0).
  TextStreamSink(const Workbook& workbook, const TextOptions& options, std::uint64_t sourceBytes,
                 TextTarget& target, std::uint64_t partBytes)
      : context_(contextOf(workbook, options.allDates)),
        budget_(textLimit(sourceBytes, options.maxBytes)),
        trim_(options.trim),
        stock_(*workbook.stock),
        target_(target),
        partBytes_(partBytes) {
    context_.textBudget = &budget_;
    context_.quoted = options.quoted;
    context_.cellElements = &cellElements_;
  }

  ~TextStreamSink() override {
    for (std::unique_ptr<BlockLines>& lines : blocks_) stock_.lines.give(std::move(lines));
  }

  void begin(std::string_view head) override {
    context_.width = trim_ ? 0 : dimensionWidth(head);
    placer_ = std::make_unique<LinePlacer>(target_, context_.width, context_.quoted, budget_);
  }

  void addBlock(std::size_t) override {
    std::lock_guard lock(mutex_);
    blocks_.emplace_back();
  }

  void read(std::size_t index, std::string_view block) override {
    std::unique_ptr<BlockLines> lines = stock_.lines.take();
    parseRowBlock(block, context_, *lines);
    std::lock_guard lock(mutex_);
    if (index == 0 && partBytes_ > block.size() && !block.empty()) expectText(block.size(), lines->text.size());
    blocks_[index] = std::move(lines);
    // The blocks read so far that follow the joined ones, in order.
    while (next_ < blocks_.size() && blocks_[next_] != nullptr) {
      placer_->place(*blocks_[next_]);
      stock_.lines.give(std::move(blocks_[next_]));
      ++next_;
    }
  }

  TextFacts finish() {
    TextFacts facts;
    if (placer_ != nullptr) facts = placer_->finish();
    facts.cellElements = cellElements_.load();
    return facts;
  }

 private:
  SheetContext context_;
  TextBudget budget_;
  std::atomic<std::uint64_t> cellElements_{0};
  bool trim_;
  ReadStock& stock_;
  TextTarget& target_;
  std::unique_ptr<LinePlacer> placer_;
  std::mutex mutex_;
  std::deque<std::unique_ptr<BlockLines>> blocks_;  // read, not yet joined
  std::size_t next_ = 0;                            // the next block to join
  std::uint64_t partBytes_;

  // Sets room aside for the text the whole part will likely give, at the
  // rate of its first block (which also holds the header, so a quarter
  // more), and never beyond the budget: a text that grows past it moves.
  void expectText(std::size_t blockBytes, std::size_t textBytes) {
    const double rate = static_cast<double>(textBytes) / static_cast<double>(blockBytes);
    const double expected = 1.25 * rate * static_cast<double>(partBytes_) + 65536;
    const double limit = static_cast<double>(budget_.limit());
    target_.expect(static_cast<std::size_t>(std::min(expected, limit)));
  }
};

// The typed output of the sheet pipeline. Growing, each block's cells go
// into columns as soon as the blocks before it are in, and the block is
// given back to the workbook's stock; a sheet out of the usual order
// (GrowingColumns) is then read again, keeping every block's cells to
// place them at the end. Dates are read by every date format. A read that
// wants rows up to some row tells the row jobs where to stop: known from
// the options, or, when the skip counts from the first row holding a
// value, as soon as the earliest blocks show where that row is.
class ColumnSink : public RowBlockSink {
 public:
  // partBytes: the size of the sheet's XML, when known (else 0).
  ColumnSink(const Workbook& workbook, const ColumnOptions& options, std::uint64_t sourceBytes, bool grow,
             std::uint64_t partBytes)
      : context_(contextOf(workbook, true)),
        strings_(*workbook.strings),
        options_(options),
        limit_(columnLimit(sourceBytes)),
        stock_(*workbook.stock),
        partBytes_(partBytes) {
    std::int64_t stop = INT64_MAX;
    selection_ = selectionFor(options, columnFlags_, stop);
    stopAfter_.store(stop, std::memory_order_relaxed);
    selection_.stopAfter = &stopAfter_;
    limited_ = options.maxRows >= 0 || options.lastRow > 0;
    if (grow) grown_ = std::make_unique<GrowingColumns>(strings_, options_, limit_);
  }

  ~ColumnSink() override {
    for (std::unique_ptr<TypedBlock>& block : blocks_) stock_.cells.give(std::move(block));
  }

  void begin(std::string_view) override {}

  void addBlock(std::size_t) override {
    std::lock_guard lock(mutex_);
    blocks_.emplace_back();
    states_.emplace_back();
  }

  void read(std::size_t index, std::string_view block) override {
    std::unique_ptr<TypedBlock> result = stock_.cells.take();
    const std::function<void()> firstCell = [&] { settle(index, result->firstCellRow, false); };
    readTypedBlock(block, context_, selection_, *result, stopDependsOnCells(options_) ? &firstCell : nullptr);
    if (result->stopped) stoppedBlock_.store(true, std::memory_order_relaxed);
    if (stopDependsOnCells(options_)) settle(index, result->firstCellRow, true);
    std::lock_guard lock(mutex_);
    if (index == 0 && grown_ != nullptr) expectRows(*result, block.size());
    blocks_[index] = std::move(result);
    if (grown_ == nullptr) return;
    // The blocks read so far that follow the placed ones, in order.
    while (next_ < blocks_.size() && blocks_[next_] != nullptr) {
      if (!unordered_ && !grown_->add(*blocks_[next_])) unordered_ = true;
      if (grown_->ended()) stoppedBlock_.store(true, std::memory_order_relaxed);
      stock_.cells.give(std::move(blocks_[next_]));
      ++next_;
    }
  }

  bool enough() const override { return stoppedBlock_.load(std::memory_order_relaxed); }

  // A few hundred rows fit in the first 64 KiB of a sheet.
  std::size_t firstBlockBytes(std::size_t usual) const override {
    return limited_ ? std::min<std::size_t>(usual, 64u << 10) : usual;
  }

  // Growing: false when the sheet must be read again, keeping its blocks.
  bool grown() const { return !unordered_; }

  SheetColumns assemble() {
    if (grown_ != nullptr) return grown_->finish();
    std::vector<TypedBlock> blocks;
    blocks.reserve(blocks_.size());
    for (std::unique_ptr<TypedBlock>& block : blocks_) blocks.push_back(block ? std::move(*block) : TypedBlock{});
    return assembleColumns(blocks, strings_, options_, limit_);
  }

 private:
  struct BlockState {
    std::int64_t firstCellRow = TypedBlock::kNoCell;
    bool done = false;
  };

  // Tells the columns how many rows the sheet likely has, at the rate of
  // rows to bytes of its first block (a quarter more for the header).
  void expectRows(const TypedBlock& first, std::size_t bytes) {
    if (partBytes_ <= bytes || bytes == 0 || first.rows.empty()) return;
    RowCounter counter;
    std::int64_t last = 0;
    for (const RowHead& row : first.rows) last = counter.next(row);
    if (last <= 0 || last > kLastSheetRow) return;
    const double rows = 1.25 * static_cast<double>(last) * static_cast<double>(partBytes_) / static_cast<double>(bytes);
    grown_->expectRows(static_cast<std::int64_t>(std::min(rows, static_cast<double>(kLastSheetRow))));
  }

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

  SheetContext context_;
  const std::vector<std::string>& strings_;
  const ColumnOptions& options_;
  std::vector<std::uint8_t> columnFlags_;
  TypedSelection selection_;
  std::atomic<std::int64_t> stopAfter_{INT64_MAX};
  std::atomic<bool> stoppedBlock_{false};
  bool limited_ = false;
  // What the columns may take, so that a sheet's extent alone cannot push
  // the host out of memory (see output_budget.h).
  std::uint64_t limit_;
  ReadStock& stock_;
  std::unique_ptr<GrowingColumns> grown_;  // null: every block kept
  bool unordered_ = false;
  std::uint64_t partBytes_;
  std::size_t next_ = 0;  // the next block to place
  std::mutex mutex_;
  std::deque<std::unique_ptr<TypedBlock>> blocks_;  // read, not yet placed (all, when kept)
  std::deque<BlockState> states_;
};

}  // namespace

TextOptions textOptionsOf(unsigned flags, std::uint64_t maxBytes) {
  TextOptions options;
  options.allDates = (flags & TABULON_TEXT_ALL_DATES) != 0;
  options.trim = (flags & TABULON_TEXT_TRIM) != 0;
  options.quoted = (flags & TABULON_TEXT_QUOTED) != 0;
  options.maxBytes = maxBytes;
  return options;
}

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

std::size_t SheetRows::textSize() const {
  std::size_t total = 0;
  for (const std::string& line : slots) total += line.empty() ? 0 : line.size() + 1;
  for (const std::string& line : beyond) total += line.size() + 1;
  return total;
}

void SheetRows::writeText(char* to) const {
  auto put = [&to](const std::string& line) {
    std::memcpy(to, line.data(), line.size());
    to += line.size();
    *to++ = '\n';
  };
  for (const std::string& line : slots)
    if (!line.empty()) put(line);
  for (const std::string& line : beyond) put(line);
}

std::string SheetRows::text() const {
  std::string text(textSize(), '\0');
  writeText(text.data());
  return text;
}

std::string emptySheetNote(const SheetRows& rows, std::size_t textSize) {
  return emptySheetNote(rows.cellElements, textSize);
}

SheetRows renderRows(const Workbook& workbook, std::string_view sheetXml, unsigned blocks,
                     const TextOptions& options) {
  TextSink sink(workbook, options, workbook.archive ? compressedBytes(*workbook.archive) : sheetXml.size());
  readRowBlocks(sheetXml, blocks, sink);
  return sink.join();
}

std::string renderSheet(const Workbook& workbook, std::string_view sheetXml, unsigned blocks,
                        const TextOptions& options) {
  return renderRows(workbook, sheetXml, blocks, options).text();
}

std::string sheetPart(const Workbook& workbook, const SheetChoice& sheet) {
  const std::vector<std::string>& names = workbook.sheetNames;
  std::size_t position = 0;
  if (sheet.name != nullptr) {
    auto found = std::find(names.begin(), names.end(), std::string_view(sheet.name));
    if (found == names.end()) {
      std::string text = "no sheet named \"" + std::string(sheet.name) + "\"; the sheets are:";
      for (const std::string& name : names) text += " \"" + name + "\"";
      throw Failure(TABULON_NO_SUCH_SHEET, text);
    }
    position = static_cast<std::size_t>(found - names.begin());
  } else {
    if (sheet.index < 0 || static_cast<std::uint64_t>(sheet.index) >= names.size())
      throw Failure(TABULON_NO_SUCH_SHEET, "no sheet at position " + std::to_string(sheet.index) +
                                               "; the workbook has " + std::to_string(names.size()) +
                                               (names.size() == 1 ? " sheet" : " sheets"));
    position = static_cast<std::size_t>(sheet.index);
  }
  return position < workbook.sheetParts.size() ? workbook.sheetParts[position]
                                               : "xl/worksheets/sheet" + std::to_string(position + 1) + ".xml";
}

SheetColumns extractColumns(const Workbook& workbook, const SheetChoice& sheet, const ColumnOptions& options,
                            unsigned threads, std::size_t blockBytes) {
  std::string part = sheetPart(workbook, sheet);
  const std::uint64_t sourceBytes = compressedBytes(*workbook.archive);
  const std::uint64_t partBytes = partSize(workbook, part);
  {
    ColumnSink sink(workbook, options, sourceBytes, true, partBytes);
    if (!part.empty()) streamRowBlocks(*workbook.archive, part, threads, blockBytes, sink, &workbook.stock->texts);
    stageEnded("cells read");
    if (sink.grown()) {
      SheetColumns columns = sink.assemble();
      stageEnded("columns placed");
      return columns;
    }
  }
  ColumnSink sink(workbook, options, sourceBytes, false, partBytes);
  streamRowBlocks(*workbook.archive, part, threads, blockBytes, sink, &workbook.stock->texts);
  stageEnded("cells read again");
  SheetColumns columns = sink.assemble();
  stageEnded("columns placed");
  return columns;
}

SheetColumns readColumnsOf(const Workbook& workbook, std::string_view sheetXml, const ColumnOptions& options,
                           unsigned blocks) {
  const std::uint64_t sourceBytes = workbook.archive ? compressedBytes(*workbook.archive) : sheetXml.size();
  {
    ColumnSink sink(workbook, options, sourceBytes, true, sheetXml.size());
    readRowBlocks(sheetXml, blocks, sink);
    if (sink.grown()) return sink.assemble();
  }
  ColumnSink sink(workbook, options, sourceBytes, false, sheetXml.size());
  readRowBlocks(sheetXml, blocks, sink);
  return sink.assemble();
}

TextFacts extractText(const Workbook& workbook, const SheetChoice& sheet, TextTarget& target, unsigned threads,
                      std::size_t blockBytes, const TextOptions& options) {
  std::string part = sheetPart(workbook, sheet);
  if (part.empty()) return {};  // not a worksheet: no cells
  TextStreamSink sink(workbook, options, compressedBytes(*workbook.archive), target, partSize(workbook, part));
  streamRowBlocks(*workbook.archive, part, threads, blockBytes, sink, &workbook.stock->texts);
  stageEnded("rows read");
  const TextFacts facts = sink.finish();
  stageEnded("text joined");
  return facts;
}

TextFacts renderText(const Workbook& workbook, std::string_view sheetXml, unsigned blocks, TextTarget& target,
                     const TextOptions& options) {
  TextStreamSink sink(workbook, options, workbook.archive ? compressedBytes(*workbook.archive) : sheetXml.size(),
                      target, sheetXml.size());
  readRowBlocks(sheetXml, blocks, sink);
  return sink.finish();
}

std::string emptySheetNote(std::uint64_t cellElements, std::size_t textSize) {
  if (cellElements == 0 || textSize > 0) return {};
  return "its part holds " + std::to_string(cellElements) +
         (cellElements == 1 ? " cell element" : " cell elements") + ", none with a value the text can show";
}

SheetRows extractRows(const Workbook& workbook, const SheetChoice& sheet, unsigned threads,
                      std::size_t blockBytes, const TextOptions& options) {
  std::string part = sheetPart(workbook, sheet);
  if (part.empty()) return {};  // not a worksheet: no cells
  TextSink sink(workbook, options, compressedBytes(*workbook.archive));
  streamRowBlocks(*workbook.archive, part, threads, blockBytes, sink);
  stageEnded("rows read");
  SheetRows rows = sink.join();
  stageEnded("rows joined");
  return rows;
}

std::string extractSheet(const Workbook* workbook, const char* sheetName, unsigned threads, std::size_t blockBytes,
                         const TextOptions& options) {
  try {
    if (workbook == nullptr) return "0";
    if (sheetName == nullptr) return "0";
    return extractRows(*workbook, SheetChoice{sheetName, 0}, threads, blockBytes, options).text();
  } catch (...) {
    return "0";
  }
}

}  // namespace tabulon
