// The program's exit statuses, shared by single and batch conversion.
#pragma once

#include "tabulon.h"

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
  kPasswordProtected = 8,
  kOtherFormat = 9,  // .xls, .xlsb, .ods, or not a spreadsheet at all
};

// The status of a workbook that failed to open with the library's failure
// code, when the code names a file of a format the program does not read;
// kOk for any other code.
inline Exit foreignFormat(int code) {
  switch (code) {
    case TABULON_ENCRYPTED:
      return kPasswordProtected;
    case TABULON_LEGACY_XLS:
    case TABULON_BINARY_XLSB:
    case TABULON_OPENDOCUMENT:
    case TABULON_NOT_A_SPREADSHEET:
      return kOtherFormat;
    default:
      return kOk;
  }
}

}  // namespace tabulon::cli
