#include "api/failure_record.h"

#include <exception>
#include <new>
#include <stdexcept>

#include "api/workbook_state.h"
#include "base/failure.h"
#include "zip/zip_errors.h"

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
  try {
    throw;
  } catch (const Failure& failure) {
    recordFailure(failure.kind(), failure.what());
  } catch (const std::bad_alloc&) {
    recordFailure(TABULON_OUT_OF_MEMORY, "out of memory");
  } catch (const std::length_error&) {
    recordFailure(TABULON_OUT_OF_MEMORY, "out of memory: a table would exceed its largest size");
  } catch (const Zippy::ZipLogicError&) {
    recordFailure(TABULON_NO_WORKBOOK, "no workbook is open");
  } catch (const std::exception& error) {
    recordFailure(TABULON_INTERNAL, error.what());
  } catch (...) {
    recordFailure(TABULON_INTERNAL, "unknown failure");
  }
}

}  // namespace tabulon
