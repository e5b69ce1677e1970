// Spreadsheet serial numbers to timestamp text.
#pragma once

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

// Days between the epochs of the 1900 and 1904 date systems.
constexpr double kDate1904Offset = 1462.0;

}  // namespace tabulon
