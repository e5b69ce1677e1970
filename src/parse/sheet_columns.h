// Typed columns of a sheet, assembled from the typed cells of its blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "parse/typed_cells.h"

namespace tabulon {

enum class ColumnType : std::uint8_t {
  Null,
  Boolean,
  Number,
  Date,
  Text,  // dictionary text
  // Only when kinds are told apart:
  Integer,    // micros holds the values
  Duration,   // micros holds microseconds
  Time,       // micros holds microseconds since midnight
  Union,      // typeIds, unionOffsets and the eight children
  PlainText,  // a union's text child: offsets and characters, no dictionary
};

// The kind codes of a union column, which are its type ids and the order
// of its children.
enum class KindCode : std::int8_t { Missing, Boolean, Number, DateTime, Duration, Time, Text, Error };
inline constexpr int kKindCodes = 8;

// One column, as plain buffers in the layout the host interface hands out.
struct Column {
  std::string name;
  ColumnType type = ColumnType::Null;
  std::int64_t length = 0;  // a union's child: its entries (a column has the sheet's rows)
  std::int64_t nulls = 0;
  std::vector<std::uint8_t> validity;  // bit i set: row i has a value; empty when nulls == 0
  std::vector<std::uint8_t> bits;      // Boolean: bit-packed values
  std::vector<double> numbers;         // Number
  std::vector<std::int64_t> micros;    // Date, Integer, Duration, Time
  std::vector<std::int32_t> indexes;   // Text: into the dictionary
  std::vector<std::int32_t> offsets;   // Text: dictionary offsets (size + 1); PlainText: value offsets
  std::string characters;              // Text: dictionary bytes; PlainText: value bytes
  std::vector<std::int8_t> typeIds;       // Union: each row's KindCode
  std::vector<std::int32_t> unionOffsets;  // Union: each row's entry in its child
  std::vector<Column> children;            // Union: one per KindCode, in that order
};

struct SheetColumns {
  std::int64_t rows = 0;
  std::vector<Column> columns;
};

struct ColumnOptions {
  std::int64_t skipRows = 0;
  std::int64_t maxRows = -1;  // < 0: all
  bool header = false;
  // skipRows counts from the range's first row (row 1 without one), not
  // from the first row holding a value.
  bool skipFromFirstRow = false;
  bool kinds = false;  // every kind of cell told apart
  // A range, 1-based and inclusive; 0 leaves a side open.
  std::int64_t firstRow = 0, lastRow = 0;
  std::uint32_t firstColumn = 0, lastColumn = 0;
  std::vector<std::uint32_t> columns = {};      // ascending, no repeats; empty: every column
  std::vector<std::uint32_t> textColumns = {};  // columns read as text
};

// Places the cells of the blocks (in document order) into columns, after
// the options: the extent and the meaning of each option are those of
// readColumns in tabulon.h. Of cells at the same place the later wins.
// Each column's type follows its cells' kinds; mixed kinds give text (or,
// with kinds, a union). Throws a Failure of kind out-of-memory when the
// extent needs more than memoryLimit bytes.
SheetColumns assembleColumns(std::vector<TypedBlock>& blocks, const std::vector<std::string>& sharedStrings,
                             const ColumnOptions& options, std::uint64_t memoryLimit);

// The columns of assembleColumns, grown block by block as the blocks come,
// in document order, so that a block's cells need not be kept until the
// last block: each value goes into its column's row as it comes, and a
// column's type is decided once every cell is in. That relies on the
// usual order of a sheet (every cell after the one before it, no row
// beyond the format's last row); a sheet that leaves it is told apart and
// must be assembled from all its blocks at once.
class GrowingColumns {
 public:
  GrowingColumns(const std::vector<std::string>& sharedStrings, const ColumnOptions& options,
                 std::uint64_t memoryLimit);
  ~GrowingColumns();
  GrowingColumns(const GrowingColumns&) = delete;
  GrowingColumns& operator=(const GrowingColumns&) = delete;

  // Places the next block's cells. False when the sheet leaves the usual
  // order (then and for every later block). Throws as assembleColumns.
  bool add(const TypedBlock& block);
  // True once no later block can add a cell.
  bool ended() const;
  // The sheet likely ends near row lastRow: columns set room aside for
  // that many rows, so that they need not move as they grow.
  void expectRows(std::int64_t lastRow);
  // The columns of every block added.
  SheetColumns finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// How the blocks of a sheet are read for options: which columns and rows,
// and (stopAfter) the last wanted row when it is known before any cell is
// read, INT64_MAX otherwise. columnFlags is the storage selection.columns
// points into.
TypedSelection selectionFor(const ColumnOptions& options, std::vector<std::uint8_t>& columnFlags,
                            std::int64_t& stopAfter);

// The last row a read with options wants once the first row holding a
// value is known (first), INT64_MAX when every row is wanted. A read whose
// skip counts from a fixed row ignores first.
std::int64_t lastWantedRow(const ColumnOptions& options, std::int64_t first);

// Whether the last wanted row depends on where the first value stands.
bool stopDependsOnCells(const ColumnOptions& options);

// The letters of a column number ("A" for 1).
std::string columnLetters(std::uint32_t column);

}  // namespace tabulon
