#include "cells/date_time.h"

#include <algorithm>
#include <cmath>

#include "cells/serial_date.h"

namespace tabulon {
namespace {

constexpr std::int64_t kMicrosPerDay = 86400LL * 1000000LL;
// Serial day 0 of the 1900 system, counted as 1899-12-30, in days since 1970.
constexpr std::int64_t kSerialEpochDays = -25569;

struct Civil {
  std::int64_t year;
  unsigned month, day;
};

// Inverse of daysFromCivil: eras of 400 years, days of the era, then the
// year of the era from a March-based year.
Civil civilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

// Micros of 0000-01-01 and of the end of 9999-12-31.
const std::int64_t kFirstMicros = daysFromCivil(0, 1, 1) * kMicrosPerDay;
const std::int64_t kEndMicros = daysFromCivil(10000, 1, 1) * kMicrosPerDay;

}  // namespace

std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool serialToMicros(double serial, std::int64_t& micros) {
  // The whole seconds are the ones the sheet's text writes (ExcelSerialToDMY
  // rounds the same way, with the same bound), so that the value written
  // out is the text's date by construction; what the rounding took away
  // is kept to the microsecond, short of changing the second.
  std::int64_t seconds = 0;
  if (!serialSeconds(serial, seconds)) return false;
  const double whole = std::floor(serial);
  const double residual = (whole * 86400.0 - static_cast<double>(seconds)) + (serial - whole) * 86400.0;
  const std::int64_t below = std::clamp<std::int64_t>(std::llround(residual * 1e6), -499999, 499999);
  std::int64_t days = seconds / 86400, inDay = seconds % 86400;
  if (inDay < 0) {
    inDay += 86400;
    --days;
  }
  // Serials below 60 move one day on, so that 1 is 1900-01-01.
  if (days < 60) ++days;
  // Days outside the years 0 to 9999 have no date; checked before the
  // microseconds, which would not fit 64 bits for every serial let in above.
  const std::int64_t epochDays = days + kSerialEpochDays;
  if (epochDays < kFirstMicros / kMicrosPerDay || epochDays >= kEndMicros / kMicrosPerDay) return false;
  const std::int64_t value = (epochDays * 86400 + inDay) * 1000000 + below;
  if (value < kFirstMicros || value >= kEndMicros) return false;
  micros = value;
  return true;
}

bool isoDateToMicros(std::string_view text, std::int64_t& micros) {
  const std::string stamp = IsoDateToTimestamp(text);
  if (stamp.size() != 19) return false;
  auto field = [&](std::size_t at, std::size_t length) {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (stamp[i] - '0');
    return value;
  };
  const std::int64_t days = daysFromCivil(field(0, 4), static_cast<unsigned>(field(5, 2)),
                                          static_cast<unsigned>(field(8, 2)));
  const std::int64_t seconds = field(11, 2) * 3600 + field(14, 2) * 60 + field(17, 2);
  micros = (days * 86400 + seconds) * 1000000;
  return true;
}

std::string microsText(std::int64_t micros) {
  if (micros < kFirstMicros || micros >= kEndMicros) return std::string();
  // Nearest second, half a second up; the carry may move the day.
  std::int64_t seconds = micros >= 0 ? (micros + 500000) / 1000000 : -((-micros + 499999) / 1000000);
  if (micros < kEndMicros && seconds * 1000000 >= kEndMicros) seconds = kEndMicros / 1000000 - 1;
  std::int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  std::int64_t inDay = seconds - days * 86400;
  const Civil date = civilFromDays(days);
  if (date.year < 0 || date.year > 9999) return std::string();
  const int second = static_cast<int>(inDay % 60), minute = static_cast<int>(inDay / 60 % 60);
  return CreateTS(static_cast<int>(date.day), static_cast<int>(date.month), static_cast<int>(date.year),
                  static_cast<int>(inDay / 3600), minute, second);
}

}  // namespace tabulon
