#include "batch_names.h"

#include <unistd.h>

#include <climits>
#include <cstddef>
#include <map>
#include <set>
#include <string_view>

namespace tabulon::cli {

namespace {

constexpr std::size_t kMaxPart = 80;

bool keptByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c >= 0x80;
}

// The folders of path, outermost first, from its absolute form with "." and
// ".." resolved by text (the file itself may not exist).
std::vector<std::string> folders(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) != nullptr) absolute = std::string(cwd) + "/" + absolute;
  }
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= absolute.size()) {
    std::size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    std::string part = absolute.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  if (!parts.empty()) parts.pop_back();  // the file
  return parts;
}

std::string stem(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);  // npos + 1 == 0
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// Numbers the second and later occurrences of a part: "x", "x~2", "x~3".
void numberRepeats(std::vector<std::string>& parts) {
  std::map<std::string, int> seen;
  for (std::string& part : parts) {
    int count = ++seen[part];
    if (count > 1) part.append("~").append(std::to_string(count));
  }
}

}  // namespace

std::string safePart(const std::string& component) {
  std::string part;
  for (unsigned char c : component) part += keptByte(c) ? static_cast<char>(c) : '_';
  if (!part.empty() && part[0] == '-') part[0] = '_';
  if (part.size() > kMaxPart) {
    std::size_t cut = kMaxPart;
    // Step back over continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<unsigned char>(part[cut]) & 0xC0) == 0x80) --cut;
    part.resize(cut);
  }
  return part.empty() ? "_" : part;
}

std::vector<std::string> workbookParts(const std::vector<std::string>& paths) {
  std::vector<std::string> parts, absolute;
  std::vector<std::vector<std::string>> dirs;
  std::vector<std::size_t> used(paths.size(), 0);
  for (const std::string& path : paths) {
    parts.push_back(safePart(stem(path)));
    dirs.push_back(folders(path));
    std::string whole;
    for (const std::string& dir : dirs.back()) whole += dir + "/";
    absolute.push_back(whole + path.substr(path.rfind('/') + 1));
  }
  // Parts shared by different workbooks take one more folder each round,
  // until they differ or the folders run out. One path given twice never
  // differs from itself: it is left to the numbering.
  for (bool changed = true; changed;) {
    changed = false;
    std::map<std::string, std::set<std::string>> sharing;
    for (std::size_t i = 0; i < parts.size(); ++i) sharing[parts[i]].insert(absolute[i]);
    std::vector<std::string> next = parts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (sharing[parts[i]].size() < 2 || used[i] >= dirs[i].size()) continue;
      ++used[i];
      next[i] = safePart(dirs[i][dirs[i].size() - used[i]]) + "_" + parts[i];
      changed = true;
    }
    parts = std::move(next);
  }
  numberRepeats(parts);
  return parts;
}

std::vector<std::string> sheetParts(const std::vector<std::string>& sheets) {
  std::vector<std::string> parts;
  for (const std::string& sheet : sheets) parts.push_back(safePart(sheet));
  numberRepeats(parts);
  return parts;
}

}  // namespace tabulon::cli
