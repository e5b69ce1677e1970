#include "api/sheet_extraction.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "api/workbook_state.h"
#include "cells/column_map.h"
#include "cells/text_encoding.h"
#include "parse/row_blocks.h"
#include "parse/row_parser.h"
#include "parse/xml_scan.h"
#include "pool/thread_pool.h"

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

// Text buffers for the blocks in flight. Reusing a few buffers keeps a big
// sheet's text in memory that is already mapped, and bounds what is held
// at once whatever the sheet's size.
class BufferRing {
 public:
  explicit BufferRing(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) free_.push_back(std::make_unique<std::string>());
  }

  std::unique_ptr<std::string> take() {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [&] { return !free_.empty(); });
    std::unique_ptr<std::string> buffer = std::move(free_.back());
    free_.pop_back();
    buffer->clear();
    return buffer;
  }

  void give(std::unique_ptr<std::string> buffer) {
    {
      std::lock_guard lock(mutex_);
      free_.push_back(std::move(buffer));
    }
    returned_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<std::string>> free_;
};

SheetContext loadedContext(std::uint32_t width) {
  SheetContext context;
  context.sharedStrings = &SharedStrings;
  context.styles = &Styles;
  context.date1904 = Date1904;
  context.width = width;
  return context;
}

std::uint32_t dimensionWidth(std::string_view sheetXml) {
  std::vector<unsigned long> extent = ExcelRangeToRC(findDimension(sheetXml));
  return static_cast<std::uint32_t>(std::min<unsigned long>(extent[3], kLastMappedColumn));
}

// Inflates the worksheet part piece by piece and hands each block of whole
// rows to the pool as soon as it is complete, so parsing overlaps inflating
// and the sheet's whole text is never held at once.
const char* renderStreamed(const std::string& part, unsigned threads, std::size_t blockBytes) {
  SheetContext context = loadedContext(0);
  const std::vector<std::uint8_t> edits = markEditedStrings(SharedStrings);
  context.sharedStringEdits = &edits;
  bool started = false;
  bool utf16 = false, markChecked = false;
  std::vector<std::unique_ptr<std::vector<RowLine>>> results;
  std::vector<std::future<void>> done;
  BufferRing ring(2 * static_cast<std::size_t>(threads) + 2);
  std::unique_ptr<std::string> current = ring.take();
  {
    thread_pool pool(threads);
    // Blocks join in the order of their result slots, whatever order
    // their jobs are submitted in.
    auto newSlot = [&] {
      if (!started) {
        // The first block holds the sheet's header, and so its dimension.
        context.width = dimensionWidth(*current);
        max_abs_col = context.width;
        started = true;
      }
      results.push_back(std::make_unique<std::vector<RowLine>>());
      return results.back().get();
    };
    auto submit = [&](std::unique_ptr<std::string> text, std::vector<RowLine>* rows) {
      auto shared = std::make_shared<std::unique_ptr<std::string>>(std::move(text));
      done.push_back(pool.submit([&context, &ring, rows, shared] {
        std::unique_ptr<std::string> owned = std::move(*shared);
        try {
          parseRowBlock(*owned, context, *rows);
        } catch (...) {
          ring.give(std::move(owned));
          throw;
        }
        ring.give(std::move(owned));
      }));
    };

    // A block ends just past the first row end at or after blockBytes from
    // its start; searchFrom skips what earlier chunks showed to hold none.
    std::size_t searchFrom = blockBytes;
    std::vector<std::size_t> cuts;
    xlsFile.StreamEntry(part, [&](std::string_view chunk) {
      std::size_t before = current->size();
      current->append(chunk);
      if (!markChecked && current->size() >= 2) {
        markChecked = true;
        if (startsWithUtf16Mark(*current)) {
          utf16 = true;  // rendered from the whole converted text instead
          return false;
        }
      }
      if (before > searchFrom) {
        // Only a tag that starts before the new bytes can straddle them.
        std::size_t lt = current->rfind('<', before - 1);
        if (lt != std::string::npos) searchFrom = std::max(searchFrom, lt);
      }
      cuts.clear();
      std::string_view text(*current);
      std::size_t start = 0;
      while (text.size() - start >= blockBytes) {
        std::size_t cut = afterRowEnd(text, start, std::min(start + searchFrom, text.size()));
        if (cut == std::string_view::npos) break;
        cuts.push_back(cut);
        start = cut;
        searchFrom = blockBytes;
      }
      if (cuts.empty()) return true;
      searchFrom = blockBytes;
      // The first block keeps the buffer; the others and the rest move out.
      std::vector<RowLine>* first = newSlot();
      for (std::size_t i = 1; i < cuts.size(); ++i) {
        std::vector<RowLine>* rows = newSlot();
        std::unique_ptr<std::string> piece = ring.take();
        piece->assign(text.substr(cuts[i - 1], cuts[i] - cuts[i - 1]));
        submit(std::move(piece), rows);
      }
      std::unique_ptr<std::string> rest = ring.take();
      rest->assign(text.substr(cuts.back()));
      current->resize(cuts.front());
      submit(std::move(current), first);
      current = std::move(rest);
      return true;
    });
    if (!utf16) {
      std::vector<RowLine>* last = newSlot();
      submit(std::move(current), last);
    }
    pool.wait_for_jobs();
  }
  if (utf16) return renderSheet(utf16ToUtf8(xlsFile.GetEntry(part).GetView()), threads);
  // A job can fail only by running out of memory; the sheet then fails as
  // a whole rather than coming back with rows missing.
  for (std::future<void>& f : done) f.get();

  std::vector<std::vector<RowLine>> blocks;
  blocks.reserve(results.size());
  for (auto& r : results) blocks.push_back(std::move(*r));
  join(blocks, context.width);
  return out.c_str();
}

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

