#include "batch.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>

#include "batch_names.h"
#include "csv_text.h"
#include "exit_status.h"
#include "interrupt_cleanup.h"
#include "sheet_names.h"
#include "tabulon.h"

namespace tabulon::cli {

namespace {

using Clock = std::chrono::steady_clock;

// What a worker reports for one workbook.
struct Outcome {
  int status = kOk;
  std::string message;             // why it failed
  std::vector<std::string> files;  // written, in sheet order
};

std::string errorText(int error) { return std::strerror(error); }

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string joinPath(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool writeFile(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes data to target through a temporary file beside it, so a target
// only ever appears complete; without force an existing target is kept.
bool publish(const std::string& target, std::string_view data, bool force, std::string& why) {
  std::string temp = target.substr(0, target.rfind('/') + 1) + "." +
                     target.substr(target.rfind('/') + 1) + ".part-" + std::to_string(getpid());
  // Removed if a signal stops the program before the file is placed.
  struct Forget {
    int slot = -1;
    ~Forget() { forgetTemporary(slot); }
  } forget;
  int fd = createTemporary(temp, O_WRONLY | O_CLOEXEC, forget.slot);
  if (fd < 0) {
    why = temp + ": " + errorText(errno);
    return false;
  }
  bool written = writeFile(fd, data);
  int error = errno;
  if (close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    unlink(temp.c_str());
    why = target + ": " + errorText(error);
    return false;
  }
  int placed = force ? rename(temp.c_str(), target.c_str()) : link(temp.c_str(), target.c_str());
  error = errno;
  if (!force && placed != 0 && (error == EPERM || error == EOPNOTSUPP)) {
    // A file system without hard links: check, then rename.
    struct stat status;
    placed = lstat(target.c_str(), &status) == 0 ? -1 : rename(temp.c_str(), target.c_str());
    error = placed == 0 ? 0 : EEXIST;
  }
  if (!force || placed != 0) unlink(temp.c_str());
  if (placed != 0) {
    why = error == EEXIST ? target + " exists (pass --force to replace it)" : target + ": " + errorText(error);
    return false;
  }
  return true;
}

class Batch {
 public:
  explicit Batch(const BatchOptions& options) : options_(options), parts_(workbookParts(options.books)) {}

  int run();

 private:
  struct Worker {
    std::size_t book;
    int fd;
    std::string report;
  };

  Outcome convert(std::size_t book) const;
  Outcome convertOpen(std::size_t book, TabulonWorkbook* workbook) const;
  bool runProcesses(unsigned jobs);
  void runThreads(unsigned jobs);
  void start(std::size_t book);
  void finish(pid_t pid, Worker& worker);
  void showProgress(bool force);
  void clearProgress();
  void report(const std::string& message);

  const BatchOptions& options_;
  std::vector<std::string> parts_;
  std::vector<Outcome> outcomes_;
  std::map<pid_t, Worker> running_;
  std::size_t done_ = 0;
  bool terminal_ = false;
  bool progressShown_ = false;
  std::mutex reporting_;  // threads: outcomes_, done_ and the progress line
  Clock::time_point started_;
  Clock::time_point shownAt_;
};

Outcome failure(int status, std::string message) { return Outcome{status, std::move(message), {}}; }

Outcome Batch::convert(std::size_t book) const {
  const std::string& path = options_.books[book];
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return failure(kNoFile, path + ": " + errorText(errno));
  if (!S_ISREG(status.st_mode)) return failure(kNoFile, path + ": not a regular file");
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failure(kNoFile, path + ": " + errorText(errno));
  close(fd);
  TabulonStatus opened;
  TabulonWorkbook* workbook = tabulonOpen(path.c_str(), &opened);
  if (workbook == nullptr) {
    if (const Exit foreign = foreignFormat(opened.code); foreign != kOk) return failure(foreign, opened.text);
    if (opened.code == TABULON_NOT_A_ZIP)
      return failure(kNotWorkbook, path + ": not a workbook (not a zip archive, or a damaged one)");
    return failure(kNotWorkbook, path + ": not a workbook (its parts cannot be read)");
  }
  Outcome outcome;
  try {
    outcome = convertOpen(book, workbook);
  } catch (const std::exception& error) {
    outcome = failure(kOutputFailed, path + ": " + error.what());
  }
  tabulonClose(workbook, nullptr);
  return outcome;
}

Outcome Batch::convertOpen(std::size_t book, TabulonWorkbook* workbook) const {
  const std::string& path = options_.books[book];
  std::vector<std::string> sheets;
  for (std::int64_t i = 0, count = tabulonSheetCount(workbook, nullptr); i < count; ++i) {
    TabulonSheetInfo info;
    if (tabulonSheetInfo(workbook, i, &info, nullptr) == 0) sheets.emplace_back(info.name);
  }
  if (sheets.empty()) return failure(kUnknownSheet, path + ": the workbook has no sheets");
  const std::string& spec = options_.sheet;
  std::vector<std::size_t> chosen;
  if (spec == "all") {
    for (std::size_t i = 0; i < sheets.size(); ++i) chosen.push_back(i);
  } else if (spec.empty()) {
    chosen.push_back(0);
  } else if (allDigits(spec)) {
    // More digits than any workbook has sheets would overflow stoul.
    std::size_t position = spec.size() > 9 ? sheets.size() + 1 : std::stoul(spec);
    if (position > sheets.size()) {
      return failure(kUnknownSheet, path + " has no sheet number " + spec + " (counted from 1); its sheets: " +
                                        quotedList(sheets));
    }
    chosen.push_back(position - 1);
  } else {
    std::string name = spec[0] == '=' ? spec.substr(1) : spec;
    for (std::size_t i = 0; i < sheets.size() && chosen.empty(); ++i) {
      if (sheets[i] == name) chosen.push_back(i);
    }
    if (chosen.empty()) {
      return failure(kUnknownSheet, "no sheet '" + name + "' in " + path + "; its sheets: " + quotedList(sheets));
    }
  }

  // Every target is checked before any is written, so a workbook whose
  // files exist is left out whole rather than half replaced.
  std::vector<std::string> sheetNames = sheetParts(sheets);
  const char* extension = options_.csv ? ".csv" : ".txt";
  std::vector<std::string> targets;
  for (std::size_t i : chosen) {
    targets.push_back(joinPath(options_.outDir, parts_[book] + "." + sheetNames[i] + extension));
    struct stat status;
    if (!options_.force && lstat(targets.back().c_str(), &status) == 0) {
      return failure(kOutputFailed, path + ": " + targets.back() + " exists (pass --force to replace it)");
    }
  }

  Outcome outcome;
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    const std::string& sheet = sheets[chosen[k]];
    const TabulonTextOptions textOptions{textFlags(options_.csv), 0};
    std::size_t length = 0;
    char* read = tabulonReadText(workbook, sheet.c_str(), 0, &textOptions, &length, nullptr);
    struct Free {
      char* text;
      ~Free() { tabulonFree(text); }
    } owned{read};
    if (read == nullptr) {
      // The other sheets are still written; the workbook counts as failed.
      if (outcome.status == kOk) {
        outcome.status = kUnreadableSheet;
        outcome.message = "sheet '" + sheet + "' of " + path + " cannot be read (its part is missing or damaged)";
      }
      continue;
    }
    std::string why;
    const std::string_view text(read, length);
    bool written = options_.csv ? publish(targets[k], toCsv(text), options_.force, why)
                                : publish(targets[k], text, options_.force, why);
    if (!written) return Outcome{kOutputFailed, path + ": " + why, outcome.files};
    outcome.files.push_back(targets[k]);
  }
  return outcome;
}

// The worker's report: status, message and written files, each ended by a
// NUL (none of them can hold one).
std::string encode(const Outcome& outcome) {
  std::string record = std::to_string(outcome.status) + '\0' + outcome.message + '\0';
  for (const std::string& file : outcome.files) record += file + '\0';
  return record;
}

Outcome decode(const std::string& record) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t end; (end = record.find('\0', start)) != std::string::npos; start = end + 1) {
    fields.push_back(record.substr(start, end - start));
  }
  if (fields.size() < 2 || !allDigits(fields[0])) return failure(kMixedFailures, "");
  Outcome outcome{std::stoi(fields[0]), fields[1], {}};
  outcome.files.assign(fields.begin() + 2, fields.end());
  return outcome;
}

void Batch::start(std::size_t book) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    outcomes_[book] = failure(kMixedFailures, options_.books[book] + ": cannot start a worker: " + errorText(errno));
    report(outcomes_[book].message);
    ++done_;
    return;
  }
  std::fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    // The worker: one workbook, one report, and out without running the
    // parent's exit handlers or flushing its buffers.
    forgetAllWorkers();
    close(ends[0]);
    std::string record = encode(convert(book));
    bool sent = writeFile(ends[1], record);
    _exit(sent ? 0 : 1);
  }
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    outcomes_[book] = failure(kMixedFailures, options_.books[book] + ": cannot start a worker: " + errorText(errno));
    report(outcomes_[book].message);
    ++done_;
    return;
  }
  rememberWorker(pid);
  running_[pid] = Worker{book, ends[0], {}};
}

