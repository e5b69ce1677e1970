#include "api/failure_report.h"

#include <exception>
#include <new>
#include <stdexcept>

#include "base/failure.h"
#include "zip/zip_errors.h"

namespace tabulon {
namespace {

FailureReport report(TabulonFailure kind, const char* text) noexcept {
  FailureReport result;
  result.kind = kind;
  try {
    result.text = text;
  } catch (...) {
    // the kind still tells what happened
  }
  return result;
}

}  // namespace

FailureReport describeCurrentException() noexcept {
  try {
    throw;
  } catch (const Failure& failure) {
    return report(failure.kind(), failure.what());
  } catch (const std::bad_alloc&) {
    return report(TABULON_OUT_OF_MEMORY, "out of memory");
  } catch (const std::length_error&) {
    return report(TABULON_OUT_OF_MEMORY, "out of memory: a table would exceed its largest size");
  } catch (const Zippy::ZipLogicError&) {
    return report(TABULON_NO_WORKBOOK, "no workbook is open");
  } catch (const std::exception& error) {
    return report(TABULON_INTERNAL, error.what());
  } catch (...) {
    return report(TABULON_INTERNAL, "unknown failure");
  }
}

}  // namespace tabulon
