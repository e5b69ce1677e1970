// Typed columns handed out through the Arrow C data interface.
#pragma once

#include "parse/sheet_columns.h"
#include "tabulon.h"

namespace tabulon {

// Moves columns into a struct array and its schema. Each struct, each
// child and each dictionary owns its buffers and has its own release, so a
// consumer may keep or release any of them apart. Throws on allocation
// failure, leaving both structs released.
void exportColumns(SheetColumns&& columns, ArrowSchema* schema, ArrowArray* array);

}  // namespace tabulon
