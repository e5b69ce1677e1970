#include "parse/sheet_columns.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <deque>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "base/failure.h"
#include "cells/column_map.h"
#include "cells/date_time.h"
#include "parse/row_numbers.h"

namespace tabulon {
namespace {

// Rows up to the format's last row keep their number as their position; a
// row numbered beyond it (only damaged files have one) comes after them,
// in order, so one absurd number cannot make the extent huge.
constexpr std::int64_t kLastRow = kLastSheetRow;
constexpr std::uint32_t kLastColumn = 16384;

// The sheet position of every row element, block by block; -1 for rows
// that have none (negative or unrepresentable numbers).
std::vector<std::vector<std::int64_t>> rowPositions(const std::vector<TypedBlock>& blocks) {
  std::vector<std::vector<std::int64_t>> positions(blocks.size());
  std::vector<std::int64_t> beyond;
  RowCounter counter;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    positions[b].reserve(blocks[b].rows.size());
    for (const RowHead& row : blocks[b].rows) {
      const std::int64_t number = counter.next(row);
      const RowPlace place = placeOf(number);
      if (place == RowPlace::Beyond) beyond.push_back(number);
      positions[b].push_back(place == RowPlace::None ? -1 : number);
    }
  }
  if (!beyond.empty()) {
    std::sort(beyond.begin(), beyond.end());
    beyond.erase(std::unique(beyond.begin(), beyond.end()), beyond.end());
    for (auto& block : positions)
      for (std::int64_t& p : block)
        if (p > kLastRow)
          p = kLastRow + 1 + (std::lower_bound(beyond.begin(), beyond.end(), p) - beyond.begin());
  }
  return positions;
}

// Walks the cells that count, in document order: a cell is left out when
// its row has no position or a later cell takes its place.
class KeptCells {
 public:
  KeptCells(const std::vector<TypedBlock>& blocks, const std::vector<std::vector<std::int64_t>>& positions)
      : blocks_(blocks), positions_(positions) {
    // In the usual sheet every cell lies after the one before it, and then
    // none can replace another; only other sheets need the sort.
    std::uint64_t last = 0;
    bool any = false, ordered = true;
    forEachPlaced([&](const TypedCell& cell, const TypedBlock&, std::int64_t pos) {
      const std::uint64_t key = keyOf(pos, cell.column);
      if (any && key <= last) ordered = false;
      last = key;
      any = true;
    });
    if (ordered) return;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> keyed;  // place, cell number
    std::uint64_t number = 0;
    std::size_t total = 0;
    for (const TypedBlock& block : blocks) total += block.cells.size();
    replaced_.assign(total, 0);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      for (const TypedCell& cell : blocks[b].cells) {
        const std::int64_t pos = positions[b][cell.row];
        if (pos >= 0) keyed.emplace_back(keyOf(pos, cell.column), number);
        ++number;
      }
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i + 1 < keyed.size(); ++i)
      if (keyed[i + 1].first == keyed[i].first) replaced_[keyed[i].second] = 1;
  }

  template <class Visit>
  void forEach(Visit visit) const {
    std::uint64_t number = 0;
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
      const TypedBlock& block = blocks_[b];
      const std::vector<std::int64_t>& rows = positions_[b];
      for (const TypedCell& cell : block.cells) {
        const std::int64_t pos = rows[cell.row];
        if (pos >= 0 && (replaced_.empty() || !replaced_[number])) visit(cell, block, pos);
        ++number;
      }
    }
  }

 private:
  static std::uint64_t keyOf(std::int64_t pos, std::uint16_t column) {
    return static_cast<std::uint64_t>(pos) << 16 | column;
  }

  template <class Visit>
  void forEachPlaced(Visit visit) const {
    for (std::size_t b = 0; b < blocks_.size(); ++b)
      for (const TypedCell& cell : blocks_[b].cells)
        if (positions_[b][cell.row] >= 0) visit(cell, blocks_[b], positions_[b][cell.row]);
  }

  const std::vector<TypedBlock>& blocks_;
  const std::vector<std::vector<std::int64_t>>& positions_;
  std::vector<std::uint8_t> replaced_;  // by cell number; empty when none is
};

// The text of a cell as the sheet's text writes it, every character kept.
// A date keeps a text of its own only where its value cannot give the
// text back (see TypedRows).
std::string_view textOf(const TypedCell& cell, const TypedBlock& block, const std::vector<std::string>& strings,
                        std::string& scratch) {
  if (cell.kind == TypedKind::SharedText) return strings[cell.shared];
  if (cell.kind == TypedKind::Date && cell.textLength == 0) {
    scratch = microsText(cell.micros);
    return scratch;
  }
  return std::string_view(block.arena).substr(cell.textOffset, cell.textLength);
}

// Distinct strings of one text column, each stored once.
class Dictionary {
 public:
  std::int32_t add(std::string_view text) {
    auto [it, added] = byText_.try_emplace(text, static_cast<std::int32_t>(values_.size()));
    if (added) values_.push_back(text);
    return it->second;
  }

  std::int32_t addShared(std::uint32_t index, const std::vector<std::string>& strings) {
    auto [it, added] = byShared_.try_emplace(index, 0);
    if (added) it->second = add(strings[index]);
    return it->second;
  }

  // Keeps a text made for this column (a date written out) alive.
  std::string_view own(std::string text) { return owned_.emplace_back(std::move(text)); }

  // add for a text that does not outlive the call: kept once, when new.
  std::int32_t addCopy(std::string_view text) {
    auto found = byText_.find(text);
    if (found != byText_.end()) return found->second;
    return add(own(std::string(text)));
  }

  std::string_view value(std::int32_t index) const { return values_[static_cast<std::size_t>(index)]; }

