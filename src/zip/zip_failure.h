// The failure kind of an archive error, told by the message it carries.
#pragma once

#include <string>

#include "base/failure.h"
#include "zip/zip_errors.h"

namespace tabulon {

// Kind of a failure of opening the archive.
TabulonFailure openFailureKind(const Zippy::ZipRuntimeError& error);

// A failure of reading the member named member: missing, damaged, or out of
// memory, with the member's name in its text.
Failure memberFailure(const std::string& member, const Zippy::ZipRuntimeError& error);

}  // namespace tabulon
