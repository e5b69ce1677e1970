// Times the library on benchmark workbooks against the floor of the job and
// prints a Markdown table. Every measurement runs in a fresh process (this
// program again, with a mode flag) so that peak memory and page faults
// belong to that one measurement.
//
//   tabulon_bench [-r N] [--cli PATH | --no-cli] [--floor PATH]
//                 [--compare] [--compare-repeats N] [--compare-max-mb MB] WORKBOOK...
//   tabulon_bench --dump WORKBOOK [SHEET]   the text of getSheetData (first sheet by default)
//   tabulon_bench --child WORKBOOK          one timed open and render (internal)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "run_process.h"
#include "sheet_census.h"
#include "tabulon.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The first sheet's name, from the library's own list.
std::optional<std::string> firstSheet() {
  std::string list = listSheets();
  if (list.empty()) return std::nullopt;
  return list.substr(0, list.find('\n'));
}

bool renders(const char* text) { return !(text[0] == '0' && text[1] == '\0'); }

int dumpMode(const char* workbook, const char* sheetName) {
  if (openExcel(workbook) != 0) {
    std::fprintf(stderr, "tabulon_bench: cannot open %s\n", workbook);
    return 1;
  }
  std::optional<std::string> sheet = sheetName ? std::optional<std::string>(sheetName) : firstSheet();
  const char* text = sheet ? getSheetData(sheet->c_str()) : "0";
  if (!renders(text)) {
    std::fprintf(stderr, "tabulon_bench: no sheet to render in %s\n", workbook);
    return 1;
  }
  std::size_t size = std::strlen(text);
  bool written = std::fwrite(text, 1, size, stdout) == size && std::fflush(stdout) == 0;
  closeExcel();
  return written ? 0 : 1;
}

long faultsSoFar() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt + usage.ru_majflt;
}

// Prints "<openExcel s> <getSheetData s> <output bytes> <faults in getSheetData>".
int childMode(const char* workbook) {
  auto start = Clock::now();
  int opened = openExcel(workbook);
  double openSeconds = secondsSince(start);
  if (opened != 0) {
    std::fprintf(stderr, "tabulon_bench: openExcel(%s) gave %d\n", workbook, opened);
    return 1;
  }
  std::optional<std::string> sheet = firstSheet();
  if (!sheet) {
    std::fprintf(stderr, "tabulon_bench: %s lists no sheet\n", workbook);
    return 1;
  }
  long faultsBefore = faultsSoFar();
  start = Clock::now();
  const char* text = getSheetData(sheet->c_str());
  double sheetSeconds = secondsSince(start);
  long faults = faultsSoFar() - faultsBefore;
  if (!renders(text)) {
    std::fprintf(stderr, "tabulon_bench: getSheetData(%s) failed\n", sheet->c_str());
    return 1;
  }
  std::printf("%.9f %.9f %zu %ld\n", openSeconds, sheetSeconds, std::strlen(text), faults);
  return 0;
}

