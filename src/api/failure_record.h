// Recording how an entry point call ended, for lastError.
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
