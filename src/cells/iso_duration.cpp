#include "cells/iso_duration.h"

#include <charconv>
#include <cmath>
#include <iterator>
#include <string>

namespace tabulon {
namespace {

// One "<number><designator>" at p: the number may have a fraction ("."
// or ","). Returns false when no digits stand there.
bool readComponent(std::string_view text, std::size_t& p, double& value, char& designator) {
  const std::size_t start = p;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') ++p;
  if (p < text.size() && (text[p] == '.' || text[p] == ',')) {
    ++p;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') ++p;
  }
  if (p == start || p >= text.size()) return false;
  std::string number(text.substr(start, p - start));
  for (char& c : number)
    if (c == ',') c = '.';
  if (number == "." ) return false;
  auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc() || ptr != number.data() + number.size()) return false;
  designator = text[p++];
  return true;
}

}  // namespace

bool isoDurationToMicros(std::string_view text, std::int64_t& micros) {
  std::size_t p = 0;
  bool negative = false;
  if (p < text.size() && (text[p] == '-' || text[p] == '+')) negative = text[p++] == '-';
  if (p >= text.size() || text[p] != 'P') return false;
  ++p;
  // Designators in their order, with their length in seconds.
  static constexpr struct {
    char designator;
    bool time;
    double seconds;
  } kUnits[] = {{'W', false, 604800}, {'D', false, 86400}, {'H', true, 3600}, {'M', true, 60}, {'S', true, 1}};
  std::size_t next = 0;  // the first unit still allowed
  bool inTime = false, any = false, fraction = false;
  double total = 0;
  while (p < text.size()) {
    if (text[p] == 'T') {
      if (inTime) return false;
      inTime = true;
      ++p;
      if (p >= text.size()) return false;  // "PT" with nothing after it
      continue;
    }
    if (fraction) return false;  // only the last component may have a fraction
    double value = 0;
    char designator = 0;
    const std::size_t start = p;
    if (!readComponent(text, p, value, designator)) return false;
    std::size_t unit = next;
    while (unit < std::size(kUnits) && (kUnits[unit].designator != designator || kUnits[unit].time != inTime))
      ++unit;
    if (unit == std::size(kUnits)) return false;  // years, months, or out of order
    fraction = text.substr(start, p - start).find_first_of(".,") != std::string_view::npos;
    total += value * kUnits[unit].seconds;
    next = unit + 1;
    any = true;
  }
  if (!any) return false;
  const double us = std::round(total * 1e6);
  if (!(us < 9.2e18)) return false;
  micros = static_cast<std::int64_t>(us);
  if (negative) micros = -micros;
  return true;
}

}  // namespace tabulon
