#include "sheet_census.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace bench {
namespace {

// Counts "<name" followed by white space, '>' or '/', across chunk boundaries.
class TagCounter {
 public:
  explicit TagCounter(const char* name) : pattern_(std::string("<") + name) {}

  void feed(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      char c = p[i];
      if (matched_ == pattern_.size()) {
        if (c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\n' || c == '\r') ++count_;
        matched_ = 0;
      }
      // '<' occurs only first in the pattern, so a mismatch restarts there.
      if (c == pattern_[matched_]) ++matched_;
      else matched_ = c == '<' ? 1 : 0;
    }
  }

  std::uint64_t count() const { return count_; }

 private:
  std::string pattern_;
  std::size_t matched_ = 0;
  std::uint64_t count_ = 0;
};

}  // namespace

SheetCensus takeCensus(const std::string& workbook) {
  SheetCensus census;
  int error = 0;
  zip_t* archive = zip_open(workbook.c_str(), ZIP_RDONLY, &error);
  if (archive == nullptr) return census;
  zip_stat_t st;
  if (zip_stat(archive, "xl/sharedStrings.xml", 0, &st) == 0) census.stringsBytes = st.size;
  zip_file_t* file = nullptr;
  if (zip_stat(archive, "xl/worksheets/sheet1.xml", 0, &st) == 0 &&
      (file = zip_fopen(archive, "xl/worksheets/sheet1.xml", 0)) != nullptr) {
    census.xmlBytes = st.size;
    census.zippedBytes = st.comp_size;
    TagCounter rows("row"), cells("c");
    std::vector<char> buf(1 << 20);
    std::string head;
    zip_int64_t n;
    while ((n = zip_fread(file, buf.data(), buf.size())) > 0) {
      rows.feed(buf.data(), static_cast<std::size_t>(n));
      cells.feed(buf.data(), static_cast<std::size_t>(n));
      if (head.size() < 4096) head.append(buf.data(), std::min<std::size_t>(static_cast<std::size_t>(n), 4096));
    }
    zip_fclose(file);
    census.rows = rows.count();
    census.cells = cells.count();
    if (std::size_t at = head.find("<dimension ref=\""); at != std::string::npos) {
      at += std::strlen("<dimension ref=\"");
      census.dimension = head.substr(at, head.find('"', at) - at);
    }
    census.ok = n == 0;
  }
  zip_discard(archive);
  return census;
}

}  // namespace bench
