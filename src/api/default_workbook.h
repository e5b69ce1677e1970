// The fixed entry points' one process-default workbook. It is opened,
// read and closed only through those entry points, which keep the exported
// tables (api/workbook_state.h) in step with it; nothing else in the
// library reads or writes them. Those entry points must not overlap.
#pragma once

#include "api/workbook.h"

namespace tabulon {

// The process-default workbook, or nullptr when none is open.
const Workbook* openWorkbook();

}  // namespace tabulon