  void finish(Column& column) const {
    std::uint64_t total = 0;
    for (std::string_view v : values_) total += v.size();
    if (total > static_cast<std::uint64_t>(INT32_MAX))
      throw Failure(TABULON_OUT_OF_MEMORY, "the distinct texts of column " + column.name + " exceed 2 GiB");
    column.offsets.reserve(values_.size() + 1);
    column.characters.reserve(static_cast<std::size_t>(total));
    column.offsets.push_back(0);
    for (std::string_view v : values_) {
      column.characters.append(v);
      column.offsets.push_back(static_cast<std::int32_t>(column.characters.size()));
    }
  }

 private:
  std::unordered_map<std::string_view, std::int32_t> byText_;
  std::unordered_map<std::uint32_t, std::int32_t> byShared_;
  std::vector<std::string_view> values_;
  std::deque<std::string> owned_;
};

}  // namespace

std::string columnLetters(std::uint32_t column) {
  std::string letters;
  while (column > 0) {
    --column;
    letters.insert(letters.begin(), static_cast<char>('A' + column % 26));
    column /= 26;
  }
  return letters;
}


namespace {

// The kinds a column's data cells show, as bits of KindCode.
using KindSet = std::uint8_t;

KindCode codeOf(TypedKind kind) {
  switch (kind) {
    case TypedKind::Number:
      return KindCode::Number;
    case TypedKind::Date:
      return KindCode::DateTime;
    case TypedKind::Boolean:
      return KindCode::Boolean;
    case TypedKind::Text:
    case TypedKind::SharedText:
      return KindCode::Text;
    case TypedKind::Duration:
      return KindCode::Duration;
    case TypedKind::TimeOfDay:
      return KindCode::Time;
    case TypedKind::Error:
      return KindCode::Error;
  }
  return KindCode::Text;
}

constexpr KindSet bitOf(KindCode code) { return static_cast<KindSet>(1u << static_cast<unsigned>(code)); }

ColumnType typeOf(KindSet seen, bool integral, bool kinds) {
  if (seen == 0) return ColumnType::Null;
  if (seen == bitOf(KindCode::Number)) return kinds && integral ? ColumnType::Integer : ColumnType::Number;
  if (seen == bitOf(KindCode::DateTime)) return ColumnType::Date;
  if (seen == bitOf(KindCode::Boolean)) return ColumnType::Boolean;
  if (seen == bitOf(KindCode::Text)) return ColumnType::Text;
  if (kinds) {
    if (seen == bitOf(KindCode::Duration)) return ColumnType::Duration;
    if (seen == bitOf(KindCode::Time)) return ColumnType::Time;
    return ColumnType::Union;  // several kinds, or errors
  }
  return ColumnType::Text;
}

// Integral and within int64 (-2^63 <= v < 2^63).
bool isIntegral(double v) { return v == std::trunc(v) && v >= -9223372036854775808.0 && v < 9223372036854775808.0; }

std::uint64_t bytesFor(ColumnType type, std::uint64_t rows) {
  const std::uint64_t bitmap = (rows + 7) / 8;
  switch (type) {
    case ColumnType::Null:
      return 0;
    case ColumnType::Boolean:
      return 2 * bitmap;
    case ColumnType::Text:
      return bitmap + 4 * rows;
    case ColumnType::Union:
      return 5 * rows + 16 * rows;  // type ids, offsets, and the cells it gathers
    default:
      return bitmap + 8 * rows;
  }
}

// Makes column a dense union of rows cells: one child per kind code, in
// code order, the two text children with their first offset.
void startUnion(Column& column, std::size_t rows) {
  static const char* const kNames[kKindCodes] = {"null", "boolean", "number", "datetime",
                                                 "duration", "time", "text", "error"};
  static const ColumnType kTypes[kKindCodes] = {ColumnType::Null, ColumnType::Boolean, ColumnType::Number,
                                                ColumnType::Date, ColumnType::Duration, ColumnType::Time,
                                                ColumnType::PlainText, ColumnType::PlainText};
  column.children.resize(kKindCodes);
  for (int k = 0; k < kKindCodes; ++k) {
    column.children[k].name = kNames[k];
    column.children[k].type = kTypes[k];
  }
  column.children[6].offsets.push_back(0);
  column.children[7].offsets.push_back(0);
  column.typeIds.resize(rows);
  column.unionOffsets.resize(rows);
}

// Gives row of a union its type id and its offset in the child of code,
// and returns that slot of the child, whose length counts it.
std::int64_t placeInUnion(Column& column, std::size_t row, KindCode code) {
  Column& child = column.children[static_cast<int>(code)];
  column.typeIds[row] = static_cast<std::int8_t>(code);
  if (child.length >= INT32_MAX)
    throw Failure(TABULON_OUT_OF_MEMORY, "a column holds more than 2^31 cells of one kind");
  column.unionOffsets[row] = static_cast<std::int32_t>(child.length);
  return child.length++;
}

// The cells of one union column, row by row, turned into its children.
class UnionBuilder {
 public:
  explicit UnionBuilder(std::size_t rows) : cells_(rows, {nullptr, nullptr}) {}

  void place(std::size_t row, const TypedCell& cell, const TypedBlock& block) { cells_[row] = {&cell, &block}; }

  void finish(Column& column, const std::vector<std::string>& strings) {
    startUnion(column, cells_.size());
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      const auto [cell, block] = cells_[i];
      const KindCode code = cell == nullptr ? KindCode::Missing : codeOf(cell->kind);
      Column& child = column.children[static_cast<int>(code)];
      const std::int64_t at = placeInUnion(column, i, code);
      switch (code) {
        case KindCode::Missing:
          break;
        case KindCode::Boolean:
          if (static_cast<std::size_t>(at >> 3) >= child.bits.size()) child.bits.push_back(0);
          if (cell->number != 0) child.bits[static_cast<std::size_t>(at >> 3)] |= static_cast<std::uint8_t>(1u << (at & 7));
          break;
        case KindCode::Number:
          child.numbers.push_back(cell->number);
          break;
        case KindCode::DateTime:
        case KindCode::Duration:
        case KindCode::Time:
          child.micros.push_back(cell->micros);
          break;
        case KindCode::Text:
        case KindCode::Error: {
          const std::string_view text =
              cell->kind == TypedKind::SharedText
                  ? std::string_view(strings[cell->shared])
                  : std::string_view(block->arena).substr(cell->textOffset, cell->textLength);
          if (child.characters.size() + text.size() > static_cast<std::size_t>(INT32_MAX))
            throw Failure(TABULON_OUT_OF_MEMORY, "the texts of column " + column.name + " exceed 2 GiB");
          child.characters.append(text);
          child.offsets.push_back(static_cast<std::int32_t>(child.characters.size()));
          break;
        }
      }
    }
    column.children[0].nulls = column.children[0].length;
    cells_.clear();
    cells_.shrink_to_fit();
  }

