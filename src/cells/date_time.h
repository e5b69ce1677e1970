// Date-times as microseconds since 1970-01-01 00:00:00, the form typed
// columns hand out, and their text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tabulon {

// The date-time of a serial of the 1900 date system, to the nearest
// microsecond. Serials below 60 move one day on, as in the text, so that 1
// is 1900-01-01; 60, the 1900-02-29 that never was, gives 1900-02-28. False
// for a value that is not finite or lies outside the years 0 to 9999.
bool serialToMicros(double serial, std::int64_t& micros);

// The date-time of an ISO 8601 date cell's text, to the second, as the
// sheet's text writes it (IsoDateToTimestamp). False for text that is no
// such date.
bool isoDateToMicros(std::string_view text, std::int64_t& micros);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);

// "%Y-%m-%d %H:%M:%S" of micros rounded to the nearest second, as serial
// dates are written (the last half second of 9999-12-31 stays in it); ""
// outside the years 0 to 9999.
std::string microsText(std::int64_t micros);

}  // namespace tabulon
