#include "cells/date_format.h"

namespace tabulon {

bool isBuiltInDateFormat(int id) { return (id >= 14 && id <= 22) || (id >= 45 && id <= 47); }

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isDatePart(char c) {
  c = lower(c);
  return c == 'd' || c == 'm' || c == 'y' || c == 'h' || c == 's';
}

// An elapsed-time bracket: [h], [hh], [mm], [ss] and so on.
bool isElapsed(std::string_view inside) {
  if (inside.empty()) return false;
  const char first = lower(inside[0]);
  if (first != 'h' && first != 'm' && first != 's') return false;
  for (char c : inside)
    if (lower(c) != first) return false;
  return true;
}

}  // namespace

bool isDateFormatCode(std::string_view code) {
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    switch (c) {
      case ';':
        return false;  // the first section ended without a date part
      case '"': {
        const std::size_t close = code.find('"', i + 1);
        if (close == std::string_view::npos) return false;
        i = close;
        break;
      }
      case '\\':
      case '_':
      case '*':
        ++i;  // the next character is shown, padded or repeated as it is
        break;
      case '[': {
        const std::size_t close = code.find(']', i + 1);
        if (close == std::string_view::npos) return false;
        if (isElapsed(code.substr(i + 1, close - i - 1))) return true;
        i = close;
        break;
      }
      default:
        if (isDatePart(c)) return true;
    }
  }
  return false;
}

}  // namespace tabulon
