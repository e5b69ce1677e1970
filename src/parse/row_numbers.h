// The numbers of row elements, as every reader of rows gives them: the
// number written in r, or, for a row without one, the number after the
// previous row's. A row with no number a host can be told of (negative, or
// beyond 32 bits) has no place; one numbered beyond the format's last row
// (only damaged files have one) is placed after every other row.
#pragma once

#include <climits>
#include <cstdint>
#include <string_view>

#include "parse/row_scan.h"

namespace tabulon {

// The format's last row.
constexpr std::int64_t kLastSheetRow = 1048576;

// A row element's number as written.
struct RowNumber {
  std::int32_t number = 0;  // as written in r; meaningless when !numbered
  bool numbered = false;    // false: the previous row's number + 1
};

// The number of a row start tag: numbered when it has r, and an unreadable
// r counts as row 0, as an unset number would.
inline RowNumber rowNumberOf(bool hasR, std::string_view r) {
  RowNumber row;
  if (!hasR) return row;
  row.numbered = true;
  if (!rowscan::parseInt(r, row.number)) row.number = 0;
  return row;
}

// Gives each row element of a sheet, in document order, its number.
class RowCounter {
 public:
  std::int64_t next(const RowNumber& row) {
    previous_ = row.numbered ? row.number : previous_ + 1;
    return previous_;
  }
  std::int64_t previous() const { return previous_; }

 private:
  std::int64_t previous_ = 0;
};

enum class RowPlace : std::uint8_t {
  None,    // negative or beyond 32 bits: the row is left out
  Sheet,   // within the format's rows: placed by its number
  Beyond,  // after every other row, in the order of the numbers
};

inline RowPlace placeOf(std::int64_t number) {
  if (number < 0 || number > INT_MAX) return RowPlace::None;
  return number <= kLastSheetRow ? RowPlace::Sheet : RowPlace::Beyond;
}

}  // namespace tabulon
