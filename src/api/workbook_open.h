// The steps of opening a workbook, shared by the handles and the fixed
// entry points: the path test, the archive's opening, each refusing with
// the host's failure kind and text.
#pragma once

#include <cstddef>

#include "zip/zip_archive.h"

namespace tabulon {

// Throws a Failure when something exists at path that is not a regular
// file (TABULON_NOT_A_FILE) or the path cannot be examined
// (TABULON_UNREADABLE). missing: nothing exists at path, which the
// archive reports when it fails to open it.
void checkPath(const char* path, bool& missing);

// Opens archive on the file at path. On failure throws a Failure whose
// text is path, ": " and the reason.
void openArchiveFile(Zippy::ZipArchive& archive, const char* path, bool missing);

// Opens archive on size bytes at data, which must outlive the archive's
// use. On failure throws a Failure whose text is the reason alone, the
// same reason as for a file holding these bytes.
void openArchiveMemory(Zippy::ZipArchive& archive, const void* data, std::size_t size);

}  // namespace tabulon
