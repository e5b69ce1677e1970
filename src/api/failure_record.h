// Recording how a call of the fixed entry points ended, for lastError: one
// slot for the process, written only by those entry points.
#pragma once

#include <string>

#include "tabulon.h"

namespace tabulon {

void clearFailure();
void recordFailure(TabulonFailure kind, std::string text);

// Records the exception being handled: its own kind for a Failure, out of
// memory for allocation failures, otherwise an internal failure with the
// exception's text. Call only inside a catch block.
void recordCurrentException();

}  // namespace tabulon
