// tabulon: print one worksheet of an .xlsx workbook as text or CSV.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "batch.h"
#include "csv_text.h"
#include "exit_status.h"
#include "sheet_names.h"
#include "tabulon.h"

namespace {

using tabulon::cli::quotedList;
using tabulon::cli::splitLines;

using namespace tabulon::cli;

const char kUsageText[] =
    "usage: tabulon [--csv] [WORKBOOK [SHEET]]\n"
    "       tabulon [--csv] --out DIR [--sheet SHEET|N|all] [--jobs N] [--threads] [--force] WORKBOOK...\n"
    "       tabulon --list [WORKBOOK]\n"
    "       tabulon --version | --help\n"
    "\n"
    "Prints a worksheet of an .xlsx workbook: one line per row that holds a\n"
    "value, every field ended by ';', up to the last column holding a value,\n"
    "dates as YYYY-MM-DD HH:MM:SS; ';' and carriage returns inside cells are\n"
    "dropped. SHEET defaults to the first sheet; WORKBOOK to the bundled sample,\n"
    "and '-' reads the workbook from standard input (curl -s URL | tabulon - Sales).\n"
    "\n"
    "  --csv      write RFC 4180 CSV instead (comma-separated, CRLF line ends,\n"
    "             fields quoted where needed, every character of a cell kept)\n"
    "  --list     list the workbook's sheets, one per line\n"
    "  --version  print the library's version\n"
    "  --         end of options (for a workbook or sheet named '-...')\n"
    "\n"
    "Many workbooks: --out DIR writes one file per workbook and sheet into DIR\n"
    "(made if missing), named WORKBOOK.SHEET.csv (.txt without --csv), with\n"
    "characters other than letters, digits, '_' and '-' replaced by '_';\n"
    "workbooks of the same name get their folders' names in front. Workbooks\n"
    "are converted in parallel worker processes (a workbook that crashes its\n"
    "worker fails alone); the written files are listed\n"
    "on standard output, failures and a summary on standard error.\n"
    "  --sheet S  the first sheet (default), a position N (1 is the first), all\n"
    "             sheets, or a name (=NAME for a sheet named like 'all' or '2')\n"
    "  --jobs N   worker processes (default: one per core)\n"
    "  --threads  convert in threads of one process instead: no process per\n"
    "             workbook, but a workbook that crashes the reader stops all\n"
    "  --force    replace files that exist (otherwise such a workbook fails)\n"
    "\n"
    "exit status: 0 done, 2 usage error, 3 no such file (or not a regular\n"
    "file, or unreadable), 4 not a workbook, 5 no such sheet, 6 the sheet\n"
    "cannot be read, 7 the output cannot be written, 8 the workbook is\n"
    "password-protected, 9 a file of another format (.xls, .xlsb, .ods, or\n"
    "not a spreadsheet at all); with --out, the status of the failed\n"
    "workbooks when they all failed alike, else 1\n";

void note(const std::string& message) { std::fprintf(stderr, "tabulon: %s\n", message.c_str()); }

int fail(int code, const std::string& message) {
  note(message);
  return code;
}

int usageError(const std::string& message) {
  fail(kUsage, message);
  std::fputs("Try 'tabulon --help'.\n", stderr);
  return kUsage;
}

bool isFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The bundled sample: where an install puts it relative to this program,
// else in the source tree the program was built from.
std::string samplePath() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string exe(self, static_cast<std::size_t>(n));
    std::string installed = exe.substr(0, exe.rfind('/') + 1) + TABULON_SAMPLE_FROM_BINARY;
    if (isFile(installed)) return installed;
  }
  return TABULON_SAMPLE;
}

// One write for the whole text: sheets run to hundreds of megabytes.
bool writeAll(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

// Exit status and message for a path that is not a readable regular file;
// kOk when it is one.
int checkFile(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return fail(kNoFile, path + ": " + std::strerror(errno));
  if (!S_ISREG(status.st_mode)) return fail(kNoFile, path + ": not a regular file");
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return fail(kNoFile, path + ": " + std::strerror(errno));
  close(fd);
  return kOk;
}

// All of standard input, which holds the workbook.
bool readStandardInput(std::string& bytes) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

// The open workbook's sheet names, all kinds, in workbook order.
std::vector<std::string> sheetNamesOf(TabulonWorkbook* workbook) {
  std::vector<std::string> names;
  const std::int64_t count = tabulonSheetCount(workbook, nullptr);
  for (std::int64_t i = 0; i < count; ++i) {
    TabulonSheetInfo info;
    if (tabulonSheetInfo(workbook, i, &info, nullptr) == 0) names.emplace_back(info.name);
  }
  return names;
}

// Renders (or lists) the open workbook; the caller closes it. shown names
// the workbook in messages.
int render(TabulonWorkbook* workbook, const std::string& shown, const std::vector<std::string>& operands, bool list,
           bool csv) {
  std::vector<std::string> sheets = sheetNamesOf(workbook);
  if (list) {
    std::string listing;
    for (const std::string& name : sheets) listing += name + "\n";
    return writeAll(listing) ? kOk : fail(kOutputFailed, "cannot write the output");
  }
  if (sheets.empty()) return fail(kUnknownSheet, shown + ": the workbook has no sheets");
  const std::string sheet = operands.size() > 1 ? operands[1] : sheets.front();
  bool known = false;
  for (const std::string& name : sheets) known = known || name == sheet;
  if (!known) {
    return fail(kUnknownSheet, "no sheet '" + sheet + "' in " + shown + "; its sheets: " + quotedList(sheets));
  }
  // Cells of the workbook's own date formats are dates here too.
  const TabulonTextOptions options{tabulon::cli::textFlags(csv), 0};
  TabulonStatus status;
  std::size_t length = 0;
  char* text = tabulonReadText(workbook, sheet.c_str(), 0, &options, &length, &status);
  if (text == nullptr)
    return fail(kUnreadableSheet, "sheet '" + sheet + "' of " + shown + " cannot be read: " + status.text);
  // The library says why when the sheet has cells but none shows.
  if (length == 0)
    note("sheet '" + sheet + "' of " + shown + " holds no values" +
         (status.text[0] == '\0' ? "" : " (" + std::string(status.text) + ")"));
  bool written = csv ? writeAll(tabulon::cli::toCsv(std::string_view(text, length)))
                     : writeAll(std::string_view(text, length));
  tabulonFree(text);
  return written ? kOk : fail(kOutputFailed, "cannot write the output");
}

// The value of an option given as "--name VALUE" or "--name=VALUE"; false
// when it is missing.
bool optionValue(int argc, char** argv, int& i, const std::string& name, std::string& value) {
  std::string arg = argv[i];
  if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
    value = arg.substr(name.size() + 1);
    return true;
  }
  if (i + 1 >= argc) return false;
  value = argv[++i];
  return true;
}

