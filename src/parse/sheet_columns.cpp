#include "parse/sheet_columns.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <string_view>
#include <unordered_map>

#include "base/failure.h"
#include "cells/date_time.h"

namespace tabulon {
namespace {

// Rows up to the format's last row keep their number as their position; a
// row numbered beyond it (only damaged files have one) comes after them,
// in order, so one absurd number cannot make the extent huge.
constexpr std::int64_t kLastRow = 1048576;

constexpr std::uint8_t bitOf(TypedKind kind) { return static_cast<std::uint8_t>(1u << static_cast<unsigned>(kind)); }

// The sheet position of every row element, block by block; -1 for rows
// that have none (negative or unrepresentable numbers).
std::vector<std::vector<std::int64_t>> rowPositions(const std::vector<TypedBlock>& blocks) {
  std::vector<std::vector<std::int64_t>> positions(blocks.size());
  std::vector<std::int64_t> beyond;
  std::int64_t previous = 0;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    positions[b].reserve(blocks[b].rows.size());
    for (const RowHead& row : blocks[b].rows) {
      const std::int64_t number = row.numbered ? row.number : previous + 1;
      previous = number;
      std::int64_t position = number < 0 || number > INT_MAX ? -1 : number;
      if (position > kLastRow) beyond.push_back(position);
      positions[b].push_back(position);
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
std::string_view textOf(const TypedCell& cell, const TypedBlock& block, const std::vector<std::string>& strings,
                        std::string& scratch) {
  switch (cell.kind) {
    case TypedKind::SharedText:
      return strings[cell.shared];
    case TypedKind::Date:
      scratch = microsText(cell.micros);
      return scratch;
    default:
      return std::string_view(block.arena).substr(cell.textOffset, cell.textLength);
  }
}

ColumnType typeOf(std::uint8_t seen) {
  if (seen == 0) return ColumnType::Null;
  if (seen == bitOf(TypedKind::Number)) return ColumnType::Number;
  if (seen == bitOf(TypedKind::Date)) return ColumnType::Date;
  if (seen == bitOf(TypedKind::Boolean)) return ColumnType::Boolean;
  return ColumnType::Text;
}

std::uint64_t bytesFor(ColumnType type, std::uint64_t rows) {
  const std::uint64_t bitmap = (rows + 7) / 8;
  switch (type) {
    case ColumnType::Null:
      return 0;
    case ColumnType::Boolean:
      return 2 * bitmap;
    case ColumnType::Text:
      return bitmap + 4 * rows;
    default:
      return bitmap + 8 * rows;
  }
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

SheetColumns assembleColumns(std::vector<TypedBlock>& blocks, const std::vector<std::string>& strings,
                             const ColumnOptions& options, std::uint64_t memoryLimit) {
  SheetColumns result;
  const std::vector<std::vector<std::int64_t>> positions = rowPositions(blocks);
  const KeptCells kept(blocks, positions);

  // The extent: from the first row holding a value, skipRows on, a header
  // row if asked, then data rows up to the last holding a value.
  std::int64_t first = INT64_MAX;
  kept.forEach([&](const TypedCell&, const TypedBlock&, std::int64_t pos) { first = std::min(first, pos); });
  if (first == INT64_MAX) return result;
  const std::int64_t start = first + std::max<std::int64_t>(0, std::min<std::int64_t>(options.skipRows, INT32_MAX));
  const std::int64_t headerRow = options.header ? start : -1;
  const std::int64_t dataStart = start + (options.header ? 1 : 0);
  const std::int64_t limit =
      options.maxRows < 0 ? INT64_MAX : dataStart + std::min<std::int64_t>(options.maxRows, INT32_MAX) - 1;
  std::int64_t dataEnd = dataStart - 1;
  std::uint32_t firstColumn = UINT32_MAX, lastColumn = 0;
  kept.forEach([&](const TypedCell& cell, const TypedBlock&, std::int64_t pos) {
    const bool data = pos >= dataStart && pos <= limit;
    if (data) dataEnd = std::max(dataEnd, pos);
    if (data || pos == headerRow) {
      firstColumn = std::min<std::uint32_t>(firstColumn, cell.column);
      lastColumn = std::max<std::uint32_t>(lastColumn, cell.column);
    }
  });
  if (lastColumn == 0) return result;
  const std::int64_t rows = dataEnd - dataStart + 1;
  const std::size_t width = lastColumn - firstColumn + 1;
  const auto inData = [&](std::int64_t pos) { return pos >= dataStart && pos <= dataEnd; };

  // Each column's type from the kinds of its data cells.
  std::vector<std::uint8_t> seen(width, 0);
  kept.forEach([&](const TypedCell& cell, const TypedBlock&, std::int64_t pos) {
    if (inData(pos)) seen[cell.column - firstColumn] |= bitOf(cell.kind);
  });
  result.rows = rows;
  result.columns.resize(width);
  std::uint64_t needed = 0;
  for (std::size_t c = 0; c < width; ++c) {
    result.columns[c].type = typeOf(seen[c]);
    needed += bytesFor(result.columns[c].type, static_cast<std::uint64_t>(rows));
  }
  if (needed > memoryLimit)
    throw Failure(TABULON_OUT_OF_MEMORY, "the sheet's extent of " + std::to_string(rows) + " rows and " +
                                             std::to_string(width) + " columns needs " +
                                             std::to_string(needed >> 20) + " MiB, more than this machine has");

  const auto count = static_cast<std::size_t>(rows);
  for (Column& column : result.columns) {
    column.nulls = rows;
    if (column.type == ColumnType::Null) continue;
    column.validity.assign((count + 7) / 8, 0);
    switch (column.type) {
      case ColumnType::Boolean:
        column.bits.assign((count + 7) / 8, 0);
        break;
      case ColumnType::Number:
        column.numbers.assign(count, 0.0);
        break;
      case ColumnType::Date:
        column.micros.assign(count, 0);
        break;
      case ColumnType::Text:
        column.indexes.assign(count, 0);
        break;
      case ColumnType::Null:
        break;
    }
  }

  // Values into place; names from the header row.
  std::vector<Dictionary> dictionaries(width);
  std::vector<std::string> names(width);
  std::string scratch;
  kept.forEach([&](const TypedCell& cell, const TypedBlock& block, std::int64_t pos) {
    const std::size_t c = cell.column - firstColumn;
    if (pos == headerRow) {
      names[c] = textOf(cell, block, strings, scratch);
      return;
    }
    if (!inData(pos)) return;
    Column& column = result.columns[c];
    const auto i = static_cast<std::size_t>(pos - dataStart);
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (i & 7));
    column.validity[i >> 3] |= mask;
    switch (column.type) {
      case ColumnType::Number:
        column.numbers[i] = cell.number;
        break;
      case ColumnType::Date:
        column.micros[i] = cell.micros;
        break;
      case ColumnType::Boolean:
        if (cell.number != 0) column.bits[i >> 3] |= mask;
        else column.bits[i >> 3] &= static_cast<std::uint8_t>(~mask);
        break;
      case ColumnType::Text:
        if (cell.kind == TypedKind::SharedText) {
          column.indexes[i] = dictionaries[c].addShared(cell.shared, strings);
        } else if (cell.kind == TypedKind::Date) {
          column.indexes[i] = dictionaries[c].add(dictionaries[c].own(microsText(cell.micros)));
        } else {
          column.indexes[i] = dictionaries[c].add(textOf(cell, block, strings, scratch));
        }
        break;
      case ColumnType::Null:
        break;
    }
  });

  for (std::size_t c = 0; c < width; ++c) {
    Column& column = result.columns[c];
    column.name = options.header ? std::move(names[c]) : columnLetters(firstColumn + static_cast<std::uint32_t>(c));
    if (column.type == ColumnType::Null) continue;
    std::int64_t present = 0;
    for (std::uint8_t byte : column.validity) present += __builtin_popcount(byte);
    column.nulls = rows - present;
    if (column.nulls == 0) std::vector<std::uint8_t>().swap(column.validity);
    if (column.type == ColumnType::Text) dictionaries[c].finish(column);
  }
  return result;
}

}  // namespace tabulon