void Batch::finish(pid_t pid, Worker& worker) {
  close(worker.fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  forgetWorker(pid);
  Outcome outcome = decode(worker.report);
  const std::string& path = options_.books[worker.book];
  if (outcome.message.empty() && outcome.status == kMixedFailures) {
    // No report: the worker died on this workbook (a crash, or out of memory).
    std::string how = WIFSIGNALED(status) ? std::string("signal ") + std::to_string(WTERMSIG(status)) + " (" +
                                                strsignal(WTERMSIG(status)) + ")"
                                          : "exit status " + std::to_string(WEXITSTATUS(status));
    outcome.message = path + ": the worker converting it stopped with " + how;
  }
  if (outcome.status != kOk) report(outcome.message);
  outcomes_[worker.book] = std::move(outcome);
  ++done_;
}

std::string clockText(double seconds) {
  long whole = static_cast<long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  }
  return text;
}

void Batch::showProgress(bool force) {
  if (!terminal_) return;
  Clock::time_point now = Clock::now();
  // A few updates a second are enough to read.
  if (!force && progressShown_ && now - shownAt_ < std::chrono::milliseconds(200)) return;
  shownAt_ = now;
  double elapsed = std::chrono::duration<double>(now - started_).count();
  std::size_t total = options_.books.size();
  char line[160];
  if (done_ == 0 || elapsed <= 0) {
    std::snprintf(line, sizeof line, "tabulon: %zu/%zu workbooks", done_, total);
  } else {
    double rate = static_cast<double>(done_) / elapsed;
    std::snprintf(line, sizeof line, "tabulon: %zu/%zu workbooks, %.1f/s, %s left", done_, total, rate,
                  clockText(static_cast<double>(total - done_) / rate).c_str());
  }
  std::fprintf(stderr, "\r%-70s", line);
  std::fflush(stderr);
  progressShown_ = true;
}

