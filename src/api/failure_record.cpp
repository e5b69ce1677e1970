#include "api/failure_record.h"

#include "api/failure_report.h"
#include "api/workbook_state.h"

namespace tabulon {

void clearFailure() {
  LastFailureKind = TABULON_OK;
  LastFailureText.clear();
}

void recordFailure(TabulonFailure kind, std::string text) {
  LastFailureKind = kind;
  try {
    LastFailureText = std::move(text);
  } catch (...) {
    LastFailureText.clear();  // the code still tells what happened
  }
}

void recordCurrentException() {
  FailureReport report = describeCurrentException();
  recordFailure(report.kind, std::move(report.text));
}

}  // namespace tabulon
