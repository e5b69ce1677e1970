// The workbook handles that are open. A handle is a token, never an
// address, and no token is given out twice in a process, so a closed or
// made-up handle is always recognised as one instead of reaching freed
// memory. A lease keeps its workbook open: closing a handle waits until
// the reads that hold leases on it have ended.
#pragma once

#include <memory>

#include "api/open_workbook.h"
#include "tabulon.h"

namespace tabulon {

class HandleLease {
 public:
  HandleLease(HandleLease&& other) noexcept : entry_(std::move(other.entry_)) {}
  HandleLease(const HandleLease&) = delete;
  HandleLease& operator=(const HandleLease&) = delete;
  ~HandleLease();

  const OpenWorkbook& workbook() const;

  struct Entry;

 private:
  friend HandleLease leaseHandle(TabulonWorkbook* handle);
  explicit HandleLease(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
  std::shared_ptr<Entry> entry_;
};

// A new handle for workbook.
TabulonWorkbook* registerHandle(std::unique_ptr<OpenWorkbook> workbook);

// A lease on the handle's workbook. Throws a Failure
// (TABULON_INVALID_ARGUMENT) for a null handle or one that is not open.
HandleLease leaseHandle(TabulonWorkbook* handle);

// Closes the handle: no new lease can be taken at once; returns once the
// leases held have ended and the workbook is released. Throws a Failure as
// leaseHandle does.
void closeHandle(TabulonWorkbook* handle);

}  // namespace tabulon
