#include "memory_watch.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TABULON_HUGE_SHADOW 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TABULON_HUGE_SHADOW 1
#endif
#endif

namespace {

std::atomic<std::size_t> largest{0};

void note(std::size_t size) {
  std::size_t seen = largest.load(std::memory_order_relaxed);
  while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
}

void* allocate(std::size_t size) {
  note(size);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

// Set before main, so that discovery and every test run under it. The
// sanitizers reserve terabytes of shadow memory and cannot run under it;
// their build is the other half of the suite's checks.
bool setLimit() {
#ifdef TABULON_HUGE_SHADOW
  return false;
#else
  rlimit limit{tabulon::test::kAddressSpaceLimit, tabulon::test::kAddressSpaceLimit};
  return setrlimit(RLIMIT_AS, &limit) == 0;
#endif
}

const bool limited = setLimit();

// Prints the suite's peak resident size when the program ends.
class PeakReport : public ::testing::Environment {
 public:
  void TearDown() override {
    std::printf("hostile suite: peak resident %.1f MiB, address space %s\n",
                static_cast<double>(tabulon::test::peakResident()) / (1 << 20),
                limited ? "limited to 2 GiB" : "not limited (sanitizer build)");
  }
};

[[maybe_unused]] ::testing::Environment* const report =
    ::testing::AddGlobalTestEnvironment(new PeakReport);

}  // namespace

namespace tabulon::test {

bool addressSpaceLimited() { return limited; }
void resetLargestRequest() { largest.store(0); }
std::size_t largestRequest() { return largest.load(); }
void setLargestRequest(std::size_t size) { largest.store(size); }

std::size_t peakResident() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

std::size_t residentNow() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long pages = 0, resident = 0;
  const int read = std::fscanf(f, "%lu %lu", &pages, &resident);
  std::fclose(f);
  return read == 2 ? static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace tabulon::test

// Every form that the deletes below may free: the library's sorts take
// their scratch buffers through the nothrow form.
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  note(size);
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  note(size);
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