 private:
  std::vector<std::pair<const TypedCell*, const TypedBlock*>> cells_;
};

std::int64_t clampCount(std::int64_t n) { return std::clamp<std::int64_t>(n, 0, INT32_MAX); }

// The row the skip counts from when the cells do not decide it, else 0:
// the range's first row with the flag or with both row bounds given.
std::int64_t fixedFirst(const ColumnOptions& options) {
  const bool exactRows = options.firstRow > 0 && options.lastRow > 0;
  if (!options.skipFromFirstRow && !exactRows) return 0;
  return options.firstRow > 0 ? options.firstRow : 1;
}

// Ends the blocks at the first row, in document order, that lies beyond
// the last wanted row (counted, while the first value is not yet known,
// from the first value seen so far). In the ascending rows of the format
// that drops only unwanted rows; the row jobs stop at the same place, so
// the result does not depend on how far each of them read.
void endAtLastWantedRow(std::vector<TypedBlock>& blocks, std::vector<std::vector<std::int64_t>>& positions,
                        const ColumnOptions& options, const std::vector<std::uint8_t>& wanted,
                        std::int64_t lowRow, std::int64_t highRow) {
  if (options.maxRows < 0 && options.lastRow <= 0) return;
  const std::int64_t fixed = fixedFirst(options);
  std::int64_t first = fixed > 0 ? fixed : INT64_MAX;
  std::int64_t stop = fixed > 0 ? lastWantedRow(options, fixed) : options.lastRow > 0 ? options.lastRow : INT64_MAX;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    TypedBlock& block = blocks[b];
    std::size_t c = 0;
    for (std::size_t r = 0; r < block.rows.size(); ++r) {
      const std::int64_t pos = positions[b][r];
      if (stop <= kLastRow && pos > stop) {
        while (c < block.cells.size() && block.cells[c].row < r) ++c;
        block.cells.resize(c);
        block.rows.resize(r);
        positions[b].resize(r);
        blocks.resize(b + 1);
        positions.resize(b + 1);
        return;
      }
      for (; c < block.cells.size() && block.cells[c].row == r; ++c) {
        if (fixed > 0 || pos < 0 || pos >= first || pos < lowRow || pos > highRow) continue;
        if (!wanted.empty() && !wanted[block.cells[c].column]) continue;
        first = pos;
        stop = lastWantedRow(options, first);
      }
    }
    if (block.stopped) {
      // Never reached in the format's order: the walk ends where the job did.
      blocks.resize(b + 1);
      positions.resize(b + 1);
      return;
    }
  }
}

}  // namespace

std::int64_t lastWantedRow(const ColumnOptions& options, std::int64_t first) {
  const std::int64_t fixed = fixedFirst(options);
  if (fixed > 0) first = fixed;
  std::int64_t last = options.lastRow > 0 ? options.lastRow : INT64_MAX;
  if (options.maxRows >= 0 && first < INT64_MAX) {
    const std::int64_t dataStart = first + clampCount(options.skipRows) + (options.header ? 1 : 0);
    last = std::min(last, dataStart + clampCount(options.maxRows) - 1);
  }
  return last;
}

bool stopDependsOnCells(const ColumnOptions& options) { return options.maxRows >= 0 && fixedFirst(options) == 0; }

TypedSelection selectionFor(const ColumnOptions& options, std::vector<std::uint8_t>& columnFlags,
                            std::int64_t& stopAfter) {
  TypedSelection selection;
  selection.kinds = options.kinds;
  if (!options.columns.empty() || options.firstColumn > 0 || options.lastColumn > 0) {
    columnFlags.assign(kLastMappedColumn + 1, 0);
    const std::uint32_t low = std::max<std::uint32_t>(1, options.firstColumn);
    const std::uint32_t high = options.lastColumn > 0 ? options.lastColumn : static_cast<std::uint32_t>(kLastMappedColumn);
    if (options.columns.empty()) {
      for (std::uint32_t c = low; c <= high && c <= kLastMappedColumn; ++c) columnFlags[c] = 1;
    } else {
      for (std::uint32_t c : options.columns)
        if (c >= low && c <= high && c <= kLastMappedColumn) columnFlags[c] = 1;
    }
    selection.columns = &columnFlags;
  }
  if (options.firstRow > 0) selection.firstRow = options.firstRow;
  if (options.lastRow > 0) selection.lastRow = options.lastRow;
  stopAfter = lastWantedRow(options, INT64_MAX);
  return selection;
}

