// A workbook as a handle holds it: its own archive, the bytes of a memory
// source when they were copied, and the tables loaded from it. Nothing in
// it changes once opened, so any number of threads may read it at once.
#pragma once

#include <cstddef>
#include <memory>

#include "api/workbook.h"
#include "zip/zip_archive.h"

namespace tabulon {

struct OpenWorkbook {
  Zippy::ZipArchive archive;
  // A copy of the memory source; null for a file or borrowed bytes.
  std::unique_ptr<unsigned char[]> bytes;
  std::unique_ptr<Workbook> workbook;
};

// Opens and loads the workbook at path. Throws a Failure (or an allocation
// failure) saying why it cannot.
std::unique_ptr<OpenWorkbook> openWorkbookFile(const char* path);

// The same for size bytes at data, copied first unless borrow (then they
// must stay unchanged while the workbook is open).
std::unique_ptr<OpenWorkbook> openWorkbookMemory(const void* data, std::size_t size, bool borrow);

}  // namespace tabulon
