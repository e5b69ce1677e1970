#include "api/handle_registry.h"

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "base/failure.h"

namespace tabulon {

struct HandleLease::Entry {
  std::unique_ptr<OpenWorkbook> workbook;
  unsigned leases = 0;  // guarded by the registry's lock
  std::condition_variable released;
};

namespace {

std::mutex registryMutex;
std::unordered_map<std::uintptr_t, std::shared_ptr<HandleLease::Entry>> registry;
// Tokens step by 16 from a value no allocation returns at the start of
// the address space; 2^60 opens would be needed to wrap.
std::uintptr_t nextToken = 0x1000;

// A process forked while another thread held the lock would find it
// locked for ever.
void beforeFork() { registryMutex.lock(); }
void afterFork() { registryMutex.unlock(); }

std::uintptr_t tokenOf(TabulonWorkbook* handle) {
  if (handle == nullptr) throw Failure(TABULON_INVALID_ARGUMENT, "no workbook handle given (null)");
  return reinterpret_cast<std::uintptr_t>(handle);
}

[[noreturn]] void notOpen() {
  throw Failure(TABULON_INVALID_ARGUMENT, "the workbook handle is not open: closed already, or never opened");
}

}  // namespace

HandleLease::~HandleLease() {
  if (!entry_) return;
  std::lock_guard lock(registryMutex);
  if (--entry_->leases == 0) entry_->released.notify_all();
}

const OpenWorkbook& HandleLease::workbook() const { return *entry_->workbook; }

TabulonWorkbook* registerHandle(std::unique_ptr<OpenWorkbook> workbook) {
  static const bool registered = pthread_atfork(beforeFork, afterFork, afterFork) == 0;
  (void)registered;
  auto entry = std::make_shared<HandleLease::Entry>();
  entry->workbook = std::move(workbook);
  std::lock_guard lock(registryMutex);
  const std::uintptr_t token = nextToken;
  registry.emplace(token, std::move(entry));
  nextToken += 16;
  return reinterpret_cast<TabulonWorkbook*>(token);
}

HandleLease leaseHandle(TabulonWorkbook* handle) {
  const std::uintptr_t token = tokenOf(handle);
  std::lock_guard lock(registryMutex);
  auto found = registry.find(token);
  if (found == registry.end()) notOpen();
  ++found->second->leases;
  return HandleLease(found->second);
}

void closeHandle(TabulonWorkbook* handle) {
  const std::uintptr_t token = tokenOf(handle);
  std::shared_ptr<HandleLease::Entry> entry;
  {
    std::unique_lock lock(registryMutex);
    auto found = registry.find(token);
    if (found == registry.end()) notOpen();
    entry = std::move(found->second);
    registry.erase(found);
    entry->released.wait(lock, [&] { return entry->leases == 0; });
  }
  entry->workbook.reset();
}

}  // namespace tabulon