SheetColumns assembleColumns(std::vector<TypedBlock>& blocks, const std::vector<std::string>& strings,
                             const ColumnOptions& options, std::uint64_t memoryLimit) {
  SheetColumns result;
  std::vector<std::vector<std::int64_t>> positions = rowPositions(blocks);

  std::vector<std::uint8_t> wanted;
  std::int64_t unusedStop = 0;
  selectionFor(options, wanted, unusedStop);
  const std::int64_t lowRow = options.firstRow > 0 ? options.firstRow : 0;
  const std::int64_t highRow = options.lastRow > 0 ? options.lastRow : INT64_MAX;
  endAtLastWantedRow(blocks, positions, options, wanted, lowRow, highRow);
  const KeptCells kept(blocks, positions);
  const auto selected = [&](const TypedCell& cell, std::int64_t pos) {
    return pos >= lowRow && pos <= highRow && (wanted.empty() || wanted[cell.column]);
  };
  // Without a selection every kept cell counts: the test stays out of the
  // passes over the cells.
  const bool everything = wanted.empty() && lowRow <= 0 && highRow == INT64_MAX;
  const auto forEachSelected = [&](auto visit) {
    if (everything) {
      kept.forEach(visit);
      return;
    }
    kept.forEach([&](const TypedCell& cell, const TypedBlock& block, std::int64_t pos) {
      if (selected(cell, pos)) visit(cell, block, pos);
    });
  };

  // The extent: from the first row holding a value (or the fixed first
  // row), skipRows on, a header row if asked, then data rows up to the
  // last holding a value (or exactly up to the range's last row).
  std::int64_t first = fixedFirst(options);
  std::int64_t firstValue = INT64_MAX;
  forEachSelected([&](const TypedCell&, const TypedBlock&, std::int64_t pos) { firstValue = std::min(firstValue, pos); });
  if (firstValue == INT64_MAX) return result;
  if (first == 0) first = firstValue;
  const std::int64_t start = first + clampCount(options.skipRows);
  const std::int64_t headerRow = options.header ? start : -1;
  const std::int64_t dataStart = start + (options.header ? 1 : 0);
  const std::int64_t limit = lastWantedRow(options, first);
  const bool exactRows = options.firstRow > 0 && options.lastRow > 0;
  std::int64_t dataEnd = dataStart - 1;
  std::uint32_t firstColumn = UINT32_MAX, lastColumn = 0;
  forEachSelected([&](const TypedCell& cell, const TypedBlock&, std::int64_t pos) {
    const bool data = pos >= dataStart && pos <= limit;
    if (data) dataEnd = std::max(dataEnd, pos);
    if (data || pos == headerRow) {
      firstColumn = std::min<std::uint32_t>(firstColumn, cell.column);
      lastColumn = std::max<std::uint32_t>(lastColumn, cell.column);
    }
  });
  if (lastColumn == 0) return result;
  // An exact range ends at its last row, or at the sheet's last row when it
  // reaches beyond (rows numbered further are damaged ones).
  if (exactRows) dataEnd = std::max(dataEnd, std::min(limit, kLastRow));

  // The columns: those asked for, the range's, or from the first to the
  // last holding a value.
  std::vector<std::uint32_t> chosen;
  const std::uint32_t lowColumn = std::max<std::uint32_t>(1, options.firstColumn);
  const std::uint32_t highColumn = options.lastColumn > 0 ? options.lastColumn : UINT32_MAX;
  if (!options.columns.empty()) {
    for (std::uint32_t c : options.columns)
      if (c >= lowColumn && c <= highColumn) chosen.push_back(c);
  } else {
    const std::uint32_t from = options.firstColumn > 0 && options.lastColumn > 0 ? options.firstColumn : firstColumn;
    const std::uint32_t to = options.firstColumn > 0 && options.lastColumn > 0 ? options.lastColumn : lastColumn;
    for (std::uint32_t c = from; c <= to; ++c) chosen.push_back(c);
  }
  std::vector<std::int32_t> slot(std::max<std::size_t>(kLastMappedColumn, kLastColumn) + 1, -1);
  for (std::size_t i = 0; i < chosen.size(); ++i) slot[chosen[i]] = static_cast<std::int32_t>(i);
  std::vector<std::uint8_t> asText(slot.size(), 0);
  for (std::uint32_t c : options.textColumns)
    if (c < asText.size()) asText[c] = 1;

  const std::int64_t rows = dataEnd - dataStart + 1;
  const std::size_t width = chosen.size();
  const auto inData = [&](std::int64_t pos) { return pos >= dataStart && pos <= dataEnd; };

  // Each column's type from the kinds of its data cells.
  std::vector<KindSet> seen(width, 0);
  std::vector<std::uint8_t> integral(width, 1);
  forEachSelected([&](const TypedCell& cell, const TypedBlock&, std::int64_t pos) {
    if (!inData(pos)) return;
    const std::int32_t c = slot[cell.column];
    if (c < 0) return;
    seen[c] |= bitOf(codeOf(cell.kind));
    if (options.kinds && cell.kind == TypedKind::Number && !isIntegral(cell.number)) integral[c] = 0;
  });
  result.rows = rows;
  result.columns.resize(width);
  std::uint64_t needed = 0;
  for (std::size_t c = 0; c < width; ++c) {
    ColumnType type = typeOf(seen[c], integral[c] != 0, options.kinds);
    if (asText[chosen[c]] && type != ColumnType::Null) type = ColumnType::Text;
    result.columns[c].type = type;
    needed += bytesFor(type, static_cast<std::uint64_t>(rows));
  }
  if (needed > memoryLimit)
    throw Failure(TABULON_OUT_OF_MEMORY, "the sheet's extent of " + std::to_string(rows) + " rows and " +
                                             std::to_string(width) + " columns needs " +
                                             std::to_string(needed >> 20) + " MiB, more than this machine has");

  const auto count = static_cast<std::size_t>(rows);
  std::vector<std::unique_ptr<UnionBuilder>> unions(width);
  for (std::size_t c = 0; c < width; ++c) {
    Column& column = result.columns[c];
    column.nulls = rows;
    column.length = rows;
    if (column.type == ColumnType::Null) continue;
    if (column.type == ColumnType::Union) {
      unions[c] = std::make_unique<UnionBuilder>(count);
      continue;
    }
    column.validity.assign((count + 7) / 8, 0);
    switch (column.type) {
      case ColumnType::Boolean:
        column.bits.assign((count + 7) / 8, 0);
        break;
      case ColumnType::Number:
        column.numbers.assign(count, 0.0);
        break;
      case ColumnType::Date:
      case ColumnType::Integer:
      case ColumnType::Duration:
      case ColumnType::Time:
        column.micros.assign(count, 0);
        break;
      case ColumnType::Text:
        column.indexes.assign(count, 0);
        break;
      default:
        break;
    }
  }

  // Values into place; names from the header row.
  std::vector<Dictionary> dictionaries(width);
  std::vector<std::string> names(width);
  std::string scratch;
  forEachSelected([&](const TypedCell& cell, const TypedBlock& block, std::int64_t pos) {
    const std::int32_t slotOf = slot[cell.column];
    if (slotOf < 0) return;
    const auto c = static_cast<std::size_t>(slotOf);
    if (pos == headerRow) {
      names[c] = textOf(cell, block, strings, scratch);
      return;
    }
    if (!inData(pos)) return;
    Column& column = result.columns[c];
    const auto i = static_cast<std::size_t>(pos - dataStart);
    if (column.type == ColumnType::Union) {
      unions[c]->place(i, cell, block);
      return;
    }
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (i & 7));
    column.validity[i >> 3] |= mask;
    switch (column.type) {
      case ColumnType::Number:
        column.numbers[i] = cell.number;
        break;
      case ColumnType::Integer:
        column.micros[i] = static_cast<std::int64_t>(cell.number);
        break;
      case ColumnType::Date:
      case ColumnType::Duration:
      case ColumnType::Time:
        column.micros[i] = cell.micros;
        break;
      case ColumnType::Boolean:
        if (cell.number != 0) column.bits[i >> 3] |= mask;
        else column.bits[i >> 3] &= static_cast<std::uint8_t>(~mask);
        break;
      case ColumnType::Text:
        if (cell.kind == TypedKind::SharedText) {
          column.indexes[i] = dictionaries[c].addShared(cell.shared, strings);
        } else {
          const std::string_view text = textOf(cell, block, strings, scratch);
          column.indexes[i] = dictionaries[c].add(text.data() == scratch.data() ? dictionaries[c].own(scratch) : text);
        }
        break;
      default:
        break;
    }
  });

  for (std::size_t c = 0; c < width; ++c) {
    Column& column = result.columns[c];
    column.name = options.header ? std::move(names[c]) : columnLetters(chosen[c]);
    if (column.type == ColumnType::Null) continue;
    if (column.type == ColumnType::Union) {
      unions[c]->finish(column, strings);
      unions[c].reset();
      column.nulls = 0;  // missing cells are kind 0, not nulls of the union
      continue;
    }
    std::int64_t present = 0;
    for (std::uint8_t byte : column.validity) present += __builtin_popcount(byte);
    column.nulls = rows - present;
    if (column.nulls == 0) std::vector<std::uint8_t>().swap(column.validity);
    if (column.type == ColumnType::Text) dictionaries[c].finish(column);
  }
  return result;
}

}  // namespace tabulon

