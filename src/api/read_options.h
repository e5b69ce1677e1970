// The host's read options as the column reader takes them.
#pragma once

#include "parse/sheet_columns.h"
#include "tabulon.h"

namespace tabulon {

// options may be null: the defaults.
ColumnOptions columnOptionsOf(const TabulonReadOptions* options);

}  // namespace tabulon
