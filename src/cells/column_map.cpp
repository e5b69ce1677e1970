#include "cells/column_map.h"

#include <algorithm>
#include <limits>

namespace {

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A reference's letters are as many leading bytes as the text holds letters
// in all; the rest is its digits part. Only ASCII letters count, so the cut
// does not move with the host's locale.
std::size_t letterCount(std::string_view ref) {
  return static_cast<std::size_t>(std::count_if(ref.begin(), ref.end(), isAsciiLetter));
}

// Replaces row by the leading run of decimal digits of text; a text that
// does not start with a digit, or a run beyond 64 bits, leaves row as it was.
void readRow(std::string_view text, unsigned long& row) {
  constexpr unsigned long kMax = std::numeric_limits<unsigned long>::max();
  if (text.empty() || text[0] < '0' || text[0] > '9') return;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    const auto digit = static_cast<unsigned long>(c - '0');
    if (value > (kMax - digit) / 10) return;
    value = value * 10 + digit;
  }
  row = value;
}

}  // namespace

std::map<std::string, unsigned long> CreateMap() {
  std::map<std::string, unsigned long> map;
  for (unsigned long n = 1; n <= tabulon::kLastMappedColumn; ++n) {
    std::string key;
    unsigned long k = n;
    do {
      --k;
      key.push_back(static_cast<char>('A' + k % 26));
      k /= 26;
    } while (k != 0);
    std::reverse(key.begin(), key.end());
    map.emplace_hint(map.end(), std::move(key), n);
  }
  return map;
}

unsigned long ExcelColFromString(std::string ref) {
  return tabulon::columnFromLetters(std::string_view(ref).substr(0, letterCount(ref)));
}

std::vector<unsigned long> ExcelRangeToRC(std::string_view range) {
  std::string_view first = range;
  std::string_view second = range;
  if (const std::size_t colon = range.find(':'); colon != std::string_view::npos) {
    first = range.substr(0, colon);
    second = range.substr(colon + 1);
  }
  std::vector<unsigned long> result;
  result.reserve(4);
  unsigned long row = 0;  // carried into the second part when it has no digits
  for (std::string_view part : {first, second}) {
    const std::size_t k = letterCount(part);
    readRow(part.substr(k), row);
    result.push_back(row);
    result.push_back(tabulon::columnFromLetters(part.substr(0, k)));
  }
  return result;
}

namespace tabulon {

unsigned long columnFromLetters(std::string_view letters) {
  if (letters.empty() || letters.size() > 3) return 0;
  unsigned long n = 0;
  for (char c : letters) {
    if (c < 'A' || c > 'Z') return 0;
    n = n * 26 + static_cast<unsigned long>(c - 'A' + 1);
  }
  return n <= kLastMappedColumn ? n : 0;
}

unsigned long lookupColumn(const std::map<std::string, unsigned long>& map,
                           std::string_view letters) {
  const auto it = map.find(std::string(letters));
  return it == map.end() ? 0 : it->second;
}

}  // namespace tabulon
