// Page faults per stage of one sheet read, for the text and for typed
// columns: each read in a process of its own (this program again), the
// faults counted by the process as a whole (every thread) at each stage's
// end, which the library marks. Also the calling thread's own faults and
// the process's peak memory. A read is measured on the second call on one
// handle as well as the first, since what a handle keeps between calls is
// what a later call does not fault in again.
//
//   stage_faults WORKBOOK...                 a table per workbook
//   stage_faults --child MODE CALLS WORKBOOK one read (internal)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/stage_probe.h"
#include "tabulon.h"

namespace {

struct Mark {
  const char* stage;
  long process;
  long thread;
};

long faults(int who) {
  struct rusage usage {};
  getrusage(who, &usage);
  return usage.ru_minflt + usage.ru_majflt;
}

// Room for the marks of a read, kept out of the heap the read uses.
Mark marks[16];
int markCount = 0;
bool recording = false;

void record(const char* stage) {
  if (!recording || markCount == 16) return;
  marks[markCount++] = {stage, faults(RUSAGE_SELF), faults(RUSAGE_THREAD)};
}

std::string firstSheet() {
  const std::string list = listSheets();
  return list.substr(0, list.find('\n'));
}

// Bytes of an array's buffers, its children's and its dictionary's: the
// columns' own size.
std::uint64_t bufferBytes(const ArrowArray& a, const ArrowSchema& s) {
  std::uint64_t total = 0;
  const std::string format = s.format;
  const auto n = static_cast<std::uint64_t>(a.length);
  if (a.n_buffers > 0 && a.buffers[0] != nullptr) total += (n + 7) / 8;
  if (format == "g" || format == "tsu:" || format == "l" || format == "tDu" || format == "ttu") total += 8 * n;
  if (format.rfind("+ud:", 0) == 0) total += 5 * n;
  if (format == "b") total += (n + 7) / 8;
  if (format == "i") total += 4 * n;
  if (format == "u") total += 4 * (n + 1) + static_cast<std::uint64_t>(static_cast<const std::int32_t*>(a.buffers[1])[n]);
  for (std::int64_t c = 0; c < a.n_children; ++c) total += bufferBytes(*a.children[c], *s.children[c]);
  if (a.dictionary != nullptr) total += bufferBytes(*a.dictionary, *s.dictionary);
  return total;
}

const char* const kModes[] = {"getSheetText", "tabulonReadText", "tabulonReadColumns", "readColumns"};

// One process: CALLS reads of the first sheet by MODE; the last is
// measured. Prints "stage process-faults thread-faults" per stage, then
// "output bytes" and "peak KB".
int child(int mode, int calls, const char* path) {
  TabulonWorkbook* book = nullptr;
  if (mode <= 1 || mode == 2) book = tabulonOpen(path, nullptr);
  if (mode == 0 || mode == 3) {
    if (openExcel(path) != 0) return 1;
  }
  if ((mode == 1 || mode == 2) && book == nullptr) return 1;
  tabulon::setStageProbe(record);
  std::size_t bytes = 0;
  for (int call = 0; call < calls; ++call) {
    markCount = 0;
    recording = call + 1 == calls;
    const Mark start{"start", faults(RUSAGE_SELF), faults(RUSAGE_THREAD)};
    if (mode == 0) {
      const char* text = getSheetText(firstSheet().c_str(), 0);
      bytes = std::strlen(text);
    } else if (mode == 1) {
      std::size_t length = 0;
      char* text = tabulonReadText(book, nullptr, 0, nullptr, &length, nullptr);
      if (text == nullptr) return 1;
      bytes = length;
      tabulonFree(text);
    } else {
      ArrowSchema schema;
      ArrowArray array;
      TabulonReadOptions options{};
      options.max_rows = -1;
      options.header = 1;
      int failed = 0;
      if (mode == 2) {
        failed = tabulonReadColumns(book, nullptr, 0, &options, &schema, &array, nullptr);
      } else {
        failed = readColumns(firstSheet().c_str(), &options, &schema, &array);
      }
      if (failed != 0) return 1;
      bytes = bufferBytes(array, schema);
      schema.release(&schema);
      array.release(&array);
    }
    if (call + 1 == calls) {
      Mark previous = start;
      for (int i = 0; i < markCount; ++i) {
        std::printf("%s\t%ld\t%ld\n", marks[i].stage, marks[i].process - previous.process,
                    marks[i].thread - previous.thread);
        previous = marks[i];
      }
      std::printf("total\t%ld\t%ld\n", previous.process - start.process, previous.thread - start.thread);
    }
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("output\t%zu\npeak\t%ld\n", bytes, usage.ru_maxrss);
  return 0;
}

std::string runChild(const char* self, int mode, int calls, const char* path) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    const std::string m = std::to_string(mode), c = std::to_string(calls);
    execl(self, self, "--child", m.c_str(), c.c_str(), path, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(got));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "stage_faults: %s failed on %s\n", kModes[mode], path);
    std::exit(1);
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0)
    return child(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: stage_faults WORKBOOK...\n");
    return 2;
  }
  for (int w = 1; w < argc; ++w) {
    std::printf("\n%s\n| read | call | stage | faults (process) | of them the calling thread |\n|---|---:|---|---:|---:|\n",
                argv[w]);
    for (int mode = 0; mode < 4; ++mode) {
      for (int calls = 1; calls <= 2; ++calls) {
        const std::string out = runChild(argv[0], mode, calls, argv[w]);
        std::size_t pos = 0;
        while (pos < out.size()) {
          std::size_t end = out.find('\n', pos);
          const std::string line = out.substr(pos, end - pos);
          pos = end == std::string::npos ? out.size() : end + 1;
          char stage[64];
          long a = 0, b = 0;
          if (std::sscanf(line.c_str(), "%63[^\t]\t%ld\t%ld", stage, &a, &b) == 3)
            std::printf("| %s | %d | %s | %ld | %ld |\n", kModes[mode], calls, stage, a, b);
          else if (std::sscanf(line.c_str(), "%63[^\t]\t%ld", stage, &a) == 2)
            std::printf("| %s | %d | %s | %ld%s | |\n", kModes[mode], calls, stage,
                        std::strcmp(stage, "peak") == 0 ? a / 1024 : a,
                        std::strcmp(stage, "peak") == 0 ? " MB" : (std::strcmp(stage, "output") == 0 ? " bytes" : ""));
        }
      }
    }
  }
  return 0;
}
