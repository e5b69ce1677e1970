// How a failed call is described to the host: a kind and a text, worked
// out from the exception that stopped it.
#pragma once

#include <string>

#include "tabulon.h"

namespace tabulon {

struct FailureReport {
  TabulonFailure kind = TABULON_OK;
  std::string text;
};

// The exception being handled: its own kind for a Failure, out of memory
// for allocation failures, otherwise an internal failure with the
// exception's text. Call only inside a catch block; never throws (a text
// that cannot be built is left empty).
FailureReport describeCurrentException() noexcept;

}  // namespace tabulon