const char* renderSheet(std::string_view sheetXml, unsigned blocks) {
  std::uint32_t width = dimensionWidth(sheetXml);
  max_abs_col = width;
  SheetContext context = loadedContext(width);
  const std::vector<std::uint8_t> edits = markEditedStrings(SharedStrings);
  context.sharedStringEdits = &edits;

  std::vector<std::string_view> pieces = cutRowBlocks(sheetXml, std::max(1u, blocks));
  std::vector<std::vector<RowLine>> results(pieces.size());
  if (pieces.size() == 1) {
    parseRowBlock(pieces[0], context, results[0]);
  } else {
    std::vector<std::future<void>> done;
    done.reserve(pieces.size());
    {
      thread_pool pool(static_cast<unsigned>(pieces.size()));
      for (std::size_t i = 0; i < pieces.size(); ++i)
        done.push_back(pool.submit([&, i] { parseRowBlock(pieces[i], context, results[i]); }));
      pool.wait_for_jobs();
    }
    // A job can fail only by running out of memory; the sheet then fails
    // as a whole rather than coming back with rows missing.
    for (std::future<void>& f : done) f.get();
  }
  join(results, width);
  return out.c_str();
}

const char* extractSheet(const char* sheetName, unsigned threads, std::size_t blockBytes) {
  static const char kFailed[] = "0";
  out.clear();
  retMT.clear();
  try {
    if (sheetName == nullptr) return kFailed;
    auto found = std::find(SheetsNames.begin(), SheetsNames.end(), std::string_view(sheetName));
    if (found == SheetsNames.end()) return kFailed;
    std::size_t position = static_cast<std::size_t>(found - SheetsNames.begin());
    std::string part = position < SheetsParts.size()
                           ? SheetsParts[position]
                           : "xl/worksheets/sheet" + std::to_string(position + 1) + ".xml";
    if (part.empty()) return out.c_str();  // not a worksheet: no cells
    return renderStreamed(part, std::max(1u, threads), std::max<std::size_t>(1, blockBytes));
  } catch (...) {
    out.clear();
    retMT.clear();
    return kFailed;
  }
}

}  // namespace tabulon
