// The program's exit statuses, shared by single and batch conversion.
#pragma once

namespace tabulon::cli {

enum Exit {
  kOk = 0,
  kMixedFailures = 1,  // batch: workbooks failed for different reasons
  kUsage = 2,
  kNoFile = 3,
  kNotWorkbook = 4,
  kUnknownSheet = 5,
  kUnreadableSheet = 6,
  kOutputFailed = 7,
};

}  // namespace tabulon::cli
