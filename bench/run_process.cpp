#include "run_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

namespace bench {

ProcessCost runProcess(const std::vector<std::string>& argv, Stdout out, bool quiet) {
  ProcessCost cost;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int pipeFds[2] = {-1, -1};
  if (out == Stdout::Capture && pipe(pipeFds) != 0) return cost;

  auto start = std::chrono::steady_clock::now();
  // A plain fork: the child starts from this small process, so its peak
  // resident size is its own plus a few pages of ours.
  pid_t pid = fork();
  if (pid < 0) return cost;
  if (pid == 0) {
    if (out == Stdout::Capture) {
      dup2(pipeFds[1], STDOUT_FILENO);
      close(pipeFds[0]);
      close(pipeFds[1]);
    } else {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      close(null);
    }
    if (quiet) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      close(null);
    }
    execvp(args[0], args.data());
    _exit(127);
  }
  if (out == Stdout::Capture) {
    close(pipeFds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) cost.output.append(buf, static_cast<std::size_t>(n));
    close(pipeFds[0]);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return cost;
  cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  cost.peakRssMB = static_cast<double>(usage.ru_maxrss) * 1024.0 / 1e6;
  cost.minorFaults = usage.ru_minflt;
  cost.majorFaults = usage.ru_majflt;
  return cost;
}

std::string findInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return "";
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

}  // namespace bench
