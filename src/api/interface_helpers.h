// Functions the host interface exports beside the entry points.
#pragma once

#include <string_view>

// Renders the rows of one block of worksheet XML into the slots of retMT,
// reading the exported tables (SharedStrings, Styles, max_abs_col); rows
// and cells that have no slot are skipped.
void getWsData(std::string_view block);