struct Series {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  bool empty() const { return values.empty(); }
  double median() const {
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
  double min() const { return *std::min_element(values.begin(), values.end()); }
  double max() const { return *std::max_element(values.begin(), values.end()); }
};

std::string number(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// Digits enough for three significant figures, at most two decimals.
int decimalsFor(double v) {
  double a = std::abs(v);
  return a >= 100 ? 0 : a >= 10 ? 1 : 2;
}

// "median (min–max)", or "–" without values.
std::string spread(const Series& s, int decimals = -1) {
  if (s.empty()) return "–";
  int d = decimals >= 0 ? decimals : decimalsFor(s.median());
  std::string text = number(s.median(), d);
  if (s.values.size() > 1) text += " (" + number(s.min(), d) + "–" + number(s.max(), d) + ")";
  return text;
}

// 1234567 as "1,234,567".
std::string grouped(unsigned long long v) {
  std::string digits = std::to_string(v), text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// The last column of a dimension such as "A1:J1000", as a number; 0 if none.
unsigned long long lastColumn(const std::string& dimension) {
  std::size_t at = dimension.find(':');
  unsigned long long column = 0;
  for (std::size_t i = at == std::string::npos ? 0 : at + 1; i < dimension.size(); ++i) {
    char c = dimension[i];
    if (c < 'A' || c > 'Z') break;
    column = column * 26 + static_cast<unsigned long long>(c - 'A' + 1);
  }
  return column;
}

std::string ratio(const Series& a, const Series& b) {
  if (a.empty() || b.empty() || b.median() <= 0) return "–";
  return number(a.median() / b.median(), 2) + "×";
}

struct Reader {
  std::string name;                    // as shown in the table
  std::vector<std::string> argv;       // with "{}" standing for the workbook
};

std::vector<Reader> presentReaders() {
  std::vector<Reader> readers;
  if (std::string p = bench::findInPath("xlsx2csv"); !p.empty())
    readers.push_back({"xlsx2csv", {p, "{}"}});
  if (std::string p = bench::findInPath("ssconvert"); !p.empty())
    readers.push_back({"ssconvert (CSV)", {p, "--export-type=Gnumeric_stf:stf_csv", "{}", "fd://1"}});
  return readers;
}

struct Measured {
  std::string name;
  bench::SheetCensus census;
  Series open, sheet, mbPerS, mcellsPerS, outputMB, rss, faults, sheetFaults, libProcess;
  Series floorProcess, floorInProcess, floorRss;
  Series cliProcess, cliRss, cliFaults;
  std::map<std::string, Series> readers;
  bool failed = false;
};

struct Options {
  int repeats = 5;
  int compareRepeats = 3;
  double compareMaxMB = 1e18;
  bool compare = false;
  std::string cli;
  std::string floor;
  std::vector<std::string> workbooks;
};

std::string selfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

std::string cpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown CPU";
}

Measured measure(const std::string& workbook, const Options& options,
                 const std::vector<Reader>& readers) {
  Measured m;
  m.name = std::filesystem::path(workbook).stem().string();
  m.census = bench::takeCensus(workbook);
  if (!m.census.ok) {
    std::fprintf(stderr, "tabulon_bench: cannot read the first worksheet of %s\n", workbook.c_str());
    m.failed = true;
    return m;
  }
  double xmlMB = static_cast<double>(m.census.xmlBytes) / 1e6;
  const std::string self = selfPath();
  bool compare = options.compare && xmlMB <= options.compareMaxMB;

  for (int r = 0; r < options.repeats; ++r) {
    std::fprintf(stderr, "%s: run %d of %d\n", m.name.c_str(), r + 1, options.repeats);
    // Runs alternate between the contenders so drift hits them alike.
    bench::ProcessCost floor = bench::runProcess({options.floor, workbook}, bench::Stdout::Capture);
    unsigned long long sheetBytes = 0, stringBytes = 0;
    double inProcess = 0;
    if (!floor.ok || std::sscanf(floor.output.c_str(), "%llu %llu %lf", &sheetBytes, &stringBytes,
                                 &inProcess) != 3) {
      std::fprintf(stderr, "tabulon_bench: the floor process failed on %s\n", workbook.c_str());
      m.failed = true;
      return m;
    }
    m.floorProcess.add(floor.seconds * 1e3);
    m.floorInProcess.add(inProcess * 1e3);
    m.floorRss.add(floor.peakRssMB);

    bench::ProcessCost lib = bench::runProcess({self, "--child", workbook}, bench::Stdout::Capture);
    double openS = 0, sheetS = 0;
    unsigned long long outBytes = 0;
    long sheetFaults = 0;
    if (!lib.ok || std::sscanf(lib.output.c_str(), "%lf %lf %llu %ld", &openS, &sheetS, &outBytes,
                               &sheetFaults) != 4) {
      std::fprintf(stderr, "tabulon_bench: the library failed on %s\n", workbook.c_str());
      m.failed = true;
      return m;
    }
    m.open.add(openS * 1e3);
    m.sheet.add(sheetS * 1e3);
    m.mbPerS.add(xmlMB / sheetS);
    m.mcellsPerS.add(static_cast<double>(m.census.cells) / 1e6 / sheetS);
    m.outputMB.add(static_cast<double>(outBytes) / 1e6);
    m.rss.add(lib.peakRssMB);
    m.faults.add(static_cast<double>(lib.minorFaults + lib.majorFaults));
    m.sheetFaults.add(static_cast<double>(sheetFaults));
    m.libProcess.add(lib.seconds * 1e3);

    if (!options.cli.empty()) {
      bench::ProcessCost cli = bench::runProcess({options.cli, workbook}, bench::Stdout::Discard);
      if (cli.ok) {
        m.cliProcess.add(cli.seconds * 1e3);
        m.cliRss.add(cli.peakRssMB);
        m.cliFaults.add(static_cast<double>(cli.minorFaults + cli.majorFaults));
      } else {
        std::fprintf(stderr, "tabulon_bench: %s failed on %s\n", options.cli.c_str(), workbook.c_str());
      }
    }

    if (compare && r < options.compareRepeats) {
      for (const Reader& reader : readers) {
        std::vector<std::string> argv = reader.argv;
        for (std::string& a : argv)
          if (a == "{}") a = workbook;
        bench::ProcessCost cost = bench::runProcess(argv, bench::Stdout::Discard, true);
        if (cost.ok) m.readers[reader.name].add(cost.seconds * 1e3);
        else std::fprintf(stderr, "tabulon_bench: %s failed on %s\n", reader.name.c_str(), workbook.c_str());
      }
    }
  }
  return m;
}

void printTables(const std::vector<Measured>& all, const Options& options) {
  std::time_t now = std::time(nullptr);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
  std::printf(
      "Measured %s on %s, %u hardware threads; %d runs of each process, interleaved. Medians, "
      "with the range of the runs in parentheses. MB = 10^6 bytes; times in ms.\n\n",
      date, cpuModel().c_str(), std::thread::hardware_concurrency(), options.repeats);

  std::printf(
      "| workbook | rows × columns | cells | sheet XML MB (zipped) | output MB | openExcel ms | "
      "getSheetData ms | sheet XML MB/s | M cells/s | peak RSS MB | RSS ÷ budget | page faults | "
      "in getSheetData |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Measured& m : all) {
    if (m.failed) {
      std::printf("| %s | failed | | | | | | | | | | | |\n", m.name.c_str());
      continue;
    }
    double xmlMB = static_cast<double>(m.census.xmlBytes) / 1e6;
    // The memory target: the worksheet's XML plus twice the output.
    double budget = xmlMB + 2 * m.outputMB.median();
    std::printf("| %s | %s × %s | %s | %.1f (%.1f) | %.1f | %s | %s | %s | %s | %s | %.2f | %s | %s |\n",
                m.name.c_str(), grouped(m.census.rows).c_str(),
                grouped(lastColumn(m.census.dimension)).c_str(), grouped(m.census.cells).c_str(), xmlMB,
                static_cast<double>(m.census.zippedBytes) / 1e6, m.outputMB.median(),
                spread(m.open).c_str(), spread(m.sheet).c_str(), spread(m.mbPerS).c_str(),
                spread(m.mcellsPerS).c_str(), spread(m.rss).c_str(), m.rss.median() / budget,
                spread(m.faults, 0).c_str(), spread(m.sheetFaults, 0).c_str());
  }

  std::printf(
      "\nWhole processes, from fork to exit. The floor opens the workbook and inflates its "
      "worksheet and shared strings into one small reused buffer (time inside the process in "
      "its own column); the library process runs openExcel and getSheetData on the first sheet; "
      "the command-line program writes the sheet to /dev/null.\n\n");
  std::printf(
      "| workbook | floor ms | floor in-process ms | floor RSS MB | library process ms | × floor | "
      "CLI ms | × floor | CLI RSS MB | CLI page faults |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Measured& m : all) {
    if (m.failed) continue;
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", m.name.c_str(),
                spread(m.floorProcess).c_str(), spread(m.floorInProcess).c_str(),
                spread(m.floorRss).c_str(), spread(m.libProcess).c_str(),
                ratio(m.libProcess, m.floorProcess).c_str(), spread(m.cliProcess).c_str(),
                ratio(m.cliProcess, m.floorProcess).c_str(), spread(m.cliRss).c_str(),
                spread(m.cliFaults, 0).c_str());
  }

  bool anyReader = false;
  for (const Measured& m : all) anyReader = anyReader || !m.readers.empty();
  if (!anyReader) return;
  std::printf(
      "\nOther readers turning the same sheet into CSV, whole processes timed in the same run "
      "(up to %d runs each), output to /dev/null.\n\n",
      options.compareRepeats);
  std::printf("| workbook | reader | process ms | CLI faster by | library process faster by |\n|---|---|---:|---:|---:|\n");
  for (const Measured& m : all) {
    for (const auto& [name, series] : m.readers) {
      std::printf("| %s | %s | %s | %s | %s |\n", m.name.c_str(), name.c_str(), spread(series).c_str(),
                  ratio(series, m.cliProcess).c_str(), ratio(series, m.libProcess).c_str());
    }
  }
}

int usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s [-r N] [--cli PATH | --no-cli] [--floor PATH] [--compare]\n"
               "          [--compare-repeats N] [--compare-max-mb MB] WORKBOOK...\n"
               "       %s --dump WORKBOOK [SHEET]\n",
               self, self);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) return childMode(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "--dump") == 0) return dumpMode(argv[2], argc >= 4 ? argv[3] : nullptr);

  Options options;
  std::filesystem::path here = std::filesystem::path(selfPath()).parent_path();
  options.floor = (here / "floor").string();
  options.cli = (here.parent_path() / "cli" / "tabulon").string();
  bool cliGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "-r" && hasValue) options.repeats = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--cli" && hasValue) options.cli = argv[++i], cliGiven = true;
    else if (arg == "--no-cli") options.cli.clear();
    else if (arg == "--floor" && hasValue) options.floor = argv[++i];
    else if (arg == "--compare") options.compare = true;
    else if (arg == "--compare-repeats" && hasValue) options.compareRepeats = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--compare-max-mb" && hasValue) options.compareMaxMB = std::atof(argv[++i]);
    else if (!arg.empty() && arg[0] == '-') return usage(argv[0]);
    else options.workbooks.push_back(arg);
  }
  if (options.workbooks.empty()) return usage(argv[0]);
  if (!options.cli.empty() && access(options.cli.c_str(), X_OK) != 0) {
    if (cliGiven) {
      std::fprintf(stderr, "tabulon_bench: %s is not an executable\n", options.cli.c_str());
      return 2;
    }
    std::fprintf(stderr, "tabulon_bench: no command-line program at %s; its columns stay empty\n",
                 options.cli.c_str());
    options.cli.clear();
  }
  std::vector<Reader> readers;
  if (options.compare) {
    readers = presentReaders();
    if (readers.empty()) std::fprintf(stderr, "tabulon_bench: no other reader installed to compare with\n");
  }

  std::vector<Measured> all;
  bool failed = false;
  for (const std::string& workbook : options.workbooks) {
    all.push_back(measure(workbook, options, readers));
    failed = failed || all.back().failed;
  }
  printTables(all, options);
  return failed ? 1 : 0;
}
