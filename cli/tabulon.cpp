// tabulon: print one worksheet of an .xlsx workbook as text or CSV.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tabulon.h"

// Field count of the sheet last rendered, exported by the library.
extern "C" unsigned long max_abs_col;

namespace {

enum Exit {
  kOk = 0,
  kUsage = 2,
  kNoFile = 3,
  kNotWorkbook = 4,
  kUnknownSheet = 5,
  kUnreadableSheet = 6,
  kOutputFailed = 7,
};

const char kUsageText[] =
    "usage: tabulon [--csv] [WORKBOOK [SHEET]]\n"
    "       tabulon --list [WORKBOOK]\n"
    "       tabulon --version | --help\n"
    "\n"
    "Prints a worksheet of an .xlsx workbook: one line per row that holds a\n"
    "value, every field ended by ';', dates as YYYY-MM-DD HH:MM:SS. SHEET\n"
    "defaults to the first sheet; WORKBOOK to the bundled sample.\n"
    "\n"
    "  --csv      write RFC 4180 CSV instead\n"
    "  --list     list the workbook's sheets, one per line\n"
    "  --version  print the library's version\n"
    "\n"
    "exit status: 0 done, 2 usage error, 3 no such file (or not a regular\n"
    "file), 4 not a workbook, 5 no such sheet, 6 the sheet cannot be read,\n"
    "7 the output cannot be written\n";

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "tabulon: %s\n", message.c_str());
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

// The bundled sample: beside an installed program, else in the source tree.
std::string samplePath() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string exe(self, static_cast<std::size_t>(n));
    std::string installed = exe.substr(0, exe.rfind('/')) + "/../share/tabulon/sample.xlsx";
    if (isFile(installed)) return installed;
  }
  return TABULON_SAMPLE;
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Rows of width fields, each ended by ';', each row by '\n'. Fields hold no
// ';', so counting them finds the row ends even when a field holds '\n'.
std::string toCsv(std::string_view text, unsigned long width) {
  std::string csv;
  csv.reserve(text.size() + text.size() / 8);
  std::size_t pos = 0;
  while (pos < text.size()) {
    for (unsigned long f = 0; f < width && pos < text.size(); ++f) {
      std::size_t end = text.find(';', pos);
      if (end == std::string_view::npos) end = text.size();
      std::string_view field = text.substr(pos, end - pos);
      if (f > 0) csv += ',';
      if (field.find_first_of(",\"\n\r") == std::string_view::npos) {
        csv += field;
      } else {
        csv += '"';
        for (char c : field) {
          if (c == '"') csv += '"';
          csv += c;
        }
        csv += '"';
      }
      pos = end + 1;
    }
    csv += "\r\n";
    if (pos < text.size() && text[pos] == '\n') ++pos;
  }
  return csv;
}

bool writeAll(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool csv = false, list = false;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsageText, stdout);
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
    } else if (arg == "--") {
      for (++i; i < argc; ++i) operands.emplace_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option " + arg);
    } else {
      operands.push_back(arg);
    }
  }
  if (list && csv) return usageError("--list and --csv do not go together");
  if (operands.size() > (list ? 1u : 2u)) return usageError("too many arguments");

  const std::string path = operands.empty() ? samplePath() : operands[0];
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return fail(kNoFile, path + ": " + std::strerror(errno));
  if (!S_ISREG(status.st_mode)) return fail(kNoFile, path + ": not a regular file");

  int opened = openExcel(path.c_str());
  if (opened == -2) return fail(kNotWorkbook, path + ": not a workbook (not a zip archive, or a damaged one)");
  if (opened != 0) return fail(kNotWorkbook, path + ": not a workbook (its parts cannot be read)");

  std::vector<std::string> sheets = splitLines(listSheets());
  if (list) {
    int code = writeAll(listSheets()) ? kOk : fail(kOutputFailed, "cannot write the output");
    closeExcel();
    return code;
  }
  if (sheets.empty()) {
    closeExcel();
    return fail(kUnknownSheet, path + ": the workbook has no sheets");
  }
  const std::string sheet = operands.size() > 1 ? operands[1] : sheets.front();
  bool known = false;
  for (const std::string& s : sheets) known = known || s == sheet;
  if (!known) {
    std::string names;
    for (const std::string& s : sheets) names += (names.empty() ? "'" : ", '") + s + "'";
    closeExcel();
    return fail(kUnknownSheet, "no sheet '" + sheet + "' in " + path + "; its sheets: " + names);
  }

  const char* text = getSheetData(sheet.c_str());
  if (std::strcmp(text, "0") == 0) {
    closeExcel();
    return fail(kUnreadableSheet, "sheet '" + sheet + "' of " + path + " cannot be read (its part is missing or damaged)");
  }
  bool written = csv ? writeAll(toCsv(text, max_abs_col)) : writeAll(text);
  closeExcel();
  return written ? kOk : fail(kOutputFailed, "cannot write the output");
}
