// The caller's read options, checked and turned into column options.
#pragma once

#include "parse/sheet_columns.h"
#include "tabulon.h"

namespace tabulon {

// The column options of options (nullptr: the defaults). Throws a Failure
// of kind TABULON_INVALID_ARGUMENT, saying which field is wrong, for a
// negative count or bound, an inverted range, a column beyond the last
// one (16384), columns not ascending, a list that is missing or an
// unknown flag; nothing has been read then.
ColumnOptions columnOptionsOf(const TabulonReadOptions* options);

}  // namespace tabulon
