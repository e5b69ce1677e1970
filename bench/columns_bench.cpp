// Typed columns against text, per workbook: the time of readColumns and of
// getSheetText on the first sheet, each in a process of its own, and each
// process's peak memory beside the size of the columns it built.
//
//   columns_bench [-r RUNS] WORKBOOK...
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tabulon.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string firstSheet() {
  const std::string list = listSheets();
  return list.substr(0, list.find('\n'));
}

// Bytes of an array's buffers, its children's and its dictionary's.
std::uint64_t bufferBytes(const ArrowArray& a, const ArrowSchema& s) {
  std::uint64_t total = 0;
  const std::string format = s.format;
  const auto n = static_cast<std::uint64_t>(a.length);
  if (a.n_buffers > 0 && a.buffers[0] != nullptr) total += (n + 7) / 8;
  if (format == "g" || format == "tsu:") total += 8 * n;
  if (format == "b") total += (n + 7) / 8;
  if (format == "i") total += 4 * n;
  if (format == "u") {
    auto offsets = static_cast<const std::int32_t*>(a.buffers[1]);
    total += 4 * (n + 1) + static_cast<std::uint64_t>(offsets[n]);
  }
  for (std::int64_t c = 0; c < a.n_children; ++c) total += bufferBytes(*a.children[c], *s.children[c]);
  if (a.dictionary != nullptr) total += bufferBytes(*a.dictionary, *s.dictionary);
  return total;
}

long peakKilobytes() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// In a child: one output of the first sheet. Prints "<seconds> <peak KB>
// <column bytes>".
int child(const char* workbook, bool columns) {
  if (openExcel(workbook) != 0) return 1;
  const std::string sheet = firstSheet();
  const auto start = Clock::now();
  std::uint64_t bytes = 0;
  if (columns) {
    TabulonReadOptions options{};
    options.max_rows = -1;
    options.header = 1;
    ArrowSchema schema;
    ArrowArray array;
    if (readColumns(sheet.c_str(), &options, &schema, &array) != 0) return 1;
    bytes = bufferBytes(array, schema);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%.6f %ld %llu\n", seconds, peakKilobytes(), static_cast<unsigned long long>(bytes));
    schema.release(&schema);
    array.release(&array);
  } else {
    const char* text = getSheetText(sheet.c_str(), TABULON_TEXT_ALL_DATES);
    if (std::strcmp(text, "0") == 0) return 1;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%.6f %ld 0\n", seconds, peakKilobytes());
  }
  return 0;
}

struct Run {
  double seconds;
  long peakKb;
  unsigned long long bytes;
};

Run runChild(const char* self, const char* workbook, bool columns) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) std::exit(1);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    execl(self, self, columns ? "--columns" : "--text", workbook, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  char buffer[256] = {};
  const ssize_t got = read(pipeFds[0], buffer, sizeof buffer - 1);
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  Run run{};
  if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(buffer, "%lf %ld %llu", &run.seconds, &run.peakKb, &run.bytes) != 3) {
    std::fprintf(stderr, "columns_bench: %s failed on %s\n", columns ? "readColumns" : "getSheetText", workbook);
    std::exit(1);
  }
  return run;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && (std::strcmp(argv[1], "--columns") == 0 || std::strcmp(argv[1], "--text") == 0))
    return child(argv[2], std::strcmp(argv[1], "--columns") == 0);
  int runs = 5, first = 1;
  if (argc > 2 && std::strcmp(argv[1], "-r") == 0) {
    runs = std::max(1, std::atoi(argv[2]));
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: columns_bench [-r RUNS] WORKBOOK...\n");
    return 2;
  }
  std::printf("| workbook | getSheetText ms | readColumns ms | columns ÷ text | text process peak MB | "
              "columns process peak MB | columns MB | peak ÷ columns |\n|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (int w = first; w < argc; ++w) {
    std::vector<double> text, columns, textPeak, columnsPeak;
    unsigned long long bytes = 0;
    for (int r = 0; r < runs; ++r) {
      const Run t = runChild(argv[0], argv[w], false);
      const Run c = runChild(argv[0], argv[w], true);
      text.push_back(t.seconds * 1e3);
      columns.push_back(c.seconds * 1e3);
      textPeak.push_back(t.peakKb / 1024.0);
      columnsPeak.push_back(c.peakKb / 1024.0);
      bytes = c.bytes;
    }
    const double columnsMb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::string name = argv[w];
    name = name.substr(name.rfind('/') + 1);
    std::printf("| %s | %.0f | %.0f | %.2f× | %.1f | %.1f | %.1f | %.2f |\n", name.c_str(), median(text),
                median(columns), median(columns) / median(text), median(textPeak), median(columnsPeak), columnsMb,
                median(columnsPeak) / std::max(columnsMb, 1e-9));
  }
  return 0;
}
