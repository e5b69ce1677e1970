// The workbook handle functions of the C interface. Each reports how it
// ended in its own status; none touches the process-wide state of the
// fixed entry points.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "api/arrow_export.h"
#include "api/failure_report.h"
#include "api/handle_registry.h"
#include "api/read_options.h"
#include "api/sheet_extraction.h"
#include "base/failure.h"
#include "base/stage_probe.h"
#include "tabulon.h"

namespace {

using namespace tabulon;

void report(TabulonStatus* status, TabulonFailure code, std::string_view text) noexcept {
  if (status == nullptr) return;
  status->code = code;
  std::size_t n = std::min(text.size(), sizeof status->text - 1);
  // A cut text ends before a whole UTF-8 sequence, never inside one.
  if (n < text.size())
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(status->text, text.data(), n);
  status->text[n] = '\0';
}

void succeeded(TabulonStatus* status) noexcept { report(status, TABULON_OK, ""); }

// Call only inside a catch block.
void failed(TabulonStatus* status) noexcept {
  const FailureReport failure = describeCurrentException();
  report(status, failure.kind, failure.text);
}

SheetChoice choice(const char* sheetName, std::int64_t sheetIndex) { return SheetChoice{sheetName, sheetIndex}; }

}  // namespace

extern "C" TabulonWorkbook* tabulonOpen(const char* path, TabulonStatus* status) {
  try {
    TabulonWorkbook* handle = registerHandle(openWorkbookFile(path));
    succeeded(status);
    return handle;
  } catch (...) {
    failed(status);
    return nullptr;
  }
}

extern "C" TabulonWorkbook* tabulonOpenMemory(const void* data, size_t size, unsigned flags,
                                              TabulonStatus* status) {
  try {
    if ((flags & ~TABULON_BORROW) != 0)
      throw Failure(TABULON_INVALID_ARGUMENT, "unknown flags " + std::to_string(flags & ~TABULON_BORROW));
    TabulonWorkbook* handle = registerHandle(openWorkbookMemory(data, size, (flags & TABULON_BORROW) != 0));
    succeeded(status);
    return handle;
  } catch (...) {
    failed(status);
    return nullptr;
  }
}

extern "C" int tabulonClose(TabulonWorkbook* workbook, TabulonStatus* status) {
  try {
    closeHandle(workbook);
    succeeded(status);
    return 0;
  } catch (...) {
    failed(status);
    return -1;
  }
}

extern "C" int64_t tabulonSheetCount(TabulonWorkbook* workbook, TabulonStatus* status) {
  try {
    HandleLease lease = leaseHandle(workbook);
    succeeded(status);
    return static_cast<int64_t>(lease.workbook().workbook->sheetNames.size());
  } catch (...) {
    failed(status);
    return -1;
  }
}

extern "C" int tabulonSheetInfo(TabulonWorkbook* workbook, int64_t index, TabulonSheetInfo* info,
                                TabulonStatus* status) {
  try {
    if (info == nullptr) throw Failure(TABULON_INVALID_ARGUMENT, "tabulonSheetInfo needs an info to fill");
    HandleLease lease = leaseHandle(workbook);
    const Workbook& book = *lease.workbook().workbook;
    if (index < 0 || static_cast<uint64_t>(index) >= book.sheetNames.size())
      throw Failure(TABULON_NO_SUCH_SHEET, "no sheet at position " + std::to_string(index) + "; the workbook has " +
                                               std::to_string(book.sheetNames.size()));
    const auto i = static_cast<std::size_t>(index);
    info->name = book.sheetNames[i].c_str();
    info->kind = i < book.sheetKinds.size() ? book.sheetKinds[i] : TABULON_SHEET_WORKSHEET;
    info->visibility = i < book.sheetVisibility.size() ? book.sheetVisibility[i] : TABULON_VISIBLE;
    succeeded(status);
    return 0;
  } catch (...) {
    failed(status);
    return -1;
  }
}

extern "C" int tabulonReadColumns(TabulonWorkbook* workbook, const char* sheet_name, int64_t sheet_index,
                                  const TabulonReadOptions* options, ArrowSchema* schema, ArrowArray* array,
                                  TabulonStatus* status) {
  if (schema != nullptr) schema->release = nullptr;
  if (array != nullptr) array->release = nullptr;
  try {
    if (schema == nullptr || array == nullptr)
      throw Failure(TABULON_INVALID_ARGUMENT, "tabulonReadColumns needs a schema and an array to fill");
    const ColumnOptions chosen = columnOptionsOf(options);
    HandleLease lease = leaseHandle(workbook);
    exportColumns(extractColumns(*lease.workbook().workbook, choice(sheet_name, sheet_index), chosen,
                                 hardwareThreads()),
                  schema, array);
    stageEnded("exported");
    succeeded(status);
    return 0;
  } catch (...) {
    failed(status);
    return -1;
  }
}

extern "C" char* tabulonReadText(TabulonWorkbook* workbook, const char* sheet_name, int64_t sheet_index,
                                 const TabulonTextOptions* options, size_t* length, TabulonStatus* status) {
  if (length != nullptr) *length = 0;
  try {
    const TextOptions chosen =
        options == nullptr ? TextOptions{} : textOptionsOf(options->flags, options->max_bytes);
    HandleLease lease = leaseHandle(workbook);
    MallocTarget target;
    const TextFacts facts = extractText(*lease.workbook().workbook, choice(sheet_name, sheet_index), target,
                                        hardwareThreads(), kBlockBytes, chosen);
    char* text = target.release(facts.size);
    stageEnded("text written");
    if (length != nullptr) *length = facts.size;
    // A success that says why an empty text is empty, as lastError does.
    report(status, TABULON_OK, emptySheetNote(facts.cellElements, facts.size).c_str());
    return text;
  } catch (...) {
    failed(status);
    return nullptr;
  }
}

extern "C" void tabulonFree(void* text) { std::free(text); }
