#include "api/open_workbook.h"

#include <cstring>

#include "api/workbook_loader.h"
#include "api/workbook_open.h"
#include "base/failure.h"

namespace tabulon {

std::unique_ptr<OpenWorkbook> openWorkbookFile(const char* path) {
  if (path == nullptr) throw Failure(TABULON_INVALID_ARGUMENT, "no path given");
  bool missing = false;
  checkPath(path, missing);
  auto opened = std::make_unique<OpenWorkbook>();
  openArchiveFile(opened->archive, path, missing);
  opened->workbook = loadWorkbook(opened->archive);
  return opened;
}

std::unique_ptr<OpenWorkbook> openWorkbookMemory(const void* data, std::size_t size, bool borrow) {
  if (data == nullptr && size > 0) throw Failure(TABULON_INVALID_ARGUMENT, "no bytes given for a size of " + std::to_string(size));
  auto opened = std::make_unique<OpenWorkbook>();
  const void* source = data;
  if (!borrow && size > 0) {
    opened->bytes.reset(new unsigned char[size]);
    std::memcpy(opened->bytes.get(), data, size);
    source = opened->bytes.get();
  }
  openArchiveMemory(opened->archive, source, size);
  opened->workbook = loadWorkbook(opened->archive);
  return opened;
}

}  // namespace tabulon
