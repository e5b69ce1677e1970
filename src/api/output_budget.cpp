#include "api/output_budget.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace tabulon {

std::uint64_t physicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || size <= 0) return UINT64_MAX;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
}

std::uint64_t compressedBytes(const Zippy::ZipArchive& archive) {
  std::uint64_t total = 0;
  for (const auto& entry : archive.Entries()) total += entry.info.compressedSize;
  return total;
}

std::uint64_t outputAllowance(std::uint64_t sourceBytes) {
  if (sourceBytes > UINT64_MAX / kOutputRatio) return UINT64_MAX;
  return std::max(kOutputFloor, sourceBytes * kOutputRatio);
}

std::uint64_t textLimit(std::uint64_t sourceBytes, std::uint64_t callerLimit) {
  std::uint64_t limit = std::min(physicalMemory() / 4, outputAllowance(sourceBytes));
  if (callerLimit != 0) limit = std::min(limit, callerLimit);
  return limit;
}

std::uint64_t columnLimit(std::uint64_t sourceBytes) {
  return std::min(physicalMemory() / 2, outputAllowance(sourceBytes));
}

std::string sizeText(std::uint64_t bytes) {
  char text[32];
  const double b = static_cast<double>(bytes);
  if (bytes >= 1000000000) std::snprintf(text, sizeof text, "%.1f GB", b / 1e9);
  else if (bytes >= 1000000) std::snprintf(text, sizeof text, "%.0f MB", b / 1e6);
  else if (bytes >= 1000) std::snprintf(text, sizeof text, "%.0f kB", b / 1e3);
  else std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  return text;
}

}  // namespace tabulon
