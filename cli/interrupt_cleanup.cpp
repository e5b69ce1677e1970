#include "interrupt_cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace tabulon::cli {
namespace {

// Fixed tables, so that the handler touches no allocator and no lock.
constexpr int kTemporaries = 64;
constexpr int kWorkers = 1024;

struct Temporary {
  std::atomic<bool> used{false};
  std::atomic<bool> live{false};  // path holds a file to remove
  char path[PATH_MAX];
};

Temporary temporaries[kTemporaries];
std::atomic<pid_t> workers[kWorkers];

// A file is remembered before it is created. The handler waits for the
// creations under way, so that none makes a file after it has looked;
// later ones see stopping and make none.
std::atomic<bool> stopping{false};
std::atomic<int> creating{0};
thread_local bool creatingHere = false;  // this thread: between the two

int rememberTemporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kTemporaries; ++i) {
    bool expected = false;
    if (!temporaries[i].used.compare_exchange_strong(expected, true)) continue;
    std::memcpy(temporaries[i].path, path.c_str(), path.size() + 1);
    temporaries[i].live.store(true);
    return i;
  }
  return -1;
}

void onSignal(int signal) {
  const int saved = errno;
  stopping.store(true);
  for (std::atomic<pid_t>& worker : workers) {
    const pid_t pid = worker.load();
    if (pid > 0) kill(pid, signal);
  }
  // A creation interrupted on this very thread cannot finish; its file, if
  // made, is remembered already.
  const int own = creatingHere ? 1 : 0;
  const timespec pause{0, 100000};
  while (creating.load() > own) nanosleep(&pause, nullptr);
  for (Temporary& temporary : temporaries)
    if (temporary.live.load()) unlink(temporary.path);
  errno = saved;
  // Ends as the signal would have ended it.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(signal, &standard, nullptr);
  raise(signal);
}

}  // namespace

void removeTemporariesOnSignal() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal the caller ignores (nohup, a shell's background job) stays ignored.
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int createTemporary(const std::string& path, int flags, int& slot) {
  slot = -1;
  creatingHere = true;
  ++creating;
  int fd = -1;
  if (stopping.load()) {
    errno = EINTR;
  } else {
    slot = rememberTemporary(path);
    fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
      const int error = errno;
      forgetTemporary(slot);
      slot = -1;
      errno = error;
    }
  }
  --creating;
  creatingHere = false;
  return fd;
}

void forgetTemporary(int slot) {
  if (slot < 0) return;
  temporaries[slot].live.store(false);
  temporaries[slot].used.store(false);
}

void rememberWorker(pid_t pid) {
  for (std::atomic<pid_t>& worker : workers) {
    pid_t expected = 0;
    if (worker.compare_exchange_strong(expected, pid)) return;
  }
}

void forgetWorker(pid_t pid) {
  for (std::atomic<pid_t>& worker : workers) {
    pid_t expected = pid;
    if (worker.compare_exchange_strong(expected, 0)) return;
  }
}

void forgetAllWorkers() {
  for (std::atomic<pid_t>& worker : workers) worker.store(0);
}

}  // namespace tabulon::cli
