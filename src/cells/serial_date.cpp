#include "cells/serial_date.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace {

constexpr char kLeapDayText[] = "1900-02-29 00:00:00";

// The sum of the day-number step must stay where 4 * L fits 32 bits, which
// also keeps every later product of the calendar steps inside 32 bits.
constexpr double kMaxDaySum = 536870911.0;

bool inTwoDigits(int v) { return v >= 0 && v <= 99; }

void putTwo(char* at, int v) {
  at[0] = static_cast<char>('0' + v / 10);
  at[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

std::string CreateTS(int day, int month, int year, int hour, int minute, int second) {
  // Dates are written for every date cell, so the usual case is formatted by
  // hand; it prints exactly what strftime prints for these field ranges.
  if (year >= 1000 && year <= 9999 && inTwoDigits(month) && inTwoDigits(day) &&
      inTwoDigits(hour) && inTwoDigits(minute) && inTwoDigits(second)) {
    char buf[19];
    buf[0] = static_cast<char>('0' + year / 1000);
    buf[1] = static_cast<char>('0' + year / 100 % 10);
    putTwo(buf + 2, year % 100);
    buf[4] = '-';
    putTwo(buf + 5, month);
    buf[7] = '-';
    putTwo(buf + 8, day);
    buf[10] = ' ';
    putTwo(buf + 11, hour);
    buf[13] = ':';
    putTwo(buf + 14, minute);
    buf[16] = ':';
    putTwo(buf + 17, second);
    return std::string(buf, sizeof buf);
  }
  // The record holds month - 1 and year - 1900; fields that cannot be
  // shifted there have no text.
  if (month < INT_MIN + 1 || year < INT_MIN + 1900) return std::string();
  std::tm fields{};
  fields.tm_mday = day;
  fields.tm_mon = month - 1;
  fields.tm_year = year - 1900;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  char buf[20];
  // Nothing is written when the text needs more than 19 characters.
  const std::size_t length = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &fields);
  return std::string(buf, length);
}

std::string ExcelSerialToDMY(double serial) {
  if (!std::isfinite(serial)) return std::string();
  if (serial == 60.0) return std::string(kLeapDayText, sizeof kLeapDayText - 1);
  // Serial 60 is the 1900-02-29 that never was; earlier serials move one day
  // on so that 1 lands on 1900-01-01.
  double x = serial < 60.0 ? serial + 1.0 : serial;

  // The day number is the whole days of x plus the two offsets, added as
  // integers: added in floating point, a fraction a hair below 1 can round
  // the sum up to the next day (2958465.9999999995 would land in 10000).
  const double day_sum = std::floor(x) + (68569.0 + 2415019.0);
  // Below zero the date lies thousands of years before year 0.
  if (!(day_sum >= 0.0 && day_sum <= kMaxDaySum)) return std::string();

  // Julian Day Number to Gregorian date, all in 32-bit integers.
  std::int32_t l = static_cast<std::int32_t>(day_sum);
  const std::int32_t n = (4 * l) / 146097;
  l = l - (146097 * n + 3) / 4;
  const std::int32_t i = (4000 * (l + 1)) / 1461001;
  l = l - (1461 * i) / 4 + 31;
  const std::int32_t j = (80 * l) / 2447;
  const std::int32_t day = l - (2447 * j) / 80;
  const std::int32_t k = j / 11;
  const std::int32_t month = j + 2 - 12 * k;
  const std::int32_t year = 100 * (n - 49) + i + k;
  if (year < 0 || year > 9999) return std::string();

  // The bias lets fractions a hair below a whole second count as it. Date and
  // time are independent: just before midnight this gives hour 24.
  const double fraction = x - std::floor(x);
  const auto secs = static_cast<std::int32_t>(std::floor((fraction + 0.0000001) * 86400.0));
  return CreateTS(day, month, year, secs / 3600, secs / 60 % 60, secs % 60);
}
