// Spreadsheet serial numbers to timestamp text.
#pragma once

#include <string>

// "%Y-%m-%d %H:%M:%S" for a serial of the 1900 date system; "" for a value
// that cannot be written in 19 characters (not finite, out of range).
std::string ExcelSerialToDMY(double serial);

// Formats the six fields with "%Y-%m-%d %H:%M:%S", without normalising them.
std::string CreateTS(int day, int month, int year, int hour, int minute, int second);

namespace tabulon {

// Days between the epochs of the 1900 and 1904 date systems.
constexpr double kDate1904Offset = 1462.0;

}  // namespace tabulon
