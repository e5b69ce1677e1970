// Runs a program as a fresh child process and reports what it cost.
#ifndef TABULON_BENCH_RUN_PROCESS_H
#define TABULON_BENCH_RUN_PROCESS_H

#include <string>
#include <vector>

namespace bench {

struct ProcessCost {
  bool ok = false;         // exited normally with status 0
  double seconds = 0;      // fork to reaped, wall clock
  double peakRssMB = 0;    // ru_maxrss
  long minorFaults = 0;
  long majorFaults = 0;
  std::string output;      // standard output, when captured
};

enum class Stdout { Capture, Discard };

// argv[0] is looked up in PATH when it has no '/'. Standard error is kept,
// unless quiet.
ProcessCost runProcess(const std::vector<std::string>& argv, Stdout out, bool quiet = false);

// The path of an executable named name in PATH, or "" when there is none.
std::string findInPath(const std::string& name);

}  // namespace bench

#endif
