// Spreadsheet serial numbers to timestamp text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "%Y-%m-%d %H:%M:%S" for a serial of the 1900 date system, rounded to the
// nearest second (the last second of 9999-12-31 stays there); "" for a value
// that cannot be written in 19 characters (not finite, out of range).
std::string ExcelSerialToDMY(double serial);

// Formats the six fields with "%Y-%m-%d %H:%M:%S", without normalising them.
std::string CreateTS(int day, int month, int year, int hour, int minute, int second);

// "%Y-%m-%d %H:%M:%S" for an ISO 8601 date in the extended form: a date
// ("2017-03-16"), or a date and time ("2021-01-01T10:10", seconds and a
// fraction of them optional), then optionally "Z" or an offset ("+02:00",
// "-0530", "+02"). Seconds are rounded as for serials. The time is written
// as it stands: the offset is checked, not applied, since no other date of
// a sheet carries a zone. "" for text that is no such date (hour 24 and
// second 60 included), which the caller then shows as written.
std::string IsoDateToTimestamp(std::string_view text);

namespace tabulon {

// The moment of a serial of the 1900 system as its text writes it, in
// whole seconds from serial day 0: rounded to the nearest second, except
// that the last second of 9999-12-31 stays there. False for a value that is
// not finite or lies beyond 10^9 days, where no day has a text.
bool serialSeconds(double serial, std::int64_t& seconds);

// Serial 60 in seconds, and its text: the 1900-02-29 that never was, which
// the text writes as the program that wrote the file shows it.
inline constexpr std::int64_t kLeapDaySeconds = 60LL * 86400;
inline constexpr std::string_view kLeapDayText = "1900-02-29 00:00:00";

// Days between the epochs of the 1900 and 1904 date systems.
constexpr double kDate1904Offset = 1462.0;

}  // namespace tabulon
