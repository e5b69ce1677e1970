#include "api/sheet_extraction.h"


#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <thread>
#include <vector>

#include "api/failure_record.h"
#include "api/output_budget.h"
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

// Resolves row numbers (a row without one follows the previous row),
// places every row that holds a value, widens lines to the sheet's final
// width, and joins them into out.
void join(std::vector<std::vector<RowLine>>& blocks, std::uint32_t width, TextBudget& budget, bool quoted) {
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
  // Widening the narrower lines is text too.
  std::uint64_t widening = 0;
  for (const auto& rows : blocks)
    for (const RowLine& row : rows)
      if (row.hasValue && row.number >= 0 && row.fields < finalWidth) widening += finalWidth - row.fields;
  budget.charge(widening);
  if (budget.exceeded()) throw overBudget(budget);

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
  std::size_t kept = 0;
  for (std::size_t i = 0; i < beyond.size(); ++i) {
    if (kept > 0 && beyond[kept - 1].number == beyond[i].number) {
      mergeRowLine(*beyond[kept - 1].line, *beyond[i].line, quoted);
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
  TextSink(const Workbook& workbook, const TextOptions& options, std::uint64_t sourceBytes)
      : context_(contextOf(workbook, options.allDates)),
        budget_(textLimit(sourceBytes, options.maxBytes)),
        trim_(options.trim) {
    context_.textBudget = &budget_;
    context_.quoted = options.quoted;
    context_.cellElements = &cellElements_;
  }

  // Cell elements the rows held, with or without a value.
  std::uint64_t cellElements() const { return cellElements_.load(); }

  void begin(std::string_view head) override {
    context_.width = trim_ ? 0 : dimensionWidth(head);
    max_abs_col = context_.width;
  }

  void addBlock(std::size_t) override { results_.add(); }

  void read(std::size_t index, std::string_view block) override {
    parseRowBlock(block, context_, results_.at(index));
  }

  const char* join() {
    std::vector<std::vector<RowLine>> blocks = results_.take();
    if (budget_.exceeded()) throw overBudget(budget_);
    tabulon::join(blocks, context_.width, budget_, context_.quoted);
    return out.c_str();
  }

 private:
  SheetContext context_;
  TextBudget budget_;
  std::atomic<std::uint64_t> cellElements_{0};
  bool trim_;
  BlockResults<std::vector<RowLine>> results_;
};

// The typed output of the sheet pipeline: each block's cells, placed into
// columns at the end. Dates are read by every date format.
class ColumnSink : public RowBlockSink {
 public:
  ColumnSink(const Workbook& workbook, std::uint64_t sourceBytes)
      : context_(contextOf(workbook, true)), strings_(*workbook.strings), limit_(columnLimit(sourceBytes)) {}

  void begin(std::string_view) override {}

  void addBlock(std::size_t) override { results_.add(); }

  void read(std::size_t index, std::string_view block) override {
    readTypedBlock(block, context_, results_.at(index));
  }

  SheetColumns assemble(const ColumnOptions& options) {
    std::vector<TypedBlock> blocks = results_.take();
    return assembleColumns(blocks, strings_, options, limit_);
  }

 private:
  SheetContext context_;
  const std::vector<std::string>& strings_;
  // What the columns may take, so that a sheet's extent alone cannot push
  // the host out of memory (see output_budget.h).
  std::uint64_t limit_;
  BlockResults<TypedBlock> results_;
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

const char* renderSheet(const Workbook& workbook, std::string_view sheetXml, unsigned blocks,
                        const TextOptions& options) {
  TextSink sink(workbook, options, workbook.archive ? compressedBytes(*workbook.archive) : sheetXml.size());
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
  ColumnSink sink(workbook, compressedBytes(*workbook.archive));
  if (!part.empty())
    streamRowBlocks(*workbook.archive, part, threads, blockBytes, sink);
  return sink.assemble(options);
}

SheetColumns readColumnsOf(const Workbook& workbook, std::string_view sheetXml, const ColumnOptions& options,
                           unsigned blocks) {
  ColumnSink sink(workbook, workbook.archive ? compressedBytes(*workbook.archive) : sheetXml.size());
  readRowBlocks(sheetXml, blocks, sink);
  return sink.assemble(options);
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
    TextSink sink(*workbook, options, compressedBytes(*workbook->archive));
    streamRowBlocks(*workbook->archive, part, threads, blockBytes, sink);
    const char* text = sink.join();
    // Said, not printed: a host may tell its user why a sheet came out empty.
    if (*text == '\0' && sink.cellElements() > 0)
      recordFailure(TABULON_OK, "its part holds " + std::to_string(sink.cellElements()) +
                                    (sink.cellElements() == 1 ? " cell element" : " cell elements") +
                                    ", none with a value the text can show");
    return text;
  } catch (...) {
    recordCurrentException();
    out.clear();
    retMT.clear();
    return kFailed;
  }
}

}  // namespace tabulon
