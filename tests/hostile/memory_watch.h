// What the hostile suite measures about memory: the largest single request
// made through operator new, and the process's peak resident size. The
// suite also runs under an address-space limit, set before main (see
// memory_watch.cpp), unless a sanitizer that needs a huge address space is
// built in.
#pragma once

#include <cstddef>

namespace tabulon::test {

// The address-space limit the suite runs under, in bytes.
constexpr std::size_t kAddressSpaceLimit = std::size_t{2} << 30;

// True when the limit was set (false in sanitizer builds).
bool addressSpaceLimited();

// Forgets the requests seen so far.
void resetLargestRequest();

// The largest single operator new request since the last reset.
std::size_t largestRequest();

// Takes up a measure set aside: the largest request becomes size.
void setLargestRequest(std::size_t size);

// The process's peak resident size so far, in bytes.
std::size_t peakResident();

// The process's resident size now, in bytes.
std::size_t residentNow();

}  // namespace tabulon::test
