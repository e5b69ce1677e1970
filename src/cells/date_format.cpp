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

bool startsWithIgnoringCase(std::string_view text, std::size_t at, std::string_view lowerCase) {
  if (text.size() - at < lowerCase.size()) return false;
  for (std::size_t i = 0; i < lowerCase.size(); ++i)
    if (lower(text[at + i]) != lowerCase[i]) return false;
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

NumberKind builtInNumberKind(int id) {
  if ((id >= 14 && id <= 17) || id == 22) return NumberKind::DateTime;
  if ((id >= 18 && id <= 21) || id == 45 || id == 47) return NumberKind::TimeOfDay;
  if (id == 46) return NumberKind::Duration;
  return NumberKind::Plain;
}

NumberKind numberKindOfCode(std::string_view code) {
  bool elapsed = false, day = false, time = false, monthOrMinute = false;
  bool afterHour = false;  // an m right after h (or before s) is a minute
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = lower(code[i]);
    if (c == ';') break;
    if (c == '"') {
      const std::size_t close = code.find('"', i + 1);
      if (close == std::string_view::npos) break;
      i = close;
      continue;
    }
    if (c == '\\' || c == '_' || c == '*') {
      ++i;
      continue;
    }
    if (c == '[') {
      const std::size_t close = code.find(']', i + 1);
      if (close == std::string_view::npos) break;
      if (isElapsed(code.substr(i + 1, close - i - 1))) elapsed = true;
      i = close;
      continue;
    }
    // The AM/PM markers are letters of no date part.
    if (c == 'a' && (startsWithIgnoringCase(code, i, "am/pm") || startsWithIgnoringCase(code, i, "a/p"))) {
      i += startsWithIgnoringCase(code, i, "am/pm") ? 4 : 2;
      continue;
    }
    if (c == 'd' || c == 'y') {
      day = true;
      afterHour = false;
    } else if (c == 'h') {
      time = true;
      afterHour = true;
    } else if (c == 's') {
      time = true;
    } else if (c == 'm') {
      // Minutes follow an hour or precede seconds: look ahead for an s
      // before the next date letter.
      std::size_t j = i;
      while (j < code.size() && lower(code[j]) == 'm') ++j;
      bool beforeSeconds = false;
      for (std::size_t k = j; k < code.size(); ++k) {
        const char n = lower(code[k]);
        if (n == 's') {
          beforeSeconds = true;
          break;
        }
        if (n == 'd' || n == 'y' || n == 'h' || n == 'm' || n == ';') break;
      }
      if (afterHour || beforeSeconds) time = true;
      else monthOrMinute = true;
      afterHour = false;
      i = j - 1;
    }
  }
  if (elapsed) return NumberKind::Duration;
  if (day || monthOrMinute) return NumberKind::DateTime;
  if (time) return NumberKind::TimeOfDay;
  return NumberKind::Plain;
}

}  // namespace tabulon
