// Watches the process's operator new, so a test can tell that a call never
// asked for a big buffer.
#pragma once

#include <cstddef>

namespace tabulon::test {

// Forgets the requests seen so far.
void resetLargestAllocation();

// The largest single operator new request since the last reset.
std::size_t largestAllocation();

}  // namespace tabulon::test