namespace tabulon {
namespace {

// The text a number, boolean or date cell's value writes when its stored
// text is not kept: numbers in the shortest form that reads back the same
// value, without exponent.
std::string valueText(KindCode code, std::uint64_t bits) {
  if (code == KindCode::DateTime) return microsText(static_cast<std::int64_t>(bits));
  const double number = std::bit_cast<double>(bits);
  if (code == KindCode::Boolean) return number != 0 ? "1" : "0";
  char buffer[400];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed);
  return ec == std::errc() ? std::string(buffer, end) : std::string();
}

// Whether valueText gives a cell's stored text back, so that the text
// need not be kept. Decimal digits alone are the usual case and need no
// conversion.
bool textFollowsValue(const TypedCell& cell, std::string_view stored) {
  switch (cell.kind) {
    case TypedKind::Date:
      return cell.textLength == 0;
    case TypedKind::Boolean:
      return stored == (cell.number != 0 ? "1" : "0");
    case TypedKind::Number: {
      if (!stored.empty() && stored.size() <= 15 && (stored.size() == 1 || stored[0] != '0') &&
          std::all_of(stored.begin(), stored.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return true;
      return valueText(KindCode::Number, std::bit_cast<std::uint64_t>(cell.number)) == stored;
    }
    default:
      return false;
  }
}

// One column as it grows: a value per row in the buffer of its first
// kind (numbers and booleans as numbers, dates and elapsed times as
// microseconds, texts as indexes into its texts), which becomes the
// column's own; which rows hold a cell; and, once it holds two kinds, the
// bits of each row's value and each row's kind.
struct GrownColumn {
  enum class Store : std::uint8_t { Numbers, Micros, Indexes, Mixed };
  KindSet seen = 0;
  bool integral = true;
  KindCode code = KindCode::Missing;  // the kind of every cell while there is one
  Store store = Store::Numbers;
  std::size_t length = 0;  // rows held
  std::vector<double> numbers;
  std::vector<std::int64_t> micros;
  std::vector<std::int32_t> indexes;
  std::vector<std::uint64_t> values;  // Mixed
  std::vector<std::uint8_t> kinds;    // Mixed: by row
  std::vector<std::uint8_t> validity;
  Dictionary texts;                 // texts of text and error cells (every cell of a column read as text)
  // Stored texts that the values do not give back (numbers written in
  // another form, booleans written as words, the 1900-02-29 that never
  // was), for a column that turns to text: row and place in exceptionText.
  struct Exception {
    std::uint64_t row, offset, length;
  };
  std::vector<Exception> exceptions;
  std::string exceptionText;

  static Store storeOf(KindCode code) {
    switch (code) {
      case KindCode::Boolean:
      case KindCode::Number:
        return Store::Numbers;
      case KindCode::DateTime:
      case KindCode::Duration:
      case KindCode::Time:
        return Store::Micros;
      default:
        return Store::Indexes;
    }
  }

  bool present(std::size_t i) const { return i < length && (validity[i >> 3] >> (i & 7) & 1); }
  KindCode codeAt(std::size_t i) const {
    if (!present(i)) return KindCode::Missing;
    return store == Store::Mixed ? static_cast<KindCode>(kinds[i]) : code;
  }
  std::uint64_t bitsAt(std::size_t i) const {
    switch (store) {
      case Store::Numbers:
        return std::bit_cast<std::uint64_t>(numbers[i]);
      case Store::Micros:
        return static_cast<std::uint64_t>(micros[i]);
      case Store::Indexes:
        return static_cast<std::uint32_t>(indexes[i]);
      default:
        return values[i];
    }
  }

  // Room for rows up to i, reserved for about expected rows at first.
  void extend(std::size_t i, std::size_t expected) {
    if (length == 0 && expected > 0) {
      validity.reserve(expected / 8 + 1);
      switch (store) {
        case Store::Numbers: numbers.reserve(expected); break;
        case Store::Micros: micros.reserve(expected); break;
        default: indexes.reserve(expected); break;
      }
    }
    length = i + 1;
    validity.resize(i / 8 + 1, 0);
    switch (store) {
      case Store::Numbers: numbers.resize(length, 0.0); break;
      case Store::Micros: micros.resize(length, 0); break;
      case Store::Indexes: indexes.resize(length, 0); break;
      case Store::Mixed:
        values.resize(length, 0);
        kinds.resize(length, 0);
        break;
    }
  }

  // From one kind's buffer to the bits and kind of every row.
  void mix() {
    values.resize(length);
    for (std::size_t i = 0; i < length; ++i) values[i] = bitsAt(i);
    kinds.assign(length, static_cast<std::uint8_t>(code));
    std::vector<double>().swap(numbers);
    std::vector<std::int64_t>().swap(micros);
    std::vector<std::int32_t>().swap(indexes);
    store = Store::Mixed;
  }

  void set(std::size_t i, KindCode cellCode, std::uint64_t bits) {
    switch (store) {
      case Store::Numbers: numbers[i] = std::bit_cast<double>(bits); break;
      case Store::Micros: micros[i] = static_cast<std::int64_t>(bits); break;
      case Store::Indexes: indexes[i] = static_cast<std::int32_t>(bits); break;
      case Store::Mixed:
        values[i] = bits;
        kinds[i] = static_cast<std::uint8_t>(cellCode);
        break;
    }
  }
};

}  // namespace

struct GrowingColumns::State {
  State(const std::vector<std::string>& strings, const ColumnOptions& options, std::uint64_t memoryLimit)
      : strings(strings), options(options), memoryLimit(memoryLimit) {
    std::int64_t unusedStop = 0;
    selectionFor(options, wanted, unusedStop);
    lowRow = options.firstRow > 0 ? options.firstRow : 0;
    highRow = options.lastRow > 0 ? options.lastRow : INT64_MAX;
    limited = options.maxRows >= 0 || options.lastRow > 0;
    fixed = fixedFirst(options);
    stop = fixed > 0 ? lastWantedRow(options, fixed) : options.lastRow > 0 ? options.lastRow : INT64_MAX;
    for (std::uint32_t c : options.textColumns)
      if (c <= kLastMappedColumn) {
        if (asText.size() <= c) asText.resize(c + 1, 0);
        asText[c] = 1;
      }
  }

  bool selected(const TypedCell& cell, std::int64_t pos) const {
    return pos >= lowRow && pos <= highRow && (wanted.empty() || wanted[cell.column]);
  }

  // The extent's rows, once the first value's row is known.
  void startAt(std::int64_t firstPos) {
    firstValue = firstPos;
    first = fixed > 0 ? fixed : firstPos;
    const std::int64_t start = first + clampCount(options.skipRows);
    headerRow = options.header ? start : -1;
    dataStart = start + (options.header ? 1 : 0);
    limit = lastWantedRow(options, first);
    dataEnd = dataStart - 1;
    if (limited && fixed == 0) stop = lastWantedRow(options, firstPos);
  }

  void place(const TypedCell& cell, const TypedBlock& block, std::int64_t pos) {
    const bool data = pos >= dataStart && pos <= limit;
    if (!data && pos != headerRow) return;
    firstColumn = std::min<std::uint32_t>(firstColumn, cell.column);
    lastColumn = std::max<std::uint32_t>(lastColumn, cell.column);
    if (pos == headerRow) {
      names[cell.column] = std::string(textOf(cell, block, strings, scratch));
      return;
    }
    dataEnd = std::max(dataEnd, pos);
    if (columns.size() <= cell.column) columns.resize(cell.column + 1);
    std::unique_ptr<GrownColumn>& slot = columns[cell.column];
    if (slot == nullptr) slot = std::make_unique<GrownColumn>();
    put(*slot, cell, block, static_cast<std::size_t>(pos - dataStart), cell.column < asText.size() && asText[cell.column]);
  }

  void put(GrownColumn& g, const TypedCell& cell, const TypedBlock& block, std::size_t i, bool readAsText) {
    const KindCode code = codeOf(cell.kind);
    if (g.code == KindCode::Missing) {
      g.code = code;
      g.store = readAsText ? GrownColumn::Store::Indexes : GrownColumn::storeOf(code);
    }
    if (i >= g.length) {
      cellsHeld += i + 1 - g.length;
      // Eight bytes and a bit per row: what the column costs while it grows.
      if (cellsHeld * 9 > memoryLimit)
        throw Failure(TABULON_OUT_OF_MEMORY, "the sheet's extent of " + std::to_string(i + 1) + " rows and " +
                                                 std::to_string(columns.size() - 1) + " columns needs " +
                                                 std::to_string((cellsHeld * 9) >> 20) +
                                                 " MiB, more than this machine has");
      g.extend(i, reserveFor());
    }
    g.validity[i >> 3] |= static_cast<std::uint8_t>(1u << (i & 7));
    g.seen |= bitOf(code);
    if (readAsText) {
      g.set(i, code, static_cast<std::uint32_t>(addText(g, cell, block)));
      return;
    }
    if (options.kinds && cell.kind == TypedKind::Number && !isIntegral(cell.number)) g.integral = false;
    if (g.store != GrownColumn::Store::Mixed && g.code != code) g.mix();
    switch (code) {
      case KindCode::Boolean:
      case KindCode::Number:
        g.set(i, code, std::bit_cast<std::uint64_t>(cell.number));
        break;
      case KindCode::DateTime:
      case KindCode::Duration:
      case KindCode::Time:
        g.set(i, code, static_cast<std::uint64_t>(cell.micros));
        break;
      default:
        g.set(i, code, static_cast<std::uint32_t>(addText(g, cell, block)));
        return;
    }
    // Without kinds told apart, a column of mixed kinds is text: keep what
    // the value cannot give back.
    if (!options.kinds && code != KindCode::Duration && code != KindCode::Time) {
      const std::string_view stored = std::string_view(block.arena).substr(cell.textOffset, cell.textLength);
      if (!textFollowsValue(cell, stored)) {
        g.exceptions.push_back({i, g.exceptionText.size(), stored.size()});
        g.exceptionText.append(stored);
      }
    }
  }

  // Rows a new column sets room aside for: those the sheet likely has
  // from the first data row on, while what is set aside stays within the
  // memory allowed.
  std::size_t reserveFor() {
    if (expectedRows <= dataStart) return 0;
    const auto rows = static_cast<std::uint64_t>(std::min(expectedRows, kLastRow) - dataStart + 1);
    if ((reserved + rows) * 9 > memoryLimit) return 0;
    reserved += rows;
    return static_cast<std::size_t>(rows);
  }

  std::int32_t addText(GrownColumn& g, const TypedCell& cell, const TypedBlock& block) {
    if (cell.kind == TypedKind::SharedText) return g.texts.addShared(cell.shared, strings);
    return g.texts.addCopy(textOf(cell, block, strings, scratch));
  }

  const std::vector<std::string>& strings;
  const ColumnOptions& options;
  std::uint64_t memoryLimit;
  std::vector<std::uint8_t> wanted;
  std::int64_t lowRow = 0, highRow = INT64_MAX;
  bool limited = false;
  std::int64_t fixed = 0;
  std::int64_t stop = INT64_MAX;  // rows beyond it end the sheet (when limited)
  std::int64_t firstValue = INT64_MAX, first = 0, headerRow = -1, dataStart = 0, limit = INT64_MAX, dataEnd = 0;
  std::uint32_t firstColumn = UINT32_MAX, lastColumn = 0;
  RowCounter counter;
  std::uint64_t lastKey = 0;
  bool anyKey = false;
  bool ended = false, unordered = false;
  std::vector<std::uint8_t> asText;                   // by column number
  std::vector<std::unique_ptr<GrownColumn>> columns;  // by column number
  std::unordered_map<std::uint32_t, std::string> names;  // header texts by column number
  std::uint64_t cellsHeld = 0;
  std::int64_t expectedRows = 0;  // the sheet's likely last row
  std::uint64_t reserved = 0;     // rows set aside in all columns
  std::string scratch;
};

GrowingColumns::GrowingColumns(const std::vector<std::string>& strings, const ColumnOptions& options,
                               std::uint64_t memoryLimit)
    : state_(std::make_unique<State>(strings, options, memoryLimit)) {}

GrowingColumns::~GrowingColumns() = default;

bool GrowingColumns::ended() const { return state_->ended; }

void GrowingColumns::expectRows(std::int64_t lastRow) { state_->expectedRows = lastRow; }

bool GrowingColumns::add(const TypedBlock& block) {
  State& s = *state_;
  if (s.unordered) return false;
  if (s.ended) return true;
  std::size_t c = 0;
  for (std::size_t r = 0; r < block.rows.size(); ++r) {
    const std::int64_t number = s.counter.next(block.rows[r]);
    const RowPlace place = placeOf(number);
    const std::int64_t pos = place == RowPlace::None ? -1 : number;
    // As endAtLastWantedRow: the first row beyond the last wanted one ends
    // the sheet (rows beyond the last sheet row lie beyond any such row).
    if (s.limited && s.stop <= kLastRow && pos > s.stop) {
      s.ended = true;
      return true;
    }
    // Placed after every other row, which only the whole sheet tells.
    if (place == RowPlace::Beyond) {
      s.unordered = true;
      return false;
    }
    for (; c < block.cells.size() && block.cells[c].row == r; ++c) {
      if (pos < 0) continue;
      const TypedCell& cell = block.cells[c];
      // A cell at or before the one before it may replace it or come first.
      const std::uint64_t key = static_cast<std::uint64_t>(pos) << 16 | cell.column;
      if (s.anyKey && key <= s.lastKey) {
        s.unordered = true;
        return false;
      }
      s.lastKey = key;
      s.anyKey = true;
      if (!s.selected(cell, pos)) continue;
      if (s.firstValue == INT64_MAX) s.startAt(pos);
      s.place(cell, block, pos);
    }
  }
  if (block.stopped && s.limited) s.ended = true;
  return true;
}

SheetColumns GrowingColumns::finish() {
  State& s = *state_;
  const ColumnOptions& options = s.options;
  SheetColumns result;
  if (s.firstValue == INT64_MAX || s.lastColumn == 0) return result;
  std::int64_t dataEnd = s.dataEnd;
  if (options.firstRow > 0 && options.lastRow > 0) dataEnd = std::max(dataEnd, std::min(s.limit, kLastRow));

  std::vector<std::uint32_t> chosen;
  const std::uint32_t lowColumn = std::max<std::uint32_t>(1, options.firstColumn);
  const std::uint32_t highColumn = options.lastColumn > 0 ? options.lastColumn : UINT32_MAX;
  if (!options.columns.empty()) {
    for (std::uint32_t c : options.columns)
      if (c >= lowColumn && c <= highColumn) chosen.push_back(c);
  } else {
    const bool range = options.firstColumn > 0 && options.lastColumn > 0;
    const std::uint32_t from = range ? options.firstColumn : s.firstColumn;
    const std::uint32_t to = range ? options.lastColumn : s.lastColumn;
    for (std::uint32_t c = from; c <= to; ++c) chosen.push_back(c);
  }
  const std::int64_t rows = dataEnd - s.dataStart + 1;
  const std::size_t width = chosen.size();
  const auto count = static_cast<std::size_t>(rows);
  const auto grown = [&](std::uint32_t column) -> GrownColumn* {
    return column < s.columns.size() ? s.columns[column].get() : nullptr;
  };

  result.rows = rows;
  result.columns.resize(width);
  std::uint64_t needed = 0;
  for (std::size_t c = 0; c < width; ++c) {
    const GrownColumn* g = grown(chosen[c]);
    ColumnType type = g == nullptr ? ColumnType::Null : typeOf(g->seen, g->integral, options.kinds);
    const bool readAsText = chosen[c] < s.asText.size() && s.asText[chosen[c]];
    if (readAsText && type != ColumnType::Null) type = ColumnType::Text;
    result.columns[c].type = type;
    needed += bytesFor(type, static_cast<std::uint64_t>(rows));
  }
  if (needed > s.memoryLimit)
    throw Failure(TABULON_OUT_OF_MEMORY, "the sheet's extent of " + std::to_string(rows) + " rows and " +
                                             std::to_string(width) + " columns needs " +
                                             std::to_string(needed >> 20) + " MiB, more than this machine has");

  for (std::size_t c = 0; c < width; ++c) {
    Column& column = result.columns[c];
    if (options.header) {
      auto name = s.names.find(chosen[c]);
      if (name != s.names.end()) column.name = std::move(name->second);
    } else {
      column.name = columnLetters(chosen[c]);
    }
    column.nulls = rows;
    column.length = rows;
    if (column.type == ColumnType::Null) continue;
    std::unique_ptr<GrownColumn> owned = std::move(s.columns[chosen[c]]);
    GrownColumn& g = *owned;
    const std::size_t held = g.length;
    if (column.type == ColumnType::Union) {
      startUnion(column, count);
      for (std::size_t i = 0; i < count; ++i) {
        const KindCode code = g.codeAt(i);
        Column& child = column.children[static_cast<int>(code)];
        const std::int64_t at = placeInUnion(column, i, code);
        switch (code) {
          case KindCode::Missing:
            break;
          case KindCode::Boolean:
            if (static_cast<std::size_t>(at >> 3) >= child.bits.size()) child.bits.push_back(0);
            if (std::bit_cast<double>(g.bitsAt(i)) != 0)
              child.bits[static_cast<std::size_t>(at >> 3)] |= static_cast<std::uint8_t>(1u << (at & 7));
            break;
          case KindCode::Number:
            child.numbers.push_back(std::bit_cast<double>(g.bitsAt(i)));
            break;
          case KindCode::DateTime:
          case KindCode::Duration:
          case KindCode::Time:
            child.micros.push_back(static_cast<std::int64_t>(g.bitsAt(i)));
            break;
          case KindCode::Text:
          case KindCode::Error: {
            const std::string_view text = g.texts.value(static_cast<std::int32_t>(g.bitsAt(i)));
            if (child.characters.size() + text.size() > static_cast<std::size_t>(INT32_MAX))
              throw Failure(TABULON_OUT_OF_MEMORY, "the texts of column " + column.name + " exceed 2 GiB");
            child.characters.append(text);
            child.offsets.push_back(static_cast<std::int32_t>(child.characters.size()));
            break;
          }
        }
      }
      column.children[0].nulls = column.children[0].length;
      column.nulls = 0;  // missing cells are kind 0, not nulls of the union
      continue;
    }
    switch (column.type) {
      case ColumnType::Boolean:
        column.bits.assign((count + 7) / 8, 0);
        for (std::size_t i = 0; i < held; ++i)
          if (g.present(i) && std::bit_cast<double>(g.bitsAt(i)) != 0)
            column.bits[i >> 3] |= static_cast<std::uint8_t>(1u << (i & 7));
        break;
      case ColumnType::Number:
        // The column's own buffer is the one it grew in.
        column.numbers = std::move(g.numbers);
        column.numbers.resize(count, 0.0);
        break;
      case ColumnType::Integer:
        column.micros.resize(count);
        for (std::size_t i = 0; i < held; ++i)
          column.micros[i] = g.present(i) ? static_cast<std::int64_t>(g.numbers[i]) : 0;
        break;
      case ColumnType::Date:
      case ColumnType::Duration:
      case ColumnType::Time:
        column.micros = std::move(g.micros);
        column.micros.resize(count, 0);
        break;
      case ColumnType::Text: {
        if (g.store == GrownColumn::Store::Indexes) {
          column.indexes = std::move(g.indexes);
          column.indexes.resize(count, 0);
          g.texts.finish(column);
          break;
        }
        column.indexes.resize(count);
        // Mixed kinds: every cell's text as the sheet's text writes it, in
        // row order, into a dictionary of its own.
        Dictionary texts;
        std::size_t exception = 0;
        for (std::size_t i = 0; i < held; ++i) {
          const KindCode code = g.codeAt(i);
          if (code == KindCode::Missing) continue;
          if (code == KindCode::Text || code == KindCode::Error) {
            column.indexes[i] = texts.add(g.texts.value(static_cast<std::int32_t>(g.bitsAt(i))));
          } else if (exception < g.exceptions.size() && g.exceptions[exception].row == i) {
            const GrownColumn::Exception& e = g.exceptions[exception++];
            column.indexes[i] = texts.add(std::string_view(g.exceptionText).substr(e.offset, e.length));
          } else {
            column.indexes[i] = texts.addCopy(valueText(code, g.bitsAt(i)));
          }
        }
        texts.finish(column);
        break;
      }
      default:
        break;
    }
    column.validity = std::move(g.validity);
    column.validity.resize((count + 7) / 8, 0);
    std::int64_t present = 0;
    for (std::uint8_t byte : column.validity) present += __builtin_popcount(byte);
    column.nulls = rows - present;
    if (column.nulls == 0) std::vector<std::uint8_t>().swap(column.validity);
  }
  return result;
}

}  // namespace tabulon
