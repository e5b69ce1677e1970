#include "api/workbook_open.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "api/file_kind.h"
#include "base/failure.h"
#include "zip/zip_failure.h"

namespace tabulon {

void checkPath(const char* path, bool& missing) {
  missing = false;
  struct stat status;
  if (stat(path, &status) == 0) {
    if (S_ISREG(status.st_mode)) return;
    throw Failure(TABULON_NOT_A_FILE, std::string("not a regular file: ") + path);
  }
  if (errno == ENOENT || errno == ENOTDIR) {
    missing = true;
    return;
  }
  throw Failure(TABULON_UNREADABLE, std::string("cannot examine ") + path + ": " + std::strerror(errno));
}

void openArchiveFile(Zippy::ZipArchive& archive, const char* path, bool missing) {
  try {
    archive.Open(path);
  } catch (const Zippy::ZipRuntimeError& error) {
    if (missing) throw Failure(TABULON_NO_SUCH_FILE, std::string("no such file: ") + path);
    const TabulonFailure kind = openFailureKind(error);
    // A file that is no zip archive is named for what it is when it is
    // another spreadsheet format (or none at all).
    if (kind == TABULON_NOT_A_ZIP)
      if (auto foreign = recognizeNonZipFile(path)) throw Failure(foreign->kind(), std::string(path) + ": " + foreign->what());
    throw Failure(kind, std::string(path) + ": " + error.what());
  }
}

void openArchiveMemory(Zippy::ZipArchive& archive, const void* data, std::size_t size) {
  try {
    archive.OpenMemory(data, size);
  } catch (const Zippy::ZipRuntimeError& error) {
    const TabulonFailure kind = openFailureKind(error);
    if (kind == TABULON_NOT_A_ZIP)
      if (auto foreign = recognizeNonZipBytes(std::string_view(static_cast<const char*>(data), size)))
        throw *foreign;
    throw Failure(kind, error.what());
  }
}

}  // namespace tabulon
