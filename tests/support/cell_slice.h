// A selection's columns against the same slice of a whole sheet's, cell by
// cell, for the tests and the fuzz target that read one sheet both ways.
// Both reads tell every kind apart, so a cell reads the same whatever
// column type its neighbours give it.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "parse/row_scan.h"
#include "parse/sheet_columns.h"

namespace tabulon::test {

inline bool present(const Column& column, std::size_t i) {
  return column.validity.empty() || (column.validity[i >> 3] >> (i & 7) & 1);
}

inline std::string textAt(const Column& column, std::size_t i) {
  return column.characters.substr(static_cast<std::size_t>(column.offsets[i]),
                                  static_cast<std::size_t>(column.offsets[i + 1] - column.offsets[i]));
}

// Row i of column as "<kind code>:<value>" ("0" when missing); numbers of
// either type by their bits as a double.
inline std::string kindCell(const Column& column, std::size_t i) {
  const auto number = [](double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return std::to_string(bits);
  };
  if (column.type == ColumnType::Union) {
    const int code = column.typeIds[i];
    if (code == 0) return "0";
    const Column& child = column.children[static_cast<std::size_t>(code)];
    const auto at = static_cast<std::size_t>(column.unionOffsets[i]);
    switch (static_cast<KindCode>(code)) {
      case KindCode::Boolean:
        return "1:" + std::to_string(child.bits[at >> 3] >> (at & 7) & 1);
      case KindCode::Number:
        return "2:" + number(child.numbers[at]);
      case KindCode::Text:
      case KindCode::Error:
        return std::to_string(code) + ":" + textAt(child, at);
      default:
        return std::to_string(code) + ":" + std::to_string(child.micros[at]);
    }
  }
  if (column.type == ColumnType::Null || !present(column, i)) return "0";
  switch (column.type) {
    case ColumnType::Boolean:
      return "1:" + std::to_string(column.bits[i >> 3] >> (i & 7) & 1);
    case ColumnType::Number:
      return "2:" + number(column.numbers[i]);
    case ColumnType::Integer:
      return "2:" + number(static_cast<double>(column.micros[i]));
    case ColumnType::Date:
      return "3:" + std::to_string(column.micros[i]);
    case ColumnType::Duration:
      return "4:" + std::to_string(column.micros[i]);
    case ColumnType::Time:
      return "5:" + std::to_string(column.micros[i]);
    case ColumnType::Text:
      return "6:" + textAt(column, static_cast<std::size_t>(column.indexes[i]));
    default:
      return "?";
  }
}

inline std::uint32_t columnNumber(std::string_view letters) {
  std::uint32_t n = 0;
  for (char c : letters) n = n * 26 + static_cast<std::uint32_t>(c - 'A' + 1);
  return n;
}

// Where a selection's rows and columns lie on the sheet.
struct Slice {
  std::int64_t firstRow;  // the sheet row of the selection's row 0
  std::int64_t lastRow;   // the last sheet row it may hold
  std::uint32_t firstColumn, lastColumn;
  std::vector<std::uint32_t> columns;  // empty: all from firstColumn to lastColumn
};

// "" when part holds exactly the cells of whole (read with skip counted
// from row 1, no header: its row 0 is sheet row 1) inside slice, else the
// first difference. Column names must be letters.
inline std::string sliceDifference(const SheetColumns& whole, const SheetColumns& part, const Slice& slice) {
  std::map<std::uint32_t, const Column*> wholeBy, partBy;
  for (const Column& c : whole.columns) wholeBy[columnNumber(c.name)] = &c;
  for (const Column& c : part.columns) partBy[columnNumber(c.name)] = &c;
  const auto wanted = [&](std::uint32_t column) {
    if (column < slice.firstColumn || column > slice.lastColumn) return false;
    if (slice.columns.empty()) return true;
    for (std::uint32_t c : slice.columns)
      if (c == column) return true;
    return false;
  };
  const auto wholeCell = [&](std::uint32_t column, std::int64_t row) -> std::string {
    auto it = wholeBy.find(column);
    if (it == wholeBy.end() || row < 1 || row > whole.rows) return "0";
    return kindCell(*it->second, static_cast<std::size_t>(row - 1));
  };
  for (const auto& [column, c] : partBy) {
    if (!wanted(column)) return "column " + c->name + " is not in the selection";
    for (std::int64_t i = 0; i < part.rows; ++i) {
      const std::int64_t row = slice.firstRow + i;
      const std::string mine = kindCell(*c, static_cast<std::size_t>(i));
      if (row > slice.lastRow && mine != "0") return "a value past the last row at " + c->name + std::to_string(row);
      if (row <= slice.lastRow && mine != wholeCell(column, row))
        return "cell " + c->name + std::to_string(row) + " reads " + mine + " against " + wholeCell(column, row);
    }
  }
  for (const auto& [column, c] : wholeBy) {
    if (!wanted(column)) continue;
    auto mine = partBy.find(column);
    for (std::int64_t row = slice.firstRow; row <= std::min(slice.lastRow, whole.rows); ++row) {
      const std::string theirs = kindCell(*c, static_cast<std::size_t>(row - 1));
      if (theirs == "0") continue;
      const std::int64_t i = row - slice.firstRow;
      if (mine == partBy.end() || i >= part.rows) return "cell " + c->name + std::to_string(row) + " is left out";
    }
  }
  return std::string();
}

// Whether the row elements of worksheet XML come in ascending order of
// their numbers (a row without one follows the row before): the order of
// the format, in which a limited read equals the slice of a whole one.
inline bool rowsAscending(std::string_view xml) {
  struct Rows {
    std::int64_t previous = 0;
    bool ascending = true;
    void startRow(bool numbered, std::string_view r) {
      std::int32_t number = 0;
      if (!numbered) {
        ++previous;
        return;
      }
      if (!rowscan::parseInt(r, number)) number = 0;
      if (number < previous) ascending = false;
      previous = number;
    }
    bool cell(const rowscan::CellInput&) { return true; }
    void finishRow() {}
  } rows;
  rowscan::scanRows(xml, rows);
  return rows.ascending;
}

}  // namespace tabulon::test
