#include "api/read_options.h"

#include <string>

#include "base/failure.h"

namespace tabulon {
namespace {

constexpr std::int64_t kLastColumn = 16384;  // "XFD"
constexpr unsigned kKnownFlags = TABULON_SKIP_FROM_FIRST_ROW | TABULON_READ_KINDS;

[[noreturn]] void refuse(const std::string& text) { throw Failure(TABULON_INVALID_ARGUMENT, text); }

void checkBound(std::int64_t value, const char* field) {
  if (value < 0) refuse(std::string(field) + " is negative (" + std::to_string(value) + ")");
}

void checkColumn(std::int64_t column, const char* field) {
  if (column < 1 || column > kLastColumn)
    refuse(std::string(field) + " holds column " + std::to_string(column) + ", outside 1 to 16384");
}

std::vector<std::uint32_t> columnList(const std::int64_t* columns, std::int64_t count, const char* field,
                                      bool ascending) {
  if (count < 0) refuse(std::string(field) + " count is negative (" + std::to_string(count) + ")");
  if (count > 0 && columns == nullptr) refuse(std::string(field) + " is NULL with a count of " + std::to_string(count));
  if (count > kLastColumn && ascending) refuse(std::string(field) + " names more columns than a sheet has");
  std::vector<std::uint32_t> list;
  list.reserve(static_cast<std::size_t>(std::min<std::int64_t>(count, kLastColumn)));
  for (std::int64_t i = 0; i < count; ++i) {
    checkColumn(columns[i], field);
    if (ascending && i > 0 && columns[i] <= columns[i - 1])
      refuse(std::string(field) + " is not ascending without repeats at position " + std::to_string(i));
    list.push_back(static_cast<std::uint32_t>(columns[i]));
  }
  return list;
}

}  // namespace

ColumnOptions columnOptionsOf(const TabulonReadOptions* options) {
  ColumnOptions chosen;
  if (options == nullptr) return chosen;
  checkBound(options->skip_rows, "skip_rows");
  if ((options->flags & ~kKnownFlags) != 0) refuse("flags holds unknown bits " + std::to_string(options->flags & ~kKnownFlags));
  checkBound(options->first_row, "first_row");
  checkBound(options->last_row, "last_row");
  checkBound(options->first_column, "first_column");
  checkBound(options->last_column, "last_column");
  if (options->first_column > 0) checkColumn(options->first_column, "first_column");
  if (options->last_column > 0) checkColumn(options->last_column, "last_column");
  if (options->first_row > 0 && options->last_row > 0 && options->first_row > options->last_row)
    refuse("the range's rows are inverted (first_row " + std::to_string(options->first_row) + " > last_row " +
           std::to_string(options->last_row) + ")");
  if (options->first_column > 0 && options->last_column > 0 && options->first_column > options->last_column)
    refuse("the range's columns are inverted (first_column " + std::to_string(options->first_column) +
           " > last_column " + std::to_string(options->last_column) + ")");
  chosen.columns = columnList(options->columns, options->column_count, "columns", true);
  chosen.textColumns = columnList(options->text_columns, options->text_column_count, "text_columns", false);
  chosen.skipRows = options->skip_rows;
  chosen.maxRows = options->max_rows;
  chosen.header = options->header != 0;
  chosen.skipFromFirstRow = (options->flags & TABULON_SKIP_FROM_FIRST_ROW) != 0;
  chosen.kinds = (options->flags & TABULON_READ_KINDS) != 0;
  chosen.firstRow = options->first_row;
  chosen.lastRow = options->last_row;
  chosen.firstColumn = static_cast<std::uint32_t>(options->first_column);
  chosen.lastColumn = static_cast<std::uint32_t>(options->last_column);
  return chosen;
}

}  // namespace tabulon
