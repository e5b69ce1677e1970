// How two sets of typed columns differ, for the tests and fuzz targets that
// read one sheet in several ways and expect the same columns.
#pragma once

#include <cstring>
#include <string>

#include "parse/sheet_columns.h"

namespace tabulon::test {

// "" when a and b are equal in every buffer (numbers bit for bit: any cut
// that changes one changes its bits), else what differs first.
inline bool sameColumn(const Column& x, const Column& y) {
  const bool numbers = x.numbers.size() == y.numbers.size() &&
                       (x.numbers.empty() ||
                        std::memcmp(x.numbers.data(), y.numbers.data(), x.numbers.size() * sizeof(double)) == 0);
  if (x.name != y.name || x.type != y.type || x.length != y.length || x.nulls != y.nulls ||
      x.validity != y.validity || x.bits != y.bits || !numbers || x.micros != y.micros || x.indexes != y.indexes ||
      x.offsets != y.offsets || x.characters != y.characters || x.typeIds != y.typeIds ||
      x.unionOffsets != y.unionOffsets || x.children.size() != y.children.size())
    return false;
  for (std::size_t i = 0; i < x.children.size(); ++i)
    if (!sameColumn(x.children[i], y.children[i])) return false;
  return true;
}

inline std::string columnsDifference(const SheetColumns& a, const SheetColumns& b) {
  if (a.rows != b.rows) return std::to_string(a.rows) + " rows against " + std::to_string(b.rows);
  if (a.columns.size() != b.columns.size())
    return std::to_string(a.columns.size()) + " columns against " + std::to_string(b.columns.size());
  for (std::size_t i = 0; i < a.columns.size(); ++i)
    if (!sameColumn(a.columns[i], b.columns[i]))
      return "column " + a.columns[i].name + " (" + std::to_string(i) + ") differs";
  return std::string();
}

}  // namespace tabulon::test
