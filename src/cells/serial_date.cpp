#include "cells/serial_date.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string_view>

namespace {

// The sum of the day-number step must stay where 4 * L fits 32 bits, which
// also keeps every later product of the calendar steps inside 32 bits.
constexpr std::int64_t kMaxDaySum = 536870911;

// The serial of 10000-01-01, and its first second.
constexpr double kFirstDayOf10000 = 2958466.0;
constexpr std::int64_t kFirstSecondOf10000 = 2958466LL * 86400;

bool inTwoDigits(int v) { return v >= 0 && v <= 99; }

void putTwo(char* at, int v) {
  at[0] = static_cast<char>('0' + v / 10);
  at[1] = static_cast<char>('0' + v % 10);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads count digits at text[at], moving at past them.
bool readDigits(std::string_view text, std::size_t& at, std::size_t count, int& value) {
  if (text.size() - at < count) return false;
  value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[at + i];
    if (!isDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  at += count;
  return true;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// A zone after the time: "Z", or a sign with hours and optional minutes,
// with or without a colon. True when it runs to the end of text.
bool readZone(std::string_view text, std::size_t at) {
  if (at == text.size()) return true;
  if (text[at] == 'Z') return at + 1 == text.size();
  if (text[at] != '+' && text[at] != '-') return false;
  ++at;
  int hours = 0, minutes = 0;
  if (!readDigits(text, at, 2, hours) || hours > 23) return false;
  if (at == text.size()) return true;
  if (text[at] == ':') ++at;
  return readDigits(text, at, 2, minutes) && minutes <= 59 && at == text.size();
}

}  // namespace

std::string IsoDateToTimestamp(std::string_view text) {
  std::size_t at = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!readDigits(text, at, 4, year) || at == text.size() || text[at++] != '-' ||
      !readDigits(text, at, 2, month) || month < 1 || month > 12 || at == text.size() ||
      text[at++] != '-' || !readDigits(text, at, 2, day) || day < 1 || day > daysInMonth(year, month)) {
    return std::string();
  }
  if (at < text.size()) {
    if (text[at++] != 'T' || !readDigits(text, at, 2, hour) || hour > 23 || at == text.size() ||
        text[at++] != ':' || !readDigits(text, at, 2, minute) || minute > 59) {
      return std::string();
    }
    if (at < text.size() && text[at] == ':') {
      ++at;
      if (!readDigits(text, at, 2, second) || second > 59) return std::string();
      if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
        const std::size_t first = ++at;
        while (at < text.size() && isDigit(text[at])) ++at;
        if (at == first) return std::string();
        // Half a second and more rounds up.
        if (text[first] >= '5') ++second;
      }
    }
    if (!readZone(text, at)) return std::string();
  }
  if (second == 60) {
    second = 0;
    if (++minute == 60) {
      minute = 0;
      if (++hour == 24) {
        hour = 0;
        if (year == 9999 && month == 12 && day == 31) {
          // No year of five digits: the last second of 9999 stays there.
          hour = 23;
          minute = 59;
          second = 59;
        } else if (++day > daysInMonth(year, month)) {
          day = 1;
          if (++month > 12) {
            month = 1;
            ++year;
          }
        }
      }
    }
  }
  return CreateTS(day, month, year, hour, minute, second);
}

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

bool tabulon::serialSeconds(double serial, std::int64_t& seconds) {
  // Beyond this no day has a text; the bound also keeps the count of
  // seconds below exact in a double.
  if (!std::isfinite(serial) || std::fabs(serial) > 1e9) return false;
  // Rounded to the nearest whole second first, so that the carry runs into
  // minutes, hours and the day: a time never prints as hour 24.
  seconds = std::llround(serial * 86400.0);
  // The last second of 9999-12-31 cannot carry into a year of five digits.
  if (seconds >= kFirstSecondOf10000 && serial < kFirstDayOf10000) seconds = kFirstSecondOf10000 - 1;
  return true;
}

std::string ExcelSerialToDMY(double serial) {
  std::int64_t seconds = 0;
  if (!tabulon::serialSeconds(serial, seconds)) return std::string();
  if (seconds == tabulon::kLeapDaySeconds) return std::string(tabulon::kLeapDayText);
  std::int64_t days = seconds / 86400;
  std::int64_t secs = seconds % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }

  // Days before the 1900-02-29 that never was move one on, so that 1 lands
  // on 1900-01-01.
  if (days < 60) ++days;

  const std::int64_t day_sum = days + (68569 + 2415019);
  // Below zero the date lies thousands of years before year 0.
  if (day_sum < 0 || day_sum > kMaxDaySum) return std::string();

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

  const auto s = static_cast<std::int32_t>(secs);
  return CreateTS(day, month, year, s / 3600, s / 60 % 60, s % 60);
}