void Batch::clearProgress() {
  if (!progressShown_) return;
  std::fprintf(stderr, "\r%70s\r", "");
  progressShown_ = false;
}

void Batch::report(const std::string& message) {
  clearProgress();
  std::fprintf(stderr, "tabulon: %s\n", message.c_str());
}

unsigned usableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

bool makeFolders(const std::string& dir, std::string& why) {
  for (std::size_t end = 1; end <= dir.size(); ++end) {
    if (end < dir.size() && dir[end] != '/') continue;
    std::string prefix = dir.substr(0, end);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      why = prefix + ": " + errorText(errno);
      return false;
    }
  }
  struct stat status;
  if (stat(dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    why = dir + ": not a folder";
    return false;
  }
  return true;
}

// One worker process per workbook: a workbook that crashes the reader, or
// makes it run out of memory, fails alone.
bool Batch::runProcesses(unsigned jobs) {
  const std::size_t total = options_.books.size();
  std::size_t next = 0;
  while (next < total || !running_.empty()) {
    while (next < total && running_.size() < jobs) start(next++);
    std::vector<pollfd> fds;
    for (auto& [pid, worker] : running_) fds.push_back(pollfd{worker.fd, POLLIN, 0});
    if (fds.empty()) continue;
    // The timeout keeps the time left moving while a long workbook runs.
    if (poll(fds.data(), fds.size(), 500) < 0 && errno != EINTR) {
      std::fprintf(stderr, "tabulon: poll: %s\n", errorText(errno).c_str());
      return false;
    }
    std::vector<pid_t> ended;
    for (auto& [pid, worker] : running_) {
      auto it = std::find_if(fds.begin(), fds.end(), [&](const pollfd& p) { return p.fd == worker.fd; });
      if (it == fds.end() || it->revents == 0) continue;
      char buffer[65536];
      ssize_t n = read(worker.fd, buffer, sizeof buffer);
      if (n > 0) {
        worker.report.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ended.push_back(pid);
      }
    }
    for (pid_t pid : ended) {
      finish(pid, running_[pid]);
      running_.erase(pid);
    }
    showProgress(!ended.empty() && done_ == total);
  }
  return true;
}

