// Which number formats show a number as a date or a time.
#pragma once

#include <cstdint>
#include <string_view>

namespace tabulon {

// The built-in number formats that are dates or times: 14 to 22 and the
// elapsed-time forms 45 to 47.
bool isBuiltInDateFormat(int id);

// True when a format code writes date or time parts: d, m, y, h or s
// outside quoted text, escaped characters and bracketed colours,
// conditions and locales, or an elapsed time [h], [m], [s]. Only the first
// section counts (the one positive numbers use).
bool isDateFormatCode(std::string_view code);

// What a number of a format stands for, as typed columns tell them apart.
enum class NumberKind : std::uint8_t {
  Plain = 0,      // a number
  DateTime = 1,   // a date, with or without a time of day
  Duration = 2,   // an elapsed time: [h], [m] or [s]
  TimeOfDay = 3,  // a time without a date part
};

// The kind of a built-in number format: 14 to 17 and 22 dates, 18 to 21,
// 45 and 47 times of day, 46 ([h]:mm:ss) a duration, the rest plain.
NumberKind builtInNumberKind(int id);

// The kind of a format code whose first section writes date or time parts
// (isDateFormatCode): a duration when it holds an elapsed-time bracket, a
// date when it writes a day, a year or a month (an m that is no minute),
// a time of day when it writes only hours, minutes and seconds. Plain for
// a code that writes none of them.
NumberKind numberKindOfCode(std::string_view code);

}  // namespace tabulon
