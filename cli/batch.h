// Batch conversion: many workbooks into one folder, one file per sheet,
// converted by worker processes (or threads).
#pragma once

#include <string>
#include <vector>

namespace tabulon::cli {

struct BatchOptions {
  std::vector<std::string> books;
  std::string outDir;
  std::string sheet;  // "" (the first sheet), "all", a position from 1, a name, or "=NAME"
  bool csv = false;
  bool force = false;  // replace files that exist
  unsigned jobs = 0;   // 0: one per usable core
  bool threads = false;  // threads of one process instead of worker processes
};

// Converts every workbook and reports on standard error; the written files
// are listed on standard output in workbook and sheet order. Returns the
// exit status.
int runBatch(const BatchOptions& options);

}  // namespace tabulon::cli