bool isOption(const std::string& arg, const std::string& name) {
  return arg == name || arg.compare(0, name.size() + 1, name + "=") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool csv = false, list = false, force = false, threads = false;
  std::string outDir, sheet, jobs;
  bool batch = false, batchOnly = false, sheetGiven = false;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsageText, stdout);
      std::printf("\nbundled sample: %s\n", samplePath().c_str());
      return kOk;
    }
    if (arg == "--version") {
      std::printf("%s\n", version());
      return kOk;
    }
    if (arg == "--csv") {
      csv = true;
    } else if (arg == "--list") {
      list = true;
    } else if (arg == "--force") {
      force = batchOnly = true;
    } else if (arg == "--threads") {
      threads = batchOnly = true;
    } else if (isOption(arg, "--out") || isOption(arg, "--sheet") || isOption(arg, "--jobs")) {
      std::string name = arg.substr(0, arg.find('='));
      std::string value;
      if (!optionValue(argc, argv, i, name, value) || (name == "--jobs" && value.empty())) {
        return usageError(name + " needs a value");
      }
      if (name == "--out") {
        if (value.empty()) return usageError("--out needs a folder");
        outDir = value;
        batch = true;
      } else {
        (name == "--sheet" ? sheet : jobs) = value;
        sheetGiven = sheetGiven || name == "--sheet";
        batchOnly = true;
      }
    } else if (arg == "--") {
      for (++i; i < argc; ++i) operands.emplace_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option " + arg);
    } else {
      operands.push_back(arg);
    }
  }
  if (list && csv) return usageError("--list and --csv do not go together");
  if (batch) {
    if (list) return usageError("--list and --out do not go together");
    if (operands.empty()) return usageError("--out needs at least one workbook");
    for (const std::string& book : operands)
      if (book == "-") return usageError("standard input ('-') is read without --out only");
    BatchOptions options{operands, outDir, sheet, csv, force, 0, threads};
    if (sheetGiven && sheet.empty()) return usageError("--sheet needs a sheet");
    if (!sheet.empty() && sheet.find_first_not_of('0') == std::string::npos) {
      return usageError("sheet positions count from 1");
    }
    if (!jobs.empty()) {
      if (jobs.size() > 4 || jobs.find_first_not_of("0123456789") != std::string::npos || std::stoi(jobs) == 0) {
        return usageError("--jobs needs a number from 1 to 9999");
      }
      options.jobs = static_cast<unsigned>(std::stoi(jobs));
    }
    return tabulon::cli::runBatch(options);
  }
  if (batchOnly) return usageError("--sheet, --jobs, --threads and --force go with --out");
  if (operands.size() > (list ? 1u : 2u)) return usageError("too many arguments");

  const std::string path = operands.empty() ? samplePath() : operands[0];
  // Standard input is read whole: the archive's directory sits at its end.
  const bool fromInput = path == "-";
  const std::string shown = fromInput ? "standard input" : path;
  std::string bytes;
  if (fromInput) {
    if (!readStandardInput(bytes)) return fail(kNoFile, "standard input: " + std::string(std::strerror(errno)));
  } else if (int status = checkFile(path); status != kOk) {
    return status;
  }

  TabulonStatus opened;
  TabulonWorkbook* workbook = fromInput ? tabulonOpenMemory(bytes.data(), bytes.size(), TABULON_BORROW, &opened)
                                        : tabulonOpen(path.c_str(), &opened);
  if (workbook == nullptr) {
    const int code = opened.code;
    const std::string why = opened.text;
    if (code == TABULON_NO_SUCH_FILE || code == TABULON_NOT_A_FILE || code == TABULON_UNREADABLE)
      return fail(kNoFile, why);
    // The library's text names the file and what it is.
    if (const Exit foreign = foreignFormat(code); foreign != kOk) return fail(foreign, fromInput ? shown + ": " + why : why);
    // The archive's own messages already name the file.
    std::string reason = why;
    if (reason.rfind(path + ": ", 0) == 0) reason.erase(0, path.size() + 2);
    return fail(kNotWorkbook, shown + ": not a workbook (" + reason + ")");
  }
  int status = render(workbook, shown, operands, list, csv);
  tabulonClose(workbook, nullptr);
  return status;
}