// Workbooks shared out to threads of this process, reading through their
// own workbook handles. No process is started per workbook, but a
// workbook that crashes the reader stops the whole batch.
void Batch::runThreads(unsigned jobs) {
  const std::size_t total = options_.books.size();
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t book; (book = next++) < total;) {
      Outcome outcome = convert(book);
      std::lock_guard lock(reporting_);
      if (outcome.status != kOk) report(outcome.message);
      outcomes_[book] = std::move(outcome);
      ++done_;
      showProgress(done_ == total);
    }
  };
  std::vector<std::thread> threads;
  const std::size_t count = std::min<std::size_t>(jobs, total);
  for (std::size_t i = 1; i < count; ++i) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
}

int Batch::run() {
  std::string why;
  if (!makeFolders(options_.outDir, why)) {
    std::fprintf(stderr, "tabulon: cannot make the output folder %s\n", why.c_str());
    return kOutputFailed;
  }
  terminal_ = isatty(STDERR_FILENO) == 1;
  started_ = Clock::now();
  const std::size_t total = options_.books.size();
  outcomes_.assign(total, Outcome{});
  unsigned jobs = options_.jobs > 0 ? options_.jobs : usableCores();
  removeTemporariesOnSignal();
  showProgress(true);
  if (options_.threads) {
    runThreads(jobs);
  } else if (!runProcesses(jobs)) {
    return kMixedFailures;
  }
  clearProgress();

  std::size_t converted = 0, files = 0;
  std::set<int> failures;
  for (const Outcome& outcome : outcomes_) {
    for (const std::string& file : outcome.files) std::printf("%s\n", file.c_str());
    files += outcome.files.size();
    if (outcome.status == kOk) {
      ++converted;
    } else {
      failures.insert(outcome.status);
    }
  }
  bool listed = std::fflush(stdout) == 0 && !std::ferror(stdout);
  double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
  std::fprintf(stderr, "tabulon: %zu of %zu workbooks converted (%zu file%s) in %.2f s", converted, total, files,
               files == 1 ? "" : "s", elapsed);
  if (converted < total) std::fprintf(stderr, "; %zu failed", total - converted);
  std::fprintf(stderr, "\n");
  if (!listed) {
    std::fprintf(stderr, "tabulon: cannot write the output\n");
    return kOutputFailed;
  }
  if (failures.empty()) return kOk;
  return failures.size() == 1 ? *failures.begin() : kMixedFailures;
}

}  // namespace

int runBatch(const BatchOptions& options) { return Batch(options).run(); }

}  // namespace tabulon::cli
